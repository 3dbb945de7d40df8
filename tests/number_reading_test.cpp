// One rule for numbers, whatever reads them: a number counts by its value, from its own
// spelling, never from the other numbers of its text. One table of spellings, each read
// alone, beside 0e400 and beside 1e308 written out, by the reader's GetLint, GetDint and
// GetLreal, and into LINT, DINT, REAL and LREAL leaves by SetSymbolFromJson, its report
// and ToVariable, and as a raw add to a writer, read back. A row gives the number's exact value (when whole) and its correctly
// rounded double; each entry point takes them by the rules of its type.
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "support/DatatypeSupport.h"
#include "support/ReaderCalls.h"
#include "support/WriterCalls.h"

namespace {

class NumberReadingTest : public DatatypeTest {};

struct Leaves {
    int64_t li;
    int32_t di;
    float r;
    double lr;
};

constexpr Leaves kUntouched = {0x1111111111111111, 0x22222222, 3.25f, 4.75};

// What a row's number must become, by the rules of each reading.
struct Expected {
    bool refused;                   // the text is no JSON: nothing is read, nothing written
    std::optional<__int128> whole;  // its exact value when whole
    double value;                   // its double
};

Leaves ExpectedLeaves(const Expected& e) {
    Leaves leaves = kUntouched;
    if (e.refused) {
        return leaves;
    }
    if (e.whole && *e.whole >= INT64_MIN && *e.whole <= __int128{UINT64_MAX}) {
        leaves.li = static_cast<int64_t>(static_cast<uint64_t>(*e.whole));  // 64-bit two's complement
    }
    if (e.whole && *e.whole >= INT32_MIN && *e.whole <= __int128{UINT32_MAX}) {
        leaves.di = static_cast<int32_t>(static_cast<uint32_t>(*e.whole));
    }
    if (std::fabs(e.value) < 0x1.ffffffp+127) {
        leaves.r = static_cast<float>(e.value);
    }
    leaves.lr = e.value;
    return leaves;
}

std::string Describe(const Leaves& l) { return Hex(reinterpret_cast<const unsigned char*>(&l), sizeof(l)); }

const __int128 kTwo64 = __int128{1} << 64;
// A whole number beyond what any integer of 64 bits holds (3.4028235e38 and larger).
const __int128 kBeyond64 = __int128{1} << 100;

}  // namespace

TEST_F(NumberReadingTest, EveryEntryPointReadsANumberByItsOwnValue) {
    const std::string e308 = "1" + std::string(308, '0');
    const struct {
        std::string spelling;
        Expected expected;
    } rows[] = {
        {"5", {false, 5, 5.0}},
        {"5.0", {false, 5, 5.0}},
        {"0.5e1", {false, 5, 5.0}},
        {"-0.0", {false, 0, -0.0}},
        {"7.5", {false, std::nullopt, 7.5}},
        {"9007199254740993.0", {false, 9007199254740993, 9007199254740992.0}},
        {"9007199254740993.0e+00", {false, 9007199254740993, 9007199254740992.0}},
        {"1.0000000000000000001", {false, std::nullopt, 1.0}},
        {"1.0000000000000000001e+000", {false, std::nullopt, 1.0}},
        {"9.223372036854775807e18", {false, INT64_MAX, 9223372036854775808.0}},
        {"123456789012345678900e-2", {false, 1234567890123456789, 1234567890123456789.0}},
        {"123456789012345678e+00", {false, 123456789012345678, 123456789012345678.0}},
        {"2147483648", {false, 2147483648, 2147483648.0}},
        {"-2147483649.0", {false, -2147483649LL, -2147483649.0}},
        {"-9223372036854775808", {false, INT64_MIN, -9223372036854775808.0}},
        {"18446744073709551615", {false, __int128{UINT64_MAX}, 18446744073709551616.0}},
        {"18446744073709551616", {false, kTwo64, 18446744073709551616.0}},
        {"0e400", {false, 0, 0.0}},
        {"1e-400", {false, std::nullopt, 0.0}},
        {"4.9e-324", {false, std::nullopt, 4.9e-324}},
        {"3.4028235e38", {false, kBeyond64, 3.4028235e38}},
        {"1e39", {false, kBeyond64, 1e39}},
        {"1.7976931348623157e308", {false, kBeyond64, 1.7976931348623157e308}},
        {e308, {false, kBeyond64, 1e308}},
        {"2e308", {true, std::nullopt, 0}},
        {"1.8e308", {true, std::nullopt, 0}},
        {"-1.8e308", {true, std::nullopt, 0}},
        {"0.18e309", {true, std::nullopt, 0}},
        {"17976931348623159e292", {true, std::nullopt, 0}},
        {"1e309", {true, std::nullopt, 0}},
        {"0.1e310", {true, std::nullopt, 0}},
        {"1" + std::string(309, '0'), {true, std::nullopt, 0}},
    };
    Leaves v = kUntouched;
    Publish(MakeVar(TYPE3_USERDEF, sizeof(v), &v, "v",
                    {MakeVar(TYPE3_LINT, 8, &v.li, "li"), MakeVar(TYPE3_DINT, 4, &v.di, "di"),
                     MakeVar(TYPE3_REAL, 4, &v.r, "r"), MakeVar(TYPE3_LREAL, 8, &v.lr, "lr")}));
    CReaderCalls reader;
    for (const auto& row : rows) {
        for (const std::string& beside : {std::string(), std::string("0e400"), e308}) {
            const std::string& x = row.spelling;
            const std::string text = "{\"v\":{\"li\":" + x + ",\"di\":" + x + ",\"r\":" + x + ",\"lr\":" + x +
                                     "}" + (beside.empty() ? "" : ",\"c\":" + beside) + "}";
            SCOPED_TRACE(x.substr(0, 30) + (beside.empty() ? " alone" : " beside " + beside.substr(0, 8)));
            const Expected& e = row.expected;
            const std::string want = Describe(ExpectedLeaves(e));

            // The reader.
            const fb_jsonreader_parse_struct parsed = reader.parse(text);
            EXPECT_EQ(e.refused ? 0 : 1, parsed.Parse);
            if (e.refused) {
                EXPECT_EQ(11u, parsed.nErrorOffset);
                EXPECT_STREQ("Number too big to be stored in double.", parsed.sError);
            } else {
                const bool lint = e.whole && *e.whole >= INT64_MIN && *e.whole <= INT64_MAX;
                const ReaderScalar<RTS_IEC_LINT> li = reader.getLint("/v/li", 77);
                EXPECT_EQ(lint ? 1 : 0, li.ok);
                EXPECT_EQ(lint ? static_cast<int64_t>(*e.whole) : 77, li.value);
                const bool dint = e.whole && *e.whole >= INT32_MIN && *e.whole <= INT32_MAX;
                const ReaderScalar<RTS_IEC_DINT> di = reader.getDint("/v/di", 77);
                EXPECT_EQ(dint ? 1 : 0, di.ok);
                EXPECT_EQ(dint ? static_cast<int32_t>(*e.whole) : 77, di.value);
                const ReaderScalar<RTS_IEC_LREAL> lr = reader.getLreal("/v/lr", 77.0);
                EXPECT_EQ(1, lr.ok);
                EXPECT_EQ(Hex(reinterpret_cast<const unsigned char*>(&e.value), 8),
                          Hex(reinterpret_cast<const unsigned char*>(&lr.value), 8));
            }

            // A raw add: taken or refused as the reader decides; the writer's text of it
            // reads back to the same double.
            CWriterCalls writer;
            writer.reset();
            writer.addKey("m");
            writer.addRawObject(text);
            const std::string written = writer.text();
            if (e.refused) {
                EXPECT_EQ(R"({"m":null})", written) << "AddRawObject";  // the key keeps its null
            } else {
                ASSERT_EQ(1, reader.parse(written).Parse) << written;
                const ReaderScalar<RTS_IEC_LREAL> lr = reader.getLreal("/m/v/lr", 77.0);
                EXPECT_EQ(Hex(reinterpret_cast<const unsigned char*>(&e.value), 8),
                          Hex(reinterpret_cast<const unsigned char*>(&lr.value), 8))
                    << "AddRawObject";
                ASSERT_EQ(1, reader.parse(text).Parse);  // the text again, for ToVariable below
            }

            // The leaves, through each call that writes them.
            v = kUntouched;
            EXPECT_EQ(e.refused ? 0 : 1, CallSetFromJson(text, &v));
            EXPECT_EQ(want, Describe(v)) << "SetSymbolFromJson";
            v = kUntouched;
            fb_jsonreadwritedatatype_setsymbolfromjsonreport_struct report{};
            report.pJson = const_cast<char*>(text.c_str());
            report.nSize = static_cast<RTS_IEC_UDINT>(text.size());
            report.pData = reinterpret_cast<RTS_IEC_UDINT*>(&v);
            fb_jsonreadwritedatatype__setsymbolfromjsonreport(&report);
            EXPECT_EQ(e.refused ? 0 : 1, report.SetSymbolFromJsonReport);
            EXPECT_EQ(want, Describe(v)) << "SetSymbolFromJsonReport";
            if (e.refused) {
                EXPECT_STREQ("JSON text at byte 11: Number too big to be stored in double.", report.sProblem);
                EXPECT_EQ(11u, report.nErrorOffset);
            } else {
                v = kUntouched;
                EXPECT_EQ(1, reader.toVariable("/v", &v));
                EXPECT_EQ(want, Describe(v)) << "ToVariable";
            }
        }
    }
}
