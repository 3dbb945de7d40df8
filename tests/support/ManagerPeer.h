// Test access to the manager's private state and operations. The manager names this
// class its friend; nothing outside the tests uses it.
#ifndef TESTS_SUPPORT_MANAGERPEER_H
#define TESTS_SUPPORT_MANAGERPEER_H

#include <memory>

#include "var/DomDriverMgr.h"

class CDomDriverMgrTestPeer {
   public:
    static CDomDriverMgr* manager() { return CDomDriverMgr::instance(); }

    static std::atomic<bool>& downloadFinish() { return manager()->bDownloadFinish; }
    static std::atomic<bool>& downloadDone() { return manager()->bDownloadDone; }
    static std::atomic<bool>& onlineChange() { return manager()->bOnlineChange; }
    static std::atomic<bool>& loadCompleted() { return manager()->loadCompleted; }
    static pthread_t& loaderThread() { return manager()->thrd_; }
    static CDomDriverMgr::vec_vars& roots() { return manager()->p_vec_vars; }
    static std::string& pendingKey() { return manager()->lastaddkey; }
    static bool& isKeySet() { return manager()->isKeySet; }

    static bool DumpAll() { return manager()->DumpAll(); }
    static void MapAll() { return manager()->MapAll(); }

    // Puts a hand-built node into the address index and marks the index complete, as a
    // finished load would.
    static void PublishNode(const std::shared_ptr<CVariable>& node) {
        {
            std::lock_guard<CIndexLock> lock(manager()->mtx);
            manager()->map_addr_vars[node->var_addr_] = node;
        }
        manager()->bDownloadDone.store(true);
    }
};

#endif  // TESTS_SUPPORT_MANAGERPEER_H
