// The built libzentrik.so, loaded through dlopen the way a controller runtime loads
// it, and its exported symbols.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "CmpItf.h"
#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimApplication.h"
#include "SimEventManager.h"
#include "SimHost.h"

namespace {

typedef void (*ExternalFunction)(void*);

size_t EndLines() {
    size_t count = 0;
    for (const std::string& text : CSimHost::instance().logTexts()) {
        count += text.rfind("LoadSymbols end", 0) == 0 ? 1 : 0;
    }
    return count;
}

class LoadedLibrary : public ::testing::Test {
   protected:
    void SetUp() override {
        handle_ = dlopen(ZENTRIK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, handle_) << dlerror();
        host().resetFunctions();
        host().clearLog();
        CSimEventManager::instance().reset();
    }
    void TearDown() override {
        CSimApplication::instance().stop();
        // The library stays loaded: its manager and loader live until the process ends.
    }
    static CSimHost& host() { return CSimHost::instance(); }

    ExternalFunction external(const CMP_EXT_FUNCTION_REF* table, const char* name) {
        for (const CMP_EXT_FUNCTION_REF* row = table; row->pfExtCall != nullptr; ++row) {
            if (std::strcmp(row->pszExtCallName, name) == 0) {
                return reinterpret_cast<ExternalFunction>(row->pfExtCall);
            }
        }
        ADD_FAILURE() << "not registered: " << name;
        return nullptr;
    }

    void* handle_ = nullptr;
};

TEST_F(LoadedLibrary, HostLifeCycleKeepsVariablesReachableAcrossAReset) {
    auto entry = reinterpret_cast<int (*)(INIT_STRUCT*)>(dlsym(handle_, "ComponentEntry"));
    ASSERT_NE(nullptr, entry);
    CSimApplication::instance().start(R"(
        TYPE ST_Motor : STRUCT speed : INT := 1500; running : BOOL := TRUE; END_STRUCT END_TYPE
        VAR_GLOBAL motor : ST_Motor; END_VAR
    )");
    size_t tablesBefore = host().registeredTables().size();
    ASSERT_EQ(0, host().loadComponent(entry));
    ASSERT_EQ(0, host().importFunctions());
    ASSERT_EQ(0, host().exportFunctions());
    const CMP_EXT_FUNCTION_REF* table = host().registeredTables().at(tablesBefore).table;
    ASSERT_EQ(0, host().callHook(4));

    size_t loads = EndLines();
    CSimEventManager::instance().post(0x10006);
    ASSERT_TRUE(host().waitForLog("LoadSymbols end", loads + 1, std::chrono::seconds(30)));

    fb_jsonsaxwriter_struct writer{};
    fb_jsonreadwritedatatype_struct block{};
    char key[] = "motor";
    auto readMotor = [&]() -> std::string {
        fb_jsonsaxwriter_resetdocument_struct reset{&writer, 0};
        external(table, "fb_jsonsaxwriter__resetdocument")(&reset);
        fb_jsonreadwritedatatype_addjsonkeyvaluefromsymbol_struct add{};
        add.pInstance = &block;
        add.fbWriter = &writer;
        add.sKey = key;
        add.pData =
            reinterpret_cast<RTS_IEC_UDINT*>(CSimApplication::instance().address("App.Globals.motor"));
        external(table, "fb_jsonreadwritedatatype__addjsonkeyvaluefromsymbol")(&add);
        if (add.AddJsonKeyValueFromSymbol != 1) {
            return "refused";
        }
        fb_jsonsaxwriter_getdocument_struct get{};
        get.pInstance = &writer;
        external(table, "fb_jsonsaxwriter__getdocument")(&get);
        return get.GetDocument;
    };
    EXPECT_EQ(R"({"motor":{"speed":1500,"running":true}})", readMotor());

    // Prepare reset after a completed load, then reset done: the symbols load again.
    CSimEventManager::instance().post(0x10005);
    loads = EndLines();
    CSimEventManager::instance().post(0x10006);
    ASSERT_TRUE(host().waitForLog("LoadSymbols end", loads + 1, std::chrono::seconds(30)));
    EXPECT_EQ(R"({"motor":{"speed":1500,"running":true}})", readMotor());

    std::vector<std::string> texts = host().logTexts();
    EXPECT_NE(texts.end(), std::find(texts.begin(), texts.end(),
                                     "prepareResetFunction in, load completed state: 1, clearSymbols:0"));

    // The reader block through the registered names: a part of an envelope into the
    // variable; the next prepare-reset drops the reader's document.
    fb_jsonreader_struct reader{};
    char text[] = R"({"meta":{"n":1},"data":{"motor":{"speed":900,"running":false}}})";
    fb_jsonreader_parse_struct parse{};
    parse.pInstance = &reader;
    parse.pJson = text;
    parse.nSize = sizeof(text) - 1;
    external(table, "fb_jsonreader__parse")(&parse);
    ASSERT_EQ(1, parse.Parse) << parse.sError;
    char path[] = "/data/motor";
    fb_jsonreader_tovariable_struct toVariable{
        &reader, path,
        reinterpret_cast<RTS_IEC_UDINT*>(CSimApplication::instance().address("App.Globals.motor")), 0};
    external(table, "fb_jsonreader__tovariable")(&toVariable);
    EXPECT_EQ(1, toVariable.ToVariable);
    EXPECT_EQ(R"({"motor":{"speed":900,"running":false}})", readMotor());
    CSimEventManager::instance().post(0x10005);
    fb_jsonreader_getkind_struct kind{&reader, path, 99};
    external(table, "fb_jsonreader__getkind")(&kind);
    EXPECT_EQ(0, kind.GetKind);
    // Deleting the applications stops and joins the loader, as a host does at shut-down.
    CSimEventManager::instance().post(0x10030);
    EXPECT_EQ(0, host().callHook(12));
    EXPECT_EQ(0u, CSimEventManager::instance().openEvents());
    EXPECT_EQ(0u, CSimApplication::instance().openVarInfoRecords());
}

// Every symbol the library exports, demangled.
std::vector<std::string> ExportedSymbols() {
    std::vector<std::string> symbols;
    std::string command = std::string("nm -DC --defined-only --format=posix '") + ZENTRIK_LIBRARY_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return symbols;
    }
    char line[4096];
    while (fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text(line);
        // posix format: "name type value size"; demangled names contain blanks, the
        // last three fields do not.
        for (int field = 0; field < 3; ++field) {
            size_t blank = text.find_last_of(' ', text.find_last_not_of(" \n"));
            text.erase(blank);
        }
        symbols.push_back(text.substr(0, text.find_last_not_of(" ") + 1));
    }
    pclose(pipe);
    return symbols;
}

TEST(LibraryExports, OnlyTheEntryTheExternalFunctionsAndTheUtilities) {
    std::vector<std::string> symbols = ExportedSymbols();
    ASSERT_FALSE(symbols.empty());
    std::set<std::string> required = {
        "ComponentEntry",
        "SetAffinity(int, unsigned int)",
        "SetLogLevel(int)",
        "GetLogLevelStr(int, int*)",
        "utils_log_message(int, char const*, char const*, int, char const*, ...)",
        "utils_log_message(int, char const*, ...)",
        "fb_jsonreader__main",
        "fb_jsonreader__parse",
        "fb_jsonreader__getkind",
        "fb_jsonreader__getsize",
        "fb_jsonreader__getbool",
        "fb_jsonreader__getdint",
        "fb_jsonreader__getlint",
        "fb_jsonreader__getlreal",
        "fb_jsonreader__getstring",
        "fb_jsonreader__getmembername",
        "fb_jsonreader__getraw",
        "fb_jsonreader__tovariable"};
    size_t externals = 0;
    for (const std::string& symbol : symbols) {
        bool allowed = required.erase(symbol) == 1 || symbol.rfind("fb_jsonsaxwriter__", 0) == 0 ||
                       symbol.rfind("fb_jsonreadwritedatatype__", 0) == 0;
        externals += symbol.rfind("fb_json", 0) == 0 ? 1 : 0;
        for (const char* utilityClass : {"CComm::", "CTimestamp::", "CStringHelper::", "CFileHelper::"}) {
            allowed = allowed || symbol.rfind(utilityClass, 0) == 0;
        }
        EXPECT_TRUE(allowed) << "exported by mistake: " << symbol;
    }
    EXPECT_EQ(52u, externals);
    EXPECT_TRUE(required.empty()) << "not exported: " << *required.begin();
}

}  // namespace
