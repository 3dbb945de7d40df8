// Test access to the manager's single instance and its parts. Everything goes through the
// parts' public interfaces, except the loader's life-cycle state (its flags, thread,
// roots, its mode of walking arrays and the hook on its steps), which the symbol index
// lets this class see: tests of the loader observe the singleton's life cycle through
// them.
#ifndef TESTS_SUPPORT_MANAGERPEER_H
#define TESTS_SUPPORT_MANAGERPEER_H

#include <functional>
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
    // While true, loads walk every element of every array as a node of its own.
    static std::atomic<bool>& expandEveryElement() { return index().expandEveryElement_; }
    // Called by the loader thread at each step of a load; set it while no loader runs.
    static std::function<void(CSymbolIndex::ELoadStep)>& loadStepHook() { return index().loadStepHook_; }
    static int32_t& schedPriority() { return index().load_SchedPriority_; }
    static int32_t& schedAffinity() { return index().load_SchedAffinity_; }

    // The index lock, for tests that hold it as a call in flight would.
    static CIndexLock& indexLock() { return index().mtx_; }
    // The lock a call on the variable at address takes.
    static const CIndexLock* variableLock(const void* address) { return index().LockOf(address); }

    static size_t indexSize() { return index().Size(); }
    // What the index resolves at address (the null address included, whatever the ready
    // flag says) as a tree of its own with a node for every element: addresses shifted,
    // names formed, bounds kept. Null when nothing is found there.
    static std::shared_ptr<CVariable> indexed(const void* address) {
        std::shared_ptr<CVariable> copy;
        index().Inspect(address, [&copy](CVariableView view) { copy = Materialize(view); });
        return copy;
    }
    static std::shared_ptr<CVariable> Materialize(CVariableView view) {
        auto node = std::make_shared<CVariable>();
        node->varType_ = view.type();
        node->size_ = view.size();
        node->var_addr_ = view.address();
        node->symbol_nodename_ = view.name();
        if (view.dimensionCount() > 0) {
            node->bounds_.reset(new CVariable::CArrayBounds());
            node->bounds_->count = view.dimensionCount();
            node->bounds_->elements = 1;
            for (size_t d = 0; d < view.dimensionCount(); ++d) {
                const int32_t lowest = view.lowestIndex(d);
                node->bounds_->dimension[d] =
                    CVariable::CBounds{lowest, static_cast<int32_t>(lowest + int64_t(view.extent(d)) - 1)};
                node->bounds_->elements *= view.extent(d);
            }
        }
        for (size_t i = 0; i < view.childCount(); ++i) {
            const CVariableView child = view.child(i);
            node->childVec_.push_back(child ? Materialize(child) : nullptr);
        }
        return node;
    }
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

    // Puts a hand-built tree into the address index after the trees published so far and
    // marks the index complete, as a finished load would.
    static void PublishNode(const std::shared_ptr<CVariable>& node) { index().Publish(node); }
};

#endif  // TESTS_SUPPORT_MANAGERPEER_H
