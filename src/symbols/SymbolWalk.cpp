// Symbol walk: turns the host's symbol table of the first application into trees of
// CVariable nodes, one root per top-level variable.
//
// Browsing goes down branch nodes and turns every variable node into a root. Members
// and elements below a variable are not browsed: they come from the variable's type
// description and are looked up one by one through the host by the full names formed
// here. Of an array, the first element is walked with everything below it, and then
// kept as the layout of all elements (Variable.h) when the host's answers fit IEC's
// contiguous arrays: the array's size is its element count times a stride no smaller
// than the element, the first element starts at the array, everything inside it was
// resolved and lies within one stride, and an element in the middle and the last one
// are where the stride puts them, typed as the first and named by the pattern of the
// first one's name. What a host calls an element is its own choice ("[5]", "a[5]",
// "App.Globals.a[5]", or nothing, then the element's indices): the pattern is what the
// host puts before and after the first element's indices. An array that does not fit
// is walked element by element. Every host call goes through Step, which reads the stop
// request before the call and again before the caller looks at the host's result, so
// the walk ends within one host call of EndLoad. Everything here runs on the loader
// thread and takes no lock; the loader thread may be cancelled inside any host call.
#include "symbols/SymbolWalk.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "frame/HostImports.h"

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

// Fills path with the full path of hNode and makes sure it ends inside the buffer,
// whatever the host wrote.
template <size_t kSize>
void FullPath(RTS_HANDLE hInterface, RTS_HANDLE hNode, char (&path)[kSize], RTS_RESULT* result) {
    pfIecVarAccGetNodeFullPath(hInterface, hNode, path, static_cast<RTS_SIZE>(kSize), result);
    path[kSize - 1] = '\0';
}

// The full name of element `linear` of the array `array` whose full name is szName, cut
// to the buffer as the host's lookup gets it.
template <size_t kSize>
void ElementName(const CVariable& array, const char* szName, uint64_t linear, char (&name)[kSize]) {
    std::string indices;
    array.AppendIndices(indices, linear);
    snprintf(name, kSize, "%s%s", szName, indices.c_str());
}

// Whether every node below `element` (itself included) was resolved by the host and
// starts within `stride` bytes of it, and an array inside that keeps one element ends
// within them too. A node the host did not resolve may be the host's answer for this
// element only: such an array is walked element by element.
bool FitsOneStride(const CVariable& element, uint64_t stride) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(element.var_addr_);
    std::vector<const CVariable*> pending{&element};
    while (!pending.empty()) {
        const CVariable* node = pending.back();
        pending.pop_back();
        const uintptr_t at = reinterpret_cast<uintptr_t>(node->var_addr_);
        if (node->var_addr_ == nullptr || at < begin || at - begin >= stride) {
            return false;
        }
        if (node->KeepsOneElement() &&
            node->bounds_->elements * node->bounds_->stride > stride - (at - begin)) {
            return false;
        }
        for (const CVariable& child : node->childVec_) {
            pending.push_back(&child);
        }
    }
    return true;
}

// The name a node gets when the host gives none: the last part of the full name it was
// looked up by, its indices for an element ("[2]" of "App.Globals.m[1][2]"), else what
// follows the last dot (the member's or the variable's own name).
std::string NameFromFullName(const char* szName) {
    const std::string full(szName);
    if (!full.empty() && full.back() == ']') {
        const size_t open = full.rfind('[');
        return open == std::string::npos ? full : full.substr(open);
    }
    const size_t dot = full.rfind('.');
    return dot == std::string::npos ? full : full.substr(dot + 1);
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.size() >= start.size() && text.compare(0, start.size(), start) == 0;
}

// Whether the names inside the first element `first` of `array` (named firstName) can be
// formed for every element: a name the host gave a node inside it (not one formed by the
// pattern of an array inside) must not hold the element's own name, which would differ
// from one element to the next. The arrays inside that keep one element directly (no
// other such array between) and whose elements' names start with firstName get that
// start replaced by the name of the element that holds them, in `follow`.
bool NamesFitEveryElement(const CVariable& first, const std::string& firstName,
                          std::vector<CVariable*>& follow) {
    struct CPending {
        const CVariable* node;
        bool direct;  // no array that keeps one element lies between it and `first`
    };
    std::vector<CPending> pending;
    for (const CVariable& child : first.childVec_) {
        pending.push_back(CPending{&child, true});
    }
    if (first.KeepsOneElement()) {
        pending.clear();
        pending.push_back(CPending{&first, true});
    }
    while (!pending.empty()) {
        const CPending at = pending.back();
        pending.pop_back();
        const CVariable& node = *at.node;
        if (node.array_ == nullptr && &node != &first && StartsWith(node.symbol_nodename_, firstName)) {
            return false;
        }
        const bool keeps = node.KeepsOneElement();
        if (keeps && !node.bounds_->prefixAfterEnclosing && StartsWith(node.bounds_->namePrefix, firstName)) {
            if (!at.direct) {
                return false;
            }
            follow.push_back(const_cast<CVariable*>(&node));
        }
        for (const CVariable& child : node.childVec_) {
            pending.push_back(CPending{&child, at.direct && !keeps});
        }
    }
    return true;
}

}  // namespace

CSymbolWalk::CRoots CSymbolWalk::TakeRoots() {
    CRoots roots;
    roots.swap(p_vec_vars_);
    rootCount_.store(0);
    return roots;
}

void CSymbolWalk::DropRoots() {
    p_vec_vars_.clear();
    rootCount_.store(0);
}

template <typename Call>
bool CSymbolWalk::Step(Call call) {
    if (bDownloadFinish_) {
        return false;
    }
    call();
    return !bDownloadFinish_;
}

bool CSymbolWalk::Run() {
    RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
    if (!Step([&] { hInterface = pfIecVarAccGetFirstInterface(nullptr); })) {
        return false;
    }
    char applicationName[kPathBufferSize] = {0};
    RTS_RESULT result = ERR_OK;
    if (!Step([&] {
            result = pfIecVarAccGetApplicationName(hInterface, applicationName, sizeof(applicationName));
            applicationName[sizeof(applicationName) - 1] = '\0';
        }) ||
        result != ERR_OK) {
        return false;
    }
    if (bDownloadFinish_) {
        return false;
    }
    // From here the application counts as reached, stopped or not.
    RTS_HANDLE hRootNode = RTS_INVALID_HANDLE;
    Step([&] { hRootNode = pfIecVarAccBrowseGetRoot(hInterface, &result); });
    ExpandRoot(hRootNode, hInterface);
    return true;
}

bool CSymbolWalk::ExpandRoot(RTS_HANDLE hRootNode, RTS_HANDLE hInterface) {
    RTS_RESULT result = ERR_OK;
    RTS_HANDLE hNode = RTS_INVALID_HANDLE;
    if (!Step([&] { hNode = pfIecVarAccBrowseDown(hInterface, hRootNode, &result); }) || result != ERR_OK) {
        return false;
    }
    char path[kPathBufferSize] = {0};
    for (;;) {
        if (!Step([&] { FullPath(hInterface, hNode, path, &result); }) || result != ERR_OK) {
            return false;
        }
        // A stop below one node ends only that node's walk; the stop test decides
        // whether the walk goes on with the next node below the root.
        ExpandTree(hInterface, hNode);
        if (!Step([&] { hNode = pfIecVarAccBrowseGetNext(hInterface, hNode, &result); })) {
            return false;
        }
        if (result != ERR_OK) {
            return true;
        }
    }
}

bool CSymbolWalk::ExpandTree(RTS_HANDLE hInterface, RTS_HANDLE hNode) {
    char path[kPathBufferSize] = {0};
    RTS_RESULT result = ERR_OK;
    RTS_UI16 kind = 0;
    if (!Step([&] {
            kind = pfIecVarAccGetNodeType(hInterface, hNode, &result);
            FullPath(hInterface, hNode, path, &result);
        })) {
        return false;
    }

    if (kind == kNodeBranch) {
        RTS_HANDLE hChildNode = RTS_INVALID_HANDLE;
        if (!Step([&] {
                hChildNode = pfIecVarAccBrowseDown(hInterface, hNode, &result);
                FullPath(hInterface, hChildNode, path, &result);
            })) {
            return false;
        }
        if (result != ERR_OK) {
            return true;  // a branch without children
        }
        for (;;) {
            if (bDownloadFinish_ || !ExpandTree(hInterface, hChildNode)) {
                return false;
            }
            if (!Step([&] { hChildNode = pfIecVarAccBrowseGetNext(hInterface, hChildNode, &result); })) {
                return false;
            }
            if (result != ERR_OK) {
                return true;
            }
        }
    }

    if (kind == kNodeVariable) {
        if (!Step([&] { FullPath(hInterface, hNode, path, &result); })) {
            return false;
        }
        CVariable& root = p_vec_vars_.emplace_back();
        if (!ExpandNode(root, path)) {
            p_vec_vars_.pop_back();  // a cut-off root is dropped
            return false;
        }
        rootCount_.store(p_vec_vars_.size());
    }
    return true;
}

bool CSymbolWalk::ExpandNode(CVariable& var, const char* szName) {
    if (bDownloadFinish_) {
        return false;
    }
    if (bOnlineChange_) {
        SleepEvent();
        bOnlineChange_ = false;
    }
    // The node stands in its parent's list already, so children stand in the order they
    // were made; a node the walk cannot finish is dropped with the root it belongs to.
    RTS_SIZE size = 0;
    if (!LoadNode(var, szName, &size)) {
        return false;
    }
    if (bDownloadFinish_) {
        return false;
    }
    // Only arrays and structures are looked up a second time for their type.
    if (var.varType_ != TYPE3_ARRAY && var.varType_ != TYPE3_USERDEF) {
        return true;  // a leaf
    }
    CVarInfoRecord varInfo;
    bool opened = false;
    if (!Step([&] { opened = varInfo.open(); }) || !opened) {
        return false;
    }
    RTS_RESULT result = ERR_OK;
    RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
    RTS_HANDLE hNode = RTS_INVALID_HANDLE;
    RTS_HANDLE hTypeNode = RTS_INVALID_HANDLE;
    if (!Step([&] { hNode = pfIecVarAccGetNode3(szName, &hInterface, varInfo.get(), &result); }) ||
        !Step([&] { hTypeNode = pfIecVarAccGetTypeNode3(hInterface, hNode, varInfo.get(), &result); })) {
        return false;
    }
    if (var.varType_ == TYPE3_ARRAY) {
        return ExpandArray(var, szName, hInterface, hTypeNode, size);
    }
    return ExpandStructure(var, szName, hInterface, hTypeNode);
}

bool CSymbolWalk::ExpandArray(CVariable& var, const char* szName, RTS_HANDLE hInterface, RTS_HANDLE hTypeNode,
                              RTS_SIZE arraySize) {
    TypeDescAsUnion typeDesc;
    std::memset(&typeDesc, 0, sizeof(typeDesc));
    RTS_RESULT result = ERR_OK;
    if (!Step([&] { result = pfIecVarAccGetTypeDesc(hInterface, hTypeNode, &typeDesc); })) {
        return false;
    }
    if (result != ERR_OK) {
        return true;  // stays a leaf
    }
    const RTS_I16 dimensions = typeDesc._union._array._iDimensions;
    if (dimensions < 1 || dimensions > 3) {
        return true;  // stays a leaf
    }
    const ArrayDimension* range = typeDesc._union._array._Dimension;
    std::unique_ptr<CVariable::CArrayBounds> bounds(new CVariable::CArrayBounds());
    bounds->count = static_cast<size_t>(dimensions);
    uint64_t elements = 1;
    for (int d = 0; d < dimensions; ++d) {
        bounds->dimension[d] = CVariable::CBounds{range[d].MinRange, range[d].MaxRange};
        const uint64_t extent =
            range[d].MaxRange < range[d].MinRange
                ? 0
                : static_cast<uint64_t>(int64_t{range[d].MaxRange} - range[d].MinRange + 1);
        if (__builtin_mul_overflow(elements, extent, &elements)) {
            return true;  // more elements than any address space holds: stays a leaf
        }
    }
    bounds->elements = elements;
    var.bounds_ = std::move(bounds);
    if (elements == 0) {
        return true;
    }
    char name[kMemberNameBufferSize] = {0};
    ElementName(var, szName, 0, name);
    var.childVec_.reserve(1);
    if (!ExpandNode(var.childVec_.emplace_back(), name)) {
        return false;
    }
    bool kept = false;
    if (!KeepFirstElement(var, szName, arraySize, kept)) {
        return false;
    }
    if (kept) {
        return true;
    }
    // Element by element, the last index varying fastest.
    var.childVec_.reserve(elements);
    for (uint64_t linear = 1; linear < elements; ++linear) {
        ElementName(var, szName, linear, name);
        if (!ExpandNode(var.childVec_.emplace_back(), name)) {
            return false;
        }
    }
    return true;
}

bool CSymbolWalk::KeepFirstElement(CVariable& array, const char* szName, RTS_SIZE arraySize, bool& kept) {
    kept = false;
    CVariable* pVar = &array;
    const CVariable& first = array.childVec_[0];
    const uint64_t elements = pVar->bounds_->elements;
    const uint64_t stride = arraySize / elements;
    if (pVar->var_addr_ == nullptr || first.var_addr_ != pVar->var_addr_ || stride == 0 ||
        arraySize % elements != 0 || first.size_ > stride || !FitsOneStride(first, stride)) {
        return true;
    }
    // The pattern of the elements' names: what the host puts before and after the first
    // element's indices. Where the host writes them is its own choice ("[0]", "a[0]",
    // "App.Globals.a[0]"); a name without them fits no pattern.
    std::string indices;
    pVar->AppendIndices(indices, 0);
    const size_t at = first.symbol_nodename_.rfind(indices);
    if (at == std::string::npos) {
        return true;
    }
    const std::string prefix = first.symbol_nodename_.substr(0, at);
    const std::string suffix = first.symbol_nodename_.substr(at + indices.size());
    std::vector<CVariable*> follow;
    if (!NamesFitEveryElement(first, first.symbol_nodename_, follow)) {
        return true;
    }
    // An element in the middle and the last one, looked up but not expanded, must be
    // where the stride puts them, of the first one's class and size, named by the pattern.
    char name[kMemberNameBufferSize] = {0};
    const uint64_t probes[2] = {elements / 2, elements - 1};
    for (size_t p = elements > 2 ? 0 : 1; p < 2 && elements > 1; ++p) {
        const uint64_t linear = probes[p];
        ElementName(*pVar, szName, linear, name);
        CVariable probe;
        if (!LoadNode(probe, name)) {
            return false;
        }
        std::string expected = prefix;
        pVar->AppendIndices(expected, linear);
        expected += suffix;
        if (probe.var_addr_ != static_cast<char*>(first.var_addr_) + linear * stride ||
            probe.varType_ != first.varType_ || probe.size_ != first.size_ ||
            probe.symbol_nodename_ != expected) {
            return true;
        }
    }
    for (CVariable* inner : follow) {
        inner->bounds_->namePrefix.erase(0, first.symbol_nodename_.size());
        inner->bounds_->prefixAfterEnclosing = true;
    }
    pVar->bounds_->namePrefix = prefix;
    pVar->bounds_->nameSuffix = suffix;
    pVar->KeepOneElement(stride);
    kept = true;
    return true;
}

bool CSymbolWalk::ExpandStructure(CVariable& var, const char* szName, RTS_HANDLE hInterface,
                                  RTS_HANDLE hTypeNode) {
    // The first description gives the member count, the second the handles.
    TypeDescAsUnion typeDesc;
    std::memset(&typeDesc, 0, sizeof(typeDesc));
    if (!Step([&] { pfIecVarAccGetTypeDesc(hInterface, hTypeNode, &typeDesc); })) {
        return false;
    }
    CMemberHandles members;
    if (!members.allocate(typeDesc._union._struct._iComponents)) {
        return false;
    }
    typeDesc._union._struct._Components = members.data();
    RTS_RESULT result = ERR_OK;
    if (!Step([&] { result = pfIecVarAccGetTypeDesc(hInterface, hTypeNode, &typeDesc); })) {
        return false;
    }
    if (result != ERR_OK || typeDesc._union._struct._iComponents <= 0 || members.data() == nullptr) {
        return true;  // stays a leaf
    }
    // Never read more handles than were allocated, whatever count the host reports now.
    const RTS_I32 count = std::min(typeDesc._union._struct._iComponents, members.count());
    var.childVec_.reserve(static_cast<size_t>(count));
    char name[kMemberNameBufferSize] = {0};
    for (RTS_I32 index = 0; index < count; ++index) {
        const char* memberName = nullptr;
        if (!Step([&] { memberName = pfIecVarAccGetNodeName(hInterface, members.data()[index], &result); })) {
            return false;
        }
        snprintf(name, sizeof(name), "%s.%s", szName, memberName != nullptr ? memberName : "");
        if (!ExpandNode(var.childVec_.emplace_back(), name)) {
            return false;
        }
    }
    return true;
}

bool CSymbolWalk::LoadNode(CVariable& variable, const char* szName, RTS_SIZE* fullSize) {
    if (bDownloadFinish_) {
        return false;
    }
    if (bOnlineChange_) {
        SleepEvent();
        bOnlineChange_ = false;
    }
    CVarInfoRecord varInfo;
    bool opened = false;
    if (!Step([&] { opened = varInfo.open(); }) || !opened) {
        return false;
    }
    RTS_RESULT result = ERR_OK;
    RTS_HANDLE hInterface = RTS_INVALID_HANDLE;
    RTS_HANDLE hNode = RTS_INVALID_HANDLE;
    if (!Step([&] { hNode = pfIecVarAccGetNode3(szName, &hInterface, varInfo.get(), &result); })) {
        return false;
    }
    // A second lookup of the same name decides whether the host knows it.
    RTS_HANDLE hInterface1 = RTS_INVALID_HANDLE;
    RTS_UINTPTR offset = 0;
    if (!Step([&] { pfIecVarAccGetNode(szName, &offset, &hInterface1, &result); })) {
        return false;
    }
    if (result != ERR_OK) {
        return true;  // unknown: the node stays as it was made
    }
    RTS_UI16 kind = 0;
    if (!Step([&] { kind = pfIecVarAccGetNodeType(hInterface, hNode, &result); })) {
        return false;
    }
    if (kind != kNodeVariable) {
        return true;
    }
    RTS_SIZE size = 0;
    TypeClass3 typeClass = TYPE3_NONE;
    RTS_UI8* address = nullptr;
    const char* nodeName = nullptr;
    if (!Step([&] { size = pfIecVarAccGetSize3(hInterface, hNode, varInfo.get(), &result); }) ||
        !Step([&] { typeClass = pfIecVarAccGetTypeClass3(hInterface, hNode, varInfo.get(), &result); }) ||
        !Step([&] { address = pfIecVarAccGetAddress3(hInterface, hNode, varInfo.get(), &result); }) ||
        !Step([&] { nodeName = pfIecVarAccGetNodeName(hInterface, hNode, &result); })) {
        return false;
    }
    if (fullSize != nullptr) {
        *fullSize = size;
    }
    variable.size_ = static_cast<uint32_t>(size);
    variable.varType_ = typeClass;
    variable.var_addr_ = address;
    variable.symbol_nodename_ = nodeName != nullptr ? std::string(nodeName) : NameFromFullName(szName);
    return true;
}
