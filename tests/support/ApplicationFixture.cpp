#include "support/ApplicationFixture.h"

void ApplicationTest::SetUp() {
    ComponentTest::SetUp();
    app().stop();
    app().resetFaults();
    app().clearHostErrors();
    app().forgetVarInfoRecords();
    manager()->EndLoadSymbols();
    manager()->clear();
    CDomDriverMgrTestPeer::expandEveryElement() = false;
    CDomDriverMgrTestPeer::loadStepHook() = nullptr;
    host().clearLog();
}

void ApplicationTest::TearDown() {
    manager()->EndLoadSymbols();
    CDomDriverMgrTestPeer::expandEveryElement() = false;
    CDomDriverMgrTestPeer::loadStepHook() = nullptr;
    app().setBeforeCallHook(nullptr);
    EXPECT_EQ(0u, app().openVarInfoRecords());
    EXPECT_TRUE(app().hostErrors().empty()) << app().hostErrors().front();
    app().resetFaults();
    app().stop();
    ComponentTest::TearDown();
}

void ApplicationTest::loadSymbols() {
    size_t before = 0;
    for (const std::string& text : host().logTexts()) {
        before += text.rfind("LoadSymbols end", 0) == 0 ? 1 : 0;
    }
    manager()->BeginLoadSymbols();
    ASSERT_TRUE(host().waitForLog("LoadSymbols end", before + 1, std::chrono::seconds(60)))
        << "the loader did not finish";
}

std::shared_ptr<CVariable> ApplicationTest::indexed(const std::string& fullName) {
    void* address = app().address(fullName);
    return CDomDriverMgrTestPeer::indexed(address);
}
