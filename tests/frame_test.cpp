// The component frame: registration of the external functions, subscription to the
// host's events and the event actions, driven the way a host drives them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "SimApplication.h"
#include "SimEventManager.h"
#include "SimHost.h"
#include "frame/HostImports.h"
#include "var/DomDriverMgr.h"

namespace {

using std::chrono::seconds;

struct ExternalRow {
    const char* name;
    RTS_UI32 signature;
};

const ExternalRow kExternals[] = {
    {"fb_jsonsaxwriter__copydocument", 0x7708c064},
    {"fb_jsonsaxwriter__startarray", 0x5b236286},
    {"fb_jsonsaxwriter__addkeynull", 0x97f6ee68},
    {"fb_jsonsaxwriter__addbase64", 0x83defcbb},
    {"fb_jsonsaxwriter__addbool", 0x88b2acde},
    {"fb_jsonsaxwriter__main", 0x3e6a9120},
    {"fb_jsonsaxwriter__addkeydatetime", 0xfd106e52},
    {"fb_jsonsaxwriter__getdocumentlength", 0xc53d5752},
    {"fb_jsonsaxwriter__addrawobject", 0x44fdc263},
    {"fb_jsonsaxwriter__getmaxdecimalplaces", 0x0d0a492f},
    {"fb_jsonsaxwriter__addlreal", 0xd47e4a6e},
    {"fb_jsonsaxwriter__resetdocument", 0x59d1a064},
    {"fb_jsonsaxwriter__addkeystring", 0x8023271b},
    {"fb_jsonsaxwriter__addrawarray", 0xd2551867},
    {"fb_jsonsaxwriter__adddint", 0xf8086f23},
    {"fb_jsonsaxwriter__getdocument", 0x7cd6fdbf},
    {"fb_jsonsaxwriter__addkeybool", 0x9a65032e},
    {"fb_jsonsaxwriter__addkeynumber", 0x63a742cd},
    {"fb_jsonsaxwriter__setmaxdecimalplaces", 0xf0820bbe},
    {"fb_jsonsaxwriter__adddatetime", 0x91bc2515},
    {"fb_jsonsaxwriter__addreal", 0x5132f67d},
    {"fb_jsonsaxwriter__addnull", 0x7c214a68},
    {"fb_jsonsaxwriter__addkeylreal", 0xf8ab4c71},
    {"fb_jsonsaxwriter__addkey", 0x9d2e57e8},
    {"fb_jsonsaxwriter__addlint", 0x1c46aeb7},
    {"fb_jsonsaxwriter__startobject", 0xdca9b391},
    {"fb_jsonsaxwriter__addhexbinary", 0x25edef67},
    {"fb_jsonsaxwriter__addudint", 0x48d15ea2},
    {"fb_jsonsaxwriter__endobject", 0x810ceb26},
    {"fb_jsonsaxwriter__addstring", 0x490f5ff2},
    {"fb_jsonsaxwriter__endarray", 0x43f5777a},
    {"fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol", 0x0600e1cd},
    {"fb_jsonreadwritedatatype__setsymbolfromjson", 0x61d106d2},
    {"fb_jsonreadwritedatatype__main", 0x66ad0380},
    {"fb_jsonreadwritedatatype__setsymbolfromjsonreport", 0xb337aca7},
    {"fb_jsonsaxwriter__setformat", 0xedb9a60c},
    {"fb_jsonsaxwriter__getformat", 0x1c95b571},
    {"fb_jsonreadwritedatatype__addjsonschemafromsymbol", 0x13b7a9e5},
    {"fb_jsonreader__main", 0x5a0e5bea},
    {"fb_jsonreader__parse", 0xd8300cd9},
    {"fb_jsonreader__getkind", 0x832b8838},
    {"fb_jsonreader__getsize", 0x4f2f108b},
    {"fb_jsonreader__getbool", 0xed6e0273},
    {"fb_jsonreader__getdint", 0xc6ff880a},
    {"fb_jsonreader__getlint", 0x034ba0e5},
    {"fb_jsonreader__getlreal", 0xfa9d46c2},
    {"fb_jsonreader__getstring", 0xf86f3c5e},
    {"fb_jsonreader__getmembername", 0xee046f00},
    {"fb_jsonreader__getraw", 0x48223562},
    {"fb_jsonreader__tovariable", 0x66111eb4},
    {"fb_jsonsaxwriter__copydocumentpart", 0xb030cbb4},
    {"fb_jsonreadwritedatatype__addjsonchangesfromsymbol", 0x9d2e6e8a},
};

const EVENTID kEventIds[] = {0x10001, 0x10002, 0x10003, 0x10004, 0x10005, 0x10006, 0x10007, 0x10008, 0x10009,
                             0x1000A, 0x1000C, 0x1000D, 0x1000E, 0x1000F, 0x10022, 0x10023, 0x10030, 0x10031};

class FrameTest : public ::testing::Test {
   protected:
    void SetUp() override {
        events().reset();
        host().resetFunctions();
        host().setRegisterResult(ERR_OK);
        ASSERT_EQ(0, host().loadComponent(ComponentEntry));
        ASSERT_EQ(0, host().importFunctions());
        CDomDriverMgr::instance()->EndLoadSymbols();
        CDomDriverMgr::instance()->clear();
        host().clearLog();
    }
    void TearDown() override {
        host().resetFunctions();
        host().importFunctions();
        host().callHook(12);
        CDomDriverMgr::instance()->EndLoadSymbols();
        CDomDriverMgr::instance()->clear();
        events().reset();
    }
    static CSimHost& host() { return CSimHost::instance(); }
    static CSimEventManager& events() { return CSimEventManager::instance(); }
    static CSymbolLoader::CStatus loader() { return CDomDriverMgr::instance()->loader().Status(); }

    // Waits for the n-th end line of a load.
    static bool waitForLoads(size_t n) { return host().waitForLog("LoadSymbols end", n, seconds(20)); }
};

TEST_F(FrameTest, EntryFillsTheInitialisationRecord) {
    INIT_STRUCT& init = host().component();
    EXPECT_EQ(0x17d22002u, init.CmpId);
    ASSERT_NE(nullptr, init.pfGetVersion);
    EXPECT_EQ(0x03051200u, init.pfGetVersion());
    RTS_RESULT result = 1234;
    EXPECT_EQ(nullptr, init.pfCreateInstance(7, &result));
    EXPECT_EQ(1234, result);  // not written
    EXPECT_EQ(0, init.pfDeleteInstance(nullptr));
    for (RTS_UI32 hook : {0u, 1u, 3u, 5u, 11u, 13u, 100u}) {
        EXPECT_EQ(0, host().callHook(hook)) << "hook " << hook;
    }
    EXPECT_EQ(0u, events().openCalls().size());
}

TEST_F(FrameTest, ExportRegistersTheExternalsTableThenTheInterfaceTable) {
    size_t before = host().registeredTables().size();
    ASSERT_EQ(0, host().exportFunctions());
    std::vector<SimRegisteredTable> tables = host().registeredTables();
    ASSERT_EQ(before + 2, tables.size());
    const SimRegisteredTable& externals = tables[before];
    const SimRegisteredTable& interfaces = tables[before + 1];
    EXPECT_EQ(1, externals.externalLibrary);
    EXPECT_EQ(0x17d22002u, externals.cmpId);
    EXPECT_EQ(0u, externals.dummy);
    EXPECT_EQ(0, interfaces.externalLibrary);
    EXPECT_EQ(0x17d22002u, interfaces.cmpId);

    size_t row = 0;
    for (const ExternalRow& expected : kExternals) {
        const CMP_EXT_FUNCTION_REF& actual = externals.table[row++];
        EXPECT_STREQ(expected.name, actual.pszExtCallName);
        EXPECT_EQ(expected.signature, actual.signature) << expected.name;
        EXPECT_EQ(0x01000101u, actual.version) << expected.name;
        EXPECT_NE(nullptr, actual.pfExtCall) << expected.name;
    }
    const CMP_EXT_FUNCTION_REF& end = externals.table[row];
    EXPECT_EQ(nullptr, end.pfExtCall);
    EXPECT_STREQ("", end.pszExtCallName);
    EXPECT_EQ(0u, end.signature);
    EXPECT_EQ(0u, end.version);
    EXPECT_EQ(nullptr, interfaces.table[0].pfExtCall);
    EXPECT_STREQ("", interfaces.table[0].pszExtCallName);
}

TEST_F(FrameTest, ExportFailures) {
    size_t before = host().registeredTables().size();
    host().setRegisterResult(0x55);
    EXPECT_EQ(0x55, host().exportFunctions());
    EXPECT_EQ(before + 1, host().registeredTables().size());  // the interface table is not registered

    INIT_STRUCT init{};
    host().fillInitStruct(init);
    init.pfCMRegisterAPI = nullptr;
    ComponentEntry(&init);
    EXPECT_EQ(3, init.pfExportFunctions());
    EXPECT_EQ(before + 1, host().registeredTables().size());
    host().loadComponent(ComponentEntry);  // keep the host's register function for later tests
}

TEST_F(FrameTest, Hook4OpensAll18EventsWithOneCallback) {
    ASSERT_EQ(0, host().callHook(4));
    std::vector<EVENTID> opened = events().openCalls();
    ASSERT_EQ(std::vector<EVENTID>(std::begin(kEventIds), std::end(kEventIds)), opened);
    EXPECT_EQ(18u, events().openEvents());
    EXPECT_EQ(18u, events().registeredCallbacks());
    EXPECT_TRUE(host().logRecords().empty());
}

TEST_F(FrameTest, Hook4FailingOpenClosesTheSlotsOpenedSoFar) {
    struct Case {
        bool hostReturnsHandle;
        size_t closed;
    };
    for (Case c : {Case{false, 8}, Case{true, 9}}) {
        events().reset();
        events().failOpen(0x10009, 0x66, c.hostReturnsHandle);
        EXPECT_EQ(0x66, host().callHook(4));
        EXPECT_EQ(c.closed, events().closeCalls().size()) << "handle returned: " << c.hostReturnsHandle;
        EXPECT_EQ(0u, events().openEvents());
        // The slots are invalid again: a second subscription works.
        events().reset();
        EXPECT_EQ(0, host().callHook(4));
        EXPECT_EQ(18u, events().openEvents());
        EXPECT_EQ(0, host().callHook(12));
    }
}

TEST_F(FrameTest, Hook4FailingRegistrationClosesEverySlotOpenedSoFar) {
    events().failRegister(0x10002, 0x67);
    EXPECT_EQ(0x67, host().callHook(4));
    EXPECT_EQ(2u, events().closeCalls().size());
    EXPECT_EQ(0u, events().openEvents());
}

TEST_F(FrameTest, Hook4WithoutOpenOrRegisterFunctions) {
    pfEventOpen = nullptr;
    EXPECT_EQ(1, host().callHook(4));
    ASSERT_EQ(1u, host().logRecords().size());
    EXPECT_EQ("cmp=0x17d22002 class=1 error=0 info=0 text=Check event open function function failed",
              host().logRecords()[0].describe());
    EXPECT_TRUE(events().openCalls().empty());

    host().importFunctions();
    pfEventRegisterCallbackFunction = nullptr;
    EXPECT_EQ(0, host().callHook(4));  // opened without callbacks
    EXPECT_EQ(18u, events().openEvents());
    EXPECT_EQ(0u, events().registeredCallbacks());
}

TEST_F(FrameTest, Hook12UnregistersAndClosesEverySlot) {
    ASSERT_EQ(0, host().callHook(4));
    EXPECT_EQ(0, host().callHook(12));
    EXPECT_EQ(18u, events().unregisterCalls().size());
    EXPECT_EQ(18u, events().closeCalls().size());
    EXPECT_EQ(0u, events().openEvents());
    // Every slot is invalid again: without a new hook 4 the next hook 12 works on invalid handles.
    EXPECT_EQ(0, host().callHook(12));
    std::vector<RTS_HANDLE> closes = events().closeCalls();
    ASSERT_EQ(36u, closes.size());
    for (size_t i = 18; i < 36; ++i) {
        EXPECT_EQ(RTS_INVALID_HANDLE, closes[i]);
    }
}

TEST_F(FrameTest, Hook12WithoutUnregisterOrCloseFunctions) {
    ASSERT_EQ(0, host().callHook(4));
    pfEventUnregisterCallbackFunction = nullptr;
    EXPECT_EQ(1, host().callHook(12));
    EXPECT_TRUE(events().closeCalls().empty());
    EXPECT_EQ(18u, events().registeredCallbacks());

    host().importFunctions();
    pfEventClose = nullptr;
    EXPECT_EQ(1, host().callHook(12));
    EXPECT_EQ(0u, events().registeredCallbacks());  // unregistered ...
    EXPECT_EQ(18u, events().openEvents());          // ... but still open
    std::vector<std::string> texts = host().logTexts();
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("Check unregister callback function failed", texts[0]);
    EXPECT_EQ("Check event close function failed", texts[1]);
}

TEST_F(FrameTest, EventsThatDoNothing) {
    ASSERT_EQ(0, host().callHook(4));
    for (EVENTID id : {0x10001u, 0x10002u, 0x10003u, 0x10004u, 0x10007u, 0x10008u, 0x1000Cu, 0x1000Du,
                       0x1000Eu, 0x1000Fu, 0x10022u, 0x10023u, 0x10031u}) {
        EXPECT_EQ(1u, events().post(id));
    }
    EXPECT_TRUE(host().logRecords().empty());
    EXPECT_FALSE(loader().threadStarted);
}

TEST_F(FrameTest, ResetDoneStartsALoadOnlyWhenNoneHasCompleted) {
    ASSERT_EQ(0, host().callHook(4));
    events().post(0x10006);
    ASSERT_TRUE(waitForLoads(1));
    std::vector<SimLogRecord> log = host().logRecords();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(
        "cmp=0x17d22002 class=1 error=0 info=10 text=ResetDoneFunction in, load completed state: 0, "
        "BeginLoadSymbols:1",
        log[0].describe());
    EXPECT_EQ("cmp=0x17d22002 class=1 error=0 info=10 text=ResetDoneFunction BeginLoadSymbols",
              log[1].describe());
    EXPECT_TRUE(loader().threadStarted);
}

TEST_F(FrameTest, DeleteAllStopsTheLoaderAndKeepsDocuments) {
    ASSERT_EQ(0, host().callHook(4));
    fb_jsonsaxwriter_struct writer{};
    fb_jsonsaxwriter_resetdocument_struct reset{&writer, 0};
    fb_jsonsaxwriter__resetdocument(&reset);
    events().post(0x1000A);
    ASSERT_TRUE(waitForLoads(1));
    events().post(0x10030);
    EXPECT_FALSE(loader().threadStarted);
    EXPECT_FALSE(CDomDriverMgr::instance()->loadCompletedState());
    EXPECT_EQ(1u, CDomDriverMgr::instance()->writers().Size());
    std::vector<std::string> texts = host().logTexts();
    EXPECT_EQ("BeginLoadSymbols", texts.front());
    EXPECT_EQ("delAllAppCallBack", texts.back());
}

TEST_F(FrameTest, PrepareResetAndPrepareDeleteStopAndClear) {
    ASSERT_EQ(0, host().callHook(4));
    for (EVENTID id : {0x10005u, 0x10009u}) {
        host().clearLog();
        fb_jsonsaxwriter_struct writer{};
        fb_jsonsaxwriter_resetdocument_struct reset{&writer, 0};
        fb_jsonsaxwriter__resetdocument(&reset);
        events().post(0x1000A);
        ASSERT_TRUE(waitForLoads(1));
        events().post(id);
        EXPECT_FALSE(loader().threadStarted);
        EXPECT_TRUE((CDomDriverMgr::instance()->writers().Size() == 0)) << std::hex << id;
        EXPECT_FALSE(CDomDriverMgr::instance()->loadCompletedState());
    }
}

TEST_F(FrameTest, NoLoggerStillWorks) {
    host().removeFunction("LogAdd", 0x99);
    pfLogAdd = nullptr;
    ASSERT_EQ(0, host().importFunctions());
    EXPECT_EQ(nullptr, pfLogAdd);
    pfEventOpen = nullptr;
    EXPECT_EQ(1, host().callHook(4));  // refused, silently
    host().resetFunctions();
    host().removeFunction("LogAdd", 0x99);
    host().importFunctions();
    ASSERT_EQ(0, host().callHook(4));
    events().post(0x1000A);
    // No end line can be waited for: wait for the loader's flag instead.
    for (int i = 0; i < 2000 && !loader().indexReady; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(loader().indexReady);
    events().post(0x10005);
    EXPECT_TRUE(host().logRecords().empty());
}

}  // namespace

// After a load that reached the application, reset-done only reports it: one line, and
// no loader is started.
TEST_F(FrameTest, ResetDoneAfterACompletedLoadLogsOneLineAndStartsNoLoader) {
    ASSERT_EQ(0, host().callHook(4));
    CSimApplication::instance().start("VAR_GLOBAL a : INT; END_VAR");  // a load finds it
    events().post(0x1000A);
    ASSERT_TRUE(waitForLoads(1));
    ASSERT_TRUE(CDomDriverMgr::instance()->loadCompletedState());
    host().clearLog();
    events().post(0x10006);
    std::vector<SimLogRecord> log = host().logRecords();
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(
        "cmp=0x17d22002 class=1 error=0 info=10 text=ResetDoneFunction in, load completed state: 1, "
        "BeginLoadSymbols:0",
        log[0].describe());
    EXPECT_TRUE(loader().threadStarted);  // the loader of the first load, not yet joined
    CDomDriverMgr::instance()->EndLoadSymbols();
    CSimApplication::instance().stop();
    EXPECT_FALSE(CDomDriverMgr::instance()->loadCompletedState());
}

// Two host threads post download-done at the same moment: each start stops the other's
// loader first, so one loader remains and its load completes.
TEST_F(FrameTest, TwoThreadsPostingDownloadDoneAtOnceLeaveOneCompleteLoad) {
    ASSERT_EQ(0, host().callHook(4));
    std::atomic<int> ready{0};
    auto post = [&ready] {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        CSimEventManager::instance().post(0x1000A);
    };
    std::thread first(post);
    std::thread second(post);
    first.join();
    second.join();
    for (int i = 0; i < 2000 && !loader().indexReady; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(loader().indexReady);
    EXPECT_TRUE(loader().threadStarted);
    size_t starts = 0;
    for (const SimLogRecord& record : host().logRecords()) {
        starts += record.describe().find("text=BeginLoadSymbols") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(2u, starts);
    CDomDriverMgr::instance()->EndLoadSymbols();
    EXPECT_FALSE(loader().threadStarted);
    EXPECT_FALSE(loader().indexReady);
}

// Every external function called without its parameter record returns without touching
// memory and without a log entry.
TEST_F(FrameTest, ExternalFunctionsIgnoreAMissingParameterRecord) {
    ASSERT_EQ(0, host().exportFunctions());
    const std::vector<SimRegisteredTable> tables = host().registeredTables();
    ASSERT_LE(2u, tables.size());
    const SimRegisteredTable& externals = tables[tables.size() - 2];  // then the interface table
    size_t called = 0;
    for (const CMP_EXT_FUNCTION_REF* row = externals.table; row->pfExtCall != nullptr; ++row) {
        reinterpret_cast<void (*)(void*)>(row->pfExtCall)(nullptr);
        ++called;
    }
    EXPECT_EQ(sizeof(kExternals) / sizeof(kExternals[0]), called);
    EXPECT_TRUE(host().logRecords().empty());
}
