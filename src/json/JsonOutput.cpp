// Text output of JSON values: the iterative serialiser and the rounding of doubles to a
// number of decimal places.
#include "json/JsonOutput.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "json/Utf8.h"

namespace {

constexpr uint64_t kEveryByteOne = 0x0101010101010101ull;
constexpr uint64_t kEveryByteHigh = 0x8080808080808080ull;

// The high bit of each byte of `word` that a JSON string does not take as it is (a
// control character, a quote, a backslash). Exact for the lowest such byte (a borrow only
// runs upwards); bytes above it may be flagged falsely.
inline uint64_t BytesToEscape(uint64_t word) {
    const uint64_t quote = word ^ (kEveryByteOne * '"');
    const uint64_t backslash = word ^ (kEveryByteOne * '\\');
    return (((word - kEveryByteOne * 0x20) & ~word) | ((quote - kEveryByteOne) & ~quote) |
            ((backslash - kEveryByteOne) & ~backslash)) &
           kEveryByteHigh;
}

// The length of the run at the start of [begin, end) that a JSON string takes as it is:
// no control character, quote or backslash. Eight bytes at a time while none of them
// is one, then byte by byte.
size_t UnescapedRun(const char* begin, const char* end) {
    const char* c = begin;
    for (; end - c >= 8; c += 8) {
        uint64_t word;
        std::memcpy(&word, c, sizeof(word));
        if (BytesToEscape(word) != 0) {
            break;
        }
    }
    for (; c != end; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == '"' || byte == '\\') {
            break;
        }
    }
    return static_cast<size_t>(c - begin);
}

}  // namespace

// Indented text into a CTextBuffer goes through RapidJSON's writer (compact text has a
// writer of its own, below). Strings written into a CTextBuffer copy their runs of bytes that need no escape in one
// go; RapidJSON's writer escapes what stops a run (and copies every byte from 0x80 up as
// it is, as between two equal encodings). The writer has reserved room for the whole
// string before it scans.
template <>
inline bool rapidjson::Writer<CTextBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, CRetainedBlock,
                              rapidjson::kWriteNoFlags>::ScanWriteUnescapedString(rapidjson::StringStream& is,
                                                                                  size_t length) {
    const char* end = is.head_ + length;
    const size_t run = UnescapedRun(is.src_, end);
    os_->PutUnsafeRun(is.src_, run);
    is.src_ += run;
    return is.src_ != end;
}

// Numbers and raw values written into a CTextBuffer are copied in one go too: RapidJSON's
// writer copies them a byte at a time, each time loading the buffer's end again (a byte
// store may alias it).
typedef rapidjson::Writer<CTextBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, CRetainedBlock,
                          rapidjson::kWriteNoFlags>
    CTextBufferWriter;

template <>
inline bool CTextBufferWriter::WriteRawValue(const char* json, size_t length) {
    os_->Reserve(length);
    os_->PutUnsafeRun(json, length);
    return true;
}
template <>
inline bool CTextBufferWriter::WriteInt(int i) {
    char buffer[11];
    return WriteRawValue(buffer, static_cast<size_t>(rapidjson::internal::i32toa(i, buffer) - buffer));
}
template <>
inline bool CTextBufferWriter::WriteUint(unsigned u) {
    char buffer[10];
    return WriteRawValue(buffer, static_cast<size_t>(rapidjson::internal::u32toa(u, buffer) - buffer));
}
template <>
inline bool CTextBufferWriter::WriteInt64(int64_t i) {
    char buffer[21];
    return WriteRawValue(buffer, static_cast<size_t>(rapidjson::internal::i64toa(i, buffer) - buffer));
}
template <>
inline bool CTextBufferWriter::WriteUint64(uint64_t u) {
    char buffer[20];
    return WriteRawValue(buffer, static_cast<size_t>(rapidjson::internal::u64toa(u, buffer) - buffer));
}
template <>
inline bool CTextBufferWriter::WriteDouble(double d) {
    if (rapidjson::internal::Double(d).IsNanOrInf()) {
        return false;  // no form for them without kWriteNanAndInfFlag, as RapidJSON's own
    }
    char buffer[25];
    return WriteRawValue(
        buffer, static_cast<size_t>(rapidjson::internal::dtoa(d, buffer, maxDecimalPlaces_) - buffer));
}

namespace {

typedef CJsonOutputScratch::OpenContainer OpenContainer;

// What both serialisers share: the options and the stack of open containers, whose
// members or elements are written in a loop of their own (the walk never recurses).
class COutputWalk {
   protected:
    COutputWalk(const JsonOutputOptions& options, CJsonOutputScratch& scratch)
        : places_(options.maxDecimalPlaces),
          repair_(options.repairUtf8),
          shortest_(options.shortestDecimals),
          open_(scratch.open),
          repaired_(scratch.repaired) {
        open_.clear();
    }

    // Puts an opened container on the stack. Its record is filled where it stands: one
    // made aside and copied whole would be read back while still being stored.
    void Push(const CJsonValue& container) {
        open_.emplace_back();
        open_.back().value = &container;
    }

    const int places_;
    const bool repair_;
    const bool shortest_;
    std::vector<OpenContainer>& open_;
    std::string& repaired_;  // a string whose bytes needed repair, as written
};

// The places a string of `length` bytes may take in a text: RapidJSON's writer reserves
// six bytes per byte of text (\u00XX) and the two quotes before it writes a string.
inline size_t QuotedRoom(size_t length) { return 2 + length * 6; }

// Compact JSON into a CTextBuffer, byte for byte what RapidJSON's Writer with write flags
// 0 writes, without its stack of levels: the walk already knows the shape, so it writes
// the comma and the colon where they go. Room is reserved at the same moments and in the
// same amounts as RapidJSON's writer reserves it, so a text meets the memory cap exactly
// where it did with that writer.
//
// The end of the text is kept in hand (`to`, passed in and handed back) while the walk
// writes a container's members, and given to the buffer only at the end, or when the
// buffer must grow. Kept in the buffer, each write would wait for the one before to
// store the end and then read it back.
class CCompactTextOutput : private COutputWalk {
   public:
    CCompactTextOutput(CTextBuffer& out, const JsonOutputOptions& options, CJsonOutputScratch& scratch)
        : COutputWalk(options, scratch), out_(out) {}

    // Containers are walked from a stack, not by recursion. The members or elements of
    // one container are written in a loop of their own; the stack is touched only to go
    // into a container and to come back out of it.
    void Write(const CJsonValue& value) {
        char* to = Synced();
        bool opened = false;
        to = WriteOrOpen(to, value, opened);
        while (!open_.empty()) {
            const size_t depth = open_.size();
            const CJsonValue& container = *open_.back().value;
            rapidjson::SizeType next = open_.back().next;
            opened = false;
            if (container.IsObject()) {
                const CJsonValue::ConstMemberIterator members = container.MemberBegin();
                const rapidjson::SizeType count = container.MemberCount();
                while (!opened && next < count) {
                    if (next != 0) {
                        to = Put(to, ',');
                    }
                    const CJsonValue::Member& member = members[next++];
                    to = WriteString(to, member.name);
                    to = Put(to, ':');
                    to = WriteOrOpen(to, member.value, opened);
                }
                if (!opened) {
                    to = Put(to, '}');
                }
            } else {
                const CJsonValue* elements = container.Begin();
                const rapidjson::SizeType count = container.Size();
                while (!opened && next < count) {
                    if (next != 0) {
                        to = Put(to, ',');
                    }
                    to = WriteOrOpen(to, elements[next++], opened);
                }
                if (!opened) {
                    to = Put(to, ']');
                }
            }
            if (opened) {
                open_[depth - 1].next = next;  // goes on from there once the new one is done
            } else {
                open_.pop_back();
            }
        }
        out_.SetTail(to);
    }

   private:
    // A number's digits are made in a buffer of this size: a short run's copy reads
    // whole words within it.
    static constexpr size_t kDigitsRoom = 32;

    // The text's end, and the end of its room, taken from the buffer.
    char* Synced() {
        char* to = out_.Tail();
        begin_ = to - out_.GetSize();
        end_ = to + out_.Room();
        return to;
    }
    // `to` with room for `count` bytes after it.
    char* Reserve(char* to, size_t count) {
        if (count > static_cast<size_t>(end_ - to)) {
            to = Grow(to, count);
        }
        return to;
    }
    // Gives the text's end to the buffer and lets it grow (it may move the text).
    __attribute__((noinline)) char* Grow(char* to, size_t count) {
        out_.SetTail(to);
        out_.Reserve(count);
        return Synced();
    }
    char* Put(char* to, char c) {
        to = Reserve(to, 1);
        *to = c;
        return to + 1;
    }
    // At most 32 bytes: a number's digits or a literal.
    char* Literal(char* to, const char* text, size_t length) {
        to = Reserve(to, length);
        CopyShortRun(to, text, length);
        return to + length;
    }
    // A number's digits go straight into the text when it has the room for any number
    // already: digits made elsewhere and then copied would be read back while they are
    // still being stored, which stalls the processor. Without that room they are made
    // aside and the text grows by their length only, as RapidJSON's writer grows it.
    template <typename Number, typename Convert>
    char* Digits(char* to, Convert convert, Number value) {
        if (static_cast<size_t>(end_ - to) > kDigitsRoom) {
            return convert(value, to);
        }
        char digits[kDigitsRoom];
        return Literal(to, digits, static_cast<size_t>(convert(value, digits) - digits));
    }

    // Writes a scalar, or opens a container and pushes it so that Write goes on with
    // its contents (`opened`). Numbers take the same branch order as Value::Accept.
    char* WriteOrOpen(char* to, const CJsonValue& value, bool& opened) {
        switch (value.GetType()) {
            case rapidjson::kNullType:
                return Literal(to, "null", 4);
            case rapidjson::kFalseType:
                return Literal(to, "false", 5);
            case rapidjson::kTrueType:
                return Literal(to, "true", 4);
            case rapidjson::kObjectType:
                opened = true;
                Push(value);
                return Put(to, '{');
            case rapidjson::kArrayType:
                opened = true;
                Push(value);
                return Put(to, '[');
            case rapidjson::kStringType:
                return WriteString(to, value);
            case rapidjson::kNumberType:
                break;
        }
        if (value.IsDouble()) {
            // Write flags 0 have no form for NaN and the infinities; RapidJSON's writer
            // would stop here and leave a cut text. null keeps the text valid.
            if (!std::isfinite(value.GetDouble())) {
                return Literal(to, "null", 4);
            }
            if (shortest_) {
                char text[32];
                const double rounded = RoundShortestToDecimalPlaces(value.GetDouble(), places_);
                return Literal(to, text, WriteShortestDouble(rounded, text));
            }
            return Digits<double>(
                to,
                [](double d, char* at) { return rapidjson::internal::dtoa(d, at, kDefaultDecimalPlaces); },
                RoundToDecimalPlaces(value.GetDouble(), places_));
        }
        if (value.IsInt()) {
            return Digits<int32_t>(to, rapidjson::internal::i32toa, value.GetInt());
        }
        if (value.IsUint()) {
            return Digits<uint32_t>(to, rapidjson::internal::u32toa, value.GetUint());
        }
        if (value.IsInt64()) {
            return Digits<int64_t>(to, rapidjson::internal::i64toa, value.GetInt64());
        }
        return Digits<uint64_t>(to, rapidjson::internal::u64toa, value.GetUint64());
    }

    // A string or a member name. Written first; checked only when it held a byte from
    // 0x80 up, and then taken back to be written again repaired when it is no UTF-8.
    char* WriteString(char* to, const CJsonValue& value) {
        const char* text = value.GetString();
        const rapidjson::SizeType length = value.GetStringLength();
        const size_t before = static_cast<size_t>(to - begin_);  // the text may move as it grows
        to = Quoted(to, text, length);
        if (!repair_ || !highByte_ || IsValidUtf8(text, length)) {
            return to;
        }
        repaired_.clear();
        RepairUtf8(text, length, repaired_);
        return Quoted(begin_ + before, repaired_.data(), repaired_.size());
    }

    // The string in quotes with RapidJSON's escapes (\" \\ \b \f \n \r \t, other
    // control characters as \u00XX), every other byte as it is. A string of 2 to 16
    // bytes that needs no escape, the most common kind (member names, short values), is
    // copied without a loop: one word, or two that overlap.
    char* Quoted(char* to, const char* text, size_t length) {
        to = Reserve(to, QuotedRoom(length));
        *to++ = '"';
        uint64_t low;
        uint64_t high;
        if (length > 8 && length <= 16) {
            std::memcpy(&low, text, sizeof(low));
            std::memcpy(&high, text + length - 8, sizeof(high));
            if ((BytesToEscape(low) | BytesToEscape(high)) == 0) {
                std::memcpy(to, &low, sizeof(low));
                std::memcpy(to + length - 8, &high, sizeof(high));
                return CloseQuote(to + length, low | high);
            }
        } else if (length >= 2 && length <= 8) {
            low = LoadUpToEight(text, length);
            if (EscapesIn(low, length) == 0) {
                std::memcpy(to, &low, sizeof(low));
                return CloseQuote(to + length, low);
            }
        }
        return QuotedLoop(to, text, length);
    }
    char* CloseQuote(char* to, uint64_t seen) {
        *to = '"';
        highByte_ = (seen & kEveryByteHigh) != 0;
        return to + 1;
    }

    // Every other string, after its opening quote, up to eight bytes at a time: each
    // word is stored whole, then the end moves past its bytes that need no escape. The
    // room reserved leaves at least 13 bytes while two bytes of text are left.
    __attribute__((noinline)) char* QuotedLoop(char* to, const char* text, size_t length) {
        const char* from = text;
        const char* const end = text + length;
        uint64_t seen = 0;
        while (from != end) {
            const size_t left = static_cast<size_t>(end - from);
            if (left >= 2) {
                const size_t count = left >= 8 ? 8 : left;
                const uint64_t word = LoadUpToEight(from, count);
                std::memcpy(to, &word, sizeof(word));
                seen |= word;
                const uint64_t special = EscapesIn(word, count);
                if (special == 0) {
                    from += count;
                    to += count;
                    continue;
                }
                const size_t clean = static_cast<size_t>(__builtin_ctzll(special)) / 8;
                from += clean;
                to += clean;
            }
            const unsigned char byte = static_cast<unsigned char>(*from++);
            seen |= byte;
            if (byte >= 0x20 && byte != '"' && byte != '\\') {
                *to++ = static_cast<char>(byte);
                continue;
            }
            *to++ = '\\';
            switch (byte) {
                case '"':
                case '\\':
                    *to++ = static_cast<char>(byte);
                    break;
                case '\b':
                    *to++ = 'b';
                    break;
                case '\f':
                    *to++ = 'f';
                    break;
                case '\n':
                    *to++ = 'n';
                    break;
                case '\r':
                    *to++ = 'r';
                    break;
                case '\t':
                    *to++ = 't';
                    break;
                default:
                    static const char kHexDigits[] = "0123456789ABCDEF";
                    to[0] = 'u';
                    to[1] = '0';
                    to[2] = '0';
                    to[3] = kHexDigits[byte >> 4];
                    to[4] = kHexDigits[byte & 0xF];
                    to += 5;
                    break;
            }
        }
        return CloseQuote(to, seen);
    }

    // BytesToEscape of a word whose first `count` (1 to 8) bytes are text: the zero
    // bytes above them are none.
    static uint64_t EscapesIn(uint64_t word, size_t count) {
        const uint64_t inText = count == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * count)) - 1;
        return BytesToEscape(word) & inText;
    }

    // `count` (2 to 8) bytes from `bytes` in the low places of a word, zeros above: a
    // short string is read with loads that overlap within it, never beyond its end.
    static uint64_t LoadUpToEight(const char* bytes, size_t count) {
        uint64_t word;
        if (count == 8) {
            std::memcpy(&word, bytes, sizeof(word));
            return word;
        }
        if (count >= 4) {
            uint32_t low;
            uint32_t high;
            std::memcpy(&low, bytes, sizeof(low));
            std::memcpy(&high, bytes + count - 4, sizeof(high));
            return low | uint64_t(high) << (8 * (count - 4));
        }
        const auto byteAt = [bytes](size_t i) {
            return uint64_t(static_cast<unsigned char>(bytes[i])) << (8 * i);
        };
        return byteAt(0) | byteAt(count / 2) | byteAt(count - 1);
    }

    CTextBuffer& out_;
    char* begin_ = nullptr;  // the text's first byte and the end of its room, while it is
    char* end_ = nullptr;    // written (the buffer's own are current only at the end)
    bool highByte_ = false;  // whether the last string written held a byte from 0x80 up
};

// The significant digits of a finite double's shortest decimal and the place of its
// point: value = 0.digits * 10^point. Zero gives no digits.
struct CShortestDecimal {
    char digits[24];
    int length = 0;
    int point = 0;
    bool negative = false;
};

CShortestDecimal ShortestDecimal(double value) {
    CShortestDecimal decimal;
    decimal.negative = std::signbit(value);
    if (value == 0) {
        return decimal;
    }
    char text[40];
    const std::to_chars_result end =
        std::to_chars(text, text + sizeof(text), std::fabs(value), std::chars_format::scientific);
    // d[.ddd]e[+-]xx
    const char* c = text;
    for (; c != end.ptr && *c != 'e'; ++c) {
        if (*c != '.') {
            decimal.digits[decimal.length++] = *c;
        }
    }
    int exponent = 0;
    std::from_chars(c + 1 + (c[1] == '+' ? 1 : 0), end.ptr, exponent);
    decimal.point = exponent + 1;
    return decimal;
}

// Counts the bytes of a text and keeps them when they fit a caller's buffer with a
// terminator; the buffer itself is written only once the whole text is known to fit.
class CCountingStream {
   public:
    typedef char Ch;
    void Put(char) { ++length_; }
    void Flush() {}
    size_t length() const { return length_; }

   private:
    size_t length_ = 0;
};

class CBufferStream {
   public:
    typedef char Ch;
    explicit CBufferStream(char* buffer) : next_(buffer) {}
    void Put(char c) { *next_++ = c; }
    void Flush() {}

   private:
    char* next_;
};

// Writes a value's text into a Stream through RapidJSON's writers, compact or (kPretty)
// indented by two spaces: for every text but the compact one into a CTextBuffer.
template <typename Stream, bool kPretty = false>
class CTextOutput : private COutputWalk {
   public:
    CTextOutput(Stream& stream, const JsonOutputOptions& options, CJsonOutputScratch& scratch)
        : COutputWalk(options, scratch), writer_(stream, &scratch.levels) {
        if constexpr (kPretty) {
            writer_.SetIndent(' ', 2);
        }
    }

    // Containers are walked from a stack, not by recursion. The members or elements of
    // one container are written in a loop of their own; the stack is touched only to go
    // into a container and to come back out of it.
    void Write(const CJsonValue& value) {
        WriteOrOpen(value);
        while (!open_.empty()) {
            const size_t depth = open_.size();
            const CJsonValue& container = *open_.back().value;
            rapidjson::SizeType next = open_.back().next;
            bool opened = false;
            if (container.IsObject()) {
                const CJsonValue::ConstMemberIterator members = container.MemberBegin();
                const rapidjson::SizeType count = container.MemberCount();
                while (!opened && next < count) {
                    const CJsonValue::Member& member = members[next++];
                    WriteString(member.name, true);
                    opened = WriteOrOpen(member.value);
                }
                if (!opened) {
                    writer_.EndObject(count);
                }
            } else {
                const CJsonValue* elements = container.Begin();
                const rapidjson::SizeType count = container.Size();
                while (!opened && next < count) {
                    opened = WriteOrOpen(elements[next++]);
                }
                if (!opened) {
                    writer_.EndArray(count);
                }
            }
            if (opened) {
                open_[depth - 1].next = next;  // goes on from there once the new one is done
            } else {
                open_.pop_back();
            }
        }
    }

   private:
    void WriteString(const CJsonValue& value, bool isKey) {
        const char* text = value.GetString();
        const rapidjson::SizeType length = value.GetStringLength();
        const bool repair = repair_ && !IsValidUtf8(text, length);
        if (!repair) {
            WriteStringAs(text, length, isKey);
            return;
        }
        repaired_.clear();
        RepairUtf8(text, length, repaired_);
        WriteStringAs(repaired_.data(), static_cast<rapidjson::SizeType>(repaired_.size()), isKey);
    }

    void WriteStringAs(const char* text, rapidjson::SizeType length, bool isKey) {
        if (isKey) {
            writer_.Key(text, length);
        } else {
            writer_.String(text, length);
        }
    }

    // Writes a scalar, or opens a container and pushes it so that Write goes on with
    // its contents (true). Numbers take the same branch order as Value::Accept.
    bool WriteOrOpen(const CJsonValue& value) {
        switch (value.GetType()) {
            case rapidjson::kNullType:
                writer_.Null();
                break;
            case rapidjson::kFalseType:
                writer_.Bool(false);
                break;
            case rapidjson::kTrueType:
                writer_.Bool(true);
                break;
            case rapidjson::kObjectType:
                writer_.StartObject();
                Push(value);
                return true;
            case rapidjson::kArrayType:
                writer_.StartArray();
                Push(value);
                return true;
            case rapidjson::kStringType:
                WriteString(value, false);
                break;
            case rapidjson::kNumberType:
                if (value.IsDouble()) {
                    // Write flags 0 have no form for NaN and the infinities; the writer
                    // would stop here and leave a cut text. null keeps the text valid.
                    if (!std::isfinite(value.GetDouble())) {
                        writer_.Null();
                    } else if (shortest_) {
                        char text[32];
                        const double rounded = RoundShortestToDecimalPlaces(value.GetDouble(), places_);
                        writer_.RawValue(text, WriteShortestDouble(rounded, text), rapidjson::kNumberType);
                    } else {
                        writer_.Double(RoundToDecimalPlaces(value.GetDouble(), places_));
                    }
                } else if (value.IsInt()) {
                    writer_.Int(value.GetInt());
                } else if (value.IsUint()) {
                    writer_.Uint(value.GetUint());
                } else if (value.IsInt64()) {
                    writer_.Int64(value.GetInt64());
                } else {
                    writer_.Uint64(value.GetUint64());
                }
                break;
        }
        return false;
    }

    typedef rapidjson::Writer<Stream, rapidjson::UTF8<>, rapidjson::UTF8<>, CRetainedBlock,
                              rapidjson::kWriteNoFlags>
        CompactWriter;
    typedef rapidjson::PrettyWriter<Stream, rapidjson::UTF8<>, rapidjson::UTF8<>, CRetainedBlock,
                                    rapidjson::kWriteNoFlags>
        IndentingWriter;
    typename std::conditional<kPretty, IndentingWriter, CompactWriter>::type writer_;
};

// Adds one unit in the last place to the decimal digits of `text` ("0.12" gives "0.13",
// "9.99" gives "10.00"); `text` has room for one more character.
void IncrementDecimal(char* text) {
    size_t length = std::strlen(text);
    for (size_t i = length; i-- > 0;) {
        if (text[i] == '.') {
            continue;
        }
        if (text[i] != '9') {
            ++text[i];
            return;
        }
        text[i] = '0';
    }
    std::memmove(text + 1, text, length + 1);
    text[0] = '1';
}

}  // namespace

void SerializeDocument(const CJsonValue& value, rapidjson::StringBuffer& buffer) {
    SerializeDocument(value, buffer, JsonOutputOptions());
}

void SerializeDocument(const CJsonValue& value, rapidjson::StringBuffer& buffer,
                       const JsonOutputOptions& options) {
    CJsonOutputScratch scratch;
    if (options.pretty) {
        CTextOutput<rapidjson::StringBuffer, true>(buffer, options, scratch).Write(value);
    } else {
        CTextOutput<rapidjson::StringBuffer>(buffer, options, scratch).Write(value);
    }
}

void SerializeDocument(const CJsonValue& value, CTextBuffer& buffer, const JsonOutputOptions& options,
                       CJsonOutputScratch& scratch) {
    if (options.pretty) {
        CTextOutput<CTextBuffer, true>(buffer, options, scratch).Write(value);
    } else {
        CCompactTextOutput(buffer, options, scratch).Write(value);
    }
}

size_t SerializeInto(const CJsonValue& value, char* buffer, size_t size, CJsonOutputScratch& scratch) {
    const JsonOutputOptions options;
    CCountingStream counter;
    CTextOutput<CCountingStream>(counter, options, scratch).Write(value);
    if (counter.length() < size) {
        CBufferStream stream(buffer);
        CTextOutput<CBufferStream>(stream, options, scratch).Write(value);
        buffer[counter.length()] = '\0';
    }
    return counter.length();
}

size_t WriteShortestDouble(double value, char* out) {
    const CShortestDecimal decimal = ShortestDecimal(value);
    size_t at = 0;
    if (decimal.negative) {
        out[at++] = '-';
    }
    if (decimal.length == 0) {
        std::memcpy(out + at, "0.0", 3);
        return at + 3;
    }
    const int length = decimal.length;
    const int point = decimal.point;  // digits before the point
    const auto put = [&](const char* from, int count) {
        std::memcpy(out + at, from, static_cast<size_t>(count));
        at += static_cast<size_t>(count);
    };
    if (length <= point && point <= 21) {  // 1234e7: 12340000000.0
        put(decimal.digits, length);
        std::memset(out + at, '0', static_cast<size_t>(point - length));
        at += static_cast<size_t>(point - length);
        put(".0", 2);
    } else if (0 < point && point <= 21) {  // 1234e-2: 12.34
        put(decimal.digits, point);
        out[at++] = '.';
        put(decimal.digits + point, length - point);
    } else if (-6 < point && point <= 0) {  // 1234e-6: 0.001234
        put("0.", 2);
        std::memset(out + at, '0', static_cast<size_t>(-point));
        at += static_cast<size_t>(-point);
        put(decimal.digits, length);
    } else {  // 1e30, 1.234e33, 1e-7: no '+', no leading zeros in the exponent
        out[at++] = decimal.digits[0];
        if (length > 1) {
            out[at++] = '.';
            put(decimal.digits + 1, length - 1);
        }
        out[at++] = 'e';
        const std::to_chars_result end = std::to_chars(out + at, out + at + 8, point - 1);
        at = static_cast<size_t>(end.ptr - out);
    }
    return at;
}

double RoundShortestToDecimalPlaces(double value, int places) {
    if (places >= kDefaultDecimalPlaces || !std::isfinite(value)) {
        return value;
    }
    if (places < 0) {
        places = 0;
    }
    const CShortestDecimal decimal = ShortestDecimal(value);
    const int kept = decimal.point + places;  // digits that stay
    if (decimal.length <= kept) {
        return value;  // no more places than asked for
    }
    // Digits 0..kept-1 stay; the first dropped one decides, halves away from zero.
    char text[48];
    int at = 0;
    text[at++] = '0';  // room for a carry
    for (int i = 0; i < kept; ++i) {
        text[at++] = decimal.digits[i];
    }
    const bool up = kept >= 0 && decimal.digits[kept] >= '5';
    if (kept < 0 || (kept == 0 && !up)) {
        return 0.0;
    }
    if (up) {
        int i = at - 1;
        for (; text[i] == '9'; --i) {
            text[i] = '0';
        }
        ++text[i];
    }
    // text holds the rounded digits with one leading digit more: value = 0.text * 10^(point + 1)
    std::snprintf(text + at, sizeof(text) - static_cast<size_t>(at), "e%d", decimal.point + 1 - at);
    double rounded = 0;
    std::from_chars(text, text + std::strlen(text), rounded);
    if (rounded == 0.0) {
        return 0.0;
    }
    return decimal.negative ? -rounded : rounded;
}

double RoundToDecimalPlaces(double value, int places) {
    if (places >= kDefaultDecimalPlaces || !std::isfinite(value)) {
        return value;
    }
    if (value == 0.0) {
        return 0.0;  // -0.0 too: zero is written without a sign once rounding is asked for
    }
    if (places < 0) {
        places = 0;
    }
    // |value| = odd * 2^-binaryPlaces; such a number has exactly binaryPlaces decimal
    // places, the last of them a 5 when binaryPlaces > 0.
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(value), &exponent);
    const uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
    const int binaryPlaces = 53 - exponent - __builtin_ctzll(mantissa);
    if (binaryPlaces <= places) {
        return value;  // already has no more places than asked for (every integer)
    }
    // Here |value| < 2^52: at most 16 digits before the point, at most 324 after it.
    char text[400];
    const bool half = binaryPlaces == places + 1;  // the dropped part is exactly one half
    // printf rounds exactly, but a tie to even; a tie is written one place longer and
    // rounded away from zero here.
    std::snprintf(text, sizeof(text) - 1, "%.*f", half ? places + 1 : places, std::fabs(value));
    if (half) {
        text[std::strlen(text) - 1] = '\0';  // the final 5
        IncrementDecimal(text);
    }
    const double rounded = std::strtod(text, nullptr);
    if (rounded == 0.0) {
        return 0.0;
    }
    return value < 0 ? -rounded : rounded;
}
