// ISO 8601 texts of durations, times of day, dates and dates with a time: civil-from-days
// arithmetic on counts, digits written and read by hand.
#include "convert/Iso8601.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

constexpr uint64_t kPowersOf10[] = {1,       10,       100,       1000,       10000,         100000,
                                    1000000, 10000000, 100000000, 1000000000, 10000000000ull};

// Floor division, so that an instant before 1970 lies in the day and second it belongs to.
__int128 FloorDiv(__int128 value, __int128 divisor) {
    const __int128 quotient = value / divisor;
    return quotient * divisor > value ? quotient - 1 : quotient;
}

size_t WriteUnsigned(uint64_t value, char* out) {
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

// value with at least `width` digits, zeros in front.
size_t WritePadded(uint64_t value, size_t width, char* out) {
    char digits[20];
    const size_t count = WriteUnsigned(value, digits);
    size_t at = 0;
    for (; at + count < width; ++at) {
        out[at] = '0';
    }
    for (size_t i = 0; i < count; ++i) {
        out[at++] = digits[i];
    }
    return at;
}

// ".25" for 250 milliseconds: the fraction of a second without trailing zeros; nothing
// for none.
size_t WriteFraction(uint64_t fraction, int scale, char* out) {
    if (fraction == 0) {
        return 0;
    }
    out[0] = '.';
    size_t length = 1 + WritePadded(fraction, static_cast<size_t>(scale), out + 1);
    while (out[length - 1] == '0') {
        --length;
    }
    return length;
}

// hh:mm:ss and the fraction. REQUIRES: secondOfDay < one day.
size_t WriteClock(int64_t secondOfDay, uint64_t fraction, int scale, char* out) {
    size_t at = WritePadded(static_cast<uint64_t>(secondOfDay / 3600), 2, out);
    out[at++] = ':';
    at += WritePadded(static_cast<uint64_t>(secondOfDay / 60 % 60), 2, out + at);
    out[at++] = ':';
    at += WritePadded(static_cast<uint64_t>(secondOfDay % 60), 2, out + at);
    return at + WriteFraction(fraction, scale, out + at);
}

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

// The day count from 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(int64_t year, unsigned month) {
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

size_t WriteIsoDuration(int64_t count, int scale, char* out) {
    const uint64_t unit = kPowersOf10[scale];
    const uint64_t magnitude = count < 0 ? ~static_cast<uint64_t>(count) + 1 : static_cast<uint64_t>(count);
    const uint64_t seconds = magnitude / unit;
    const uint64_t fraction = magnitude % unit;
    size_t at = 0;
    if (count < 0) {
        out[at++] = '-';
    }
    out[at++] = 'P';
    out[at++] = 'T';
    const uint64_t hours = seconds / 3600;
    const uint64_t minutes = seconds / 60 % 60;
    if (hours != 0) {
        at += WriteUnsigned(hours, out + at);
        out[at++] = 'H';
    }
    if (minutes != 0) {
        at += WriteUnsigned(minutes, out + at);
        out[at++] = 'M';
    }
    if (seconds % 60 != 0 || fraction != 0 || (hours == 0 && minutes == 0)) {
        at += WriteUnsigned(seconds % 60, out + at);
        at += WriteFraction(fraction, scale, out + at);
        out[at++] = 'S';
    }
    return at;
}

size_t WriteIsoTimeOfDay(int64_t count, int scale, char* out) {
    const int64_t unit = static_cast<int64_t>(kPowersOf10[scale]);
    return WriteClock(count / unit, static_cast<uint64_t>(count % unit), scale, out);
}

size_t WriteIsoDateTime(int64_t count, int scale, bool dateWhenWhole, char* out) {
    const int64_t unit = static_cast<int64_t>(kPowersOf10[scale]);
    const __int128 seconds = FloorDiv(count, unit);
    const uint64_t fraction = static_cast<uint64_t>(count - seconds * unit);
    const int64_t days = static_cast<int64_t>(FloorDiv(seconds, kSecondsPerDay));
    const int64_t secondOfDay = static_cast<int64_t>(seconds - static_cast<__int128>(days) * kSecondsPerDay);
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    size_t at = 0;
    if (year < 0) {
        out[at++] = '-';
    }
    at += WritePadded(static_cast<uint64_t>(year < 0 ? -year : year), 4, out + at);
    out[at++] = '-';
    at += WritePadded(month, 2, out + at);
    out[at++] = '-';
    at += WritePadded(day, 2, out + at);
    if (dateWhenWhole && secondOfDay == 0 && fraction == 0) {
        return at;
    }
    out[at++] = 'T';
    at += WriteClock(secondOfDay, fraction, scale, out + at);
    out[at++] = 'Z';
    return at;
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
