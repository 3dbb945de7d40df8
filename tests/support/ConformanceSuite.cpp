#include "support/ConformanceSuite.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

std::string ConformanceSuiteDirectory() {
    const char* shared = std::getenv("ZENTRIK_SHARED_DIR");
    return std::string(shared != nullptr ? shared : ZENTRIK_SHARED_DIR) + "/data/jsontestsuite/test_parsing";
}

namespace {

void* RunFunction(void* fn) {
    (*static_cast<std::function<void()>*>(fn))();
    return nullptr;
}

std::string Bytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The files of a folder; a test failure when it cannot be read or holds none.
std::vector<std::filesystem::path> FilesOf(const std::filesystem::path& folder, const char* hint = "") {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        files.push_back(entry->path());
    }
    if (error || files.empty()) {
        ADD_FAILURE() << "cannot read " << folder << hint;
    }
    return files;
}

}  // namespace

std::vector<SuiteText> ReadConformanceSuite() {
    std::vector<SuiteText> texts;
    for (const std::filesystem::path& path :
         FilesOf(ConformanceSuiteDirectory(), " (set ZENTRIK_SHARED_DIR to the shared directory)")) {
        texts.push_back({path.filename().string(), Bytes(path)});
    }
    return texts;
}

std::vector<SuiteText> ReadFuzzCorpusTexts() {
    const std::filesystem::path corpus = std::filesystem::path(ZENTRIK_SOURCE_DIR) / "fuzz" / "corpus";
    std::vector<SuiteText> texts;
    for (const std::filesystem::path& path : FilesOf(corpus / "json_to_variable")) {
        texts.push_back({"json_to_variable/" + path.filename().string(), Bytes(path)});
    }
    for (const std::filesystem::path& path : FilesOf(corpus / "reader_sequence")) {
        const std::string input = Bytes(path);
        const size_t length = input.size() < 2
                                  ? 0
                                  : static_cast<unsigned char>(input[0]) |
                                        static_cast<size_t>(static_cast<unsigned char>(input[1])) << 8;
        texts.push_back({"reader_sequence/" + path.filename().string(),
                         input.substr(std::min<size_t>(2, input.size()), length)});
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
