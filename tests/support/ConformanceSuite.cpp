#include "support/ConformanceSuite.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string ConformanceSuiteDirectory() {
    const char* shared = std::getenv("ZENTRIK_SHARED_DIR");
    return std::string(shared != nullptr ? shared : ZENTRIK_SHARED_DIR) + "/data/jsontestsuite/test_parsing";
}

namespace {

void* RunFunction(void* fn) {
    (*static_cast<std::function<void()>*>(fn))();
    return nullptr;
}

}  // namespace

std::vector<SuiteText> ReadConformanceSuite() {
    std::vector<SuiteText> texts;
    std::error_code error;
    std::filesystem::directory_iterator directory(ConformanceSuiteDirectory(), error);
    if (error) {
        ADD_FAILURE() << "cannot read " << ConformanceSuiteDirectory() << ": " << error.message()
                      << " (set ZENTRIK_SHARED_DIR to the shared directory)";
        return texts;
    }
    for (const auto& entry : directory) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        texts.push_back({entry.path().filename().string(), bytes.str()});
    }
    return texts;
}

void RunOnStack(size_t stackSize, std::function<void()> fn) {
    pthread_attr_t attr;
    ASSERT_EQ(0, pthread_attr_init(&attr));
    ASSERT_EQ(0, pthread_attr_setstacksize(&attr, stackSize));
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(&thread, &attr, &RunFunction, &fn));
    pthread_attr_destroy(&attr);
    ASSERT_EQ(0, pthread_join(thread, nullptr));
}

std::string Repeat(const std::string& piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}
