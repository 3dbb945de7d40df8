// Test support: the component loaded into the simulated host with a declared
// application running. After every test no variable-information record may be open
// and the host must have seen no misuse of its records.
#ifndef TESTS_SUPPORT_APPLICATIONFIXTURE_H
#define TESTS_SUPPORT_APPLICATIONFIXTURE_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SimApplication.h"
#include "support/ComponentFixture.h"
#include "var/DomDriverMgr.h"

// What the index hands out for one variable, member or element, as a plain tree with a
// node for every element: what the views say, copied.
struct SeenNode {
    TypeClass3 type = TYPE3_NONE;
    uint32_t size = 0;
    void* address = nullptr;
    std::string name;
    std::vector<std::pair<int32_t, int32_t>> bounds;  // an array's dimensions, lowest and highest
    std::vector<SeenNode> children;
};
SeenNode Seen(CVariableView view);

class ApplicationTest : public ComponentTest {
   protected:
    void SetUp() override;
    void TearDown() override;

    static CSimApplication& app() { return CSimApplication::instance(); }
    static CDomDriverMgr* manager() { return CDomDriverMgr::instance(); }
    static CSymbolIndex& index() { return manager()->index(); }
    static CSymbolLoader::CStatus loader() { return manager()->loader().Status(); }

    // Runs one load on the loader thread and waits for its end line.
    void loadSymbols();
    // What the index resolves at the address of a variable of the application, or at an
    // address (the null address included, whatever the ready flag says); null when
    // nothing is found there.
    std::unique_ptr<SeenNode> indexed(const std::string& fullName);
    static std::unique_ptr<SeenNode> indexedAt(const void* address);
    // The roots of the published index, in walk order.
    static std::vector<SeenNode> roots();
};

#endif  // TESTS_SUPPORT_APPLICATIONFIXTURE_H
