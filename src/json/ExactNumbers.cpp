// The exact values of numbers whose doubles cannot tell them.
#include "json/ExactNumbers.h"

#include <algorithm>
#include <cmath>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An exponent beyond this says as much as any larger one, and sums of it with the
// lengths of a text stay far from overflow.
constexpr int64_t kExponentLimit = int64_t(1) << 50;

// 2^53: from here on, not every whole number is a double.
constexpr double kExactDoubles = 9007199254740992.0;

}  // namespace

CExactNumber ExactNumberOfText(const char* text, size_t length) {
    CExactNumber exact;
    size_t at = 0;
    const bool minus = at < length && text[at] == '-';
    at += minus ? 1 : 0;
    const size_t integerBegin = at;
    while (at < length && IsDigit(text[at])) {
        ++at;
    }
    const size_t integerDigits = at - integerBegin;
    size_t fractionBegin = at;
    if (at < length && text[at] == '.') {
        fractionBegin = ++at;
        while (at < length && IsDigit(text[at])) {
            ++at;
        }
    }
    const size_t fractionDigits = at - fractionBegin;
    int64_t exponent = 0;
    if (at < length && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool negativeExponent = at < length && text[at] == '-';
        at += at < length && (text[at] == '-' || text[at] == '+') ? 1 : 0;
        for (; at < length && IsDigit(text[at]); ++at) {
            exponent = std::min(exponent * 10 + (text[at] - '0'), kExponentLimit);
        }
        exponent = negativeExponent ? -exponent : exponent;
    }
    // The digits of the integer part and of the fraction, as one run.
    const size_t digits = integerDigits + fractionDigits;
    const auto digit = [&](size_t i) {
        return i < integerDigits ? text[integerBegin + i] : text[fractionBegin + i - integerDigits];
    };
    size_t first = 0;
    while (first < digits && digit(first) == '0') {
        ++first;
    }
    if (first == digits) {
        exact.whole = true;  // zero, -0 and 0e99 included
        exact.fits = true;
        return exact;
    }
    size_t last = digits - 1;
    while (digit(last) == '0') {
        --last;
    }
    // value = digits first..last * 10^scale
    const int64_t scale =
        exponent - static_cast<int64_t>(fractionDigits) + static_cast<int64_t>(digits - 1 - last);
    if (scale < 0) {
        return exact;  // a fraction that is not zero
    }
    exact.whole = true;
    exact.negative = minus;
    const int64_t length10 = static_cast<int64_t>(last - first + 1) + scale;
    if (length10 > 20) {
        return exact;  // beyond 64 bits
    }
    uint64_t magnitude = 0;
    for (int64_t i = 0; i < length10; ++i) {
        const unsigned d = i <= static_cast<int64_t>(last - first)
                               ? static_cast<unsigned>(digit(first + static_cast<size_t>(i)) - '0')
                               : 0;
        if (magnitude > (UINT64_MAX - d) / 10) {
            return exact;  // beyond 64 bits
        }
        magnitude = magnitude * 10 + d;
    }
    exact.fits = true;
    exact.magnitude = magnitude;
    return exact;
}

const CExactNumber* CExactNumbers::find(const CJsonValue* value) const {
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), value,
                                        [](const std::pair<const CJsonValue*, CExactNumber>& entry,
                                           const CJsonValue* key) { return entry.first < key; });
    return found != entries_.end() && found->first == value ? &found->second : nullptr;
}

bool CExactNumbers::WholeDoubleNeedsExact(double value, const char* text, size_t length,
                                          CExactNumber& exact) {
    exact = ExactNumberOfText(text, length);
    const double magnitude = std::fabs(value);
    // Needed when the text is not whole after all, or when it is whole where the double
    // may stand for another whole number (a double within 64 bits, of 2^53 or more).
    return !exact.whole ||
           (magnitude >= kExactDoubles && value >= -9223372036854775808.0 && value <= 18446744073709551616.0);
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
