// Common pieces of the fuzz targets.
//
// Every fuzz/<name>_fuzzer.cpp defines one entry function and names it with
// ZENTRIK_FUZZ_TARGET(name, Function). The same source is compiled twice:
// - as a libFuzzer executable (fuzz/CMakeLists.txt): the macro defines
//   LLVMFuzzerTestOneInput, and a failed check prints what went wrong and aborts, which
//   libFuzzer reports as a crash and saves the input;
// - into the GoogleTest fuzz_regression_test, with ZENTRIK_FUZZ_REGRESSION defined: the
//   macro registers the entry function under its name, the test runs it over every file
//   of fuzz/corpus/<name>/, and a failed check throws CFuzzCheckFailure instead, so the
//   test names the input that failed and goes on with the next.
//
// CFuzzInput reads typed values from the input bytes; past the end it yields zeros, so
// every input, however short, is a valid call sequence.
//
// Threads: a target runs on the thread that calls it, one input at a time.
#ifndef FUZZ_FUZZTARGET_H
#define FUZZ_FUZZTARGET_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

typedef int (*FuzzEntry)(const uint8_t* data, size_t size);

// A check of a fuzz target that did not hold (regression build only).
class CFuzzCheckFailure : public std::runtime_error {
   public:
    explicit CFuzzCheckFailure(const std::string& what) : std::runtime_error(what) {}
};

[[noreturn]] inline void FuzzCheckFailed(const char* file, int line, const std::string& what) {
    const std::string message = std::string(file) + ":" + std::to_string(line) + ": " + what;
#ifdef ZENTRIK_FUZZ_REGRESSION
    throw CFuzzCheckFailure(message);
#else
    std::fprintf(stderr, "fuzz check failed: %s\n", message.c_str());
    std::abort();
#endif
}

// Fails the input when `condition` is false; `what` (a std::string expression) is only
// built then.
#define FUZZ_CHECK(condition, what)                      \
    do {                                                 \
        if (!(condition)) {                              \
            FuzzCheckFailed(__FILE__, __LINE__, (what)); \
        }                                                \
    } while (0)

struct FuzzTargetEntry {
    const char* name;  // also the folder of its corpus: fuzz/corpus/<name>/
    FuzzEntry entry;
};

// The targets linked into this program, in registration order.
inline std::vector<FuzzTargetEntry>& FuzzTargets() {
    static std::vector<FuzzTargetEntry> s_targets;
    return s_targets;
}

inline bool RegisterFuzzTarget(const char* name, FuzzEntry entry) {
    FuzzTargets().push_back(FuzzTargetEntry{name, entry});
    return true;
}

#ifdef ZENTRIK_FUZZ_REGRESSION
#define ZENTRIK_FUZZ_TARGET(name, function) \
    static const bool s_registered_##name = RegisterFuzzTarget(#name, function)
#else
#define ZENTRIK_FUZZ_TARGET(name, function)                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return function(data, size); } \
    static_assert(true, "")
#endif

// Typed reads from the fuzz input, front to back.
class CFuzzInput {
   public:
    CFuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    // `count` bytes, fewer when the input ends first.
    std::string bytes(size_t count) {
        const size_t n = count < size_ - pos_ ? count : size_ - pos_;
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }

    // The raw bytes of a T (zeros past the end).
    template <typename T>
    T raw() {
        unsigned char buffer[sizeof(T)] = {};
        for (size_t i = 0; i < sizeof(T); ++i) {
            buffer[i] = byte();
        }
        T value;
        std::memcpy(&value, buffer, sizeof(T));
        return value;
    }

   private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

#endif  // FUZZ_FUZZTARGET_H
