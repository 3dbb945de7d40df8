// One parsed text, as the reader block holds it: the instance's own copy of the text
// and the document parsed from it in place (its strings point into the copy), with all
// the memory they take charged to one budget of the memory cap. It does not change while it is shared:
// any number of threads may read it without a lock; it is shared by shared_ptr. Once no
// read holds it any more its instance parses the next text into it, reusing its memory
// (up to what the last parse into it used), so a task that parses texts of one size
// every cycle takes nothing from the heap.
#ifndef JSON_PARSEDJSON_H
#define JSON_PARSEDJSON_H

#include <rapidjson/document.h>

#include <cstddef>
#include <memory>

#include "json/DocumentLimits.h"
#include "json/ExactNumbers.h"
#include "json/JsonMemory.h"
#include "json/JsonParse.h"

class CParsedJson {
   public:
    // An empty document (root null) whose parses may hold `memoryCap` bytes at most.
    explicit CParsedJson(size_t memoryCap = kDocumentMemoryCap);
    CParsedJson(const CParsedJson&) = delete;
    CParsedJson& operator=(const CParsedJson&) = delete;

    // A new document of the first `size` bytes at `text`; null when the text is refused,
    // `error` then says where and why (see Reparse).
    static std::shared_ptr<const CParsedJson> Parse(const char* text, size_t size, CJsonParseError& error,
                                                    size_t memoryCap = kDocumentMemoryCap);

    // Parses the first `size` bytes at `text`, up to the first zero byte among them, into
    // this document, reusing its memory; nobody may read it meanwhile. False when the text
    // is refused; `error` then says where and why, and the document holds nothing. A text
    // is refused too when the document would hold more than the cap: the text's copy, the
    // values and the parser's stacks together (a text as long as the cap before it is
    // copied). Memory beyond what a refused parse found is given back; whether a text
    // fits does not depend on the texts parsed into the document before.
    bool Reparse(const char* text, size_t size, CJsonParseError& error);

    const CJsonValue& root() const { return document_; }
    // The exact values of the numbers whose doubles cannot tell them (for ToVariable).
    const CExactNumbers& exactNumbers() const { return exact_; }
    // The exact value of a number of this document whose double cannot tell it; null for
    // every other value.
    const CExactNumber* exactOf(const CJsonValue& value) const {
        return value.IsDouble() ? exact_.find(&value) : nullptr;
    }

    // Bytes the document held at most during its last parse.
    size_t memoryUsed() const { return peak_; }
    // Bytes it holds now (for checks).
    size_t memoryHeld() const { return budget_.held(); }

   private:
    // One parse into the memory held now: on refusal, what it took beyond that is given
    // back.
    bool ParseKeepingMemory(const char* text, size_t length, CJsonParseError& error);

    CMemoryBudget budget_;
    CRetainedBlock text_;  // the text and its terminator; the document's strings live here
    CDocumentPool pool_;
    CRetainedBlock documentStack_;
    CRetainedBlock frames_;  // the open containers while the text is read
    CJsonDocument document_;
    CExactNumbers exact_{&budget_};  // its notes count within the cap
    size_t used_ = 0;                // pool bytes the last parse used
    size_t peak_ = 0;
};

#endif  // JSON_PARSEDJSON_H
