// Import of the host functions by name: order, options, optional and required names.
#include <gtest/gtest.h>

#include "RV5072_Zentrik/RV5072_Zentrik.h"
#include "SimHost.h"
#include "frame/HostImports.h"

namespace {

class FrameImport : public ::testing::Test {
   protected:
    void SetUp() override {
        host.resetFunctions();
        host.clearImportCalls();
        host.loadComponent(ComponentEntry);
    }
    void TearDown() override {
        host.resetFunctions();
        host.importFunctions();  // leave every pointer filled for the next test
    }
    CSimHost& host = CSimHost::instance();
};

TEST_F(FrameImport, ImportsAll91NamesInOrderWithTheirOptions) {
    ASSERT_EQ(0, host.importFunctions());
    std::vector<SimImportCall> calls = host.importCalls();
    const std::vector<std::string>& names = CSimHost::importedNames();
    ASSERT_EQ(91u, calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(names[i], calls[i].name) << "position " << i + 1;
        EXPECT_EQ(i < 6 ? 2 : 0, calls[i].options) << calls[i].name;
        EXPECT_EQ(0u, calls[i].signature);
        EXPECT_EQ(0u, calls[i].version);
    }
    EXPECT_NE(nullptr, pfLogAdd);
    EXPECT_NE(nullptr, pfIecVarAccGetFirstInterface);
    EXPECT_NE(nullptr, pfSysTimeGetMs);
}

TEST_F(FrameImport, MissingOptionalFunctionsStillImport) {
    for (const char* name :
         {"LogAdd", "CMUtlMemCpy", "SysFileWrite", "SysFileRead", "SysFileClose", "SysFileOpen"}) {
        host.removeFunction(name, 0x77);
    }
    EXPECT_EQ(0, host.importFunctions());
    EXPECT_EQ(91u, host.importCalls().size());
}

TEST_F(FrameImport, MissingRequiredFunctionEndsTheImportWithItsCode) {
    host.importFunctions();  // fill every pointer first
    host.clearImportCalls();
    host.resetFunctions();
    host.removeFunction("IecTaskGetByIndex", 0x1234);
    pfIecTaskGetCurrent = nullptr;
    pfSysTimeGetMs = nullptr;
    EXPECT_EQ(0x1234, host.importFunctions());
    std::vector<SimImportCall> calls = host.importCalls();
    ASSERT_EQ(47u, calls.size());
    EXPECT_EQ("IecTaskGetByIndex", calls.back().name);
    EXPECT_EQ(nullptr, pfIecTaskGetCurrent);
    EXPECT_EQ(nullptr, pfSysTimeGetMs);
}

TEST_F(FrameImport, HostWithoutGetApiFunctionRefusesTheImport) {
    INIT_STRUCT init{};
    host.fillInitStruct(init);
    init.pfCMGetAPI2 = nullptr;
    ComponentEntry(&init);
    pfEventOpen = nullptr;
    EXPECT_EQ(3, init.pfImportFunctions());
    EXPECT_EQ(0u, host.importCalls().size());
    EXPECT_EQ(nullptr, pfEventOpen);
    host.loadComponent(ComponentEntry);  // keep the host's get-API function for later tests
}

}  // namespace
