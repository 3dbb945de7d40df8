// The reader block under several tasks: tasks on their own instances, a parse and reads
// on one shared instance, and clear() while tasks read. Run under ThreadSanitizer too.
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/ComponentFixture.h"
#include "support/ReaderCalls.h"
#include "var/DomDriverMgr.h"

namespace {

constexpr int kRounds = 300;

// A document that names its task and round everywhere, so a read that saw another
// task's document, or half of one, shows.
std::string Document(int task, int round) {
    const std::string tag = std::to_string(task) + ":" + std::to_string(round);
    std::string items;
    for (int i = 0; i <= round % 7; ++i) {
        items += std::string(i == 0 ? "" : ",") + "\"" + tag + "\"";
    }
    return R"({"task":)" + std::to_string(task) + R"(,"round":)" + std::to_string(round) + R"(,"items":[)" +
           items + R"(],"tail":")" + tag + "\"}";
}

class ReaderConcurrencyTest : public ComponentTest {};

TEST_F(ReaderConcurrencyTest, TasksOnTheirOwnInstances) {
    constexpr int kTasks = 8;
    std::vector<CReaderCalls> readers(kTasks);
    std::atomic<int> failures{0};
    std::vector<std::thread> tasks;
    for (int t = 0; t < kTasks; ++t) {
        tasks.emplace_back([t, &readers, &failures] {
            CReaderCalls& reader = readers[t];
            for (int round = 0; round < kRounds; ++round) {
                const std::string text = Document(t, round);
                const bool ok = reader.parse(text).Parse == 1 && reader.getDint("/task", -1).value == t &&
                                reader.getDint("/round", -1).value == round &&
                                reader.size("/items") == round % 7 + 1 && reader.raw("") == text;
                failures += ok ? 0 : 1;
            }
        });
    }
    for (std::thread& task : tasks) {
        task.join();
    }
    EXPECT_EQ(0, failures.load());
    EXPECT_TRUE(logTexts().empty());
}

TEST_F(ReaderConcurrencyTest, AReadOnASharedInstanceSeesAWholeDocument) {
    CReaderCalls shared;
    ASSERT_EQ(1, shared.parse(Document(0, 0)).Parse);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread parser([&] {
        for (int round = 1; !done.load(); ++round) {
            shared.parse(Document(0, round));
        }
    });
    std::thread reader([&] {
        for (int i = 0; i < kRounds * 4; ++i) {
            // One raw read is one document: its round, its items and its tail agree.
            const ReaderText read = shared.getRaw("", 4096);
            const std::string text = read.buffer.substr(0, read.length);
            const size_t at = text.find("\"round\":");
            const int round = at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 8);
            torn += text == Document(0, round) ? 0 : 1;
        }
        done = true;
    });
    parser.join();
    reader.join();
    EXPECT_EQ(0, torn.load());
}

TEST_F(ReaderConcurrencyTest, ClearWhileTasksReadAndParse) {
    constexpr int kTasks = 4;
    std::vector<CReaderCalls> readers(kTasks);
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> tasks;
    for (int t = 0; t < kTasks; ++t) {
        tasks.emplace_back([t, &readers, &done, &wrong] {
            CReaderCalls& reader = readers[t];
            for (int round = 0; !done.load(); ++round) {
                reader.parse(Document(t, round));
                // Either the document just parsed, or none when a clear() came between.
                const RTS_IEC_DINT task = reader.getDint("/task", -1).value;
                const std::string tail = reader.getString("/tail", 32).buffer;
                wrong += (task == t || task == -1) ? 0 : 1;
                wrong += (tail[0] == '\0' || tail.compare(0, 2, std::to_string(t) + ":") == 0) ? 0 : 1;
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        CDomDriverMgr::instance()->clear();
        std::this_thread::yield();
    }
    done = true;
    for (std::thread& task : tasks) {
        task.join();
    }
    EXPECT_EQ(0, wrong.load());
    CDomDriverMgr::instance()->clear();
    for (CReaderCalls& reader : readers) {
        EXPECT_EQ(0, reader.kind(""));  // no instance keeps a document past clear()
    }
}

}  // namespace
