// Symbol walk: turns the host's symbol table of the first application into trees of
// CVariable nodes, one root per top-level variable.
//
// Browsing goes down branch nodes and turns every variable node into a root. Members
// and elements below a variable are not browsed: they come from the variable's type
// description and are looked up one by one through the host by the full names formed
// here. Before every host call the walk reads the stop request, so it ends within one
// host call of EndLoadSymbols. Everything here runs on the loader thread and takes no
// lock; the loader thread may be cancelled inside any host call.
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "RV5072_Zentrik/HostImports.h"
#include "var/DomDriverMgr.h"

namespace {

constexpr RTS_SIZE kPathBufferSize = 256;
constexpr RTS_SIZE kMemberNameBufferSize = 512;
constexpr RTS_UI16 kNodeBranch = IECVARACC_NODE_BRANCH;
constexpr RTS_UI16 kNodeVariable = IECVARACC_NODE_VARIABLE;

// A host variable-information record that is released on every way out of the scope,
// a cancellation of the loader thread included. The release runs with cancellation
// disabled: it may run during the forced unwind of a cancellation, inside a destructor
// that must not be left by a second unwind.
class CVarInfoRecord {
   public:
    CVarInfoRecord() { std::memset(&info_, 0, sizeof(info_)); }
    ~CVarInfoRecord() {
        if (open_) {
            int oldState = 0;
            pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
            pfIecVarAccExitVarInfo(&info_);
            pthread_setcancelstate(oldState, nullptr);
        }
    }
    CVarInfoRecord(const CVarInfoRecord&) = delete;
    CVarInfoRecord& operator=(const CVarInfoRecord&) = delete;

    // Prepares the record; false when the host refuses.
    bool open() {
        open_ = pfIecVarAccInitVarInfo(&info_, sizeof(info_)) == ERR_OK;
        return open_;
    }
    VariableInformationStruct3* get() { return &info_; }

   private:
    VariableInformationStruct3 info_;
    bool open_ = false;
};

// Member handles of a structure's type description, released on every way out.
class CMemberHandles {
   public:
    ~CMemberHandles() { delete[] handles_; }
    // Zero-filled room for `count` handles; false when no memory can be had.
    bool allocate(RTS_I32 count) {
        if (count <= 0) {
            return true;
        }
        handles_ = new (std::nothrow) RTS_HANDLE[static_cast<size_t>(count)]();
        count_ = handles_ != nullptr ? count : 0;
        return handles_ != nullptr;
    }
    RTS_HANDLE* data() { return handles_; }
    RTS_I32 count() const { return count_; }

   private:
    RTS_HANDLE* handles_ = nullptr;
    RTS_I32 count_ = 0;
};

}  // namespace

bool CDomDriverMgr::DumpAll() {
    if (bDownloadFinish) {
        return false;
    }
    RTS_HANDLE hInterface = pfIecVarAccGetFirstInterface(nullptr);
    if (bDownloadFinish) {
        return false;
    }
    char applicationName[kPathBufferSize] = {0};
    if (pfIecVarAccGetApplicationName(hInterface, applicationName, sizeof(applicationName)) != ERR_OK) {
        return false;
    }
    if (bDownloadFinish) {
        return false;
    }
    RTS_RESULT result = ERR_OK;
    RTS_HANDLE hRootNode = pfIecVarAccBrowseGetRoot(hInterface, &result);
    ExpandRoot(hRootNode, hInterface);
    return true;
}

bool CDomDriverMgr::ExpandRoot(RTS_HANDLE hRootNode, RTS_HANDLE hInterface) {
    RTS_RESULT result = ERR_OK;
    RTS_HANDLE hNode = pfIecVarAccBrowseDown(hInterface, hRootNode, &result);
    if (result != ERR_OK) {
        return false;
    }
    char path[kPathBufferSize] = {0};
    for (;;) {
        pfIecVarAccGetNodeFullPath(hInterface, hNode, path, sizeof(path), &result);
        if (result != ERR_OK || bDownloadFinish) {
            return false;
        }
        // A stop below one node ends only that node's walk; the abort test decides
        // whether the walk goes on with the next node below the root.
        ExpandTree(hInterface, hRootNode, hNode);
        if (bDownloadFinish) {
            return false;
        }
        hNode = pfIecVarAccBrowseGetNext(hInterface, hNode, &result);
        if (result != ERR_OK) {
            return true;
        }
    }
}

bool CDomDriverMgr::ExpandTree(RTS_HANDLE hInterface, RTS_HANDLE hParentNode, RTS_HANDLE hNode) {
    (void)hParentNode;
    char path[kPathBufferSize] = {0};
    if (bDownloadFinish) {
        return false;
    }
    RTS_RESULT result = ERR_OK;
    RTS_UI16 kind = pfIecVarAccGetNodeType(hInterface, hNode, &result);
    pfIecVarAccGetNodeFullPath(hInterface, hNode, path, sizeof(path), &result);

    if (kind == kNodeBranch) {
        if (bDownloadFinish) {
            return false;
        }
        RTS_HANDLE hChildNode = pfIecVarAccBrowseDown(hInterface, hNode, &result);
        pfIecVarAccGetNodeFullPath(hInterface, hChildNode, path, sizeof(path), &result);
        if (result != ERR_OK) {
            return true;  // a branch without children
        }
        for (;;) {
            if (bDownloadFinish) {
                return false;
            }
            if (!ExpandTree(hInterface, hNode, hChildNode)) {
                return false;
            }
            if (bDownloadFinish) {
                return false;
            }
            hChildNode = pfIecVarAccBrowseGetNext(hInterface, hChildNode, &result);
            if (result != ERR_OK) {
                return true;
            }
        }
    }

    if (kind == kNodeVariable) {
        if (bDownloadFinish) {
            return false;
        }
        pfIecVarAccGetNodeFullPath(hInterface, hNode, path, sizeof(path), &result);
        if (bDownloadFinish) {
            return false;
        }
        auto pVar = std::make_shared<CVariable>();
        if (!ExpandNode(nullptr, pVar, path)) {
            return false;  // a cut-off root is dropped
        }
        p_vec_vars.push_back(pVar);
    }
    return true;
}

bool CDomDriverMgr::ExpandNode(const std::shared_ptr<CVariable>& pParent,
                               const std::shared_ptr<CVariable>& pVar, const char* szName) {
    if (bDownloadFinish) {
        return false;
    }
    if (bOnlineChange) {
        SleepEvent();
        bOnlineChange = false;
    }
    if (!LoadNode(pVar, szName)) {
        return false;
    }
    // Attached as soon as it is loaded, so children stand in the order they were made.
    if (pParent) {
        pParent->AddChild(pVar);
    }
    if (bDownloadFinish) {
        return false;
    }
    // Only arrays and structures are looked up a second time for their type.
    if (pVar->varType_ != TYPE3_ARRAY && pVar->varType_ != TYPE3_USERDEF) {
        return true;  // a leaf
    }
    CVarInfoRecord varInfo;
    if (!varInfo.open()) {
        return false;
    }
    if (bDownloadFinish) {
        return false;
    }
    RTS_RESULT result = ERR_OK;
    RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
    RTS_HANDLE hNode = pfIecVarAccGetNode3(szName, &hInterface, varInfo.get(), &result);

    char name[kMemberNameBufferSize] = {0};
    if (bDownloadFinish) {
        return false;
    }
    RTS_HANDLE hTypeNode = pfIecVarAccGetTypeNode3(hInterface, hNode, varInfo.get(), &result);
    TypeDescAsUnion typeDesc;
    std::memset(&typeDesc, 0, sizeof(typeDesc));
    if (bDownloadFinish) {
        return false;
    }

    if (pVar->varType_ == TYPE3_ARRAY) {
        if (pfIecVarAccGetTypeDesc(hInterface, hTypeNode, &typeDesc) != ERR_OK) {
            return true;  // stays a leaf
        }
        const RTS_I16 dimensions = typeDesc._union._array._iDimensions;
        if (dimensions < 1 || dimensions > 3) {
            return true;  // stays a leaf
        }
        ArrayDimension* range = typeDesc._union._array._Dimension;
        for (int unused = dimensions; unused < 3; ++unused) {
            range[unused].MinRange = 0;
            range[unused].MaxRange = 0;
        }
        // 64-bit counters, so a range ending at the largest 32-bit index terminates.
        for (int64_t i = range[0].MinRange; i <= range[0].MaxRange; ++i) {
            for (int64_t j = range[1].MinRange; j <= range[1].MaxRange; ++j) {
                for (int64_t k = range[2].MinRange; k <= range[2].MaxRange; ++k) {
                    if (dimensions == 1) {
                        snprintf(name, sizeof(name), "%s[%ld]", szName, static_cast<long>(i));
                    } else if (dimensions == 2) {
                        snprintf(name, sizeof(name), "%s[%ld,%ld]", szName, static_cast<long>(i),
                                 static_cast<long>(j));
                    } else {
                        snprintf(name, sizeof(name), "%s[%ld,%ld,%ld]", szName, static_cast<long>(i),
                                 static_cast<long>(j), static_cast<long>(k));
                    }
                    auto pChild = std::make_shared<CVariable>();
                    if (!ExpandNode(pVar, pChild, name)) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

    // Structure: the first description gives the member count, the second the handles.
    pfIecVarAccGetTypeDesc(hInterface, hTypeNode, &typeDesc);
    CMemberHandles members;
    if (!members.allocate(typeDesc._union._struct._iComponents)) {
        return false;
    }
    typeDesc._union._struct._Components = members.data();
    if (bDownloadFinish) {
        return false;
    }
    result = pfIecVarAccGetTypeDesc(hInterface, hTypeNode, &typeDesc);
    if (result != ERR_OK || typeDesc._union._struct._iComponents <= 0 || members.data() == nullptr) {
        return true;  // stays a leaf
    }
    // Never read more handles than were allocated, whatever count the host reports now.
    const RTS_I32 count = std::min(typeDesc._union._struct._iComponents, members.count());
    for (RTS_I32 index = 0; index < count; ++index) {
        if (bDownloadFinish) {
            return false;
        }
        const char* memberName = pfIecVarAccGetNodeName(hInterface, members.data()[index], &result);
        snprintf(name, sizeof(name), "%s.%s", szName, memberName != nullptr ? memberName : "");
        auto pChild = std::make_shared<CVariable>();
        if (!ExpandNode(pVar, pChild, name)) {
            return false;
        }
    }
    return true;
}

bool CDomDriverMgr::LoadNode(const std::shared_ptr<CVariable>& pVariable, const char* szName) {
    if (bDownloadFinish) {
        return false;
    }
    if (bOnlineChange) {
        SleepEvent();
        bOnlineChange = false;
    }
    RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
    RTS_HANDLE hInterface1 = RTS_INVALID_HANDLE;
    if (bDownloadFinish) {
        return false;
    }
    CVarInfoRecord varInfo;
    if (!varInfo.open()) {
        return false;
    }
    RTS_RESULT result = ERR_OK;
    if (bDownloadFinish) {
        return false;
    }
    RTS_HANDLE hNode = pfIecVarAccGetNode3(szName, &hInterface, varInfo.get(), &result);
    if (bDownloadFinish) {
        return false;
    }
    // A second lookup of the same name decides whether the host knows it.
    RTS_UINTPTR offset = 0;
    pfIecVarAccGetNode(szName, &offset, &hInterface1, &result);
    if (result != ERR_OK) {
        return true;  // unknown: the node stays as it was made
    }
    if (bDownloadFinish) {
        return false;
    }
    if (pfIecVarAccGetNodeType(hInterface, hNode, &result) != kNodeVariable) {
        return true;
    }
    if (bDownloadFinish) {
        return false;
    }
    const RTS_SIZE size = pfIecVarAccGetSize3(hInterface, hNode, varInfo.get(), &result);
    if (bDownloadFinish) {
        return false;
    }
    const TypeClass3 typeClass = pfIecVarAccGetTypeClass3(hInterface, hNode, varInfo.get(), &result);
    if (bDownloadFinish) {
        return false;
    }
    RTS_UI8* address = pfIecVarAccGetAddress3(hInterface, hNode, varInfo.get(), &result);
    if (bDownloadFinish) {
        return false;
    }
    const char* nodeName = pfIecVarAccGetNodeName(hInterface, hNode, &result);
    if (bDownloadFinish) {
        return false;
    }
    pVariable->size_ = static_cast<uint32_t>(size);
    pVariable->varType_ = typeClass;
    pVariable->var_addr_ = address;
    pVariable->symbol_nodename_ = nodeName != nullptr ? nodeName : "";
    return true;
}
