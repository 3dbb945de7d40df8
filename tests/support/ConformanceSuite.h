// The public JSON parsing test suite kept with the tests, the texts of the fuzz corpus,
// and the small-stack runner that the parsing tests share: every parser of the component must hold its
// verdicts and its depth on a stack as small as an IEC task's.
#ifndef TESTS_SUPPORT_CONFORMANCESUITE_H
#define TESTS_SUPPORT_CONFORMANCESUITE_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Bytes of stack an IEC task typically has.
constexpr size_t kTaskStack = 256 * 1024;

struct SuiteText {
    std::string name;   // file name: y_ accepted, n_ refused, i_ either
    std::string bytes;  // the whole file
};

// The folder of the suite's texts.
std::string ConformanceSuiteDirectory();

// Every text of the suite; adds a test failure when the folder cannot be read. The
// environment variable ZENTRIK_SHARED_DIR may point at another copy.
std::vector<SuiteText> ReadConformanceSuite();

// The JSON texts of the fuzz targets' kept inputs: every input of the JSON-to-variable
// target (a text each) and the first text of every input of the reader's (after its two
// length bytes), named "<target>/<file>".
std::vector<SuiteText> ReadFuzzCorpusTexts();

// Runs fn on a new thread whose stack is stackSize bytes, and waits for it.
void RunOnStack(size_t stackSize, std::function<void()> fn);

// piece, times times over.
std::string Repeat(const std::string& piece, size_t times);

#endif  // TESTS_SUPPORT_CONFORMANCESUITE_H
