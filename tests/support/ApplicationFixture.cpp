#include "support/ApplicationFixture.h"

SeenNode Seen(CVariableView view) {
    SeenNode node;
    node.type = view.type();
    node.size = view.size();
    node.address = view.address();
    node.name = view.name();
    for (size_t d = 0; d < view.dimensionCount(); ++d) {
        const int32_t lowest = view.lowestIndex(d);
        node.bounds.emplace_back(lowest, static_cast<int32_t>(lowest + int64_t(view.extent(d)) - 1));
    }
    for (size_t i = 0; i < view.childCount(); ++i) {
        node.children.push_back(Seen(view.child(i)));
    }
    return node;
}

void ApplicationTest::SetUp() {
    ComponentTest::SetUp();
    app().stop();
    app().resetFaults();
    app().setFreedoms(CSimFreedoms());
    app().clearHostErrors();
    app().forgetVarInfoRecords();
    manager()->EndLoadSymbols();
    manager()->clear();
    host().clearLog();
}

void ApplicationTest::TearDown() {
    manager()->EndLoadSymbols();
    app().setBeforeCallHook(nullptr);
    host().setLogHook(nullptr);
    EXPECT_EQ(0u, app().openVarInfoRecords());
    EXPECT_TRUE(app().hostErrors().empty()) << app().hostErrors().front();
    app().resetFaults();
    app().setFreedoms(CSimFreedoms());
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

std::unique_ptr<SeenNode> ApplicationTest::indexed(const std::string& fullName) {
    return indexedAt(app().address(fullName));
}

std::unique_ptr<SeenNode> ApplicationTest::indexedAt(const void* address) {
    std::unique_ptr<SeenNode> seen;
    index().Inspect(address, [&seen](CVariableView view) { seen.reset(new SeenNode(Seen(view))); });
    return seen;
}

std::vector<SeenNode> ApplicationTest::roots() {
    std::vector<SeenNode> seen;
    index().InspectRoots([&seen](CVariableView view) { seen.push_back(Seen(view)); });
    return seen;
}
