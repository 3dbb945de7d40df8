// CJsonEventTape: the events of a JSON value, kept to be given again to a handler of the
// reader's events (JsonEvents.h). A walk that must see a part of a text whole before it
// can act on it records that part as it passes and replays it once it has seen it; a
// value of a document is recorded from the document and replayed as if it were read.
//
// An event is 16 bytes: a literal; a number, a string or a key of a text (where it
// stands in the text, which must stay as the reader left it while the tape is used); a
// scalar value of a document (its address: the document must outlive the tape's use);
// the start of a container, which knows how many values it holds and where it ends; and
// a container's end. A replayed start can therefore look ahead at the whole container.
//
// The memory is charged to a budget and kept from one use to the next: growth throws
// CMemoryRefused (a std::bad_alloc). Used by one thread at a time.
#ifndef JSON_JSONEVENTTAPE_H
#define JSON_JSONEVENTTAPE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "json/JsonEvents.h"
#include "json/JsonMemory.h"
#include "json/Numbers.h"

enum class ETapedEvent : uint8_t {
    kNull,
    kFalse,
    kTrue,
    kNumber,  // of a text
    kString,  // of a text
    kKey,     // of a text or of a document
    kValue,   // a document's scalar
    kStartObject,
    kEndObject,
    kStartArray,
    kEndArray
};

struct CTapedEvent {
    union {
        char* text;               // numbers, strings and keys: where they start
        const CJsonValue* value;  // kValue
        size_t end;               // starts of containers: the index of their end
    };
    uint32_t count;  // strings and keys: their bytes; starts of containers: the values they hold
    ETapedEvent kind;

    bool isContainer() const { return kind == ETapedEvent::kStartObject || kind == ETapedEvent::kStartArray; }
};
static_assert(sizeof(CTapedEvent) == 16, "an event is two words");

class CJsonEventTape {
   public:
    explicit CJsonEventTape(CMemoryBudget* budget);
    CJsonEventTape(const CJsonEventTape&) = delete;
    CJsonEventTape& operator=(const CJsonEventTape&) = delete;

    // Recording the events of a text in its order, each value inside the container
    // started last and not yet ended.
    void Literal(ETapedEvent kind) { value(kind, nullptr, 0); }
    void Number(char* text) { value(ETapedEvent::kNumber, text, 0); }
    void String(char* text, size_t length) { value(ETapedEvent::kString, text, length); }
    void Key(const char* text, size_t length) {
        events_.push_back(
            CTapedEvent{{const_cast<char*>(text)}, static_cast<uint32_t>(length), ETapedEvent::kKey});
    }
    void Start(ETapedEvent kind);
    void End();
    // Records a value of a document whole, as its events (without recursion).
    void Value(const CJsonValue& value);

    size_t size() const { return events_.size(); }
    const CTapedEvent& operator[](size_t i) const { return events_[i]; }
    // The index of the value after the one at i (after its end, for a container).
    size_t Next(size_t i) const { return events_[i].isContainer() ? events_[i].end + 1 : i + 1; }
    // Whether the number at i (of a text, or a document's) is a double in a document: it
    // has a fraction or an exponent, or lies beyond 64 bits.
    bool IsDouble(size_t i) const;

    // Gives the events [from, to) to the handler, as the reader gives them, with two
    // differences: a key is always given to Key (never to KeyAhead), and a start of an
    // array is given to StartArrayAt(its index), so that the handler may look ahead. A
    // document's scalar goes to Value(const CJsonValue&). The handler's results are not
    // asked for: nothing stops a replay.
    template <typename Handler>
    void Replay(Handler& handler, size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i) {
            const CTapedEvent& event = events_[i];
            switch (event.kind) {
                case ETapedEvent::kNull:
                    handler.Null();
                    break;
                case ETapedEvent::kFalse:
                case ETapedEvent::kTrue:
                    handler.Bool(event.kind == ETapedEvent::kTrue);
                    break;
                case ETapedEvent::kNumber: {
                    CNumberSpelling number{};
                    ReadNumber(event.text, number);  // read and checked once already
                    handler.Number(number);
                    break;
                }
                case ETapedEvent::kString:
                    handler.String(event.text, event.count);
                    break;
                case ETapedEvent::kKey:
                    handler.Key(event.text, event.count);
                    break;
                case ETapedEvent::kValue:
                    handler.Value(*event.value);
                    break;
                case ETapedEvent::kStartObject:
                    handler.StartObject();
                    break;
                case ETapedEvent::kEndObject:
                    handler.EndObject();
                    break;
                case ETapedEvent::kStartArray:
                    handler.StartArrayAt(i);
                    break;
                case ETapedEvent::kEndArray:
                    handler.EndArray();
                    break;
            }
        }
    }

    void Clear();
    // Gives back memory beyond what a value like the last one needs.
    void Trim();
    // Gives back all the memory it keeps.
    void Release();

   private:
    template <typename T>
    using Kept = std::vector<T, CBudgetAllocator<T>>;
    // One container of a document being recorded: the next of its values to record.
    struct CFrame {
        const CJsonValue* container;
        uint32_t next;
    };

    void value(ETapedEvent kind, char* text, size_t length) {
        if (!open_.empty()) {
            ++events_[open_.back()].count;
        }
        events_.push_back(CTapedEvent{{text}, static_cast<uint32_t>(length), kind});
    }

    CMemoryBudget* budget_;
    Kept<CTapedEvent> events_;
    Kept<size_t> open_;    // the starts of the containers being recorded
    Kept<CFrame> frames_;  // Value's walk of a document
};

#endif  // JSON_JSONEVENTTAPE_H
