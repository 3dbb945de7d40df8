// Character helpers for IEC names, shared by the declaration parser and the
// application's case-insensitive lookups. ASCII only: IEC identifiers are letters,
// digits and underscores, compared without regard to case.
#ifndef SIM_SIMNAMES_H
#define SIM_SIMNAMES_H

#include <string>
#include <string_view>

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string ToUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = Upper(c);
    }
    return out;
}

inline bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }

#endif  // SIM_SIMNAMES_H
