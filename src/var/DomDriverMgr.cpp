// The manager: creation of the single instance, and each operation of the blocks and the
// events as a call of the part that does the work, its refusal logged after every lock
// is released.
#include "var/DomDriverMgr.h"

#include <charconv>
#include <cstring>
#include <memory>

#include "convert/VariableSchema.h"
#include "convert/VariableToJson.h"
#include "frame/HostImports.h"
#include "json/JsonParse.h"
#include "reader/ReaderReads.h"

namespace {

// Logs the refusal of an outcome, if it carries one; returns whether it was done.
bool Logged(const CWriterOutcome& outcome) {
    if (outcome.refusal != nullptr) {
        LogRefusedCall(outcome.refusal);
    }
    return outcome.done;
}

// A writer outcome for an instance that may have no state: the refusal when it has none.
CWriterOutcome NoState(ELogText refusal) { return CWriterOutcome{false, LogText(refusal)}; }

// A buffer of size bytes at buffer: null is refused unless size is 0.
bool BufferRefused(const char* buffer, uint32_t size) {
    if (buffer == nullptr && size > 0) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return true;
    }
    return false;
}

// A read-out of a writer's text: done, or its refusal logged.
bool ReadOut(EWriterRead read) {
    if (read == EWriterRead::kNoDocument) {
        LogRefusedCall(ELogText::kNoDocument);
    } else if (read == EWriterRead::kMemory) {
        LogRefusedCall(ELogText::kMemoryCap);
    }
    return read == EWriterRead::kDone;
}

}  // namespace

CDomDriverMgr* CDomDriverMgr::m_instance_ = nullptr;
std::once_flag CDomDriverMgr::m_once_;
std::atomic<CDomDriverMgr*> CDomDriverMgr::s_made_{nullptr};

CDomDriverMgr::CDomDriverMgr() = default;

// Nothing in the component runs this: the instance lives until the process ends.
// The parts release their state one after the other, never holding two locks.
CDomDriverMgr::~CDomDriverMgr() { writers_.Clear(); }

void CDomDriverMgr::getInstance() { m_instance_ = new CDomDriverMgr(); }

CDomDriverMgr* CDomDriverMgr::instance() {
    // Once made, the manager is found with one load: call_once makes calls of its own on
    // every use, and every external function asks for the manager.
    CDomDriverMgr* made = s_made_.load(std::memory_order_acquire);
    if (made != nullptr) {
        return made;
    }
    std::call_once(m_once_, &CDomDriverMgr::getInstance);
    s_made_.store(m_instance_, std::memory_order_release);
    return m_instance_;
}

// ---- loader and events ----------------------------------------------------------

bool CDomDriverMgr::loadCompletedState() { return loader_.LoadCompleted(); }

void CDomDriverMgr::PrepareOnlineChange() { loader_.PrepareOnlineChange(); }

// Configuration hook: the scheduling fields keep their defaults.
void CDomDriverMgr::loadConfig() {}

void CDomDriverMgr::BeginLoadSymbols() { loader_.BeginLoad(); }

void CDomDriverMgr::EndLoadSymbols() { loader_.EndLoad(); }

void CDomDriverMgr::LoadSymbols() { loader_.Load(); }

void CDomDriverMgr::clear() {
    loader_.DropRoots();
    // Waits for the writer calls in flight, then drops every instance's state.
    writers_.Clear();
    index_.DropIndex();
    readers_.clear();  // every reader instance loses its document, as the writers do
    jsonToVariable_.clear();
}

// ---- writer ----------------------------------------------------------------------

bool CDomDriverMgr::addkey_to_jason(fb_jsonsaxwriter_struct* pJsonWrite, char* key) {
    return addNullMember(pJsonWrite, key, true);
}

bool CDomDriverMgr::addKeyNull(fb_jsonsaxwriter_struct* p, char* key) { return addNullMember(p, key, false); }

bool CDomDriverMgr::addNullMember(fb_jsonsaxwriter_struct* p, char* key, bool makePending) {
    if (key == nullptr) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    CWriterOutcome outcome = NoState(ELogText::kNoDocument);
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.AddKey(key, makePending); });
    return Logged(outcome);
}

bool CDomDriverMgr::addValue(fb_jsonsaxwriter_struct* p, CJsonValueSource& source) {
    // Without a document there is no pending member either.
    CWriterOutcome outcome = NoState(ELogText::kNoPendingKey);
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.AddValue(source); });
    return Logged(outcome);
}

bool CDomDriverMgr::addScalar(fb_jsonsaxwriter_struct* p, const AddType& mode, const char* key,
                              CWriterScalar value) {
    if (mode == ADD_KEY_VALUE) {
        if (key == nullptr || value.missing()) {
            LogRefusedCall(ELogText::kInvalidArgument);
            return false;
        }
        CWriterOutcome outcome;  // no document: refused without a log entry
        writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.AddMember(key, value); });
        return Logged(outcome);
    }
    if (mode == ADD_VALUE) {
        if (value.missing()) {
            // Refused before the pending member is looked at, so it stays pending.
            LogRefusedCall(ELogText::kInvalidArgument);
            return false;
        }
        return addValue(p, value);
    }
    return false;
}

bool CDomDriverMgr::startContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind) {
    CWriterOutcome outcome = NoState(ELogText::kNoDocument);
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.Start(kind); });
    return Logged(outcome);
}

bool CDomDriverMgr::endContainer(fb_jsonsaxwriter_struct* p, EJsonContainer kind) {
    CWriterOutcome outcome = NoState(ELogText::kNoDocument);
    writers_.With(p, false, [&](CJsonWriter& writer) { outcome = writer.End(kind); });
    return Logged(outcome);
}

bool CDomDriverMgr::addRawJson(fb_jsonsaxwriter_struct* p, char* rawJson, EJsonContainer kind) {
    if (rawJson == nullptr) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    CRawSource source(rawJson, kind);
    return addValue(p, source);
}

bool CDomDriverMgr::addBytes(fb_jsonsaxwriter_struct* p, const RTS_IEC_BYTE* pBytes, RTS_IEC_DINT nBytes,
                             bool hex) {
    if (nBytes < 0 || (pBytes == nullptr && nBytes > 0)) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    CBytesSource source(pBytes, static_cast<size_t>(nBytes), hex);
    return addValue(p, source);
}

bool CDomDriverMgr::setFormat(fb_jsonsaxwriter_struct* p, RTS_IEC_DWORD format) {
    if ((format & ~kFormBits) != 0) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    // The format belongs to the instance from its first call on, document or not.
    writers_.With(p, true, [format](CJsonWriter& writer) { writer.SetFormat(format); });
    return true;
}

RTS_IEC_DWORD CDomDriverMgr::getFormat(fb_jsonsaxwriter_struct* p) {
    RTS_IEC_DWORD format = 0;
    writers_.With(p, false, [&format](CJsonWriter& writer) { format = writer.Format(); });
    return format;
}

bool CDomDriverMgr::setMaxDecimalPlaces(fb_jsonsaxwriter_struct* p, RTS_IEC_DINT places) {
    if (places < 0 || places > kDefaultDecimalPlaces) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    // The setting belongs to the instance from its first call on, document or not.
    bool taken = false;
    writers_.With(p, true, [&](CJsonWriter& writer) { taken = writer.SetDecimalPlaces(places); });
    return taken;
}

RTS_IEC_DINT CDomDriverMgr::getMaxDecimalPlaces(fb_jsonsaxwriter_struct* p) {
    RTS_IEC_DINT places = kDefaultDecimalPlaces;
    writers_.With(p, false, [&](CJsonWriter& writer) { places = writer.DecimalPlaces(); });
    return places;
}

// ---- writer documents ------------------------------------------------------------

bool CDomDriverMgr::resetDocument(fb_jsonsaxwriter_struct* p) {
    writers_.With(p, true, [](CJsonWriter& writer) { writer.Reset(); });
    return true;
}

bool CDomDriverMgr::getDocument(fb_jsonsaxwriter_getdocument_struct* p) {
    EWriterRead read = EWriterRead::kNoDocument;
    writers_.With(p->pInstance, false, [p, &read](CJsonWriter& writer) {
        read = writer.CopyTextCut(p->GetDocument, sizeof(p->GetDocument));
    });
    return ReadOut(read);
}

bool CDomDriverMgr::getDocumentLength(fb_jsonsaxwriter_struct* p, size_t& length) {
    EWriterRead read = EWriterRead::kNoDocument;
    writers_.With(p, false, [&length, &read](CJsonWriter& writer) { read = writer.TextLength(length); });
    return ReadOut(read);
}

bool CDomDriverMgr::copyDocument(fb_jsonsaxwriter_copydocument_struct* p) {
    if (p->pDoc == nullptr && p->nDoc > 0) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    EWriterRead read = EWriterRead::kNoDocument;
    writers_.With(p->pInstance, false,
                  [p, &read](CJsonWriter& writer) { read = writer.CopyText(p->pDoc, p->nDoc); });
    return ReadOut(read);
}

RTS_IEC_UDINT CDomDriverMgr::copyDocumentPart(fb_jsonsaxwriter_copydocumentpart_struct* p) {
    if (p->pDoc == nullptr || p->nDoc == 0) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return 0;
    }
    size_t copied = 0;
    size_t length = 0;
    uint32_t change = 0;
    EWriterRead read = EWriterRead::kNoDocument;
    writers_.With(p->pInstance, false, [&](CJsonWriter& writer) {
        read = writer.CopyTextPart(p->nOffset, reinterpret_cast<char*>(p->pDoc), p->nDoc, copied, length,
                                   change);
    });
    if (!ReadOut(read)) {
        return 0;
    }
    p->nLength = static_cast<RTS_IEC_UDINT>(length);
    p->nChange = change;
    return static_cast<RTS_IEC_UDINT>(copied);
}

// ---- variables <-> JSON ----------------------------------------------------------

bool CDomDriverMgr::addJsonKeyValueFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key) {
    return addFromSymbol(pJsonWrite, pData, key, VariableToJson);
}

bool CDomDriverMgr::addJsonSchemaFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key) {
    return addFromSymbol(pJsonWrite, pData, key, VariableSchema);
}

bool CDomDriverMgr::addFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key,
                                  CJsonValue (*describe)(CVariableView, CJsonAllocator&, ValueForm)) {
    if (key == nullptr) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    // The variable's value (or schema), made under the writer instance's lock in the
    // writer's format: null when it was made, else the refusal.
    auto source =
        MakeJsonValueSource([&](CJsonAllocator& allocator, ValueForm form, CJsonValue& value) -> const char* {
            return index_.WithVariable(pData, false, [&](CVariableView var) {
                value = describe(var, allocator, form & ~kFormPretty);
            });
        });
    CWriterOutcome outcome = NoState(ELogText::kNoDocument);
    writers_.With(pJsonWrite, false, [&](CJsonWriter& writer) { outcome = writer.AddVariable(key, source); });
    return Logged(outcome);
}

bool CDomDriverMgr::addJsonChangesFromSymbol(fb_jsonsaxwriter_struct* pJsonWrite, void* pData, char* key,
                                             const CLastSent& last, uint32_t& changed) {
    changed = 0;
    if (key == nullptr) {
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;
    }
    uint32_t counted = 0;
    // The patch, made and taken as sent under the writer instance's lock and the
    // variable's: null when made (or found empty), else the refusal.
    auto source = MakeJsonChangeSource(
        [&](CJsonAllocator& allocator, ValueForm form, CJsonValue& value, bool& made) -> const char* {
            const char* refusal = nullptr;
            const char* missing = index_.WithVariable(pData, false, [&](CVariableView var) {
                refusal = VariableChanges(var, last, allocator, form & ~kFormPretty, value, made, counted);
            });
            return missing != nullptr ? missing : refusal;
        });
    CWriterOutcome outcome = NoState(ELogText::kNoDocument);
    writers_.With(pJsonWrite, false, [&](CJsonWriter& writer) { outcome = writer.AddChanges(key, source); });
    if (outcome.done) {
        changed = counted;
    }
    return Logged(outcome);
}

bool CDomDriverMgr::setSymbolFromJson(char* pJson, const uint32_t& size, void* pData) {
    return setSymbolFromJsonReport(pJson, size, pData, nullptr);
}

bool CDomDriverMgr::setSymbolFromJsonReport(char* pJson, const uint32_t& size, void* pData,
                                            CSymbolWriteReport& report) {
    ReportSink copy = [&report](const CSymbolWriteReport& made) { report = made; };
    return setSymbolFromJsonReport(pJson, size, pData, &copy);
}

bool CDomDriverMgr::setSymbolFromJsonReport(char* pJson, const uint32_t& size, void* pData,
                                            const ReportSink* out) {
    std::unique_ptr<CJsonToVariableState> taken;
    try {
        taken = jsonToVariable_.take();
    } catch (const std::bad_alloc&) {
        if (out != nullptr) {
            CSymbolWriteReport refused;
            refused.problem = LogText(ELogText::kOutOfMemory);
            (*out)(refused);
        }
        LogRefusedCall(ELogText::kOutOfMemory);
        return false;
    }
    // The walk's memory and the report are the kept ones of the state: a call like the
    // last takes nothing from the heap.
    CJsonToVariableState& state = *taken;
    const char* const refusal =
        writeText(state.stream, pJson, size, pData, out != nullptr ? &state.report : nullptr);
    if (out != nullptr) {
        (*out)(state.report);
    }
    jsonToVariable_.give(std::move(taken));
    if (refusal != nullptr) {
        LogRefusedCall(refusal);
        return false;
    }
    return true;
}

namespace {

// A call's report after a refusal: nothing counted, the refusal's text as the problem
// (and for a text that is no JSON, where and why). A text that does not fit the report
// makes the refusal a failed allocation: the returned refusal is the one to log.
const char* RefusedReport(CSymbolWriteReport* report, const char* refusal, size_t offset = 0,
                          const char* reason = nullptr) {
    if (report == nullptr) {
        return refusal;
    }
    report->written = report->skipped = report->unknown = report->missing = 0;
    report->errorOffset = static_cast<uint32_t>(offset);
    try {
        if (reason == nullptr) {
            report->problem.assign(refusal);
            return refusal;
        }
        char digits[24];
        const std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits), offset);
        report->problem.assign("JSON text at byte ").append(digits, end.ptr).append(": ").append(reason);
        return refusal;
    } catch (const std::bad_alloc&) {
        report->errorOffset = 0;
        report->problem.assign(LogText(ELogText::kOutOfMemory));  // held within a short string
        return LogText(ELogText::kOutOfMemory);
    }
}

}  // namespace

template <typename Read>
CJsonToVariableStream::EOutcome CDomDriverMgr::readKeptOrFresh(CJsonToVariableStream& stream, Read read) {
    typedef CJsonToVariableStream::EOutcome EOutcome;
    const size_t kept = stream.memoryHeld();
    EOutcome outcome = read();
    if (outcome == EOutcome::kMemoryRefused && kept != 0) {
        // Refused for the cap while it held memory kept from earlier calls: read once more
        // with none, as a new stream reads it, so whether a text fits the cap never
        // depends on the texts before it.
        stream.Release();
        outcome = read();
    }
    stream.Trim();
    return outcome;
}

const char* CDomDriverMgr::writeText(CJsonToVariableStream& stream, const char* pJson, uint32_t size,
                                     void* pData, CSymbolWriteReport* report) {
    typedef CJsonToVariableStream::EOutcome EOutcome;
    if (pJson == nullptr) {
        return RefusedReport(report, LogText(ELogText::kJsonError));
    }
    const char* refusal = nullptr;
    const EOutcome outcome = readKeptOrFresh(stream, [&] {
        if (!stream.TakeText(pJson, size)) {
            return stream.textRefusal();
        }
        EOutcome staged = EOutcome::kStaged;
        refusal = index_.WithVariableStaged(
            pData,
            [&](CVariableView var) {
                staged = stream.Stage(var, report);
                return staged == EOutcome::kStaged;
            },
            [&](CVariableView) { stream.Commit(); });
        // A text that is no JSON is refused as such before the variable's refusal.
        return refusal != nullptr ? stream.Check() : staged;
    });
    switch (outcome) {
        case EOutcome::kStaged:
            return refusal != nullptr ? RefusedReport(report, refusal) : nullptr;
        case EOutcome::kNotJson:
            return RefusedReport(report, LogText(ELogText::kJsonError), stream.fault().offset,
                                 stream.fault().reason);
        case EOutcome::kMemoryRefused:
            return RefusedReport(report, LogText(ELogText::kJsonError), 0, kJsonMemoryRefused);
        case EOutcome::kOutOfMemory:
            break;
    }
    return RefusedReport(report, LogText(ELogText::kOutOfMemory));
}

bool CDomDriverMgr::setSymbolFromValue(const CJsonValue& value, void* pData, const CExactNumbers* exact) {
    typedef CJsonToVariableStream::EOutcome EOutcome;
    std::unique_ptr<CJsonToVariableState> taken;
    try {
        taken = jsonToVariable_.take();
    } catch (const std::bad_alloc&) {
        LogRefusedCall(ELogText::kOutOfMemory);
        return false;
    }
    CJsonToVariableStream& stream = taken->stream;
    const char* refusal = nullptr;
    const EOutcome outcome = readKeptOrFresh(stream, [&] {
        EOutcome staged = EOutcome::kStaged;
        refusal = index_.WithVariableStaged(
            pData,
            [&](CVariableView var) {
                staged = stream.StageValue(value, exact, var);
                return staged == EOutcome::kStaged;
            },
            [&](CVariableView) { stream.Commit(); });
        return staged;
    });
    jsonToVariable_.give(std::move(taken));
    if (refusal == nullptr && outcome != EOutcome::kStaged) {
        refusal = LogText(ELogText::kOutOfMemory);  // the value's events or notes found no memory
    }
    if (refusal != nullptr) {
        LogRefusedCall(refusal);
        return false;
    }
    return true;
}

// ---- reader ----------------------------------------------------------------------
// Each operation takes the instance's current document (a pointer copy under the
// instance's lock), then finds the value by its path and reads it with no lock held.

bool CDomDriverMgr::readerParse(fb_jsonreader_struct* p, const char* pJson, uint32_t nSize,
                                RTS_IEC_UDINT& errorOffset, char* error) {
    if (pJson == nullptr && nSize > 0) {
        errorOffset = 0;
        std::strcpy(error, LogText(ELogText::kInvalidArgument));
        LogRefusedCall(ELogText::kInvalidArgument);
        return false;  // the instance keeps its document
    }
    // Parsed under the instance's own locks only; a failure is the caller's to report, so
    // it is not logged. An instance whose parse failed holds no document: nothing of it
    // is kept.
    CJsonParseError failure;
    bool parsed = false;
    try {
        const std::shared_ptr<CJsonReader> reader = readers_.findOrAdd(p);
        parsed = reader->parse(pJson == nullptr ? "" : pJson, nSize, failure);
        if (!parsed) {
            readers_.forgetIfEmpty(p, reader);
        }
    } catch (const std::bad_alloc&) {
        // No memory for the instance's state: refused, and the instance keeps what it had.
        failure.offset = 0;
        failure.outOfMemory = true;
    }
    if (failure.outOfMemory) {
        // The heap had no memory, for the state or the parse: a failed allocation, not a
        // text refused, so it is logged.
        failure.reason = LogText(ELogText::kOutOfMemory);
        LogRefusedCall(ELogText::kOutOfMemory);
    }
    StoreParseOutcome(parsed, failure, errorOffset, error);
    return parsed;
}

RTS_IEC_DINT CDomDriverMgr::readerGetKind(fb_jsonreader_struct* p, const char* path) {
    return KindOf(FindInDocument(readers_.documentOf(p), path));
}

RTS_IEC_DINT CDomDriverMgr::readerGetSize(fb_jsonreader_struct* p, const char* path) {
    return SizeOf(FindInDocument(readers_.documentOf(p), path));
}

bool CDomDriverMgr::readerGetBool(fb_jsonreader_struct* p, const char* path, RTS_IEC_BOOL& value) {
    const CDocumentRef document = readers_.documentOf(p);
    const CJsonValue* found = FindInDocument(document, path);
    if (found == nullptr || !found->IsBool()) {
        return false;
    }
    value = found->GetBool() ? 1 : 0;
    return true;
}

bool CDomDriverMgr::readerGetDint(fb_jsonreader_struct* p, const char* path, RTS_IEC_DINT& value) {
    const CDocumentRef document = readers_.documentOf(p);
    const CJsonValue* found = FindInDocument(document, path);
    return found != nullptr && ToDint(*found, document->exactOf(*found), value);
}

bool CDomDriverMgr::readerGetLint(fb_jsonreader_struct* p, const char* path, RTS_IEC_LINT& value) {
    const CDocumentRef document = readers_.documentOf(p);
    const CJsonValue* found = FindInDocument(document, path);
    int64_t converted = 0;
    if (found == nullptr || !ToLint(*found, document->exactOf(*found), converted)) {
        return false;
    }
    value = converted;
    return true;
}

bool CDomDriverMgr::readerGetLreal(fb_jsonreader_struct* p, const char* path, RTS_IEC_LREAL& value) {
    const CDocumentRef document = readers_.documentOf(p);
    const CJsonValue* found = FindInDocument(document, path);
    return found != nullptr && ToLreal(*found, value);
}

bool CDomDriverMgr::readerGetString(fb_jsonreader_struct* p, const char* path, char* buffer, uint32_t size,
                                    RTS_IEC_UDINT& length) {
    if (BufferRefused(buffer, size)) {
        return false;
    }
    const CDocumentRef document = readers_.documentOf(p);
    return ReadString(FindInDocument(document, path), buffer, size, length);
}

bool CDomDriverMgr::readerGetMemberName(fb_jsonreader_struct* p, const char* path, uint32_t index,
                                        char* buffer, uint32_t size, RTS_IEC_UDINT& length) {
    if (BufferRefused(buffer, size)) {
        return false;
    }
    const CDocumentRef document = readers_.documentOf(p);
    return ReadString(MemberName(FindInDocument(document, path), index), buffer, size, length);
}

bool CDomDriverMgr::readerGetRaw(fb_jsonreader_struct* p, const char* path, char* buffer, uint32_t size,
                                 RTS_IEC_UDINT& length) {
    if (BufferRefused(buffer, size)) {
        return false;
    }
    const CDocumentRef document = readers_.documentOf(p);
    return ReadRaw(FindInDocument(document, path), buffer, size, length);
}

bool CDomDriverMgr::readerToVariable(fb_jsonreader_struct* p, const char* path, void* pData) {
    const CDocumentRef document = readers_.documentOf(p);
    const CJsonValue* found = FindInDocument(document, path);
    return found != nullptr && setSymbolFromValue(*found, pData, &document->exactNumbers());
}
