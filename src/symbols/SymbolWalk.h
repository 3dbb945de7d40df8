// CSymbolWalk: turns the host's symbol table of the first application into trees of
// CVariable nodes, one root per top-level variable (SymbolWalk.cpp tells how).
//
// Owned by the loader (CSymbolLoader), which runs it on its thread and hands the roots it
// made to the address index. The stop request and the online-change flag are the
// loader's; the walk reads the stop request before every host call and ends within one
// host call of it.
//
// Threads: Run and the roots belong to the thread that runs the walk; RootCount may be
// read from any thread. No lock is taken and no lock is held across a host call.
#ifndef SYMBOLS_SYMBOLWALK_H
#define SYMBOLS_SYMBOLWALK_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "CmpStd.h"
#include "IecVarAccess_ItfsItf.h"
#include "symbols/AddressIndex.h"
#include "var/Variable.h"

class CSymbolWalk {
   public:
    typedef CAddressIndex::CRoots CRoots;

    CSymbolWalk(const std::atomic<bool>& stopRequested, std::atomic<bool>& onlineChange)
        : bDownloadFinish_(stopRequested), bOnlineChange_(onlineChange) {}
    CSymbolWalk(const CSymbolWalk&) = delete;
    CSymbolWalk& operator=(const CSymbolWalk&) = delete;

    // Walks the first application and appends a root per top-level variable. True when
    // the application was found with a name and walked, also when a stop cut the walk
    // short afterwards; false when a stop came first or the application has no name.
    bool Run();

    // The roots made and not yet taken, in walk order.
    CRoots TakeRoots();
    void DropRoots();
    size_t RootCount() const { return rootCount_.load(); }

   private:
    // Every host call of the walk runs through Step: false, and call() not run, when a
    // stop was requested; false too when one came during the call, so no caller looks at
    // a host result after a stop.
    template <typename Call>
    bool Step(Call call);
    // Called at the start of every load and whenever the walk sees an online change.
    void SleepEvent() {}

    bool ExpandRoot(RTS_HANDLE hRootNode, RTS_HANDLE hInterface);
    bool ExpandTree(RTS_HANDLE hInterface, RTS_HANDLE hNode);
    // Loads var (which stands in its parent's list, or among the roots) by its full name
    // and expands its members or elements below it.
    bool ExpandNode(CVariable& var, const char* szName);
    bool ExpandArray(CVariable& var, const char* szName, RTS_HANDLE hInterface, RTS_HANDLE hTypeNode,
                     RTS_SIZE arraySize);
    bool ExpandStructure(CVariable& var, const char* szName, RTS_HANDLE hInterface, RTS_HANDLE hTypeNode);
    // An array whose first element has been walked keeps it as the layout of all when
    // the host's answers fit the arithmetic; false when a stop came.
    bool KeepFirstElement(CVariable& array, const char* szName, RTS_SIZE arraySize, bool& kept);
    // fullSize, when given, receives the size the host reports, uncut.
    bool LoadNode(CVariable& variable, const char* szName, RTS_SIZE* fullSize = nullptr);

    const std::atomic<bool>& bDownloadFinish_;
    std::atomic<bool>& bOnlineChange_;
    CRoots p_vec_vars_;
    std::atomic<size_t> rootCount_{0};
};

#endif  // SYMBOLS_SYMBOLWALK_H
