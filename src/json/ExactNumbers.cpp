// The exact values of numbers whose doubles cannot tell them.
#include "json/ExactNumbers.h"

#include <algorithm>
#include <cmath>

const CExactNumber* CExactNumbers::find(const CJsonValue* value) const {
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), value,
                                        [](const std::pair<const CJsonValue*, CExactNumber>& entry,
                                           const CJsonValue* key) { return entry.first < key; });
    return found != entries_.end() && found->first == value ? &found->second : nullptr;
}

void CExactNumbers::noteWholeDouble(size_t place, double value, const char* text, size_t length) {
    CExactNumber exact;
    if (WholeDoubleNeedsExact(value, text, length, exact)) {
        noted_.emplace_back(place, exact);
    }
}

void CExactNumbers::bind(const CJsonValue& root) {
    entries_.clear();
    if (noted_.empty()) {
        return;
    }
    // The doubles in document order are the doubles in text order.
    size_t place = 0;
    size_t next = 0;
    std::vector<const CJsonValue*, Allocator<const CJsonValue*>>& stack = stack_;
    stack.clear();
    stack.push_back(&root);
    while (!stack.empty() && next < noted_.size()) {
        const CJsonValue* value = stack.back();
        stack.pop_back();
        if (value->IsDouble()) {
            if (noted_[next].first == place) {
                entries_.emplace_back(value, noted_[next].second);
                ++next;
            }
            ++place;
        } else if (value->IsArray()) {
            for (rapidjson::SizeType i = value->Size(); i-- > 0;) {
                stack.push_back(&(*value)[i]);
            }
        } else if (value->IsObject()) {
            for (rapidjson::SizeType i = value->MemberCount(); i-- > 0;) {
                stack.push_back(&value->MemberBegin()[i].value);
            }
        }
    }
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.first < b.first; });
    noted_.clear();
    doubles_ = 0;
}

void CExactNumbers::clear() {
    doubles_ = 0;
    noted_.clear();
    entries_.clear();
}

void CExactNumbers::release() {
    clear();
    std::vector<Note, Allocator<Note>>(Allocator<Note>(budget_)).swap(noted_);
    std::vector<Entry, Allocator<Entry>>(Allocator<Entry>(budget_)).swap(entries_);
    std::vector<const CJsonValue*, Allocator<const CJsonValue*>>(Allocator<const CJsonValue*>(budget_))
        .swap(stack_);
}
