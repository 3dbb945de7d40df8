// Manager core: creation of the single instance, its defaults and its clearing.
#include "var/DomDriverMgr.h"

CDomDriverMgr* CDomDriverMgr::m_instance_ = nullptr;
std::once_flag CDomDriverMgr::m_once_;

CDomDriverMgr::CDomDriverMgr() = default;

// Nothing in the component runs this: the instance lives until the process ends.
// Like clear(), it never holds both locks at once.
CDomDriverMgr::~CDomDriverMgr() {
    if (thrd_ == 0) {
        p_vec_vars.clear();
    }
    writers_.Clear();
    addr_vars dropped;  // the nodes are freed after the lock is released
    {
        std::lock_guard<CIndexLock> lock(mtx);
        dropped.swap(map_addr_vars);
    }
}

void CDomDriverMgr::getInstance() { m_instance_ = new CDomDriverMgr(); }

CDomDriverMgr* CDomDriverMgr::instance() {
    std::call_once(m_once_, &CDomDriverMgr::getInstance);
    return m_instance_;
}

bool CDomDriverMgr::loadCompletedState() { return loadCompleted.load(); }

void CDomDriverMgr::PrepareOnlineChange() { bOnlineChange.store(true); }

// Configuration hook: the scheduling fields keep their constructor defaults.
void CDomDriverMgr::loadConfig() {}

// Called at the start of every load and whenever the walk sees an online change.
void CDomDriverMgr::SleepEvent() {}

void CDomDriverMgr::clear() {
    // A live loader thread owns the root list until it is joined; a loader that has
    // finished its load has already emptied it.
    if (thrd_ == 0) {
        p_vec_vars.clear();
    }
    // Waits for the writer calls in flight, then drops every instance's state.
    writers_.Clear();
    addr_vars dropped;  // the nodes are freed after the lock is released
    {
        std::lock_guard<CIndexLock> lock(mtx);
        dropped.swap(map_addr_vars);
    }
    readers_.clear();  // every reader instance loses its document, as the writers do
}
