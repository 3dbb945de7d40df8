// Test access to the manager's private state and operations. The manager names this
// class its friend; nothing outside the tests uses it.
#ifndef TESTS_SUPPORT_MANAGERPEER_H
#define TESTS_SUPPORT_MANAGERPEER_H

#include <memory>
#include <string>

#include "var/DomDriverMgr.h"

class CDomDriverMgrTestPeer {
   public:
    static CDomDriverMgr* manager() { return CDomDriverMgr::instance(); }

    static CSymbolIndex& index() { return manager()->index_; }
    static std::atomic<bool>& downloadFinish() { return index().bDownloadFinish_; }
    static std::atomic<bool>& downloadDone() { return index().bDownloadDone_; }
    static std::atomic<bool>& onlineChange() { return index().bOnlineChange_; }
    static std::atomic<bool>& loadCompleted() { return index().loadCompleted_; }
    static pthread_t& loaderThread() { return index().thrd_; }
    static CSymbolIndex::vec_vars& roots() { return index().p_vec_vars_; }
    static int32_t& schedPriority() { return index().load_SchedPriority_; }
    static int32_t& schedAffinity() { return index().load_SchedAffinity_; }

    // The index lock, for tests that hold it as a call in flight would.
    static CIndexLock& indexLock() { return index().mtx_; }
    static CIndexLock& variableLock(const void* address) { return index().variableLock(address); }

    // A copy of the address index, taken under its lock.
    static CSymbolIndex::addr_vars indexEntries() {
        CSharedLock<CIndexLock> lock(index().mtx_);
        return index().map_addr_vars_;
    }
    static size_t indexSize() { return index().Size(); }
    // The node indexed at address; null when there is none.
    static std::shared_ptr<CVariable> indexed(const void* address) {
        CSharedLock<CIndexLock> lock(index().mtx_);
        auto entry = index().map_addr_vars_.find(const_cast<void*>(address));
        return entry == index().map_addr_vars_.end() ? nullptr : entry->second;
    }
    // Empties the index (the nodes are freed after the lock is released).
    static void dropIndex() { index().DropIndex(); }

    // Writer instance states.
    static size_t writerCount() { return manager()->writers_.Size(); }
    // True when no writer call is in flight (no lock of the writer states is held).
    static bool writerLocksFree() { return manager()->writers_.mutex_.Idle(); }
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
    static void AddToMap(const std::shared_ptr<CVariable>& node) { manager()->AddToMap(node); }

    // Puts a hand-built node into the address index and marks the index complete, as a
    // finished load would.
    static void PublishNode(const std::shared_ptr<CVariable>& node) {
        {
            CExclusiveLock<CIndexLock> lock(index().mtx_);
            index().map_addr_vars_[node->var_addr_] = node;
        }
        index().bDownloadDone_.store(true);
    }
};

#endif  // TESTS_SUPPORT_MANAGERPEER_H
