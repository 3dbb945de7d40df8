// The reader block's ToVariable: a part of a parsed text written into a structured
// variable by the rules of SetSymbolFromJson.
#include <cstring>
#include <string>
#include <vector>

#include "support/DatatypeSupport.h"
#include "support/ReaderCalls.h"
#include "var/DomDriverMgr.h"

namespace {

struct Order {
    int16_t qty;
    char name[11];
    int32_t lines[3];
    struct {
        double x;
        uint8_t ok;
    } pos;
};

class ReaderToVariableTest : public DatatypeTest {
   protected:
    void SetUp() override {
        DatatypeTest::SetUp();
        std::memset(&order_, 0, sizeof(order_));
        root_ = MakeVar(
            TYPE3_USERDEF, sizeof(Order), &order_, "order",
            {MakeVar(TYPE3_INT, 2, &order_.qty, "qty"), MakeVar(TYPE3_STRING, 11, order_.name, "name"),
             MakeVar(
                 TYPE3_ARRAY, 12, order_.lines, "lines",
                 {MakeVar(TYPE3_DINT, 4, &order_.lines[0], ""), MakeVar(TYPE3_DINT, 4, &order_.lines[1], ""),
                  MakeVar(TYPE3_DINT, 4, &order_.lines[2], "")}),
             MakeVar(TYPE3_USERDEF, 16, &order_.pos, "pos",
                     {MakeVar(TYPE3_LREAL, 8, &order_.pos.x, "x"),
                      MakeVar(TYPE3_BOOL, 1, &order_.pos.ok, "ok")})});
        Publish(root_);
    }

    std::string Memory() { return Hex(reinterpret_cast<const unsigned char*>(&order_), sizeof(order_)); }

    Order order_;
    VarPtr root_;
    CReaderCalls reader_;
};

// The envelope a service sends: the order sits two levels down, beside other data.
const char* const kEnvelope = R"({
    "meta": {"id": 7, "order": {"qty": 99}},
    "data": {"orders": [
        {"qty": 5, "name": "pump", "lines": [1, 2, 3], "pos": {"x": 1.5, "ok": true}},
        {"qty": 6, "name": "valve", "lines": [4, 5], "extra": null}
    ]}})";

TEST_F(ReaderToVariableTest, WritesANestedPartOfAnEnvelopeAsSetSymbolFromJsonWould) {
    ASSERT_EQ(1, reader_.parse(kEnvelope).Parse);
    const char* const paths[] = {"/data/orders/0", "/data/orders/1", "/meta/order", "/meta", "/data/orders"};
    for (const char* path : paths) {
        // The same value through SetSymbolFromJson, under the variable's name.
        std::memset(&order_, 0x11, sizeof(order_));
        ASSERT_EQ(1, CallSetFromJson("{\"order\":" + reader_.raw(path) + "}", &order_)) << path;
        const std::string expected = Memory();
        std::memset(&order_, 0x11, sizeof(order_));
        EXPECT_EQ(1, reader_.toVariable(path, &order_)) << path;
        EXPECT_EQ(expected, Memory()) << path;
    }
    // And what the first one wrote, spelled out.
    std::memset(&order_, 0, sizeof(order_));
    ASSERT_EQ(1, reader_.toVariable("/data/orders/0", &order_));
    EXPECT_EQ(5, order_.qty);
    EXPECT_STREQ("pump", order_.name);
    EXPECT_EQ(3, order_.lines[2]);
    EXPECT_EQ(1.5, order_.pos.x);
    EXPECT_EQ(1, order_.pos.ok);
    EXPECT_TRUE(LogRecords().empty());
}

// Numbers count by their value, exactly from the text the reader parsed: a whole number
// written with a fraction or an exponent for an integer leaf, any number for a real one.
TEST_F(ReaderToVariableTest, NumbersCountByTheirValue) {
    int64_t ticks = 0;
    Publish(MakeVar(TYPE3_LINT, 8, &ticks, "ticks"));
    ASSERT_EQ(1,
              reader_.parse(R"({"a":9007199254740993.0,"b":1.0000000000000000001,"c":[5e0,20,7.5]})").Parse);
    EXPECT_EQ(1, reader_.toVariable("/a", &ticks));
    EXPECT_EQ(9007199254740993, ticks);
    EXPECT_EQ(1, reader_.toVariable("/b", &ticks));  // not whole: nothing written
    EXPECT_EQ(9007199254740993, ticks);
    std::memset(&order_, 0, sizeof(order_));
    ASSERT_EQ(1, reader_.parse(R"({"qty":5e0,"lines":[1.0,2e1,3.5],"pos":{"x":20}})").Parse);
    EXPECT_EQ(1, reader_.toVariable("", &order_));
    EXPECT_EQ(5, order_.qty);
    EXPECT_EQ(1, order_.lines[0]);
    EXPECT_EQ(20, order_.lines[1]);
    EXPECT_EQ(0, order_.lines[2]);
    EXPECT_EQ(20.0, order_.pos.x);
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(ReaderToVariableTest, RefusalsAndTheirLogEntries) {
    int32_t unknown = 0;
    const struct {
        const char* what;
        bool parsed;
        bool loaded;
        const char* path;
        void* pData;
        RTS_IEC_BOOL result;
        std::vector<std::string> log;
    } cases[] = {
        {"path finds nothing", true, true, "/data/none", &order_, 0, {}},
        {"no document", false, true, "", &order_, 0, {}},
        {"null path", true, true, nullptr, &order_, 0, {}},
        {"unknown address",
         true,
         true,
         "/data/orders/0",
         &unknown,
         0,
         {RefusalRecord("Variable does not exist")}},
        {"null address",
         true,
         true,
         "/data/orders/0",
         nullptr,
         0,
         {RefusalRecord("Variable does not exist")}},
        {"loading",
         true,
         false,
         "/data/orders/0",
         &order_,
         0,
         {RefusalRecord("Variables are being loaded. Please execute later.")}},
        {"loading, nothing found", true, false, "/x", &order_, 0, {}},
        {"a scalar into a structure writes nothing", true, true, "/meta/id", &order_, 1, {}},
    };
    for (const auto& c : cases) {
        reader_.parse(c.parsed ? kEnvelope : "{");
        if (!c.loaded) {
            CDomDriverMgr::instance()->index().Withdraw();  // as a load in progress
        } else if (!CDomDriverMgr::instance()->index().Ready()) {
            Publish(root_);
        }
        host().clearLog();
        std::memset(&order_, 0x22, sizeof(order_));
        const std::string before = Memory();
        EXPECT_EQ(c.result, reader_.toVariable(c.path, c.pData)) << c.what;
        EXPECT_EQ(before, Memory()) << c.what;
        EXPECT_EQ(c.log, LogRecords()) << c.what;
    }
}

}  // namespace
