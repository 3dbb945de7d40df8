// Fuzz target: JSON texts parsed into two instances of the reader block, then a
// sequence of reads by path, each checked against a model built with RapidJSON alone:
// the text parsed by RapidJSON's own strict, iterative parser with the component's decided
// deviations applied on the model's side (tests/support/JsonOracle.h), and the value a
// path names found by rapidjson::Pointer. The model keeps every number as its own
// spelling in the text: what a number reads as is computed from that spelling alone
// (strtod for its double, its digits for its whole value), whatever the other numbers of
// the text.
//
// Input: a text (two length bytes, then the bytes), then calls until the input ends. A
// call is an opcode byte (which function, which instance), a path and the call's own
// arguments. A path is either raw input bytes or a walk through the model document
// (member and element choices from the input, names escaped), so that deep and escaped
// paths that find something are common. Checks after every call:
// - Parse agrees with the model on the verdict and the error offset (a whole UTF-8 byte
//   order mark at the start is skipped, its bytes counted); a refusal keeps no document;
//   nothing is logged;
// - GetKind and GetSize give the model value's kind and size; nothing found when the
//   model finds nothing (a URI fragment "#..." or an invalid pointer finds nothing);
// - GetBool gives the model's boolean; GetLreal the double strtod reads from the number's
//   spelling; GetDint and GetLint TRUE exactly when the spelling's value, taken from its
//   digits, is whole and within the type's range, and then that value; a refused read
//   leaves the value field alone;
// - GetString and GetMemberName: nLength is the model's byte length, the buffer holds a
//   prefix of it cut at most three bytes before the room ran out (or at a zero byte),
//   terminated, bytes after the terminator untouched, TRUE exactly when it was whole;
// - GetRaw: TRUE exactly when the text fit; the text parses, and RapidJSON writes what it
//   parsed back to the same text; when it does not fit only a terminator is written;
// - a null buffer with a size above zero is refused with one "Invalid argument";
// - ToVariable with no variable: FALSE, and one log entry exactly when the path finds
//   something.
// Every input starts from a manager without documents.
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimHost.h"
#include "frame/HostImports.h"
#include "support/JsonOracle.h"
#include "var/DomDriverMgr.h"

namespace reader_sequence {

constexpr int kInstances = 2;
// For the raw texts the component writes: a double there is RapidJSON's shortest form,
// which reads back exactly at full precision and never has a zero significand with an
// exponent.
constexpr unsigned kRawFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag;

std::string Quoted(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// One instance as the model sees it: its document, or none.
struct ModelInstance {
    std::unique_ptr<json_oracle::CModel> document;
};

class CReaderRun {
   public:
    CReaderRun(const uint8_t* data, size_t size) : input_(data, size) {}

    void run() {
        parse(0, text());
        while (!input_.empty()) {
            const uint8_t op = input_.byte();
            const int i = op & 1;
            switch ((op >> 1) % 12) {
                case 0:
                    parse(i, text());
                    break;
                case 1:
                    kindAndSize(i);
                    break;
                case 2:
                    getBool(i);
                    break;
                case 3:
                case 4:
                    getIntegers(i);
                    break;
                case 5:
                    getString(i);
                    break;
                case 6:
                    getMemberName(i);
                    break;
                case 7:
                case 8:
                    getRaw(i);
                    break;
                case 9:
                    toVariable(i);
                    break;
                case 10:
                    nullBuffers(i);
                    break;
                default:
                    parse(i, text());
                    break;
            }
        }
    }

   private:
    std::string text() {
        const size_t length = input_.byte() | (static_cast<size_t>(input_.byte()) << 8);
        return input_.bytes(length);
    }

    size_t logSize() { return CSimHost::instance().logTexts().size(); }

    void parse(int i, const std::string& text) {
        // A buffer of exactly the text's size, so a read beyond nSize is caught.
        std::unique_ptr<char[]> bytes(new char[text.empty() ? 1 : text.size()]);
        std::memcpy(bytes.get(), text.data(), text.size());
        fb_jsonreader_parse_struct p;
        std::memset(&p, 0x5A, sizeof(p));
        p.pInstance = &instances_[i];
        p.pJson = bytes.get();
        p.nSize = static_cast<RTS_IEC_UDINT>(text.size());
        const size_t logged = logSize();
        fb_jsonreader__parse(&p);
        FUZZ_CHECK(logSize() == logged, "a parse logged");

        FUZZ_CHECK(std::memchr(p.sError, 0, sizeof(p.sError)) != nullptr, "sError holds no terminator");
        const json_oracle::CVerdict verdict = json_oracle::Judge(text);
        FUZZ_CHECK(p.Parse == (verdict.accepted ? 1 : 0),
                   "Parse " + std::to_string(p.Parse) + " for " + Quoted(text));
        if (verdict.accepted) {
            FUZZ_CHECK(p.nErrorOffset == 0 && p.sError[0] == '\0', "success with an error");
            model_[i].document.reset(new json_oracle::CModel(text));
            FUZZ_CHECK(model_[i].document->parsed(), "the model refused an accepted text");
        } else {
            FUZZ_CHECK(p.nErrorOffset == verdict.offset && verdict.reason == p.sError,
                       "offset " + std::to_string(p.nErrorOffset) + " (" + p.sError + "), RapidJSON's " +
                           std::to_string(verdict.offset) + " (" + verdict.reason + ") for " + Quoted(text));
            model_[i].document.reset();
        }
    }

    // A path: raw bytes, or a walk through the model document.
    std::string path(int i) {
        const uint8_t mode = input_.byte();
        if ((mode & 3) == 0) {
            return input_.bytes(mode >> 2 & 15);
        }
        std::string out;
        const rapidjson::Value* at = model_[i].document ? &model_[i].document->root() : nullptr;
        for (int steps = mode >> 2 & 7; steps > 0 && at != nullptr; --steps) {
            const uint8_t choice = input_.byte();
            if (at->IsObject() && at->MemberCount() > 0) {
                const rapidjson::Value::Member& member = at->MemberBegin()[choice % at->MemberCount()];
                out += '/';
                for (rapidjson::SizeType c = 0; c < member.name.GetStringLength(); ++c) {
                    const char ch = member.name.GetString()[c];
                    out += ch == '~' ? std::string("~0") : ch == '/' ? std::string("~1") : std::string(1, ch);
                }
                at = &member.value;
            } else if (at->IsArray()) {
                const unsigned index = choice % (at->Size() + 1);  // sometimes one beyond
                out += "/" + std::to_string(index);
                at = index < at->Size() ? &(*at)[index] : nullptr;
            } else {
                out += choice & 1 ? "/-" : "/0";
                at = nullptr;
            }
        }
        return out;
    }

    // The model's value at path (a C string: it ends at its first zero byte, for the
    // component as for the model).
    const rapidjson::Value* modelFind(int i, const char* path) {
        if (!model_[i].document || path[0] == '#') {
            return nullptr;
        }
        const rapidjson::Pointer pointer(path);
        return pointer.IsValid() ? pointer.Get(model_[i].document->root()) : nullptr;
    }

    // The spelling of a number the model found; null when v is no number.
    const std::string* spelling(int i, const rapidjson::Value* v) {
        if (v == nullptr || !v->IsString() || !model_[i].document->IsNumber(*v)) {
            return nullptr;
        }
        spelling_ = model_[i].document->SpellingOf(*v);
        return &spelling_;
    }

    // A value's kind as GetKind gives it: of the model's value (a number by its spelling),
    // or of a document RapidJSON parsed.
    int32_t modelKind(int i, const rapidjson::Value* v) {
        const std::string* number = spelling(i, v);
        return number != nullptr ? (json_oracle::IntegerSpelling(*number) ? 3 : 4) : Kind(v);
    }
    static int32_t Kind(const rapidjson::Value* v) {
        if (v == nullptr) return 0;
        if (v->IsNull()) return 1;
        if (v->IsBool()) return 2;
        if (v->IsNumber()) return v->IsInt64() || v->IsUint64() ? 3 : 4;
        if (v->IsString()) return 5;
        return v->IsArray() ? 6 : 7;
    }

    void kindAndSize(int i) {
        std::string sPath = path(i);
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        fb_jsonreader_getkind_struct k{&instances_[i], &sPath[0], 99};
        fb_jsonreader__getkind(&k);
        FUZZ_CHECK(k.GetKind == modelKind(i, v),
                   "kind " + std::to_string(k.GetKind) + " at " + Quoted(sPath));
        fb_jsonreader_getsize_struct s{&instances_[i], &sPath[0], 99};
        fb_jsonreader__getsize(&s);
        const int32_t size = v == nullptr    ? -1
                             : v->IsArray()  ? static_cast<int32_t>(v->Size())
                             : v->IsObject() ? static_cast<int32_t>(v->MemberCount())
                                             : -1;
        FUZZ_CHECK(s.GetSize == size, "size " + std::to_string(s.GetSize) + " at " + Quoted(sPath));
    }

    void getBool(int i) {
        std::string sPath = path(i);
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        fb_jsonreader_getbool_struct b{&instances_[i], &sPath[0], 7, 5};
        fb_jsonreader__getbool(&b);
        const bool ok = v != nullptr && v->IsBool();
        FUZZ_CHECK(b.GetBool == (ok ? 1 : 0) && b.bValue == (ok ? (v->GetBool() ? 1 : 0) : 5),
                   "bool at " + Quoted(sPath));
    }

    void getIntegers(int i) {
        std::string sPath = path(i);
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        fb_jsonreader_getdint_struct d{&instances_[i], &sPath[0], 7, 4242};
        fb_jsonreader__getdint(&d);
        fb_jsonreader_getlint_struct l{&instances_[i], &sPath[0], 7, 4242};
        fb_jsonreader__getlint(&l);
        fb_jsonreader_getlreal_struct r{&instances_[i], &sPath[0], 7, 42.5};
        fb_jsonreader__getlreal(&r);
        const std::string where = " at " + Quoted(sPath);
        const std::string* number = spelling(i, v);
        if (number == nullptr) {
            FUZZ_CHECK(d.GetDint == 0 && d.diValue == 4242, "DINT of no number" + where);
            FUZZ_CHECK(l.GetLint == 0 && l.liValue == 4242, "LINT of no number" + where);
            FUZZ_CHECK(r.GetLreal == 0 && r.lrValue == 42.5, "LREAL of no number" + where);
            return;
        }
        const double expected = json_oracle::Strtod(*number);
        FUZZ_CHECK(r.GetLreal == 1 && std::memcmp(&r.lrValue, &expected, sizeof(double)) == 0,
                   "LREAL of " + *number + where);
        __int128 whole = 0;
        const bool isWhole = json_oracle::WholeOf(*number, whole) == json_oracle::EWhole::kWhole;
        const bool dint = isWhole && whole >= INT32_MIN && whole <= INT32_MAX;
        FUZZ_CHECK(d.GetDint == (dint ? 1 : 0) && d.diValue == (dint ? static_cast<int32_t>(whole) : 4242),
                   "DINT of " + *number + where);
        const bool lint = isWhole && whole >= INT64_MIN && whole <= INT64_MAX;
        FUZZ_CHECK(l.GetLint == (lint ? 1 : 0) && l.liValue == (lint ? static_cast<int64_t>(whole) : 4242),
                   "LINT of " + *number + where);
    }

    // Bytes of the UTF-8 character a lead byte starts; 0 for any other byte.
    static size_t LeadLength(char byte) {
        const unsigned char c = static_cast<unsigned char>(byte);
        return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    }

    // Checks a string read into `buffer` (size bytes, filled with '#' before).
    static void CheckTextOut(const rapidjson::Value* s, RTS_IEC_BOOL ok, RTS_IEC_UDINT length,
                             const std::vector<char>& buffer, uint32_t size, const std::string& where) {
        if (s == nullptr) {
            FUZZ_CHECK(ok == 0 && length == 0, "text of nothing" + where);
            FUZZ_CHECK(size == 0 ? buffer[0] == '#' : buffer[0] == '\0', "buffer of nothing" + where);
            return;
        }
        const std::string full(s->GetString(), s->GetStringLength());
        FUZZ_CHECK(length == full.size(), "nLength " + std::to_string(length) + where);
        if (size == 0) {
            FUZZ_CHECK(ok == 0 && buffer[0] == '#', "size query wrote" + where);
            return;
        }
        const size_t n = std::strlen(buffer.data());  // the buffer holds a terminator
        FUZZ_CHECK(n < size, "no terminator" + where);
        const size_t visible =
            std::strlen(full.c_str()) < full.size() ? std::strlen(full.c_str()) : full.size();
        const size_t room = visible < size - 1 ? visible : size - 1;
        const std::string copied = Quoted(std::string(buffer.data(), n)) + " of " + Quoted(full) + where;
        FUZZ_CHECK(n <= room && full.compare(0, n, buffer.data(), n) == 0, "copied " + copied);
        // Cut back only over the bytes of one character that the room would split: then
        // the copy stops at that character's lead byte.
        FUZZ_CHECK(n == room || (room - n <= 3 && LeadLength(full[n]) > room - n),
                   "cut back too far: " + copied);
        // And never after the lead byte of a character the room splits.
        for (size_t k = room >= 3 ? room - 3 : 0; n == room && room < visible && k < room; ++k) {
            bool continued = true;
            for (size_t c = k + 1; c < room; ++c) {
                continued = continued && (static_cast<unsigned char>(full[c]) & 0xC0) == 0x80;
            }
            FUZZ_CHECK(!(continued && LeadLength(full[k]) > room - k) ||
                           (static_cast<unsigned char>(full[room]) & 0xC0) != 0x80,
                       "a character was split: " + copied);
        }
        for (size_t b = n + 1; b < size; ++b) {
            FUZZ_CHECK(buffer[b] == '#', "wrote after the terminator" + where);
        }
        FUZZ_CHECK(ok == (n == full.size() ? 1 : 0), "result " + std::to_string(ok) + where);
    }

    void getString(int i) {
        std::string sPath = path(i);
        const uint32_t size = input_.byte() % 24;
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        std::vector<char> buffer(size == 0 ? 1 : size, '#');
        fb_jsonreader_getstring_struct p{&instances_[i], &sPath[0], buffer.data(), size, 7, 0xEEEEEEEE};
        fb_jsonreader__getstring(&p);
        CheckTextOut(v != nullptr && v->IsString() && spelling(i, v) == nullptr ? v : nullptr, p.GetString,
                     p.nLength, buffer, size, " (string at " + Quoted(sPath) + ")");
    }

    void getMemberName(int i) {
        std::string sPath = path(i);
        const uint32_t index = input_.byte() % 8;
        const uint32_t size = input_.byte() % 24;
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        const rapidjson::Value* name = v != nullptr && v->IsObject() && index < v->MemberCount()
                                           ? &v->MemberBegin()[index].name
                                           : nullptr;
        std::vector<char> buffer(size == 0 ? 1 : size, '#');
        fb_jsonreader_getmembername_struct p{&instances_[i], &sPath[0], index,     buffer.data(),
                                             size,           7,         0xEEEEEEEE};
        fb_jsonreader__getmembername(&p);
        CheckTextOut(name, p.GetMemberName, p.nLength, buffer, size,
                     " (member " + std::to_string(index) + " at " + Quoted(sPath) + ")");
    }

    void getRaw(int i) {
        std::string sPath = path(i);
        const uint8_t sizeByte = input_.byte();
        const uint32_t size = sizeByte < 128 ? sizeByte : 4096;
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        std::vector<char> buffer(size == 0 ? 1 : size, '#');
        fb_jsonreader_getraw_struct p{&instances_[i], &sPath[0], buffer.data(), size, 7, 0xEEEEEEEE};
        fb_jsonreader__getraw(&p);
        const std::string where = " (raw at " + Quoted(sPath) + ")";
        if (v == nullptr) {
            FUZZ_CHECK(p.GetRaw == 0 && p.nLength == 0, "raw of nothing" + where);
            return;
        }
        FUZZ_CHECK(p.GetRaw == (p.nLength < size ? 1 : 0), "result against nLength" + where);
        if (p.GetRaw == 0) {
            FUZZ_CHECK(size == 0 ? buffer[0] == '#' : buffer[0] == '\0', "a cut text was written" + where);
            for (size_t b = 1; b < size; ++b) {
                FUZZ_CHECK(buffer[b] == '#', "a cut text was written" + where);
            }
            return;
        }
        const std::string raw(buffer.data(), p.nLength);
        FUZZ_CHECK(buffer[p.nLength] == '\0' && std::strlen(buffer.data()) == p.nLength,
                   "raw length" + where);
        rapidjson::Document again;
        again.Parse<kRawFlags>(raw.c_str());
        FUZZ_CHECK(!again.HasParseError(), "raw text " + Quoted(raw) + " does not parse" + where);
        FUZZ_CHECK(Kind(&again) == modelKind(i, v), "raw text of another kind" + where);
        rapidjson::StringBuffer rewritten;
        rapidjson::Writer<rapidjson::StringBuffer> writer(rewritten);
        again.Accept(writer);
        FUZZ_CHECK(raw == std::string(rewritten.GetString(), rewritten.GetSize()),
                   "raw text " + Quoted(raw) + " is not how it writes back" + where);
    }

    void toVariable(int i) {
        std::string sPath = path(i);
        const rapidjson::Value* v = modelFind(i, sPath.c_str());
        fb_jsonreader_tovariable_struct p{&instances_[i], &sPath[0], nullptr, 7};
        const size_t logged = logSize();
        fb_jsonreader__tovariable(&p);
        FUZZ_CHECK(p.ToVariable == 0, "ToVariable without a variable succeeded");
        FUZZ_CHECK(logSize() == logged + (v != nullptr ? 1 : 0), "ToVariable log at " + Quoted(sPath));
    }

    void nullBuffers(int i) {
        std::string sPath = path(i);
        const RTS_IEC_UDINT size = 1 + input_.byte();
        const size_t logged = logSize();
        fb_jsonreader_getstring_struct s{&instances_[i], &sPath[0], nullptr, size, 7, 0};
        fb_jsonreader__getstring(&s);
        fb_jsonreader_getmembername_struct m{&instances_[i], &sPath[0], 0, nullptr, size, 7, 0};
        fb_jsonreader__getmembername(&m);
        fb_jsonreader_getraw_struct r{&instances_[i], &sPath[0], nullptr, size, 7, 0};
        fb_jsonreader__getraw(&r);
        FUZZ_CHECK(s.GetString == 0 && m.GetMemberName == 0 && r.GetRaw == 0, "a null buffer was taken");
        const std::vector<std::string> log = CSimHost::instance().logTexts();
        FUZZ_CHECK(log.size() == logged + 3, "null buffers logged " + std::to_string(log.size() - logged));
        for (size_t e = logged; e < log.size(); ++e) {
            FUZZ_CHECK(log[e] == "Invalid argument", "null buffer logged " + Quoted(log[e]));
        }
    }

    CFuzzInput input_;
    fb_jsonreader_struct instances_[kInstances] = {};
    ModelInstance model_[kInstances];
    std::string spelling_;  // the last number's, as spelling() found it
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

int FuzzReaderSequence(const uint8_t* data, size_t size) {
    static const bool s_loaded = LoadComponent();
    (void)s_loaded;
    CDomDriverMgr::instance()->clear();
    CSimHost::instance().clearLog();
    CReaderRun(data, size).run();
    CDomDriverMgr::instance()->clear();
    return 0;
}

}  // namespace reader_sequence

ZENTRIK_FUZZ_TARGET(reader_sequence, reader_sequence::FuzzReaderSequence);
