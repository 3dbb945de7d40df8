// Test access to the manager's private state and operations. The manager names this
// class its friend; nothing outside the tests uses it.
#ifndef TESTS_SUPPORT_MANAGERPEER_H
#define TESTS_SUPPORT_MANAGERPEER_H

#include <memory>
#include <shared_mutex>
#include <string>

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

    // Writer instance states.
    static size_t writerCount() { return manager()->writers_.Size(); }
    // True when no writer call is in flight (no lock of the writer states is held).
    static bool writerLocksFree() {
        const CSharedCounterLock& lock = manager()->writers_.mutex_;
        return lock.readers_.load() == 0 && !lock.exclusive_.load();
    }
    // The text of an instance's document as a read-out gives it, without a log entry.
    static std::string writerText(fb_jsonsaxwriter_struct* instance) {
        std::string text = "<no document>";
        manager()->writers_.With(instance, false, [&text](CJsonWriter& writer) {
            writer.Read([&text](const char* bytes, size_t length) { text.assign(bytes, length); });
        });
        return text;
    }
    // Bytes one writer document may hold; returns the previous cap.
    static size_t setDocumentMemoryCap(size_t bytes) { return CJsonWriter::s_memoryCap.exchange(bytes); }

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
