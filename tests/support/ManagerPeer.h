// Test access to the manager's single instance and its parts. Everything goes through the
// parts' public interfaces, except the loader's life-cycle state (its flags, thread and
// roots), which the symbol index lets this class see: tests of the loader observe the
// singleton's life cycle through them.
#ifndef TESTS_SUPPORT_MANAGERPEER_H
#define TESTS_SUPPORT_MANAGERPEER_H

#include <memory>
#include <string>

#include "var/DomDriverMgr.h"

class CDomDriverMgrTestPeer {
   public:
    static CDomDriverMgr* manager() { return CDomDriverMgr::instance(); }

    static CSymbolIndex& index() { return manager()->index(); }
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
    // The lock a call on the variable at address takes.
    static const CIndexLock* variableLock(const void* address) { return index().LockOf(address); }

    static CSymbolIndex::addr_vars indexEntries() { return index().Entries(); }
    static size_t indexSize() { return index().Size(); }
    static std::shared_ptr<CVariable> indexed(const void* address) { return index().Find(address); }
    static void dropIndex() { index().DropIndex(); }

    // Writer instance states.
    static size_t writerCount() { return manager()->writers().Size(); }
    // True when no writer call is in flight (no lock of the writer states is held).
    static bool writerLocksFree() { return manager()->writers().Idle(); }
    // The text of an instance's document as a read-out gives it, without a log entry.
    static std::string writerText(fb_jsonsaxwriter_struct* instance) {
        std::string text = "<no document>";
        manager()->writers().With(instance, false, [&text](CJsonWriter& writer) {
            writer.Read([&text](const char* bytes, size_t length, uint32_t) { text.assign(bytes, length); });
        });
        return text;
    }

    static bool DumpAll() { return index().DumpAll(); }
    static void MapAll() { index().MapAll(); }
    // Indexes one node as a load does, with the lock of the variable at root.
    static void AddToMap(const std::shared_ptr<CVariable>& node, const void* root) {
        index().AddToMap(node, root);
    }

    // Puts a hand-built tree into the address index and marks the index complete, as a
    // finished load would.
    static void PublishNode(const std::shared_ptr<CVariable>& node) { index().Publish(node); }
};

#endif  // TESTS_SUPPORT_MANAGERPEER_H
