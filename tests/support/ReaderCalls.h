// Test support for the reader block: one fb_jsonreader instance driven through the
// external functions with real parameter records. Inputs are handed over in buffers
// of exactly their size that die when the call returns, so AddressSanitizer sees a
// read beyond nSize or a pointer kept past the call; output buffers are filled with '#'
// beforehand, so every byte the component did not write shows.
#ifndef TESTS_SUPPORT_READERCALLS_H
#define TESTS_SUPPORT_READERCALLS_H

#include <cstring>
#include <memory>
#include <string>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"

// What a string, member name or raw read returned: the result, the caller's buffer
// whole (all nBuffer bytes; with nBuffer 0 the one byte behind the pointer, which the
// call must leave as '#') and nLength.
struct ReaderText {
    RTS_IEC_BOOL ok;
    std::string buffer;
    RTS_IEC_UDINT length;
};

// What a scalar read returned: the result and the value field afterwards.
template <typename T>
struct ReaderScalar {
    RTS_IEC_BOOL ok;
    T value;
};

class CReaderCalls {
   public:
    CReaderCalls() = default;
    CReaderCalls(const CReaderCalls&) = delete;
    CReaderCalls& operator=(const CReaderCalls&) = delete;

    fb_jsonreader_struct* instance() { return &instance_; }

    // Parse of text with nSize = text.size(); the record comes back whole.
    fb_jsonreader_parse_struct parse(const std::string& text) {
        std::unique_ptr<char[]> copy(new char[text.size() == 0 ? 1 : text.size()]);
        std::memcpy(copy.get(), text.data(), text.size());
        return parseRaw(copy.get(), static_cast<RTS_IEC_UDINT>(text.size()));
    }
    fb_jsonreader_parse_struct parseRaw(char* pJson, RTS_IEC_UDINT nSize) {
        fb_jsonreader_parse_struct p;
        std::memset(&p, 0x5A, sizeof(p));  // every output must be written
        p.pInstance = &instance_;
        p.pJson = pJson;
        p.nSize = nSize;
        fb_jsonreader__parse(&p);
        return p;
    }

    RTS_IEC_DINT kind(const char* path) {
        Path sPath(path);
        fb_jsonreader_getkind_struct p{&instance_, sPath.get(), 1234};
        fb_jsonreader__getkind(&p);
        return p.GetKind;
    }
    RTS_IEC_DINT size(const char* path) {
        Path sPath(path);
        fb_jsonreader_getsize_struct p{&instance_, sPath.get(), 1234};
        fb_jsonreader__getsize(&p);
        return p.GetSize;
    }
    ReaderScalar<RTS_IEC_BOOL> getBool(const char* path, RTS_IEC_BOOL initial) {
        Path sPath(path);
        fb_jsonreader_getbool_struct p{&instance_, sPath.get(), 7, initial};
        fb_jsonreader__getbool(&p);
        return {p.GetBool, p.bValue};
    }
    ReaderScalar<RTS_IEC_DINT> getDint(const char* path, RTS_IEC_DINT initial) {
        Path sPath(path);
        fb_jsonreader_getdint_struct p{&instance_, sPath.get(), 7, initial};
        fb_jsonreader__getdint(&p);
        return {p.GetDint, p.diValue};
    }
    ReaderScalar<RTS_IEC_LINT> getLint(const char* path, RTS_IEC_LINT initial) {
        Path sPath(path);
        fb_jsonreader_getlint_struct p{&instance_, sPath.get(), 7, initial};
        fb_jsonreader__getlint(&p);
        return {p.GetLint, p.liValue};
    }
    ReaderScalar<RTS_IEC_LREAL> getLreal(const char* path, RTS_IEC_LREAL initial) {
        Path sPath(path);
        fb_jsonreader_getlreal_struct p{&instance_, sPath.get(), 7, initial};
        fb_jsonreader__getlreal(&p);
        return {p.GetLreal, p.lrValue};
    }

    // The text reads into a buffer of exactly nBuffer bytes (a null pointer with
    // nullBuffer); nLength goes in as 0xEEEEEEEE.
    ReaderText getString(const char* path, RTS_IEC_UDINT nBuffer, bool nullBuffer = false) {
        return text(path, nBuffer, nullBuffer, [this](char* sPath, char* buffer, RTS_IEC_UDINT n) {
            fb_jsonreader_getstring_struct p{&instance_, sPath, buffer, n, 7, 0xEEEEEEEE};
            fb_jsonreader__getstring(&p);
            return ReaderText{p.GetString, std::string(), p.nLength};
        });
    }
    ReaderText getMemberName(const char* path, RTS_IEC_UDINT index, RTS_IEC_UDINT nBuffer,
                             bool nullBuffer = false) {
        return text(path, nBuffer, nullBuffer, [this, index](char* sPath, char* buffer, RTS_IEC_UDINT n) {
            fb_jsonreader_getmembername_struct p{&instance_, sPath, index, buffer, n, 7, 0xEEEEEEEE};
            fb_jsonreader__getmembername(&p);
            return ReaderText{p.GetMemberName, std::string(), p.nLength};
        });
    }
    ReaderText getRaw(const char* path, RTS_IEC_UDINT nBuffer, bool nullBuffer = false) {
        return text(path, nBuffer, nullBuffer, [this](char* sPath, char* buffer, RTS_IEC_UDINT n) {
            fb_jsonreader_getraw_struct p{&instance_, sPath, buffer, n, 7, 0xEEEEEEEE};
            fb_jsonreader__getraw(&p);
            return ReaderText{p.GetRaw, std::string(), p.nLength};
        });
    }
    // The value at path as compact JSON, read with a buffer large enough; "<none>" when
    // the path finds nothing.
    std::string raw(const char* path) {
        ReaderText size = getRaw(path, 0);
        if (size.length == 0) {
            return "<none>";
        }
        ReaderText whole = getRaw(path, size.length + 1);
        return whole.ok == 1 ? whole.buffer.substr(0, whole.length) : "<refused>";
    }

    RTS_IEC_BOOL toVariable(const char* path, void* pData) {
        Path sPath(path);
        fb_jsonreader_tovariable_struct p{&instance_, sPath.get(), static_cast<RTS_IEC_UDINT*>(pData), 7};
        fb_jsonreader__tovariable(&p);
        return p.ToVariable;
    }

   private:
    // A path in a buffer of its own size; null stays null.
    class Path {
       public:
        explicit Path(const char* path) {
            if (path != nullptr) {
                const size_t n = std::strlen(path) + 1;
                bytes_.reset(new char[n]);
                std::memcpy(bytes_.get(), path, n);
            }
        }
        char* get() { return bytes_.get(); }

       private:
        std::unique_ptr<char[]> bytes_;
    };

    template <typename Call>
    ReaderText text(const char* path, RTS_IEC_UDINT nBuffer, bool nullBuffer, Call call) {
        Path sPath(path);
        std::unique_ptr<char[]> buffer(nullBuffer ? nullptr : new char[nBuffer == 0 ? 1 : nBuffer]);
        if (buffer) {
            std::memset(buffer.get(), '#', nBuffer == 0 ? 1 : nBuffer);
        }
        ReaderText result = call(sPath.get(), buffer.get(), nBuffer);
        if (buffer) {
            result.buffer.assign(buffer.get(), nBuffer == 0 ? 1 : nBuffer);
        }
        return result;
    }

    fb_jsonreader_struct instance_{};
};

#endif  // TESTS_SUPPORT_READERCALLS_H
