// Text output of JSON values: one walk over a value, compact or indented, into the
// component's text buffer or into a caller's buffer.
#include "json/JsonOutput.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "json/NumberText.h"
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

// The places a string of `length` bytes may take in a text: six bytes per byte of text
// (\u00XX) and the two quotes.
inline size_t QuotedRoom(size_t length) { return 2 + length * 6; }

// Where the walk writes: [begin, end) is the room it may fill, `origin` the offset of
// `begin` in the whole text (a window sink writes a long text through one small window).
struct CTextRoom {
    char* begin = nullptr;
    char* end = nullptr;
    size_t origin = 0;
};

// The component's text buffer. Room is reserved at the same moments and in the same
// amounts as RapidJSON's writers reserve it (a string's whole room before its first
// byte, a number's or a literal's exact length, one byte for each bracket, comma and
// colon, an indentation's length), so a text meets the buffer's limit exactly where
// theirs did.
class CTextBufferSink {
   public:
    static constexpr bool kWholeStrings = true;
    explicit CTextBufferSink(CTextBuffer& buffer) : buffer_(buffer) {}

    char* Open(CTextRoom& room) { return Synced(room); }
    // Gives the text's end to the buffer and lets it grow (it may move the text).
    __attribute__((noinline)) char* Grow(char* to, size_t count, CTextRoom& room) {
        buffer_.SetTail(to);
        buffer_.Reserve(count);
        return Synced(room);
    }
    // Never called: the whole text stays in the room (origin 0).
    char* RewindBefore(size_t, CTextRoom& room) { return room.begin; }
    size_t Close(char* to, CTextRoom&) {
        buffer_.SetTail(to);
        return buffer_.GetSize();
    }

   private:
    char* Synced(CTextRoom& room) {
        char* to = buffer_.Tail();
        room.begin = to - buffer_.GetSize();
        room.end = to + buffer_.Room();
        room.origin = 0;
        return to;
    }
    CTextBuffer& buffer_;
};

// A caller's buffer of a known room, or none (the text is only measured). The text is
// written into the buffer while the room reserved fits there; past that, it goes on
// through a window of the scratch memory, whose bytes are copied into the buffer where
// they belong (and dropped beyond its room) each time the window is full and at the end.
// Strings are written in pieces, so no reservation is larger than the window.
class CWindowSink {
   public:
    static constexpr bool kWholeStrings = false;
    static constexpr size_t kWindowBytes = 8192;

    CWindowSink(char* target, size_t room, std::vector<char>& window) : target_(target), room_(room) {
        if (window.size() < kWindowBytes) {
            window.resize(kWindowBytes);
        }
        window_ = window.data();
    }

    char* Open(CTextRoom& room) {
        direct_ = target_ != nullptr && room_ > 0;
        room.begin = direct_ ? target_ : window_;
        room.end = room.begin + (direct_ ? room_ : kWindowBytes);
        room.origin = 0;
        return room.begin;
    }
    // REQUIRES: count <= kWindowBytes.
    __attribute__((noinline)) char* Grow(char* to, size_t count, CTextRoom& room) {
        (void)count;
        const size_t used = static_cast<size_t>(to - room.begin);
        if (!direct_) {
            Flush(room, used);
        }
        direct_ = false;
        return Window(room.origin + used, room);
    }
    // Back to an offset before the window: what was copied from there on is written again.
    char* RewindBefore(size_t offset, CTextRoom& room) { return Window(offset, room); }
    // The text's length.
    size_t Close(char* to, CTextRoom& room) {
        const size_t used = static_cast<size_t>(to - room.begin);
        if (!direct_) {
            Flush(room, used);
        }
        return room.origin + used;
    }
    // Whether the whole text went through the window at once: it is there, from its start.
    bool WholeInWindow() const { return flushes_ == 1 && lastOrigin_ == 0; }
    const char* window() const { return window_; }

   private:
    char* Window(size_t origin, CTextRoom& room) {
        room.begin = window_;
        room.end = window_ + kWindowBytes;
        room.origin = origin;
        return window_;
    }
    void Flush(const CTextRoom& room, size_t count) {
        ++flushes_;
        lastOrigin_ = room.origin;
        if (target_ != nullptr && room.origin <= room_ && count <= room_ - room.origin) {
            std::memcpy(target_ + room.origin, window_, count);
        }
    }

    char* const target_;
    const size_t room_;
    char* window_ = nullptr;
    bool direct_ = false;    // writing straight into the target
    size_t flushes_ = 0;     // windows copied out (or dropped)
    size_t lastOrigin_ = 0;  // the offset of the last of them
};

typedef CJsonOutputScratch::OpenContainer OpenContainer;

// The serialiser: a value's text, byte for byte what RapidJSON's Writer (compact) or
// PrettyWriter (kPretty: two spaces per level, "key": value, one member or element per
// line, empty containers as {} and []) with write flags 0 writes of it, but for the
// differences JsonOutput.h lists, into a Sink (CTextBufferSink, CWindowSink).
//
// Containers are walked from a stack, not by recursion: the walk knows each value's
// place, so it writes the comma, the colon and the indentation where they go without a
// stack of levels. The members or elements of one container are written in a loop of
// their own; the stack is touched only to go into a container and to come back out.
//
// The end of the text is kept in hand (`to`, passed in and handed back) while the walk
// writes, and given to the sink only at the end, or when the room must grow. Kept in the
// buffer, each write would wait for the one before to store the end and then read it
// back.
template <typename Sink, bool kPretty>
class CTextWalk {
   public:
    CTextWalk(Sink& sink, const JsonOutputOptions& options, CJsonOutputScratch& scratch)
        : sink_(sink),
          places_(options.maxDecimalPlaces),
          repair_(options.repairUtf8),
          shortest_(options.shortestDecimals),
          open_(scratch.open),
          repaired_(scratch.repaired) {
        open_.clear();
    }

    // Returns the text's length.
    size_t Write(const CJsonValue& value) {
        char* to = sink_.Open(room_);
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
                    to = Separate(to, next, depth);
                    const CJsonValue::Member& member = members[next++];
                    to = WriteString(to, member.name);
                    to = Put(to, ':');
                    if (kPretty) {
                        to = Put(to, ' ');
                    }
                    to = WriteOrOpen(to, member.value, opened);
                }
                if (!opened) {
                    to = Close(to, count, depth, '}');
                }
            } else {
                const CJsonValue* elements = container.Begin();
                const rapidjson::SizeType count = container.Size();
                while (!opened && next < count) {
                    to = Separate(to, next, depth);
                    to = WriteOrOpen(to, elements[next++], opened);
                }
                if (!opened) {
                    to = Close(to, count, depth, ']');
                }
            }
            if (opened) {
                open_[depth - 1].next = next;  // goes on from there once the new one is done
            } else {
                open_.pop_back();
            }
        }
        return sink_.Close(to, room_);
    }

   private:
    // A number's digits are made in a buffer of this size: a short run's copy reads
    // whole words within it.
    static constexpr size_t kDigitsRoom = kNumberTextMax;
    static_assert(kDigitsRoom == 32, "CopyShortRun copies at most 32 bytes");
    // A string goes into a window sink in pieces of this many bytes.
    static constexpr size_t kStringPiece = 1024;

    // `to` with room for `count` bytes after it.
    char* Reserve(char* to, size_t count) {
        if (count > static_cast<size_t>(room_.end - to)) {
            to = sink_.Grow(to, count, room_);
        }
        return to;
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
    // The offset of `to` in the whole text, and `to` again from an offset at or before it.
    size_t Offset(const char* to) const { return room_.origin + static_cast<size_t>(to - room_.begin); }
    char* At(size_t offset) {
        return offset >= room_.origin ? room_.begin + (offset - room_.origin)
                                      : sink_.RewindBefore(offset, room_);
    }

    // Before the member or element `index` of a container `depth` levels down: the comma
    // after the one before; indented, a line break and the indentation.
    char* Separate(char* to, rapidjson::SizeType index, size_t depth) {
        if (index != 0) {
            to = Put(to, ',');
        }
        if (kPretty) {
            to = Put(to, '\n');
            to = Indent(to, depth);
        }
        return to;
    }
    // The end of a container of `count` members or elements, `depth` levels down;
    // indented, one that holds any on a line of its own.
    char* Close(char* to, rapidjson::SizeType count, size_t depth, char bracket) {
        if (kPretty && count != 0) {
            to = Put(to, '\n');
            to = Indent(to, depth - 1);
        }
        return Put(to, bracket);
    }
    char* Indent(char* to, size_t levels) {
        const size_t count = 2 * levels;
        to = Reserve(to, count);
        std::memset(to, ' ', count);
        return to + count;
    }

    // Puts an opened container on the stack. Its record is filled where it stands: one
    // made aside and copied whole would be read back while still being stored.
    void Push(const CJsonValue& container) {
        open_.emplace_back();
        open_.back().value = &container;
    }

    // A number's digits go straight into the text when it has the room for any number
    // already: digits made elsewhere and then copied would be read back while they are
    // still being stored, which stalls the processor. Without that room they are made
    // aside and the text grows by their length only, as RapidJSON's writer grows it.
    template <typename Number>
    char* Digits(char* to, char* (*convert)(Number, char*), Number value) {
        if (static_cast<size_t>(room_.end - to) > kDigitsRoom) {
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
                return Digits<double>(to, WriteShortestDouble,
                                      RoundShortestToDecimalPlaces(value.GetDouble(), places_));
            }
            return Digits<double>(to, WriteDouble, RoundToDecimalPlaces(value.GetDouble(), places_));
        }
        if (value.IsInt()) {
            return Digits<int32_t>(to, WriteInt32, value.GetInt());
        }
        if (value.IsUint()) {
            return Digits<uint32_t>(to, WriteUint32, value.GetUint());
        }
        if (value.IsInt64()) {
            return Digits<int64_t>(to, WriteInt64, value.GetInt64());
        }
        return Digits<uint64_t>(to, WriteUint64, value.GetUint64());
    }

    // A string or a member name. Written first; checked only when it held a byte from
    // 0x80 up, and then taken back to be written again repaired when it is no UTF-8.
    char* WriteString(char* to, const CJsonValue& value) {
        const char* text = value.GetString();
        const rapidjson::SizeType length = value.GetStringLength();
        const size_t before = Offset(to);  // the text may move as it grows
        to = Quoted(to, text, length);
        if (!repair_ || !highByte_ || IsValidUtf8(text, length)) {
            return to;
        }
        repaired_.clear();
        RepairUtf8(text, length, repaired_);
        return Quoted(At(before), repaired_.data(), repaired_.size());
    }

    // The string in quotes with RapidJSON's escapes (\" \\ \b \f \n \r \t, other
    // control characters as \u00XX), every other byte as it is. A string of 2 to 16
    // bytes that needs no escape, the most common kind (member names, short values), is
    // copied without a loop: one word, or two that overlap.
    char* Quoted(char* to, const char* text, size_t length) {
        if (!Sink::kWholeStrings && length > kStringPiece) {
            return QuotedInPieces(to, text, length);
        }
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
        uint64_t seen = 0;
        to = EscapedLoop(to, text, length, seen);
        return CloseQuote(to, seen);
    }
    // A long string into a window: room for each piece of it in turn.
    char* QuotedInPieces(char* to, const char* text, size_t length) {
        to = Put(to, '"');
        uint64_t seen = 0;
        for (size_t done = 0; done < length;) {
            const size_t piece = length - done < kStringPiece ? length - done : kStringPiece;
            to = Reserve(to, 6 * piece + 1);
            to = EscapedLoop(to, text + done, piece, seen);
            done += piece;
        }
        return CloseQuote(Reserve(to, 1), seen);
    }
    char* CloseQuote(char* to, uint64_t seen) {
        *to = '"';
        highByte_ = (seen & kEveryByteHigh) != 0;
        return to + 1;
    }

    // Every other string (or a piece of one), after its opening quote, up to eight bytes
    // at a time: each word is stored whole, then the end moves past its bytes that need
    // no escape. The room reserved leaves at least 12 bytes while two bytes of text are
    // left. `seen` gathers the bytes written.
    __attribute__((noinline)) char* EscapedLoop(char* to, const char* text, size_t length,
                                                uint64_t& seenOut) {
        uint64_t seen = 0;
        const char* from = text;
        const char* const end = text + length;
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
        seenOut |= seen;
        return to;
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

    Sink& sink_;
    CTextRoom room_;
    const int places_;
    const bool repair_;
    const bool shortest_;
    std::vector<OpenContainer>& open_;
    std::string& repaired_;  // a string whose bytes needed repair, as written
    bool highByte_ = false;  // whether the last string written held a byte from 0x80 up
};

// The compact text of `value` through a window sink over `target` (null: measured only).
size_t WriteThroughWindow(const CJsonValue& value, CWindowSink& sink, CJsonOutputScratch& scratch) {
    return CTextWalk<CWindowSink, false>(sink, JsonOutputOptions(), scratch).Write(value);
}

}  // namespace

void SerializeDocument(const CJsonValue& value, CTextBuffer& buffer, const JsonOutputOptions& options,
                       CJsonOutputScratch& scratch) {
    CTextBufferSink sink(buffer);
    if (options.pretty) {
        CTextWalk<CTextBufferSink, true>(sink, options, scratch).Write(value);
    } else {
        CTextWalk<CTextBufferSink, false>(sink, options, scratch).Write(value);
    }
}

size_t SerializeInto(const CJsonValue& value, char* buffer, size_t size, CJsonOutputScratch& scratch) {
    // Measured first: the buffer is written only once the whole text is known to fit. A
    // text that went through the window at once is copied from there.
    CWindowSink measure(nullptr, 0, scratch.window);
    const size_t length = WriteThroughWindow(value, measure, scratch);
    if (length >= size) {
        return length;
    }
    if (measure.WholeInWindow()) {
        std::memcpy(buffer, measure.window(), length);
    } else {
        CWindowSink write(buffer, length, scratch.window);
        WriteThroughWindow(value, write, scratch);
    }
    buffer[length] = '\0';
    return length;
}

std::string JsonText(const CJsonValue& value, const JsonOutputOptions& options) {
    CMemoryBudget budget(~size_t(0));
    CRetainedBlock block(&budget);
    CTextBuffer text(block, ~size_t(0) / 4);
    CJsonOutputScratch scratch;
    SerializeDocument(value, text, options, scratch);
    return std::string(text.Tail() - text.GetSize(), text.GetSize());
}
