// Every fuzz target, run over every file of its corpus folder fuzz/corpus/<name>/: the
// seed inputs and each crash input kept from a fuzzing run. The targets are compiled
// into this test without libFuzzer (ZENTRIK_FUZZ_REGRESSION), so the inputs run in the
// plain and sanitizer builds too; a failed check of a target fails the test with the
// input's file name and the target's own message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "FuzzTarget.h"

// Test names and failures show the target by its name.
void PrintTo(const FuzzTargetEntry& target, std::ostream* os) { *os << target.name; }

namespace {

namespace fs = std::filesystem;

const fs::path kFuzzDir = fs::path(ZENTRIK_SOURCE_DIR) / "fuzz";

std::vector<fs::path> CorpusFiles(const std::string& target) {
    std::vector<fs::path> files;
    const fs::path folder = kFuzzDir / "corpus" / target;
    if (fs::is_directory(folder)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new fuzz/<name>_fuzzer.cpp that forgot ZENTRIK_FUZZ_TARGET(<name>, ...) would
// otherwise never run here.
TEST(FuzzRegression, EveryTargetSourceIsRegisteredUnderItsName) {
    std::set<std::string> sources;
    for (const fs::directory_entry& entry : fs::directory_iterator(kFuzzDir)) {
        const std::string file = entry.path().filename().string();
        const std::string suffix = "_fuzzer.cpp";
        if (file.size() > suffix.size() &&
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
            sources.insert(file.substr(0, file.size() - suffix.size()));
        }
    }
    std::set<std::string> registered;
    for (const FuzzTargetEntry& target : FuzzTargets()) {
        registered.insert(target.name);
    }
    EXPECT_FALSE(sources.empty());
    EXPECT_EQ(sources, registered);
}

class FuzzCorpus : public ::testing::TestWithParam<FuzzTargetEntry> {};

TEST_P(FuzzCorpus, EveryKeptInputPasses) {
    const FuzzTargetEntry& target = GetParam();
    const std::vector<fs::path> files = CorpusFiles(target.name);
    ASSERT_FALSE(files.empty()) << "no inputs in fuzz/corpus/" << target.name;
    for (const fs::path& file : files) {
        const std::vector<uint8_t> input = ReadFile(file);
        try {
            target.entry(input.data(), input.size());
        } catch (const std::exception& failure) {
            ADD_FAILURE() << file.filename().string() << ": " << failure.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus, ::testing::ValuesIn(FuzzTargets()),
                         [](const ::testing::TestParamInfo<FuzzTargetEntry>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
