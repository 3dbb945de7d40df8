// The text of numbers in the component's JSON output, and the rounding to a number of
// decimal places that comes before it: every output path (writer documents, variables,
// schemas, the reader's raw texts) writes its numbers here.
//
// Forms:
// - integers in plain decimal, a minus in front when negative;
// - a double in RapidJSON's digits (Grisu2: the shortest for almost every double, one
//   or two digits more for a few, 0.12517789 gives 0.12517789000000002), or in its
//   shortest digits (the fewest that read back as the same double); both laid out the
//   same way, always with a point or an exponent: 2.0, 0.1, 100000000000000000000.0,
//   1e21, 0.000001, 1e-7, 1.5e300, -0.0;
// - a REAL in the shortest form is held as the double nearest to its shortest decimal,
//   which the shortest double form then writes as that decimal: 0.1f gives 0.1,
//   512924647424.0f gives 512924650000.0 (the 8 digits of 5.1292465e11).
//
// Texts go into a caller's buffer of at least kNumberTextMax bytes; the functions
// return the end of what they wrote. Stateless, locale-free; any thread.
#ifndef JSON_NUMBERTEXT_H
#define JSON_NUMBERTEXT_H

#include <rapidjson/internal/dtoa.h>
#include <rapidjson/internal/itoa.h>

#include <cstddef>
#include <cstdint>

// Room for the longest number text ("-2.2250738585072014e-308", "-9223372036854775808").
constexpr size_t kNumberTextMax = 32;

// Decimal places that leave every double as it is: no double needs more places to be
// told apart from its neighbours.
constexpr int kDefaultDecimalPlaces = 324;

// Inline: a text writes many numbers, and a call costs as much as a short number's digits.
inline char* WriteInt32(int32_t value, char* out) { return rapidjson::internal::i32toa(value, out); }
inline char* WriteUint32(uint32_t value, char* out) { return rapidjson::internal::u32toa(value, out); }
inline char* WriteInt64(int64_t value, char* out) { return rapidjson::internal::i64toa(value, out); }
inline char* WriteUint64(uint64_t value, char* out) { return rapidjson::internal::u64toa(value, out); }

// A finite double in RapidJSON's digits.
inline char* WriteDouble(double value, char* out) {
    return rapidjson::internal::dtoa(value, out, kDefaultDecimalPlaces);
}
// A finite double in its shortest digits.
char* WriteShortestDouble(double value, char* out);

// `value` rounded to `places` digits after the point, to nearest, halves away from zero,
// by its exact decimal value (1.005 is a little below 1.005 and gives 1.0 at 2 places).
// Non-finite values, and every value for places >= kDefaultDecimalPlaces, come back
// as they are; a value that rounds to zero gives +0.0.
double RoundToDecimalPlaces(double value, int places);

// The same for `value`'s shortest decimal: rounded to nearest, halves away from zero, as
// a decimal (0.345 gives 0.35 at 2 places although the double 0.345 lies below it).
double RoundShortestToDecimalPlaces(double value, int places);

// The shortest decimal that reads back as the single-precision value, as the double
// nearest to it: 0.1f gives the double 0.1. Non-finite values are widened as they are.
double ShortestFloatAsDouble(float value);

#endif  // JSON_NUMBERTEXT_H
