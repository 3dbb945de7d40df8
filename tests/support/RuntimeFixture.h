// Test support: the runtimes a component meets. Each runtime is a set of the simulated
// host's freedoms (CSimFreedoms): how it names element and member nodes and how it lays
// arrays out. A suite whose results must not depend on them derives from RuntimeTest and
// is instantiated under every runtime with ZENTRIK_UNDER_EVERY_RUNTIME.
#ifndef TESTS_SUPPORT_RUNTIMEFIXTURE_H
#define TESTS_SUPPORT_RUNTIMEFIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/ApplicationFixture.h"

// The runtimes are the simulated host's (SimRuntimes), named for test names.
void PrintTo(const CSimRuntime& runtime, std::ostream* out);
std::string RuntimeTestName(const ::testing::TestParamInfo<CSimRuntime>& info);

// ApplicationTest with the freedoms of the test's runtime set before any application
// starts.
class RuntimeTest : public ApplicationTest, public ::testing::WithParamInterface<CSimRuntime> {
   protected:
    void SetUp() override {
        ApplicationTest::SetUp();
        app().setFreedoms(GetParam().freedoms);
    }
};

#define ZENTRIK_UNDER_EVERY_RUNTIME(Suite) \
    INSTANTIATE_TEST_SUITE_P(Runtimes, Suite, ::testing::ValuesIn(SimRuntimes()), RuntimeTestName)

// The name the component gives the node of fullName in the running application: the
// host's node name, or, where the host gives none, the last part of the full name (an
// element's indices, "[2]"; else what follows the last dot).
std::string ComponentName(const std::string& fullName);

// The tree the index should hand out for the variable fullName, made from the simulated
// application's own model with a node for every member and element: the host's
// addresses, sizes, classes and the component's names. A name in `unknown` gives a node
// the host did not resolve (no class, no address, no name, no children).
std::shared_ptr<CVariable> ReferenceTree(const std::string& fullName,
                                         const std::set<std::string>& unknown = {});

#endif  // TESTS_SUPPORT_RUNTIMEFIXTURE_H
