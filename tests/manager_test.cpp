// The manager singleton: creation from concurrent first callers, defaults, clear().
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "var/DomDriverMgr.h"

TEST(ManagerSingleton, ConcurrentFirstCallersGetTheSameInstance) {
    std::vector<CDomDriverMgr*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = CDomDriverMgr::instance(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_NE(nullptr, seen[0]);
    for (CDomDriverMgr* manager : seen) {
        EXPECT_EQ(seen[0], manager);
    }
}

TEST(ManagerSingleton, StartsWithDefaultsThatClearLeavesAlone) {
    CDomDriverMgr* manager = CDomDriverMgr::instance();
    EXPECT_FALSE(manager->loadCompletedState());
    EXPECT_EQ(30, manager->loader().Status().priority);
    EXPECT_EQ(0, manager->loader().Status().processor);
    manager->clear();
    manager->clear();  // clearing an empty manager changes nothing
    EXPECT_EQ(30, manager->loader().Status().priority);
    EXPECT_EQ(0, manager->loader().Status().processor);
    EXPECT_FALSE(manager->loadCompletedState());
    EXPECT_TRUE((manager->writers().Size() == 0));
    EXPECT_EQ(0u, manager->index().Size());
}
