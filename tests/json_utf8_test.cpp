// The UTF-8 module: validation, repair as Windows-1252, cuts at character boundaries and
// UTF-16 both ways, one table of texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/Utf8.h"
#include "support/DatatypeSupport.h"

namespace {

struct Case {
    const char* what;
    std::string bytes;
    bool valid;
    std::string repaired;         // RepairUtf8
    std::vector<uint16_t> units;  // Utf8ToUtf16 with room for all
    std::string fromUnits;        // Utf16ToUtf8 of those units
};

std::vector<uint16_t> ToUnits(const std::string& text, uint32_t room, bool& cut, size_t& count) {
    std::vector<uint16_t> units(room, 0xAAAA);
    count = Utf8ToUtf16(text.data(), text.size(), units.data(), room * 2, cut);
    return units;
}

}  // namespace

TEST(Utf8, OneTableOfTexts) {
    const std::vector<Case> cases = {
        {"ASCII", "plain", true, "plain", {'p', 'l', 'a', 'i', 'n'}, "plain"},
        {"two, three and four bytes",
         "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",
         true,
         "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80",
         {0xE4, 0x20AC, 0xD83D, 0xDE00},
         "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"Latin-1 byte", "a\xE4", false, "a\xC3\xA4", {'a', 0xFFFD}, "a\xEF\xBF\xBD"},
        {"Windows-1252 euro", "\x80", false, "\xE2\x82\xAC", {0xFFFD}, "\xEF\xBF\xBD"},
        {"undefined in Windows-1252", "\x81", false, "\xEF\xBF\xBD", {0xFFFD}, "\xEF\xBF\xBD"},
        {"overlong", "\xC0\xAF", false, "\xC3\x80\xC2\xAF", {0xFFFD, 0xFFFD}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"surrogate",
         "\xED\xA0\x80",
         false,
         "\xC3\xAD\xC2\xA0\xE2\x82\xAC",
         {0xFFFD, 0xFFFD, 0xFFFD},
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"above U+10FFFF",
         "\xF4\x90\x80\x80",
         false,
         "\xC3\xB4\xEF\xBF\xBD\xE2\x82\xAC\xE2\x82\xAC",
         {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD},
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cut sequence",
         "x\xE2\x82",
         false,
         "x\xC3\xA2\xE2\x80\x9A",
         {'x', 0xFFFD, 0xFFFD},
         "x\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.valid, IsValidUtf8(c.bytes.data(), c.bytes.size()));
        std::string repaired = "<";
        RepairUtf8(c.bytes.data(), c.bytes.size(), repaired);
        EXPECT_EQ("<" + c.repaired, repaired);
        EXPECT_TRUE(IsValidUtf8(repaired.data(), repaired.size()));

        bool cut = true;
        size_t count = 0;
        const std::vector<uint16_t> units =
            ToUnits(c.bytes, static_cast<uint32_t>(c.units.size() + 1), cut, count);
        EXPECT_FALSE(cut);
        ASSERT_EQ(c.units.size(), count);
        EXPECT_EQ(c.units, std::vector<uint16_t>(units.begin(), units.begin() + count));
        EXPECT_EQ(0, units[count]);
        std::string back;
        Utf16ToUtf8(units.data(), static_cast<uint32_t>(units.size() * 2), back);
        EXPECT_EQ(c.fromUnits, back);
    }
}

// Cuts never split a character: into bytes (FitUtf8) and into UTF-16 units, where a
// surrogate pair stays whole.
TEST(Utf8, CutsAtCharacterBoundaries) {
    const std::string text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // 1, 2, 3 and 4 bytes
    const size_t fits[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10};
    for (size_t room = 0; room <= text.size(); ++room) {
        EXPECT_EQ(fits[room], FitUtf8(text.data(), text.size(), room)) << "room " << room;
    }
    const size_t unitFits[] = {0, 1, 2, 3, 3, 5};  // a, ä, €, then the pair or nothing
    for (uint32_t room = 0; room < 6; ++room) {
        bool cut = false;
        size_t count = 0;
        ToUnits(text, room + 1, cut, count);
        EXPECT_EQ(unitFits[room], count) << "room " << room;
        EXPECT_EQ(room < 5, cut) << "room " << room;
    }
    // UTF-16 memory without a terminator ends at its last whole unit; a lone surrogate is
    // U+FFFD.
    const uint16_t units[] = {'o', 'k', 0xD800, 'x'};
    std::string out;
    Utf16ToUtf8(units, 7, out);
    EXPECT_EQ("ok\xEF\xBF\xBD", out);
}
