// Test support: the component linked in and loaded into the simulated host the way a
// host loads it (entry, then import of the host functions by name).
#ifndef TESTS_SUPPORT_COMPONENTFIXTURE_H
#define TESTS_SUPPORT_COMPONENTFIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimHost.h"

// Loads the component into a host with every function present, and clears the host
// log. Each test starts with the manager cleared.
class ComponentTest : public ::testing::Test {
   protected:
    void SetUp() override;
    void TearDown() override;

    CSimHost& host() { return CSimHost::instance(); }
    // Texts of the host log entries the component wrote since SetUp.
    std::vector<std::string> logTexts() { return host().logTexts(); }
};

// Loads the component (entry and import) into the simulated host; returns the import result.
int LoadComponentIntoHost();

// The names of the external functions the component registers with the host, in table
// order: what IEC code can call, whatever blocks the component offers.
std::vector<std::string> RegisteredExternalFunctions();

#endif  // TESTS_SUPPORT_COMPONENTFIXTURE_H
