// Test support: zentrik-host run as a user runs it, the built program with the built
// library, with its exit code and what it wrote to stdout and stderr.
#ifndef TESTS_SUPPORT_HOSTPROCESS_H
#define TESTS_SUPPORT_HOSTPROCESS_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

// A small application the host tests share: one structure variable, App.Globals.cell.
inline const char kCellApplication[] = R"(
    TYPE ST_Cell : STRUCT
        count : DINT := 1;
        label : STRING(20) := 'start';
        limits : ARRAY[0..1] OF LREAL;
    END_STRUCT END_TYPE
    VAR_GLOBAL cell : ST_Cell; END_VAR
)";

struct HostRunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
}

// Runs zentrik-host with args in the directory `scratch`, which also receives its
// captured output; standard input comes from the file `input`.
inline HostRunResult RunZentrikHost(std::vector<std::string> args, const std::string& scratch,
                                    const std::string& input = "/dev/null") {
    args.insert(args.begin(), ZENTRIK_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    std::string out = scratch + "/stdout", err = scratch + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    HostRunResult result;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadWholeFile(out);
    result.err = ReadWholeFile(err);
    return result;
}

// A scratch directory for one test, removed afterwards.
class ScratchDirectoryTest : public ::testing::Test {
   protected:
    void SetUp() override {
        char pattern[] = "/tmp/zentrik-host-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(0, std::system(command.c_str()));
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    HostRunResult run(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
        return RunZentrikHost(args, dir_, input);
    }

    std::string dir_;
};

#endif  // TESTS_SUPPORT_HOSTPROCESS_H
