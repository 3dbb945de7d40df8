// Refused datatype calls: the order of the checks, the host log record of each, and
// that nothing is changed and no manager lock is held while the refusal is logged.
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/DatatypeSupport.h"
#include "var/DomDriverMgr.h"

namespace {

std::atomic<int> s_logsWhileLocked{0};
std::atomic<int> s_logsSeen{0};

// A host LogAdd that checks, from another thread, that both manager locks are free.
extern "C" RTS_RESULT LockCheckingLogAdd(RTS_HANDLE, CMPID cmpId, int classId, RTS_RESULT errorId,
                                         RTS_UI32 infoId, const char* format, ...) {
    CDomDriverMgr* manager = CDomDriverMgr::instance();
    bool free = false;
    std::thread probe([manager, &free] { free = manager->writers().Idle() && manager->index().Idle(); });
    probe.join();
    ++s_logsSeen;
    if (!free) {
        ++s_logsWhileLocked;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    CSimHost::instance().addLog(cmpId, classId, errorId, infoId, text);
    return 0;
}

struct AddCase {
    const char* what;
    bool loaded;
    bool writerHasDocument;
    bool nullKey;
    int address;  // 0: the variable, 1: its second byte, 2: the null address, 3: unknown
    const char* message;
};

struct SetCase {
    const char* what;
    bool loaded;
    bool nullText;
    std::string text;
    uint32_t size;
    int address;  // as above
    const char* message;
};

}  // namespace

class DatatypeRefusalTest : public DatatypeTest {
   protected:
    // A structure "st" with an INT member "a" holding 5; a node also sits at the null
    // address, as one the host did not resolve would.
    void PublishVariables(bool loaded) {
        Publish(MakeVar(TYPE3_USERDEF, 2, &st_, "st", {MakeVar(TYPE3_INT, 2, &st_, "a")}));
        Publish(MakeVar(TYPE3_INT, 2, nullptr, "unresolved"));
        if (!loaded) {
            CDomDriverMgr::instance()->index().Withdraw();  // as a load in progress
        }
    }

    void* Address(int which) {
        switch (which) {
            case 0:
                return &st_;
            case 1:
                return reinterpret_cast<char*>(&st_) + 1;
            case 2:
                return nullptr;
            default:
                return &unknown_;
        }
    }

    int16_t st_ = 5;
    int16_t unknown_ = 0;
    fb_jsonsaxwriter_struct unresetWriter_{};
};

// The value and the schema of a variable alike.
TEST_F(DatatypeRefusalTest, AddRefusesInTheOrderOfItsChecks) {
    const std::vector<AddCase> cases = {
        {"null key before everything", false, false, true, 3, "Invalid argument"},
        {"null key, all else fine", true, true, true, 0, "Invalid argument"},
        {"no document, while loading", false, false, false, 3, "The JSON object does not exist."},
        {"no document", true, false, false, 0, "The JSON object does not exist."},
        {"loading, valid address", false, true, false, 0,
         "Variables are being loaded. Please execute later."},
        {"loading, unknown address", false, true, false, 3,
         "Variables are being loaded. Please execute later."},
        {"unknown address", true, true, false, 3, "Variable does not exist"},
        {"inside a variable", true, true, false, 1, "Variable does not exist"},
        {"null address never matches", true, true, false, 2, "Variable does not exist"},
    };
    for (auto add : {CallAddFromSymbol, CallAddSchemaFromSymbol}) {
        for (const AddCase& c : cases) {
            host().clearLog();
            PublishVariables(c.loaded);
            fb_jsonsaxwriter_struct* writer = c.writerHasDocument ? &writer_ : &unresetWriter_;
            const std::string before = WriterDocumentText(writer);
            EXPECT_EQ(0, add(writer, c.nullKey ? nullptr : "k", Address(c.address))) << c.what;
            EXPECT_EQ(before, WriterDocumentText(writer)) << c.what;
            EXPECT_EQ(std::vector<std::string>{RefusalRecord(c.message)}, LogRecords()) << c.what;
        }
    }
    EXPECT_EQ("<no document>", WriterDocumentText(&unresetWriter_));

    host().clearLog();
    PublishVariables(true);
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "k", &st_));
    EXPECT_EQ(1, CallAddSchemaFromSymbol(&writer_, "s", &st_));
    EXPECT_EQ(R"({"k":{"a":5},"s":{"type":"object","properties":{"a":{"type":"integer","minimum":-32768,)"
              R"("maximum":32767,"description":"INT"}},"required":["a"],"additionalProperties":false}})",
              WriterDocumentText(&writer_));
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(DatatypeRefusalTest, SetRefusesInTheOrderOfItsChecks) {
    const std::string good = R"({"st":{"a":9}})";
    const std::vector<SetCase> cases = {
        {"null text before everything", false, true, "", 5, 3, "Json error"},
        {"null text of size 0", true, true, "", 0, 0, "Json error"},
        {"bad text while loading", false, false, "{", 1, 3, "Json error"},
        {"empty text", true, false, "", 0, 0, "Json error"},
        {"only whitespace", true, false, " \n", 2, 0, "Json error"},
        {"second root value", true, false, good + " {}", static_cast<uint32_t>(good.size() + 3), 0,
         "Json error"},
        {"trailing garbage", true, false, good + "x", static_cast<uint32_t>(good.size() + 1), 0,
         "Json error"},
        {"size cuts the text", true, false, good, static_cast<uint32_t>(good.size() - 1), 0, "Json error"},
        {"zero byte cuts the text", true, false, std::string("{\"st\"\0:{}}", 10), 10, 0, "Json error"},
        {"comments are not JSON", true, false, good + "//", static_cast<uint32_t>(good.size() + 2), 0,
         "Json error"},
        {"loading", false, false, good, static_cast<uint32_t>(good.size()), 0,
         "Variables are being loaded. Please execute later."},
        {"unknown address", true, false, good, static_cast<uint32_t>(good.size()), 3,
         "Variable does not exist"},
        {"inside a variable", true, false, good, static_cast<uint32_t>(good.size()), 1,
         "Variable does not exist"},
        {"null address never matches", true, false, good, static_cast<uint32_t>(good.size()), 2,
         "Variable does not exist"},
    };
    for (const SetCase& c : cases) {
        host().clearLog();
        PublishVariables(c.loaded);
        st_ = 5;
        EXPECT_EQ(0, CallSetFromJson(c.nullText ? nullptr : c.text.data(), c.size, Address(c.address)))
            << c.what;
        EXPECT_EQ(5, st_) << c.what;
        EXPECT_EQ(std::vector<std::string>{RefusalRecord(c.message)}, LogRecords()) << c.what;
    }
}

TEST_F(DatatypeRefusalTest, TextEndsAtItsSizeOrItsFirstZeroByte) {
    PublishVariables(true);
    const std::string good = R"({"st":{"a":9}})";
    const std::string withZero = good + std::string("\0garbage", 8);
    EXPECT_EQ(1, CallSetFromJson(withZero, &st_));
    EXPECT_EQ(9, st_);
    const std::string longer = R"({"st":{"a":8}})" + std::string("garbage");
    EXPECT_EQ(1, CallSetFromJson(longer.data(), static_cast<uint32_t>(good.size()), &st_));
    EXPECT_EQ(8, st_);
    EXPECT_TRUE(LogRecords().empty());
}

TEST_F(DatatypeRefusalTest, RefusalsAreLoggedWithNoManagerLockHeld) {
    host().replaceFunction("LogAdd", reinterpret_cast<RTS_VOID_FCTPTR>(&LockCheckingLogAdd));
    ASSERT_EQ(0, host().importFunctions());
    s_logsSeen = 0;
    s_logsWhileLocked = 0;

    PublishVariables(true);
    EXPECT_EQ(0, CallAddFromSymbol(&unresetWriter_, "k", &st_));
    EXPECT_EQ(0, CallAddFromSymbol(&writer_, "k", &unknown_));
    EXPECT_EQ(0, CallAddFromSymbol(&writer_, nullptr, &st_));
    EXPECT_EQ(0, CallSetFromJson("{", &st_));
    EXPECT_EQ(0, CallSetFromJson("{}", &unknown_));
    CDomDriverMgr::instance()->index().Withdraw();
    EXPECT_EQ(0, CallAddFromSymbol(&writer_, "k", &st_));
    EXPECT_EQ(0, CallSetFromJson("{}", &st_));

    EXPECT_EQ(7, s_logsSeen.load());
    EXPECT_EQ(0, s_logsWhileLocked.load());
    EXPECT_EQ(7u, LogRecords().size());
}

TEST_F(DatatypeRefusalTest, BodyOfTheBlockDoesNothing) {
    PublishVariables(true);
    fb_jsonreadwritedatatype_struct block{};
    fb_jsonreadwritedatatype_main_struct body{&block};
    fb_jsonreadwritedatatype__main(&body);
    EXPECT_EQ(1, CallAddFromSymbol(&writer_, "k", &st_));
    fb_jsonreadwritedatatype__main(&body);
    EXPECT_EQ(R"({"k":{"a":5}})", WriterDocumentText(&writer_));
    EXPECT_EQ(5, st_);
    EXPECT_TRUE(LogRecords().empty());
    const fb_jsonreadwritedatatype_struct untouched{};
    EXPECT_EQ(0, std::memcmp(&untouched, &block, sizeof(block)));
}
