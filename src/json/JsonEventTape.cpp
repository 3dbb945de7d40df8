// The events of a JSON value, kept to be given again.
#include "json/JsonEventTape.h"

CJsonEventTape::CJsonEventTape(CMemoryBudget* budget)
    : budget_(budget),
      events_(CBudgetAllocator<CTapedEvent>(budget)),
      open_(CBudgetAllocator<size_t>(budget)),
      frames_(CBudgetAllocator<CFrame>(budget)) {}

void CJsonEventTape::Start(ETapedEvent kind) {
    value(kind, nullptr, 0);
    events_.back().count = 0;
    open_.push_back(events_.size() - 1);
}

void CJsonEventTape::End() {
    const size_t start = open_.back();
    open_.pop_back();
    events_[start].end = events_.size();
    events_.push_back(CTapedEvent{
        {nullptr},
        0,
        events_[start].kind == ETapedEvent::kStartObject ? ETapedEvent::kEndObject : ETapedEvent::kEndArray});
}

void CJsonEventTape::Value(const CJsonValue& root) {
    frames_.clear();
    const CJsonValue* next = &root;
    for (;;) {
        if (next != nullptr) {
            if (next->IsObject() || next->IsArray()) {
                Start(next->IsObject() ? ETapedEvent::kStartObject : ETapedEvent::kStartArray);
                frames_.push_back(CFrame{next, 0});
            } else {
                value(ETapedEvent::kValue, nullptr, 0);
                events_.back().value = next;
            }
            next = nullptr;
        }
        if (frames_.empty()) {
            return;
        }
        CFrame& frame = frames_.back();
        const CJsonValue& container = *frame.container;
        if (container.IsObject()) {
            if (frame.next < container.MemberCount()) {
                const CJsonValue::ConstMemberIterator member = container.MemberBegin() + frame.next++;
                Key(member->name.GetString(), member->name.GetStringLength());
                next = &member->value;
                continue;
            }
        } else if (frame.next < container.Size()) {
            next = &container[frame.next++];
            continue;
        }
        frames_.pop_back();
        End();
    }
}

bool CJsonEventTape::IsDouble(size_t i) const {
    const CTapedEvent& event = events_[i];
    if (event.kind == ETapedEvent::kValue) {
        return event.value->IsDouble();
    }
    CNumberSpelling number{};
    ReadNumber(event.text, number);
    return ReadJsonNumber(number).kind == CJsonNumber::kDouble;
}

void CJsonEventTape::Clear() {
    events_.clear();
    open_.clear();
    frames_.clear();
}

void CJsonEventTape::Trim() {
    if (events_.capacity() * sizeof(CTapedEvent) > 2 * events_.size() * sizeof(CTapedEvent) + 4096) {
        Kept<CTapedEvent>(CBudgetAllocator<CTapedEvent>(budget_)).swap(events_);
    }
}

void CJsonEventTape::Release() {
    Kept<CTapedEvent>(CBudgetAllocator<CTapedEvent>(budget_)).swap(events_);
    Kept<size_t>(CBudgetAllocator<size_t>(budget_)).swap(open_);
    Kept<CFrame>(CBudgetAllocator<CFrame>(budget_)).swap(frames_);
}
