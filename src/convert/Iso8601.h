// ISO 8601 texts of the time classes: durations (TIME, LTIME), times of day (TIME_OF_DAY,
// LTIME_OF_DAY), dates (DATE, LDATE) and dates with a time (DATE_AND_TIME,
// LDATE_AND_TIME, the writer's date-time values), written and read.
//
// A value is a count of units of 10^-scale seconds: scale 0 for seconds (DATE,
// DATE_AND_TIME), 3 for milliseconds (TIME, TIME_OF_DAY), 9 for nanoseconds (the long
// classes); these three are the scales there are. Dates count from 1970-01-01T00:00:00Z in the proleptic
// Gregorian calendar, in UTC; there are no leap seconds.
//
// Hand-written and locale-free: no C library time function, no formatted output, no allocation. Texts are
// written into a caller's buffer of kIsoTextMax bytes; the caller copies them where
// they go. Stateless; any thread.
#ifndef CONVERT_ISO8601_H
#define CONVERT_ISO8601_H

#include <cstddef>
#include <cstdint>

// Bytes the longest text takes: "-PT2562047H47M16.854775808S" and
// "-292277026596-12-04T15:30:08.999999999Z" both fit.
constexpr size_t kIsoTextMax = 48;

// A duration, "PT0S", "PT1.5S", "PT1H2M3.004S", "-PT5S", "PT25H": hours, minutes and
// seconds (hours are not folded into days), zero parts left out, a fraction only where
// the value has one and without trailing zeros.
size_t WriteIsoDuration(int64_t count, int scale, char* out);

// A time of day, "07:35:00", "07:35:00.25". REQUIRES: 0 <= count < one day.
size_t WriteIsoTimeOfDay(int64_t count, int scale, char* out);

// A date, "2026-12-08", when dateWhenWhole and the value is a whole day; otherwise a date
// and time in UTC, "2026-12-08T07:35:00Z", with a fraction where the value has one.
size_t WriteIsoDateTime(int64_t count, int scale, bool dateWhenWhole, char* out);

// What reading a text gave.
enum class EIsoRead {
    kRead,        // count holds the value
    kMalformed,   // the text is not in the form
    kTooFine,     // the text is finer than the unit (a fraction of a millisecond for TIME)
    kOutOfRange,  // a field beyond its range (month 13, 24:00:00) or a number too long
};

// Reads a duration: an optional minus, then P, days (nD), T and hours, minutes and
// seconds (nH nM nS), at least one part, the last one with an optional fraction
// ("P1DT2H", "PT1.5S", "-PT5S"). Years, months and weeks are not taken: their length
// in seconds is not fixed.
EIsoRead ReadIsoDuration(const char* text, size_t length, int scale, __int128& count);

// Reads a time of day, hh:mm:ss with an optional fraction ("07:35:00.25").
EIsoRead ReadIsoTimeOfDay(const char* text, size_t length, int scale, __int128& count);

// Reads a date (YYYY-MM-DD, midnight UTC) or a date and time with Z or an offset
// (YYYY-MM-DDThh:mm:ss[.f]Z, ...+01:00), converted to UTC. A date and time without a
// zone is not taken: it names no instant.
EIsoRead ReadIsoDateTime(const char* text, size_t length, int scale, __int128& count);

#endif  // CONVERT_ISO8601_H
