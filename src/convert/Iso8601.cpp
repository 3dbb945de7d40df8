// ISO 8601 texts of durations, times of day, dates and dates with a time: civil-from-days
// arithmetic on counts, digits written and read by hand. The units are constants where
// the work is done (a division by a variable is the slowest step of a text), the fields
// of a date and a clock are written as pairs of digits from a table, and the common
// texts of a date and time are read in one pass over their fixed places.
#include "convert/Iso8601.h"

#include <cstring>

#include "json/NumberText.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

constexpr uint64_t kPowersOf10[] = {1,       10,       100,       1000,       10000,         100000,
                                    1000000, 10000000, 100000000, 1000000000, 10000000000ull};

// Floor division, so that an instant before 1970 lies in the day and second it belongs
// to. REQUIRES: divisor > 0. Plain 64-bit arithmetic: a 128-bit division is a library
// call that would cost more than the rest of a date's text.
int64_t FloorDiv(int64_t value, int64_t divisor) {
    const int64_t quotient = value / divisor;
    return value % divisor < 0 ? quotient - 1 : quotient;
}

// The remainder of that division, 0 <= remainder < divisor (no product that could
// overflow at the ends of the range).
int64_t FloorMod(int64_t value, int64_t divisor) {
    const int64_t remainder = value % divisor;
    return remainder < 0 ? remainder + divisor : remainder;
}

// "00" to "99", two bytes a number.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// value (below 100) as two digits.
inline void PutPair(unsigned value, char* out) { std::memcpy(out, kDigitPairs + 2 * value, 2); }

// value with at least `width` digits, zeros in front.
size_t WritePadded(uint64_t value, size_t width, char* out) {
    char digits[kNumberTextMax];
    const size_t count = static_cast<size_t>(WriteUint64(value, digits) - digits);
    const size_t zeros = count < width ? width - count : 0;
    std::memset(out, '0', zeros);
    std::memcpy(out + zeros, digits, count);
    return zeros + count;
}

size_t WriteUnsigned(uint64_t value, char* out) { return static_cast<size_t>(WriteUint64(value, out) - out); }

// ".25" for 250 milliseconds: the fraction of a second without trailing zeros; nothing
// for none. REQUIRES: fraction < 10^kScale.
template <int kScale>
size_t WriteFraction(uint64_t fraction, char* out) {
    if (fraction == 0) {
        return 0;
    }
    out[0] = '.';
    size_t length = 1 + WritePadded(fraction, kScale, out + 1);
    while (out[length - 1] == '0') {
        --length;
    }
    return length;
}

// hh:mm:ss and the fraction. REQUIRES: secondOfDay < one day.
template <int kScale>
inline __attribute__((always_inline)) size_t WriteClock(uint32_t secondOfDay, uint64_t fraction, char* out) {
    PutPair(secondOfDay / 3600, out);
    out[2] = ':';
    PutPair(secondOfDay / 60 % 60, out + 3);
    out[5] = ':';
    PutPair(secondOfDay % 60, out + 6);
    return 8 + WriteFraction<kScale>(fraction, out + 8);
}

constexpr uint64_t Unit(int scale) { return kPowersOf10[scale]; }

// The civil date of a day count from 1970-01-01 (H. Hinnant's algorithm).
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // from March
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// Days from 1970-01-01 whose dates CivilFromDaysFast gives: 0000-03-01 to 9999-12-31.
constexpr int64_t kFastFirstDay = -719468;
constexpr int64_t kFastLastDay = 2932896;

// The same civil date in 32-bit arithmetic without a division by anything but constants
// that become multiplications (C. Neri and L. Schneider, "Euclidean affine functions and
// their application to calendar algorithms", 2022). REQUIRES: kFastFirstDay <= days <=
// kFastLastDay.
inline __attribute__((always_inline)) void CivilFromDaysFast(int64_t days, unsigned& year, unsigned& month,
                                                             unsigned& day) {
    const uint32_t n = static_cast<uint32_t>(days - kFastFirstDay);  // days since 0000-03-01
    const uint32_t n1 = 4 * n + 3;
    const uint32_t century = n1 / 146097;
    const uint32_t n2 = n1 % 146097 | 3;
    const uint64_t p2 = uint64_t(2939745) * n2;
    const uint32_t yearOfCentury = static_cast<uint32_t>(p2 >> 32);
    const uint32_t dayOfYear = static_cast<uint32_t>(p2) / 2939745 / 4;  // from March 1st
    const uint32_t n3 = 2141 * dayOfYear + 197913;
    const uint32_t shiftedMonth = n3 >> 16;
    const bool january = dayOfYear >= 306;
    year = 100 * century + yearOfCentury + (january ? 1 : 0);
    month = january ? shiftedMonth - 12 : shiftedMonth;
    day = (n3 & 0xFFFF) / 2141 + 1;
}

// The day count from 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

// The day count from 1970-01-01 of a civil date of the years 0 to 9999, in 32-bit
// arithmetic (the inverse of CivilFromDaysFast): days of the whole years since March 1st
// of the year 400 before, of the whole months since March, and of the month.
constexpr uint32_t DaysSinceShiftedEpoch(unsigned year, unsigned month, unsigned day) {
    const bool early = month <= 2;  // January and February count to the year before
    const uint32_t shiftedYear = year + 400 - (early ? 1 : 0);
    const uint32_t century = shiftedYear / 100;
    const uint32_t shiftedMonth = early ? month + 12 : month;
    return 1461 * shiftedYear / 4 - century + century / 4 + (979 * shiftedMonth - 2919) / 32 + day - 1;
}
inline int64_t DaysFromCivilFast(unsigned year, unsigned month, unsigned day) {
    return static_cast<int64_t>(DaysSinceShiftedEpoch(year, month, day)) - DaysSinceShiftedEpoch(1970, 1, 1);
}

bool IsLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// ---- reading ---------------------------------------------------------------------

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A text being read from `at` to `end`.
struct CCursor {
    const char* at;
    const char* end;

    bool done() const { return at == end; }
    bool take(char c) {
        if (at != end && *at == c) {
            ++at;
            return true;
        }
        return false;
    }
    // Exactly `count` digits.
    bool digits(size_t count, unsigned& value) {
        value = 0;
        for (size_t i = 0; i < count; ++i) {
            if (at == end || !IsDigit(*at)) {
                return false;
            }
            value = value * 10 + static_cast<unsigned>(*at++ - '0');
        }
        return true;
    }
};

// A run of at least one digit; more than 19 significant ones is beyond any range here.
EIsoRead ReadWhole(CCursor& text, uint64_t& value) {
    if (text.done() || !IsDigit(*text.at)) {
        return EIsoRead::kMalformed;
    }
    value = 0;
    size_t significant = 0;
    for (; !text.done() && IsDigit(*text.at); ++text.at) {
        if (value != 0 || *text.at != '0') {
            ++significant;
        }
        if (significant > 19) {
            return EIsoRead::kOutOfRange;
        }
        value = value * 10 + static_cast<uint64_t>(*text.at - '0');
    }
    return EIsoRead::kRead;
}

// An optional fraction (a point or a comma, then at least one digit) of a part whose
// unit is unitCount counts: its value in counts, which must be whole.
EIsoRead ReadFraction(CCursor& text, uint64_t unitCount, __int128& part, bool& present) {
    part = 0;
    present = false;
    if (!text.take('.') && !text.take(',')) {
        return EIsoRead::kRead;
    }
    present = true;
    const char* begin = text.at;
    while (!text.done() && IsDigit(*text.at)) {
        ++text.at;
    }
    const char* last = text.at;
    if (last == begin) {
        return EIsoRead::kMalformed;
    }
    while (last != begin && last[-1] == '0') {
        --last;  // trailing zeros say nothing
    }
    const size_t places = static_cast<size_t>(last - begin);
    // unitCount is below 10^15: a fraction of more than 24 significant places is finer
    // than one count, and one of up to 24 keeps the product below 2^127.
    if (places > 24) {
        return EIsoRead::kTooFine;
    }
    __int128 numerator = 0;
    __int128 denominator = 1;
    for (const char* c = begin; c != last; ++c) {
        numerator = numerator * 10 + (*c - '0');
        denominator *= 10;
    }
    numerator *= unitCount;
    if (numerator % denominator != 0) {
        return EIsoRead::kTooFine;
    }
    part = numerator / denominator;
    return EIsoRead::kRead;
}

// hh:mm:ss[.f] into counts since midnight.
EIsoRead ReadClock(CCursor& text, int scale, __int128& count) {
    unsigned hours = 0, minutes = 0, seconds = 0;
    if (!text.digits(2, hours) || !text.take(':') || !text.digits(2, minutes) || !text.take(':') ||
        !text.digits(2, seconds)) {
        return EIsoRead::kMalformed;
    }
    __int128 fraction = 0;
    bool present = false;
    const EIsoRead read = ReadFraction(text, kPowersOf10[scale], fraction, present);
    if (read != EIsoRead::kRead) {
        return read;
    }
    if (hours > 23 || minutes > 59 || seconds > 59) {
        return EIsoRead::kOutOfRange;
    }
    count = (static_cast<__int128>(hours) * 3600 + minutes * 60 + seconds) * kPowersOf10[scale] + fraction;
    return EIsoRead::kRead;
}

}  // namespace

namespace {

template <int kScale>
size_t WriteDuration(int64_t count, char* out) {
    constexpr uint64_t kUnit = Unit(kScale);
    const uint64_t magnitude = count < 0 ? ~static_cast<uint64_t>(count) + 1 : static_cast<uint64_t>(count);
    const uint64_t seconds = magnitude / kUnit;
    const uint64_t fraction = magnitude % kUnit;
    size_t at = 0;
    if (count < 0) {
        out[at++] = '-';
    }
    out[at++] = 'P';
    out[at++] = 'T';
    const uint64_t hours = seconds / 3600;
    const unsigned minutes = static_cast<unsigned>(seconds / 60 % 60);
    const unsigned secondOfMinute = static_cast<unsigned>(seconds % 60);
    if (hours != 0) {
        at += WriteUnsigned(hours, out + at);
        out[at++] = 'H';
    }
    if (minutes != 0) {
        at += WriteUnsigned(minutes, out + at);
        out[at++] = 'M';
    }
    if (secondOfMinute != 0 || fraction != 0 || (hours == 0 && minutes == 0)) {
        at += WriteUnsigned(secondOfMinute, out + at);
        at += WriteFraction<kScale>(fraction, out + at);
        out[at++] = 'S';
    }
    return at;
}

template <int kScale>
size_t WriteTimeOfDay(int64_t count, char* out) {
    constexpr int64_t kUnit = static_cast<int64_t>(Unit(kScale));
    return WriteClock<kScale>(static_cast<uint32_t>(count / kUnit), static_cast<uint64_t>(count % kUnit),
                              out);
}

template <int kScale>
size_t WriteDateTime(int64_t count, bool dateWhenWhole, char* out) {
    constexpr int64_t kUnit = static_cast<int64_t>(Unit(kScale));
    int64_t days;
    uint32_t secondOfDay;
    uint64_t fraction = 0;
    if (kScale == 0 && count >= 0 && count <= UINT32_MAX) {
        // DATE and DATE_AND_TIME: 32-bit arithmetic, no sign to correct.
        const uint32_t seconds = static_cast<uint32_t>(count);
        days = seconds / 86400u;
        secondOfDay = seconds % 86400u;
    } else {
        const int64_t seconds = FloorDiv(count, kUnit);
        fraction = static_cast<uint64_t>(FloorMod(count, kUnit));
        days = FloorDiv(seconds, kSecondsPerDay);
        secondOfDay = static_cast<uint32_t>(FloorMod(seconds, kSecondsPerDay));
    }
    size_t at = 0;
    unsigned month = 0, day = 0;
    if (days >= kFastFirstDay && days <= kFastLastDay) {
        unsigned year = 0;
        CivilFromDaysFast(days, year, month, day);
        PutPair(year / 100, out);
        PutPair(year % 100, out + 2);
        at = 4;
    } else {
        int64_t year = 0;
        CivilFromDays(days, year, month, day);
        if (year < 0) {
            out[at++] = '-';
        }
        at += WritePadded(static_cast<uint64_t>(year < 0 ? -year : year), 4, out + at);
    }
    out[at] = '-';
    PutPair(month, out + at + 1);
    out[at + 3] = '-';
    PutPair(day, out + at + 4);
    at += 6;
    if (dateWhenWhole && secondOfDay == 0 && fraction == 0) {
        return at;
    }
    out[at++] = 'T';
    at += WriteClock<kScale>(secondOfDay, fraction, out + at);
    out[at++] = 'Z';
    return at;
}

// The date and time texts that machines write, read at their fixed places:
// "YYYY-MM-DDThh:mm:ssZ" (T or t or a space, Z or z) and "YYYY-MM-DD". True, with the
// seconds since 1970, only for a valid text of these shapes; every other text (a fraction,
// an offset, a field out of range, no such text at all) is for the general reader.
// Whether the bytes of `word` under `mask` are all ASCII digits: with every other byte
// made a '0', each byte's high nibble is 3, and stays 3 when 6 is added (':' to '?' go
// to 4).
inline bool DigitsUnder(uint64_t word, uint64_t mask) {
    constexpr uint64_t kZeros = 0x3030303030303030ull;
    constexpr uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ull;
    const uint64_t digits = (word & mask) | (kZeros & ~mask);
    return (digits & kHighNibbles) == kZeros && ((digits + 0x0606060606060606ull) & kHighNibbles) == kZeros;
}

// The two digits at bytes `at` and `at` + 1 of a word of digits less '0' each.
inline unsigned PairAt(uint64_t values, int at) {
    return static_cast<unsigned>((values >> (8 * at)) & 0xFF) * 10 +
           static_cast<unsigned>((values >> (8 * at + 8)) & 0xFF);
}

bool ReadPlainStamp(const char* text, size_t length, int64_t& seconds) {
    if (length != 10 && length != 20) {
        return false;
    }
    // "YYYY-MM-" and "DD" (with "Thh:mm" in a long text), eight bytes at a time.
    constexpr uint64_t kZeros = 0x3030303030303030ull;
    uint64_t date = 0;
    std::memcpy(&date, text, 8);
    uint64_t rest = 0;
    std::memcpy(&rest, text + 8, length == 20 ? 8 : 2);
    constexpr uint64_t kDateDigits = 0x00FFFF00FFFFFFFFull;  // bytes 0-3 and 5-6
    if (!DigitsUnder(date, kDateDigits) || (date & ~kDateDigits) != 0x2D00002D00000000ull ||
        !DigitsUnder(rest, 0xFFFF)) {
        return false;
    }
    const uint64_t dateValues = date - (kZeros & kDateDigits);
    const unsigned year = PairAt(dateValues, 0) * 100 + PairAt(dateValues, 2);
    const unsigned month = PairAt(dateValues, 5);
    const unsigned day = PairAt(rest - 0x3030, 0);
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return false;
    }
    unsigned secondOfDay = 0;
    if (length == 20) {
        // "DDThh:mm", then ":ssZ".
        constexpr uint64_t kClockDigits = 0xFFFF00FFFF00FFFFull;  // bytes 0-1, 3-4 and 6-7
        uint32_t end = 0;
        std::memcpy(&end, text + 16, 4);
        const char t = text[10];
        const char z = static_cast<char>(end >> 24);
        if (!DigitsUnder(rest, kClockDigits) || ((rest >> 40) & 0xFF) != ':' ||
            (t != 'T' && t != 't' && t != ' ') || !DigitsUnder(end, 0x00FFFF00u) || (end & 0xFF) != ':' ||
            (z != 'Z' && z != 'z')) {
            return false;
        }
        const uint64_t clock = rest - (kZeros & kClockDigits);
        const unsigned hours = PairAt(clock, 3), minutes = PairAt(clock, 6);
        const unsigned secondsOfMinute = PairAt(end - 0x00303000u, 1);
        if (hours > 23 || minutes > 59 || secondsOfMinute > 59) {
            return false;
        }
        secondOfDay = hours * 3600 + minutes * 60 + secondsOfMinute;
    }
    seconds = DaysFromCivilFast(year, month, day) * kSecondsPerDay + secondOfDay;
    return true;
}

}  // namespace

// Each scale the time classes count in has writers of its own, with its unit a constant.

size_t WriteIsoDuration(int64_t count, int scale, char* out) {
    switch (scale) {
        case 0:
            return WriteDuration<0>(count, out);
        case 3:
            return WriteDuration<3>(count, out);
        default:
            return WriteDuration<9>(count, out);
    }
}

size_t WriteIsoTimeOfDay(int64_t count, int scale, char* out) {
    switch (scale) {
        case 0:
            return WriteTimeOfDay<0>(count, out);
        case 3:
            return WriteTimeOfDay<3>(count, out);
        default:
            return WriteTimeOfDay<9>(count, out);
    }
}

size_t WriteIsoDateTime(int64_t count, int scale, bool dateWhenWhole, char* out) {
    switch (scale) {
        case 0:
            return WriteDateTime<0>(count, dateWhenWhole, out);
        case 3:
            return WriteDateTime<3>(count, dateWhenWhole, out);
        default:
            return WriteDateTime<9>(count, dateWhenWhole, out);
    }
}

EIsoRead ReadIsoDuration(const char* text, size_t length, int scale, __int128& count) {
    static const char kDesignators[] = {'D', 'H', 'M', 'S'};
    static const uint64_t kSeconds[] = {86400, 3600, 60, 1};
    CCursor cursor{text, text + length};
    const bool negative = cursor.take('-');
    if (!cursor.take('P')) {
        return EIsoRead::kMalformed;
    }
    __int128 total = 0;
    bool inTime = false, any = false, fraction = false;
    int lastRank = -1;
    while (!cursor.done()) {
        if (cursor.take('T')) {
            if (inTime || cursor.done()) {
                return EIsoRead::kMalformed;
            }
            inTime = true;
            continue;
        }
        if (fraction) {
            return EIsoRead::kMalformed;  // only the last part has a fraction
        }
        uint64_t whole = 0;
        EIsoRead read = ReadWhole(cursor, whole);
        if (read != EIsoRead::kRead) {
            return read;
        }
        // The designator follows the fraction; find it first to know the part's unit.
        const char* designator = cursor.at;
        while (designator != cursor.end &&
               (IsDigit(*designator) || *designator == '.' || *designator == ',')) {
            ++designator;
        }
        if (designator == cursor.end) {
            return EIsoRead::kMalformed;
        }
        int rank = -1;
        for (int r = inTime ? 1 : 0; r < (inTime ? 4 : 1); ++r) {
            if (*designator == kDesignators[r]) {
                rank = r;
            }
        }
        if (rank <= lastRank) {
            return EIsoRead::kMalformed;
        }
        const uint64_t unitCount = kSeconds[rank] * kPowersOf10[scale];
        __int128 part = 0;
        read = ReadFraction(cursor, unitCount, part, fraction);
        if (read != EIsoRead::kRead) {
            return read;
        }
        if (cursor.at != designator) {
            return EIsoRead::kMalformed;
        }
        ++cursor.at;
        total += static_cast<__int128>(whole) * unitCount + part;
        lastRank = rank;
        any = true;
    }
    if (!any) {
        return EIsoRead::kMalformed;
    }
    count = negative ? -total : total;
    return EIsoRead::kRead;
}

EIsoRead ReadIsoTimeOfDay(const char* text, size_t length, int scale, __int128& count) {
    CCursor cursor{text, text + length};
    const EIsoRead read = ReadClock(cursor, scale, count);
    if (read != EIsoRead::kRead) {
        return read;
    }
    return cursor.done() ? EIsoRead::kRead : EIsoRead::kMalformed;
}

EIsoRead ReadIsoDateTime(const char* text, size_t length, int scale, __int128& count) {
    int64_t seconds = 0;
    if (ReadPlainStamp(text, length, seconds)) {
        count =
            scale == 0 ? seconds : static_cast<__int128>(seconds) * static_cast<int64_t>(kPowersOf10[scale]);
        return EIsoRead::kRead;
    }
    CCursor cursor{text, text + length};
    unsigned year = 0, month = 0, day = 0;
    if (!cursor.digits(4, year) || !cursor.take('-') || !cursor.digits(2, month) || !cursor.take('-') ||
        !cursor.digits(2, day)) {
        return EIsoRead::kMalformed;
    }
    __int128 clock = 0;
    __int128 offset = 0;  // seconds east of UTC
    if (!cursor.done()) {
        if (!cursor.take('T') && !cursor.take('t') && !cursor.take(' ')) {
            return EIsoRead::kMalformed;
        }
        const EIsoRead read = ReadClock(cursor, scale, clock);
        if (read != EIsoRead::kRead) {
            return read;
        }
        if (!cursor.take('Z') && !cursor.take('z')) {
            const bool west = cursor.take('-');
            if (!west && !cursor.take('+')) {
                return EIsoRead::kMalformed;
            }
            unsigned hours = 0, minutes = 0;
            if (!cursor.digits(2, hours) || !cursor.take(':') || !cursor.digits(2, minutes)) {
                return EIsoRead::kMalformed;
            }
            if (hours > 23 || minutes > 59) {
                return EIsoRead::kOutOfRange;
            }
            offset = (west ? -1 : 1) * static_cast<__int128>(hours * 3600 + minutes * 60);
        }
        if (!cursor.done()) {
            return EIsoRead::kMalformed;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return EIsoRead::kOutOfRange;
    }
    const __int128 days = DaysFromCivil(year, month, day);
    count = (days * kSecondsPerDay - offset) * kPowersOf10[scale] + clock;
    return EIsoRead::kRead;
}
