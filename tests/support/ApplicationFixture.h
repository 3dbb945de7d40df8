// Test support: the component loaded into the simulated host with a declared
// application running. After every test no variable-information record may be open
// and the host must have seen no misuse of its records.
#ifndef TESTS_SUPPORT_APPLICATIONFIXTURE_H
#define TESTS_SUPPORT_APPLICATIONFIXTURE_H

#include <chrono>
#include <memory>
#include <string>

#include "SimApplication.h"
#include "support/ComponentFixture.h"
#include "support/ManagerPeer.h"

class ApplicationTest : public ComponentTest {
   protected:
    void SetUp() override;
    void TearDown() override;

    static CSimApplication& app() { return CSimApplication::instance(); }
    static CDomDriverMgr* manager() { return CDomDriverMgr::instance(); }

    // Runs one load on the loader thread and waits for its end line.
    void loadSymbols();
    // What the index resolves at the address of a variable of the application, as a tree
    // with a node for every element (CDomDriverMgrTestPeer::indexed).
    std::shared_ptr<CVariable> indexed(const std::string& fullName);
};

#endif  // TESTS_SUPPORT_APPLICATIONFIXTURE_H
