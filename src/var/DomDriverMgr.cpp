// Manager core: creation of the single instance, the loader facade and clearing.
#include "var/DomDriverMgr.h"

CDomDriverMgr* CDomDriverMgr::m_instance_ = nullptr;
std::once_flag CDomDriverMgr::m_once_;

CDomDriverMgr::CDomDriverMgr() = default;

// Nothing in the component runs this: the instance lives until the process ends.
// The parts release their state one after the other, never holding two locks.
CDomDriverMgr::~CDomDriverMgr() { writers_.Clear(); }

void CDomDriverMgr::getInstance() { m_instance_ = new CDomDriverMgr(); }

CDomDriverMgr* CDomDriverMgr::instance() {
    std::call_once(m_once_, &CDomDriverMgr::getInstance);
    return m_instance_;
}

bool CDomDriverMgr::loadCompletedState() { return index_.LoadCompleted(); }

void CDomDriverMgr::PrepareOnlineChange() { index_.PrepareOnlineChange(); }

// Configuration hook: the scheduling fields keep their defaults.
void CDomDriverMgr::loadConfig() {}

void CDomDriverMgr::BeginLoadSymbols() { index_.BeginLoad(); }

void CDomDriverMgr::EndLoadSymbols() { index_.EndLoad(); }

void CDomDriverMgr::LoadSymbols() { index_.Load(); }

void CDomDriverMgr::clear() {
    index_.DropRoots();
    // Waits for the writer calls in flight, then drops every instance's state.
    writers_.Clear();
    index_.DropIndex();
    readers_.clear();  // every reader instance loses its document, as the writers do
}
