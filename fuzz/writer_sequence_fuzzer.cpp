// Fuzz target: random sequences of calls of the writer block's 31 external functions on
// three instances, each call checked against a small model of the documents.
//
// The input is read as a list of calls. Each call takes a byte for the instance and a
// byte for the function, then the function's arguments: strings (new bytes from the
// input, a string used before, or a null pointer), numbers (extremes, NaN, infinities or
// raw bits), buffer sizes and the contents the caller leaves in the record's fields.
//
// The model keeps, per instance, whether it has a document and its members in order, and
// the one pending key that all instances share. It builds the text it expects on its own
// (its own escaping; integers by std::to_string; doubles by a bare RapidJSON Writer,
// since the shortest round-trip digits are RapidJSON's own) and, after every call,
// compares the host log entries and every record field; after each read it compares the
// text, and every whole text read must parse as JSON. At the end of the input the text of
// every instance is read and compared once more.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "RV5072_Zentrik/HostImports.h"
#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimHost.h"
#include "var/DomDriverMgr.h"

namespace writer_sequence {

constexpr int kInstances = 3;
constexpr size_t kPoolSize = 16;          // strings kept for reuse as keys or values
constexpr size_t kGetDocumentRoom = 255;  // GetDocument is a STRING(255)

// ---- the model -------------------------------------------------------------------------

// The JSON text of a member name or string value: quote and backslash escaped, the five
// short control escapes, every other byte below 0x20 as \u00XX with upper-case hex digits,
// everything else (the slash and bytes of 0x80 and above included) as it is.
std::string Quoted(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

// NaN and the infinities have no JSON form and are written as null.
std::string DoubleText(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.Double(value);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// What the component reads of an IEC string: the bytes before the terminator.
std::string Terminated(const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); }

struct ModelMember {
    std::string name;       // bytes, without a terminator
    std::string valueText;  // the value's JSON text
};

struct ModelDocument {
    bool exists = false;
    std::vector<ModelMember> members;

    std::string text() const {
        std::string out = "{";
        for (size_t i = 0; i < members.size(); ++i) {
            if (i > 0) {
                out += ',';
            }
            out += Quoted(members[i].name) + ":" + members[i].valueText;
        }
        return out + "}";
    }
};

struct Model {
    ModelDocument documents[kInstances];
    std::string pendingKey;
    bool keySet = false;
};

// ---- fuzz input ------------------------------------------------------------------------

// A string argument: absent (null pointer) or bytes. The bytes may hold a zero byte; the
// component must then stop at the first one.
struct StringArg {
    bool null = false;
    std::string bytes;
};

class CCallInput {
   public:
    CCallInput(const uint8_t* data, size_t size) : in_(data, size) {}

    bool empty() const { return in_.empty(); }
    uint8_t byte() { return in_.byte(); }
    template <typename T>
    T raw() {
        return in_.raw<T>();
    }

    StringArg string() {
        const uint8_t selector = in_.byte();
        StringArg arg;
        if (selector == 0xFF) {
            arg.null = true;
        } else if (selector >= 0xC0 && !pool_.empty()) {
            arg.bytes = pool_[(selector - 0xC0) % pool_.size()];
        } else {
            arg.bytes = in_.bytes(selector % 0xC0);
            if (pool_.size() < kPoolSize) {
                pool_.push_back(arg.bytes);
            } else {
                pool_[selector % kPoolSize] = arg.bytes;
            }
        }
        return arg;
    }

    int32_t dint() {
        switch (in_.byte() % 6) {
            case 0:
                return std::numeric_limits<int32_t>::min();
            case 1:
                return std::numeric_limits<int32_t>::max();
            case 2:
                return 0;
            case 3:
                return -1;
            default:
                return in_.raw<int32_t>();
        }
    }

    uint32_t udint() {
        switch (in_.byte() % 4) {
            case 0:
                return 0;
            case 1:
                return std::numeric_limits<uint32_t>::max();
            default:
                return in_.raw<uint32_t>();
        }
    }

    int64_t lint() {
        switch (in_.byte() % 6) {
            case 0:
                return std::numeric_limits<int64_t>::min();
            case 1:
                return std::numeric_limits<int64_t>::max();
            case 2:
                return static_cast<int64_t>(std::numeric_limits<int32_t>::min()) - 1;
            case 3:
                return static_cast<int64_t>(std::numeric_limits<uint32_t>::max()) + 1;
            default:
                return in_.raw<int64_t>();
        }
    }

    double lreal() {
        static const double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(),
                                          -std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          -0.0,
                                          0.0,
                                          DBL_MAX,
                                          -DBL_MAX,
                                          DBL_MIN,
                                          std::numeric_limits<double>::denorm_min(),
                                          1e21,
                                          1e20,
                                          1e-7,
                                          1e-6,
                                          0.1,
                                          2.0,
                                          9007199254740993.0,
                                          -1.5e300};
        constexpr size_t kCount = sizeof(kSpecial) / sizeof(kSpecial[0]);
        const uint8_t selector = in_.byte() % (kCount + 2);
        return selector < kCount ? kSpecial[selector] : in_.raw<double>();  // raw: any bits, NaN payloads too
    }

    float real() {
        static const float kSpecial[] = {std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         FLT_MAX,
                                         FLT_MIN,
                                         0.1f,
                                         -0.0f};
        constexpr size_t kCount = sizeof(kSpecial) / sizeof(kSpecial[0]);
        const uint8_t selector = in_.byte() % (kCount + 2);
        return selector < kCount ? kSpecial[selector] : in_.raw<float>();
    }

   private:
    CFuzzInput in_;
    std::vector<std::string> pool_;
};

// A string handed to the component the way IEC code hands it: a terminated byte buffer
// that the caller overwrites as soon as the call returns, so a component that kept the
// pointer instead of copying the bytes would show the overwritten bytes later.
class CIecString {
   public:
    explicit CIecString(const StringArg& arg) : null_(arg.null), buffer_(arg.bytes.begin(), arg.bytes.end()) {
        buffer_.push_back('\0');
    }
    ~CIecString() { std::memset(buffer_.data(), '~', buffer_.size()); }
    CIecString(const CIecString&) = delete;
    CIecString& operator=(const CIecString&) = delete;

    RTS_IEC_STRING* get() { return null_ ? nullptr : buffer_.data(); }

   private:
    bool null_;
    std::vector<char> buffer_;
};

// ---- checks ----------------------------------------------------------------------------

// The external functions, in the order the input's function byte selects them.
enum WriterFunction {
    kMain,
    kAddKey,
    kAddKeyNull,
    kAddString,
    kAddBool,
    kAddDint,
    kAddUdint,
    kAddLint,
    kAddReal,
    kAddLreal,
    kAddDateTime,
    kAddNull,
    kAddKeyString,
    kAddKeyBool,
    kAddKeyNumber,
    kAddKeyLreal,
    kAddKeyDateTime,
    kResetDocument,
    kGetDocument,
    kGetDocumentLength,
    kCopyDocument,
    kStartObject,
    kEndObject,
    kStartArray,
    kEndArray,
    kAddRawObject,
    kAddRawArray,
    kAddBase64,
    kAddHexBinary,
    kGetMaxDecimalPlaces,
    kSetMaxDecimalPlaces,
    kFunctions
};
static_assert(kFunctions == 31, "the writer block has 31 external functions");

const char* const kFunctionNames[kFunctions] = {"main",
                                                "addkey",
                                                "addkeynull",
                                                "addstring",
                                                "addbool",
                                                "adddint",
                                                "addudint",
                                                "addlint",
                                                "addreal",
                                                "addlreal",
                                                "adddatetime",
                                                "addnull",
                                                "addkeystring",
                                                "addkeybool",
                                                "addkeynumber",
                                                "addkeylreal",
                                                "addkeydatetime",
                                                "resetdocument",
                                                "getdocument",
                                                "getdocumentlength",
                                                "copydocument",
                                                "startobject",
                                                "endobject",
                                                "startarray",
                                                "endarray",
                                                "addrawobject",
                                                "addrawarray",
                                                "addbase64",
                                                "addhexbinary",
                                                "getmaxdecimalplaces",
                                                "setmaxdecimalplaces"};

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string Refusal(const std::string& text) {
    return SimLogRecord{kZentrikCmpId, kLogClassError, 0, kLogInfoIdCalls, text}.describe();
}

// One call being checked: where it is in the sequence, for the failure message. The
// reads at the end of the input have no function.
struct CallContext {
    size_t index;
    int instance;
    int function;

    std::string where() const {
        if (function < 0) {
            return "end of input, instance " + std::to_string(instance) + ": ";
        }
        return "call " + std::to_string(index) + " (" + kFunctionNames[function] + " on instance " +
               std::to_string(instance) + "): ";
    }
};

// The host log since the last call must be exactly `expected`; clears it for the next call.
void CheckLog(const CallContext& call, const std::vector<std::string>& expected) {
    CSimHost& host = CSimHost::instance();
    std::vector<std::string> actual;
    for (const SimLogRecord& record : host.logRecords()) {
        actual.push_back(record.describe());
    }
    host.clearLog();
    std::string message;
    if (actual != expected) {
        message = call.where() + "log differs\n  expected:";
        for (const std::string& line : expected) {
            message += "\n    " + line;
        }
        message += "\n  actual:";
        for (const std::string& line : actual) {
            message += "\n    " + line;
        }
    }
    FUZZ_CHECK(actual == expected, message);
}

void CheckText(const CallContext& call, const std::string& expected, const std::string& actual,
               const char* what) {
    FUZZ_CHECK(actual == expected, call.where() + what + " differs\n  expected: " + Printable(expected) +
                                       "\n  actual:   " + Printable(actual));
}

// Every whole text the component gives out is one JSON object with the model's members.
void CheckParses(const CallContext& call, const std::string& text, size_t members) {
    rapidjson::Document parsed;
    parsed.Parse(text.data(), text.size());
    FUZZ_CHECK(!parsed.HasParseError(),
               call.where() + "text is not JSON (error " + std::to_string(parsed.GetParseError()) + " at " +
                   std::to_string(parsed.GetErrorOffset()) + "): " + Printable(text));
    FUZZ_CHECK(parsed.IsObject() && parsed.MemberCount() == members,
               call.where() + "text is not an object of " + std::to_string(members) +
                   " members: " + Printable(text));
}

// ---- the run ---------------------------------------------------------------------------

// Runs one input: the call sequence on three instances that start without documents.
class CSequenceRun {
   public:
    CSequenceRun(const uint8_t* data, size_t size) : input_(data, size) {
        for (int i = 0; i < kInstances; ++i) {
            std::memset(&instances_[i], 0xA5 + i, sizeof(instances_[i]));
            std::memcpy(&pristine_[i], &instances_[i], sizeof(instances_[i]));
        }
    }

    void run() {
        for (size_t index = 0; !input_.empty(); ++index) {
            CallContext call{index, input_.byte() % kInstances, input_.byte() % kFunctions};
            runCall(call);
        }
        CallContext end{0, 0, -1};
        for (int i = 0; i < kInstances; ++i) {
            end.instance = i;
            if (model_.documents[i].exists) {
                const std::string expected = model_.documents[i].text();
                const std::string actual = readWhole(i);
                CheckText(end, expected, actual, "final text");
                CheckParses(end, actual, model_.documents[i].members.size());
            }
            FUZZ_CHECK(std::memcmp(&instances_[i], &pristine_[i], sizeof(instances_[i])) == 0,
                       end.where() + "the instance record was written");
        }
        CheckLog(end, {});
    }

   private:
    fb_jsonsaxwriter_struct* instance(int i) { return &instances_[i]; }
    ModelDocument& document(int i) { return model_.documents[i]; }

    void runCall(const CallContext& call) {
        const int i = call.instance;
        std::vector<std::string> log;
        switch (call.function) {
            case kMain:
                noAction<fb_jsonsaxwriter_main_struct>(call, fb_jsonsaxwriter__main);
                return;
            case kAddKey: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkey_struct p{instance(i), keyText.get()};
                modelAddKey(i, key, true, log);
                fb_jsonsaxwriter__addkey(&p);
                break;
            }
            case kAddKeyNull: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeynull_struct p{instance(i), keyText.get()};
                modelAddKey(i, key, false, log);
                fb_jsonsaxwriter__addkeynull(&p);
                break;
            }
            case kAddString: {
                const StringArg value = input_.string();
                CIecString text(value);
                fb_jsonsaxwriter_addstring_struct p{instance(i), text.get()};
                modelFill(i, value.null, Quoted(Terminated(value.bytes)), log);
                fb_jsonsaxwriter__addstring(&p);
                break;
            }
            case kAddBool: {
                fb_jsonsaxwriter_addbool_struct p{instance(i), input_.raw<RTS_IEC_BOOL>()};
                modelFill(i, false, std::to_string(static_cast<int>(p.value)), log);
                fb_jsonsaxwriter__addbool(&p);
                break;
            }
            case kAddDint: {
                fb_jsonsaxwriter_adddint_struct p{instance(i), input_.dint()};
                modelFill(i, false, std::to_string(p.value), log);
                fb_jsonsaxwriter__adddint(&p);
                break;
            }
            case kAddUdint: {
                fb_jsonsaxwriter_addudint_struct p{instance(i), input_.udint()};
                modelFill(i, false, std::to_string(p.value), log);
                fb_jsonsaxwriter__addudint(&p);
                break;
            }
            case kAddLint: {
                fb_jsonsaxwriter_addlint_struct p{instance(i), input_.lint()};
                modelFill(i, false, std::to_string(p.value), log);
                fb_jsonsaxwriter__addlint(&p);
                break;
            }
            case kAddReal: {
                fb_jsonsaxwriter_addreal_struct p{instance(i), input_.real()};
                modelFill(i, false, DoubleText(static_cast<double>(p.value)), log);
                fb_jsonsaxwriter__addreal(&p);
                break;
            }
            case kAddLreal: {
                fb_jsonsaxwriter_addlreal_struct p{instance(i), input_.lreal()};
                modelFill(i, false, DoubleText(p.value), log);
                fb_jsonsaxwriter__addlreal(&p);
                break;
            }
            case kAddDateTime: {
                fb_jsonsaxwriter_adddatetime_struct p{instance(i), input_.udint()};
                modelFill(i, false, std::to_string(p.value), log);
                fb_jsonsaxwriter__adddatetime(&p);
                break;
            }
            case kAddNull: {
                fb_jsonsaxwriter_addnull_struct p{instance(i)};
                modelFill(i, false, "null", log);
                fb_jsonsaxwriter__addnull(&p);
                break;
            }
            case kAddKeyString: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                const StringArg value = input_.string();
                CIecString text(value);
                fb_jsonsaxwriter_addkeystring_struct p{instance(i), keyText.get(), text.get()};
                modelAppend(i, key, value.null, Quoted(Terminated(value.bytes)), log);
                fb_jsonsaxwriter__addkeystring(&p);
                break;
            }
            case kAddKeyBool: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeybool_struct p{instance(i), keyText.get(), input_.raw<RTS_IEC_BOOL>()};
                modelAppend(i, key, false, std::to_string(static_cast<int>(p.value)), log);
                fb_jsonsaxwriter__addkeybool(&p);
                break;
            }
            case kAddKeyNumber: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeynumber_struct p{instance(i), keyText.get(), input_.dint()};
                modelAppend(i, key, false, std::to_string(p.value), log);
                fb_jsonsaxwriter__addkeynumber(&p);
                break;
            }
            case kAddKeyLreal: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeylreal_struct p{instance(i), keyText.get(), input_.lreal()};
                modelAppend(i, key, false, DoubleText(p.value), log);
                fb_jsonsaxwriter__addkeylreal(&p);
                break;
            }
            case kAddKeyDateTime: {
                const StringArg key = input_.string();
                CIecString keyText(key);
                fb_jsonsaxwriter_addkeydatetime_struct p{instance(i), keyText.get(), input_.udint()};
                modelAppend(i, key, false, std::to_string(p.value), log);
                fb_jsonsaxwriter__addkeydatetime(&p);
                break;
            }
            case kResetDocument: {
                fb_jsonsaxwriter_resetdocument_struct p{instance(i), input_.raw<RTS_IEC_UINT>()};
                fb_jsonsaxwriter__resetdocument(&p);
                // The pending key is left alone by a reset.
                document(i).exists = true;
                document(i).members.clear();
                FUZZ_CHECK(p.ResetDocument == 1,
                           call.where() + "ResetDocument is " + std::to_string(p.ResetDocument));
                break;
            }
            case kGetDocument:
                getDocument(call, log);
                break;
            case kGetDocumentLength:
                getDocumentLength(call, log);
                break;
            case kCopyDocument:
                copyDocument(call, log);
                break;
            case kStartObject:
                noAction<fb_jsonsaxwriter_startobject_struct>(call, fb_jsonsaxwriter__startobject);
                return;
            case kEndObject:
                noAction<fb_jsonsaxwriter_endobject_struct>(call, fb_jsonsaxwriter__endobject);
                return;
            case kStartArray:
                noAction<fb_jsonsaxwriter_startarray_struct>(call, fb_jsonsaxwriter__startarray);
                return;
            case kEndArray:
                noAction<fb_jsonsaxwriter_endarray_struct>(call, fb_jsonsaxwriter__endarray);
                return;
            case kAddRawObject:
                noAction<fb_jsonsaxwriter_addrawobject_struct>(call, fb_jsonsaxwriter__addrawobject);
                return;
            case kAddRawArray:
                noAction<fb_jsonsaxwriter_addrawarray_struct>(call, fb_jsonsaxwriter__addrawarray);
                return;
            case kAddBase64:
                noAction<fb_jsonsaxwriter_addbase64_struct>(call, fb_jsonsaxwriter__addbase64);
                return;
            case kAddHexBinary:
                noAction<fb_jsonsaxwriter_addhexbinary_struct>(call, fb_jsonsaxwriter__addhexbinary);
                return;
            case kGetMaxDecimalPlaces:
                noAction<fb_jsonsaxwriter_getmaxdecimalplaces_struct>(call,
                                                                      fb_jsonsaxwriter__getmaxdecimalplaces);
                return;
            case kSetMaxDecimalPlaces:
                noAction<fb_jsonsaxwriter_setmaxdecimalplaces_struct>(call,
                                                                      fb_jsonsaxwriter__setmaxdecimalplaces);
                return;
        }
        CheckLog(call, log);
    }

    // Key call (pending: addkey) and key-null call.
    void modelAddKey(int i, const StringArg& key, bool pending, std::vector<std::string>& log) {
        if (key.null) {
            log.push_back(Refusal("Invalid argument"));
        } else if (!document(i).exists) {
            log.push_back(Refusal("The JSON object does not exist."));
        } else {
            if (pending) {
                model_.pendingKey = Terminated(key.bytes);
                model_.keySet = true;
            }
            document(i).members.push_back(ModelMember{Terminated(key.bytes), "null"});
        }
    }

    // Value call: fills the pending key's first member in this instance's document, which
    // leaves by taking the last member into its place and comes back at the end.
    void modelFill(int i, bool nullValue, const std::string& valueText, std::vector<std::string>& log) {
        if (nullValue) {
            log.push_back(Refusal("Invalid argument"));
            return;
        }
        if (!model_.keySet) {
            log.push_back(Refusal("Add value mode and don't have key"));
            return;
        }
        model_.keySet = false;
        if (!document(i).exists) {
            return;
        }
        std::vector<ModelMember>& members = document(i).members;
        for (size_t m = 0; m < members.size(); ++m) {
            if (members[m].name == model_.pendingKey) {
                members[m] = members.back();
                members.pop_back();
                members.push_back(ModelMember{model_.pendingKey, valueText});
                return;
            }
        }
    }

    // Key-value call: appends; nothing without a document, and no log entry for that.
    void modelAppend(int i, const StringArg& key, bool nullValue, const std::string& valueText,
                     std::vector<std::string>& log) {
        if (key.null || nullValue) {
            log.push_back(Refusal("Invalid argument"));
        } else if (document(i).exists) {
            document(i).members.push_back(ModelMember{Terminated(key.bytes), valueText});
        }
    }

    // The eleven functions without an action leave their whole record as it was, the
    // return fields included, and write no log entry.
    template <typename Record>
    void noAction(const CallContext& call, void (*function)(Record*)) {
        Record p;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&p);
        for (size_t b = 0; b < sizeof(p); ++b) {
            bytes[b] = input_.byte();
        }
        p.pInstance = instance(call.instance);
        Record before;
        std::memcpy(&before, &p, sizeof(p));
        function(&p);
        FUZZ_CHECK(std::memcmp(&before, &p, sizeof(p)) == 0, call.where() + "record changed");
        CheckLog(call, {});
    }

    void getDocument(const CallContext& call, std::vector<std::string>& log) {
        fb_jsonsaxwriter_getdocument_struct p;
        std::memset(p.GetDocument, input_.byte(), sizeof(p.GetDocument));
        p.pInstance = instance(call.instance);
        p.hrErrorCode = input_.raw<RTS_IEC_UINT>();
        fb_jsonsaxwriter_getdocument_struct before = p;
        fb_jsonsaxwriter__getdocument(&p);
        FUZZ_CHECK(p.hrErrorCode == before.hrErrorCode, call.where() + "hrErrorCode changed");
        if (!document(call.instance).exists) {
            log.push_back(Refusal("The JSON object does not exist."));
            FUZZ_CHECK(std::memcmp(p.GetDocument, before.GetDocument, sizeof(p.GetDocument)) == 0,
                       call.where() + "GetDocument written without a document");
            return;
        }
        // A text longer than the field is cut to its first 255 bytes.
        const std::string expected = document(call.instance).text().substr(0, kGetDocumentRoom);
        FUZZ_CHECK(p.GetDocument[expected.size()] == '\0',
                   call.where() + "GetDocument not terminated at " + std::to_string(expected.size()));
        const std::string actual(p.GetDocument, expected.size());
        CheckText(call, expected, actual, "GetDocument");
        if (document(call.instance).text().size() <= kGetDocumentRoom) {
            CheckParses(call, actual, document(call.instance).members.size());
        }
    }

    void getDocumentLength(const CallContext& call, std::vector<std::string>& log) {
        fb_jsonsaxwriter_getdocumentlength_struct p{instance(call.instance), input_.raw<RTS_IEC_UDINT>(),
                                                    input_.raw<RTS_IEC_UINT>()};
        const RTS_IEC_UINT errorCode = p.hrErrorCode;
        fb_jsonsaxwriter__getdocumentlength(&p);
        FUZZ_CHECK(p.hrErrorCode == errorCode, call.where() + "hrErrorCode changed");
        size_t expected = 0;  // without a document the length reads 0
        if (document(call.instance).exists) {
            expected = document(call.instance).text().size();
        } else {
            log.push_back(Refusal("The JSON object does not exist."));
        }
        FUZZ_CHECK(p.GetDocumentLength == expected, call.where() + "GetDocumentLength " +
                                                        std::to_string(p.GetDocumentLength) + ", expected " +
                                                        std::to_string(expected));
    }

    // A copy into a buffer of the caller's. nDoc may be smaller than the text, exactly
    // its length plus terminator, or larger than the buffer really is (up to 4 GiB); the
    // buffer is only as large as what may be written, so the sanitizer catches any byte
    // written beyond.
    void copyDocument(const CallContext& call, std::vector<std::string>& log) {
        const bool exists = document(call.instance).exists;
        const std::string text = exists ? document(call.instance).text() : std::string();
        const uint8_t selector = input_.byte();
        bool nullBuffer = false;
        uint64_t nDoc = 0;
        switch (selector % 8) {
            case 0:
                nDoc = 0;
                break;
            case 1:
                nDoc = text.size();
                break;
            case 2:
                nDoc = text.size() + 1;
                break;
            case 3:
                nDoc = text.size() + 1 + input_.byte();
                break;
            case 4:
                nDoc = std::numeric_limits<RTS_IEC_UDINT>::max();
                break;
            case 5:
                nDoc = input_.byte();
                break;
            case 6:
                nullBuffer = true;
                nDoc = 0;
                break;
            default:
                nullBuffer = true;
                nDoc = 1 + input_.byte();
                break;
        }
        const char fill = static_cast<char>(input_.byte());
        const size_t mayWrite = static_cast<size_t>(std::min<uint64_t>(nDoc, text.size() + 1));
        std::vector<char> buffer(nullBuffer ? 0 : std::max<size_t>(mayWrite, 1), fill);
        fb_jsonsaxwriter_copydocument_struct p{instance(call.instance), nullBuffer ? nullptr : buffer.data(),
                                               static_cast<RTS_IEC_UDINT>(nDoc), input_.raw<RTS_IEC_UDINT>(),
                                               input_.raw<RTS_IEC_UINT>()};
        const RTS_IEC_UINT errorCode = p.hrErrorCode;
        fb_jsonsaxwriter__copydocument(&p);
        FUZZ_CHECK(p.hrErrorCode == errorCode, call.where() + "hrErrorCode changed");

        RTS_IEC_UDINT expectedResult = 1;
        size_t copied = mayWrite;
        if (nullBuffer && nDoc > 0) {
            log.push_back(Refusal("Invalid argument"));
            expectedResult = 0;
            copied = 0;
        } else if (!exists) {
            log.push_back(Refusal("The JSON object does not exist."));
            expectedResult = 0;
            copied = 0;
        }
        FUZZ_CHECK(p.CopyDocument == expectedResult, call.where() + "CopyDocument " +
                                                         std::to_string(p.CopyDocument) + " with nDoc " +
                                                         std::to_string(nDoc));
        if (nullBuffer) {
            return;
        }
        std::string expected = (text + '\0').substr(0, copied);
        expected.append(buffer.size() - copied, fill);  // the rest of the buffer is untouched
        CheckText(call, expected, std::string(buffer.data(), buffer.size()), "copied buffer");
        if (copied == text.size() + 1) {
            CheckParses(call, text, document(call.instance).members.size());
        }
    }

    // The whole text, read as a control program reads a long document: length, then a
    // copy into a buffer of length + 1 bytes.
    std::string readWhole(int i) {
        fb_jsonsaxwriter_getdocumentlength_struct length{instance(i), 0, 0};
        fb_jsonsaxwriter__getdocumentlength(&length);
        std::vector<char> buffer(length.GetDocumentLength + 1, '#');
        fb_jsonsaxwriter_copydocument_struct copy{instance(i), buffer.data(), length.GetDocumentLength + 1, 0,
                                                  0};
        fb_jsonsaxwriter__copydocument(&copy);
        FUZZ_CHECK(copy.CopyDocument == 1 && buffer.back() == '\0',
                   "whole read of instance " + std::to_string(i) + " failed or is not terminated");
        return std::string(buffer.data(), length.GetDocumentLength);
    }

    CCallInput input_;
    Model model_;
    fb_jsonsaxwriter_struct instances_[kInstances];
    fb_jsonsaxwriter_struct pristine_[kInstances];
};

// The component, loaded into the simulated host once: entry, then import of the host
// functions, as a controller loads it.
bool LoadComponent() {
    CSimHost& host = CSimHost::instance();
    host.resetFunctions();
    host.loadComponent(ComponentEntry);
    FUZZ_CHECK(host.importFunctions() == ERR_OK, "the component did not import its host functions");
    return true;
}

int FuzzWriterSequence(const uint8_t* data, size_t size) {
    static const bool s_loaded = LoadComponent();
    (void)s_loaded;
    // Every input starts from a manager without documents and without a pending key.
    CDomDriverMgr::instance()->clear();
    CSimHost::instance().clearLog();
    CSequenceRun(data, size).run();
    CDomDriverMgr::instance()->clear();
    return 0;
}

}  // namespace writer_sequence

ZENTRIK_FUZZ_TARGET(writer_sequence, writer_sequence::FuzzWriterSequence);
