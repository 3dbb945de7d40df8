// The running application: memory block, node records, name resolution, and the
// bodies of the seventeen IecVarAcc host functions.
#include "SimApplication.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "SimDeclCompiler.h"
#include "SimNames.h"

namespace {

const char* const s_hostFunctions[] = {
#define IEC_VAR_ACCESS_FUNCTION(name, prototype) "IecVarAcc" #name,
#include "IecVarAccessFunctions.def"
#undef IEC_VAR_ACCESS_FUNCTION
};
static_assert(sizeof(s_hostFunctions) / sizeof(s_hostFunctions[0]) == 17, "seventeen host functions");

// Handles: bits 0..39 index, 40..47 space, 48..62 generation of the application. Bit
// 63 is clear, so no handle is RTS_INVALID_HANDLE, and the space is never 0, so no
// handle is NULL.
constexpr uint64_t kSpaceInterface = 1;
constexpr uint64_t kSpaceNode = 2;
constexpr uint64_t kSpaceType = 3;
constexpr uint64_t kSpaceMember = 4;
constexpr uint64_t kIndexMask = (uint64_t(1) << 40) - 1;
constexpr uint32_t kGenerationMask = 0x7FFF;

// The record's first two words while it is open: a mark and its serial number.
constexpr uint64_t kRecordMark = 0x5349'4D56'4152'494Eull;  // "SIMVARIN"

constexpr uint32_t kNoNode = UINT32_MAX;

enum NodeKind : uint8_t { kRoot, kBranch, kVariable, kMember, kElement };

template <typename T>
void SetResult(T* pResult, RTS_RESULT value) {
    if (pResult != nullptr) *pResult = value;
}

}  // namespace

// One node: the root, a branch, a top-level variable, or a member or element reached
// by name. 40 bytes; kept in chunks so that a node never moves.
struct CSimNode {
    const CSimType* type;  // variables, members, elements
    const char* name;      // built on first request for elements
    uint64_t offset;       // in the memory block
    uint32_t parent;       // kNoNode for the root
    uint32_t index;        // member index, or linear element index
    uint32_t children;     // members and elements: 1 + cache index; root, branches: 1 + branch index
    uint8_t kind;
};

// The nodes already made below one structure or array, by member or element index:
// a slot per index up to a few million elements, a hash map for larger arrays.
class CSimChildCache {
   public:
    explicit CSimChildCache(uint64_t count) {
        if (count <= kDenseLimit) {
            slots_.assign(count, kNoNode);
        } else {
            sparse_ = std::make_unique<std::unordered_map<uint64_t, uint32_t>>();
        }
    }
    uint32_t find(uint64_t index) const {
        if (sparse_ == nullptr) return slots_[index];
        auto found = sparse_->find(index);
        return found == sparse_->end() ? kNoNode : found->second;
    }
    void put(uint64_t index, uint32_t node) {
        if (sparse_ == nullptr) {
            slots_[index] = node;
        } else {
            (*sparse_)[index] = node;
        }
    }

   private:
    static constexpr uint64_t kDenseLimit = uint64_t(1) << 22;
    std::vector<uint32_t> slots_;
    std::unique_ptr<std::unordered_map<uint64_t, uint32_t>> sparse_;
};

// One started application. Owned by CSimApplication; once published as app_, touched
// only under its mutex_.
class CSimRunningApp {
   public:
    CSimRunningApp(std::unique_ptr<CSimModel> model, uint32_t generation, const CSimFreedoms& freedoms)
        : model_(std::move(model)), generation_(generation), freedoms_(freedoms) {
        memory_ = static_cast<uint8_t*>(std::calloc(model_->memorySize == 0 ? 1 : model_->memorySize, 1));
        if (memory_ == nullptr) throw std::bad_alloc();
        SimWriteInitialValues(*model_, memory_);
        buildBrowseTree();
    }
    ~CSimRunningApp() { std::free(memory_); }
    CSimRunningApp(const CSimRunningApp&) = delete;
    CSimRunningApp& operator=(const CSimRunningApp&) = delete;

    const CSimModel& model() const { return *model_; }
    uint8_t* memory() const { return memory_; }
    size_t nodeCount() const { return count_; }
    uint32_t variableNode(size_t variable) const { return variableNodes_[variable]; }

    RTS_HANDLE handle(uint64_t space, uint64_t index) const {
        return reinterpret_cast<RTS_HANDLE>(
            static_cast<uintptr_t>((uint64_t(generation_) << 48) | (space << 40) | index));
    }
    bool decode(RTS_HANDLE h, uint64_t space, uint64_t& index) const {
        uint64_t v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
        if ((v >> 63) != 0 || ((v >> 48) & kGenerationMask) != generation_ || ((v >> 40) & 0xFF) != space) {
            return false;
        }
        index = v & kIndexMask;
        switch (space) {
            case kSpaceInterface:
                return index == 0;
            case kSpaceNode:
                return index < count_;
            case kSpaceType:
                return index < model_->types.size();
            default:
                return index < model_->typeMembers.size();
        }
    }

    CSimNode& node(uint32_t id) { return chunks_[id >> kChunkBits][id & (kChunkSize - 1)]; }

    uint32_t firstChild(uint32_t id) const { return id < firstChild_.size() ? firstChild_[id] : kNoNode; }
    uint32_t nextSibling(uint32_t id) const { return id < nextSibling_.size() ? nextSibling_[id] : kNoNode; }

    struct SResolved {
        uint32_t node = kNoNode;  // kNoNode when resolved without making nodes
        const CSimType* type = nullptr;
        uint64_t offset = 0;
    };

    // Resolves a full name. With create, every member or element on the way gets its
    // node (made once, found again later); without, only type and offset are computed.
    bool resolve(std::string_view name, bool create, SResolved& out) {
        size_t at = 0;
        auto ident = [&](std::string_view& segment) {
            size_t begin = at;
            while (at < name.size() && IsIdentChar(name[at])) ++at;
            segment = name.substr(begin, at - begin);
            return !segment.empty();
        };
        std::string_view segment;
        if (!ident(segment) || !CSimNameEqual()(segment, "App")) return false;
        uint32_t current = 0;
        while (node(current).kind != kVariable) {
            if (at == name.size()) {
                out.node = current;
                return true;
            }
            if (name[at++] != '.' || !ident(segment)) return false;
            const CSimNameIndex& children = branchChildren_[node(current).children - 1];
            auto found = children.find(segment);
            if (found == children.end()) return false;
            current = found->second;
        }
        uint32_t currentNode = current;
        const CSimType* type = node(current).type;
        uint64_t offset = node(current).offset;
        while (at < name.size()) {
            uint64_t index = 0;
            uint64_t count = 0;
            const CSimType* childType = nullptr;
            uint64_t childOffset = 0;
            uint8_t kind = kMember;
            if (name[at] == '.') {
                ++at;
                if (!ident(segment) || type->kind != CSimType::Kind::Struct) return false;
                auto found = type->memberIndex.find(segment);
                if (found == type->memberIndex.end()) return false;
                index = found->second;
                count = type->members.size();
                childType = type->members[index].type;
                childOffset = offset + type->members[index].offset;
            } else if (name[at] == '[') {
                ++at;
                if (type->kind != CSimType::Kind::Array) return false;
                for (size_t d = 0;; ++d) {
                    int32_t value = 0;
                    if (d >= type->dims.size() || !parseIndex(name, at, value)) return false;
                    const ArrayDimension& dim = type->dims[d];
                    if (value < dim.MinRange || value > dim.MaxRange) return false;
                    index = index * static_cast<uint64_t>(int64_t(dim.MaxRange) - dim.MinRange + 1) +
                            static_cast<uint64_t>(int64_t(value) - dim.MinRange);
                    if (at < name.size() && name[at] == ',') {
                        ++at;
                        continue;
                    }
                    if (at >= name.size() || name[at] != ']' || d + 1 != type->dims.size()) return false;
                    ++at;
                    break;
                }
                kind = kElement;
                count = type->count;
                childType = type->element;
                childOffset = offset + index * type->stride;
            } else {
                return false;
            }
            if (create) currentNode = child(currentNode, index, count, kind, childType, childOffset);
            type = childType;
            offset = childOffset;
        }
        out.node = create ? currentNode : kNoNode;
        out.type = type;
        out.offset = offset;
        return true;
    }

    // The node's own name as this runtime gives it (null: none); elements get theirs
    // built on first request.
    const char* nodeName(uint32_t id) {
        CSimNode& n = node(id);
        if (n.kind == kMember && freedoms_.unnamedMembers) return nullptr;
        if (n.kind != kElement || n.name != nullptr) return n.name;
        std::string name;
        switch (freedoms_.elementNames) {
            case ESimElementNames::kNone:
                return nullptr;
            case ESimElementNames::kArrayAndIndices: {
                const char* parent = nodeName(n.parent);
                name = parent != nullptr ? parent : "";
                appendIndices(name, node(n.parent).type, n.index);
                break;
            }
            case ESimElementNames::kIndices:
                appendIndices(name, node(n.parent).type, n.index);
                break;
            case ESimElementNames::kFullPath:
                name = fullPath(id);
                break;
        }
        char* stored = storeName(name);
        n.name = stored;
        return stored;
    }

    std::string fullPath(uint32_t id) {
        std::vector<uint32_t> chain;
        for (uint32_t at = id; at != kNoNode; at = node(at).parent) chain.push_back(at);
        std::string path;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const CSimNode& n = node(*it);
            switch (n.kind) {
                case kRoot:
                    path = "App";
                    break;
                case kElement:
                    appendIndices(path, node(n.parent).type, n.index);
                    break;
                default:
                    path += ".";
                    path += n.name;
            }
        }
        return path;
    }

   private:
    static constexpr uint32_t kChunkBits = 12;
    static constexpr uint32_t kChunkSize = 1u << kChunkBits;

    uint32_t newNode(uint8_t kind, uint32_t parent, const CSimType* type, uint64_t offset, uint32_t index,
                     const char* name) {
        if (count_ == kNoNode) throw std::length_error("simulated application: too many nodes");
        if ((count_ & (kChunkSize - 1)) == 0) chunks_.push_back(std::make_unique<CSimNode[]>(kChunkSize));
        uint32_t id = count_++;
        node(id) = CSimNode{type, name, offset, parent, index, 0, kind};
        return id;
    }

    uint32_t child(uint32_t parent, uint64_t index, uint64_t count, uint8_t kind, const CSimType* type,
                   uint64_t offset) {
        if (node(parent).children == 0) {
            caches_.emplace_back(count);
            node(parent).children = static_cast<uint32_t>(caches_.size());
        }
        CSimChildCache& cache = caches_[node(parent).children - 1];
        uint32_t found = cache.find(index);
        if (found != kNoNode) return found;
        const char* name = kind == kMember ? node(parent).type->members[index].name.c_str() : nullptr;
        uint32_t id = newNode(kind, parent, type, offset, static_cast<uint32_t>(index), name);
        cache.put(index, id);
        return id;
    }

    // A signed decimal index as the component prints it: no blanks, no '+', no
    // leading zeros, no "-0", within 32 bits.
    static bool parseIndex(std::string_view name, size_t& at, int32_t& value) {
        bool negative = at < name.size() && name[at] == '-';
        if (negative) ++at;
        size_t begin = at;
        int64_t magnitude = 0;
        while (at < name.size() && name[at] >= '0' && name[at] <= '9') {
            magnitude = magnitude * 10 + (name[at++] - '0');
            if (magnitude > (int64_t(1) << 31)) return false;
        }
        size_t digits = at - begin;
        if (digits == 0 || (digits > 1 && name[begin] == '0') || (negative && magnitude == 0)) return false;
        int64_t signedValue = negative ? -magnitude : magnitude;
        if (signedValue > INT32_MAX) return false;
        value = static_cast<int32_t>(signedValue);
        return true;
    }

    static void appendIndices(std::string& out, const CSimType* array, uint64_t linear) {
        int64_t indices[4] = {0, 0, 0, 0};
        for (size_t d = array->dims.size(); d-- > 0;) {
            const ArrayDimension& dim = array->dims[d];
            uint64_t extent = static_cast<uint64_t>(int64_t(dim.MaxRange) - dim.MinRange + 1);
            indices[d] = dim.MinRange + static_cast<int64_t>(linear % extent);
            linear /= extent;
        }
        out += "[";
        for (size_t d = 0; d < array->dims.size(); ++d) {
            if (d > 0) out += ",";
            out += std::to_string(indices[d]);
        }
        out += "]";
    }

    char* storeName(const std::string& name) {
        size_t need = name.size() + 1;
        if (need > kNameChunk - nameUsed_ || nameChunks_.empty()) {
            nameChunks_.push_back(std::make_unique<char[]>(std::max(need, kNameChunk)));
            nameUsed_ = 0;
        }
        char* at = nameChunks_.back().get() + nameUsed_;
        std::memcpy(at, name.c_str(), need);
        nameUsed_ += need;
        return at;
    }

    void buildBrowseTree() {
        const CSimModel& m = *model_;
        variableNodes_.assign(m.variables.size(), kNoNode);
        uint32_t root = newNode(kRoot, kNoNode, nullptr, 0, 0, "App");
        branchChildren_.emplace_back();
        node(root).children = 1;
        // Depth first over the model's branches; an explicit stack keeps the depth of
        // folder nesting off the call stack.
        struct Frame {
            uint32_t branch;
            uint32_t node;
            size_t next;
            uint32_t lastChild;
        };
        std::vector<Frame> stack{{0, root, 0, kNoNode}};
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const CSimBranch& branch = m.branches[frame.branch];
            if (frame.next == branch.children.size()) {
                stack.pop_back();
                continue;
            }
            const CSimBranch::Entry entry = branch.children[frame.next++];
            uint32_t id;
            if (entry.isBranch) {
                id = newNode(kBranch, frame.node, nullptr, 0, entry.index,
                             m.branches[entry.index].name.c_str());
                branchChildren_.emplace_back();
                node(id).children = static_cast<uint32_t>(branchChildren_.size());
            } else {
                const CSimVariable& var = m.variables[entry.index];
                id = newNode(kVariable, frame.node, var.type, var.offset, entry.index, var.name.c_str());
                variableNodes_[entry.index] = id;
            }
            firstChild_.resize(count_, kNoNode);
            nextSibling_.resize(count_, kNoNode);
            if (frame.lastChild == kNoNode) {
                firstChild_[frame.node] = id;
            } else {
                nextSibling_[frame.lastChild] = id;
            }
            frame.lastChild = id;
            branchChildren_[node(frame.node).children - 1][node(id).name] = id;
            if (entry.isBranch) stack.push_back({entry.index, id, 0, kNoNode});
        }
    }

    std::unique_ptr<CSimModel> model_;
    uint32_t generation_;
    CSimFreedoms freedoms_;
    uint8_t* memory_ = nullptr;
    std::vector<std::unique_ptr<CSimNode[]>> chunks_;
    uint32_t count_ = 0;
    std::vector<uint32_t> firstChild_;   // browse nodes only
    std::vector<uint32_t> nextSibling_;  // browse nodes only
    std::vector<CSimNameIndex> branchChildren_;
    std::vector<uint32_t> variableNodes_;
    std::vector<CSimChildCache> caches_;
    static constexpr size_t kNameChunk = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> nameChunks_;
    size_t nameUsed_ = 0;
};

// ---------------------------------------------------------------------------------

const std::vector<CSimRuntime>& SimRuntimes() {
    static const std::vector<CSimRuntime> runtimes = [] {
        std::vector<CSimRuntime> all;
        CSimFreedoms freedoms;
        all.push_back({"ArrayNameAndIndices", freedoms});
        freedoms.elementNames = ESimElementNames::kIndices;
        all.push_back({"IndicesAlone", freedoms});
        freedoms.elementNames = ESimElementNames::kFullPath;
        all.push_back({"FullPath", freedoms});
        freedoms.elementNames = ESimElementNames::kNone;
        all.push_back({"NoElementNames", freedoms});
        freedoms = CSimFreedoms();
        freedoms.unnamedMembers = true;
        all.push_back({"NoMemberNames", freedoms});
        freedoms = CSimFreedoms();
        freedoms.arrayPadding = 4;
        all.push_back({"PaddedArrays", freedoms});
        freedoms.elementNames = ESimElementNames::kFullPath;
        freedoms.unnamedMembers = true;
        all.push_back({"FullPathNoMemberNamesPadded", freedoms});
        return all;
    }();
    return runtimes;
}

CSimApplication& CSimApplication::instance() {
    static CSimApplication application;
    return application;
}

CSimApplication::CSimApplication() = default;
CSimApplication::~CSimApplication() = default;

const std::vector<std::string>& CSimApplication::hostFunctionNames() {
    static const std::vector<std::string> names(std::begin(s_hostFunctions), std::end(s_hostFunctions));
    return names;
}

void CSimApplication::setFreedoms(const CSimFreedoms& freedoms) {
    std::lock_guard<std::mutex> lock(mutex_);
    freedoms_ = freedoms;
}

CSimFreedoms CSimApplication::freedoms() {
    std::lock_guard<std::mutex> lock(mutex_);
    return freedoms_;
}

void CSimApplication::start(const std::string& declarations) {
    const CSimFreedoms chosen = freedoms();
    std::unique_ptr<CSimModel> model = SimCompileDeclarations(declarations, chosen.arrayPadding);
    uint32_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation_ = (generation_ % kGenerationMask) + 1;
        generation = generation_;
    }
    // Laid out and initialised without the lock: host calls on the running application
    // go on meanwhile.
    auto app = std::make_unique<CSimRunningApp>(std::move(model), generation, chosen);
    std::unique_ptr<CSimRunningApp> previous;  // freed after the lock is released
    std::lock_guard<std::mutex> lock(mutex_);
    if (app_ != nullptr) {
        previous = std::move(retired_);
        retired_ = std::move(app_);
    }
    app_ = std::move(app);
}

void CSimApplication::stop() {
    std::unique_ptr<CSimRunningApp> previous;
    std::lock_guard<std::mutex> lock(mutex_);
    if (app_ == nullptr) return;
    previous = std::move(retired_);
    retired_ = std::move(app_);
}

bool CSimApplication::running() {
    std::lock_guard<std::mutex> lock(mutex_);
    return app_ != nullptr;
}

CSimRunningApp& CSimApplication::runningOrThrow(const std::string& fullName) {
    if (app_ == nullptr) throw std::out_of_range("no application is running (looking up '" + fullName + "')");
    return *app_;
}

uint8_t* CSimApplication::address(const std::string& fullName) {
    std::lock_guard<std::mutex> lock(mutex_);
    CSimRunningApp& app = runningOrThrow(fullName);
    CSimRunningApp::SResolved r;
    if (!app.resolve(fullName, false, r) || r.type == nullptr)
        throw std::out_of_range("unknown variable '" + fullName + "'");
    return app.memory() + r.offset;
}

size_t CSimApplication::size(const std::string& fullName) {
    std::lock_guard<std::mutex> lock(mutex_);
    CSimRunningApp& app = runningOrThrow(fullName);
    CSimRunningApp::SResolved r;
    if (!app.resolve(fullName, false, r) || r.type == nullptr)
        throw std::out_of_range("unknown variable '" + fullName + "'");
    return r.type->size;
}

TypeClass3 CSimApplication::typeClass(const std::string& fullName) {
    std::lock_guard<std::mutex> lock(mutex_);
    CSimRunningApp& app = runningOrThrow(fullName);
    CSimRunningApp::SResolved r;
    if (!app.resolve(fullName, false, r) || r.type == nullptr)
        throw std::out_of_range("unknown variable '" + fullName + "'");
    return r.type->typeClass;
}

std::string CSimApplication::typeName(const std::string& fullName) {
    std::lock_guard<std::mutex> lock(mutex_);
    CSimRunningApp& app = runningOrThrow(fullName);
    CSimRunningApp::SResolved r;
    if (!app.resolve(fullName, false, r) || r.type == nullptr)
        throw std::out_of_range("unknown variable '" + fullName + "'");
    return r.type->name;
}

const CSimType* CSimApplication::type(const std::string& fullName) {
    std::lock_guard<std::mutex> lock(mutex_);
    CSimRunningApp& app = runningOrThrow(fullName);
    CSimRunningApp::SResolved r;
    if (!app.resolve(fullName, false, r) || r.type == nullptr)
        throw std::out_of_range("unknown variable '" + fullName + "'");
    return r.type;
}

uint8_t* CSimApplication::memory() {
    std::lock_guard<std::mutex> lock(mutex_);
    return app_ != nullptr ? app_->memory() : nullptr;
}

size_t CSimApplication::memorySize() {
    std::lock_guard<std::mutex> lock(mutex_);
    return app_ != nullptr ? app_->model().memorySize : 0;
}

std::vector<std::string> CSimApplication::topLevelVariables() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    if (app_ == nullptr) return paths;
    std::vector<uint32_t> stack;
    if (app_->firstChild(0) != kNoNode) stack.push_back(app_->firstChild(0));
    while (!stack.empty()) {
        uint32_t id = stack.back();
        stack.pop_back();
        if (app_->nextSibling(id) != kNoNode) stack.push_back(app_->nextSibling(id));
        if (app_->node(id).kind == kVariable) {
            paths.push_back(app_->fullPath(id));
        } else if (app_->firstChild(id) != kNoNode) {
            stack.push_back(app_->firstChild(id));
        }
    }
    return paths;
}

bool CSimApplication::nodeName(const std::string& fullName, std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    CSimRunningApp& app = runningOrThrow(fullName);
    CSimRunningApp::SResolved r;
    if (!app.resolve(fullName, true, r)) throw std::out_of_range("unknown variable '" + fullName + "'");
    const char* given = givenName(app, r.node);
    if (given == nullptr) return false;
    name = given;
    return true;
}

size_t CSimApplication::nodeCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return app_ != nullptr ? app_->nodeCount() : 0;
}

// --- records --------------------------------------------------------------------

size_t CSimApplication::openVarInfoRecords() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return openRecords_.size();
}

std::vector<std::string> CSimApplication::hostErrors() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    return hostErrors_;
}

void CSimApplication::clearHostErrors() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    hostErrors_.clear();
}

void CSimApplication::forgetVarInfoRecords() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    openRecords_.clear();
}

void CSimApplication::hostError(const std::string& text) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    hostErrors_.push_back(text);
}

void CSimApplication::checkRecord(const VariableInformationStruct3* pVarInfo, const char* function) {
    if (pVarInfo == nullptr) return;
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (pVarInfo->opaque[0] != kRecordMark || openRecords_.count(pVarInfo->opaque[1]) == 0) {
        hostErrors_.push_back(std::string(function) + ": record used without IecVarAccInitVarInfo");
    }
}

// --- counters and faults ----------------------------------------------------------

uint64_t CSimApplication::callCount(const std::string& functionName) {
    for (size_t i = 0; i < calls_.size(); ++i) {
        if (functionName == s_hostFunctions[i]) return calls_[i].load();
    }
    throw std::out_of_range("not a variable access function: " + functionName);
}

void CSimApplication::resetCallCounts() {
    for (auto& count : calls_) count.store(0);
}

void CSimApplication::pretendUnknown(const std::string& fullName) {
    std::lock_guard<std::mutex> lock(mutex_);
    unknownNames_.insert(ToUpper(fullName));
}

void CSimApplication::setNullNodeName(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    nullNames_.insert(ToUpper(name));
}

void CSimApplication::renameNode(const std::string& fullName, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    renamed_[ToUpper(fullName)] = name;
}

void CSimApplication::overrideNodeType(const std::string& fullName, RTS_UI16 kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    nodeTypes_[ToUpper(fullName)] = kind;
}

void CSimApplication::failInitVarInfoFrom(uint64_t nthCall, RTS_RESULT code) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    initCalls_ = 0;
    initFailFrom_ = nthCall;
    initFailCode_ = code;
}

void CSimApplication::failApplicationName(RTS_RESULT code) {
    std::lock_guard<std::mutex> lock(mutex_);
    appNameResult_ = code;
}

void CSimApplication::setBeforeCallHook(std::function<void(const char*)> hook) {
    std::lock_guard<std::mutex> lock(hookMutex_);
    hook_ = hook ? std::make_shared<const std::function<void(const char*)>>(std::move(hook)) : nullptr;
    hasHook_.store(hook_ != nullptr);
}

void CSimApplication::resetFaults() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unknownNames_.clear();
        nullNames_.clear();
        nodeTypes_.clear();
        renamed_.clear();
        appNameResult_ = ERR_OK;
    }
    failInitVarInfoFrom(0, ERR_OK);
    setBeforeCallHook(nullptr);
}

void CSimApplication::beforeHostCall(size_t functionIndex) {
    calls_[functionIndex].fetch_add(1);
    if (!hasHook_.load()) return;
    std::shared_ptr<const std::function<void(const char*)>> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex_);
        hook = hook_;
    }
    if (hook) (*hook)(s_hostFunctions[functionIndex]);
}

// --- host functions -----------------------------------------------------------------

CSimRunningApp* CSimApplication::appFor(RTS_HANDLE hInterface, RTS_RESULT& result) {
    uint64_t index = 0;
    if (app_ == nullptr) {
        result = kSimErrNoApplication;
        return nullptr;
    }
    if (!app_->decode(hInterface, kSpaceInterface, index)) {
        result = kSimErrInvalidHandle;
        return nullptr;
    }
    result = ERR_OK;
    return app_.get();
}

RTS_HANDLE CSimApplication::hostGetFirstInterface(RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (app_ == nullptr) {
        SetResult(pResult, kSimErrNoApplication);
        return RTS_INVALID_HANDLE;
    }
    SetResult(pResult, ERR_OK);
    return app_->handle(kSpaceInterface, 0);
}

RTS_RESULT CSimApplication::hostGetApplicationName(RTS_HANDLE hInterface, char* pszAppName,
                                                   RTS_SIZE nMaxLen) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    if (appFor(hInterface, result) == nullptr) return result;
    if (appNameResult_ != ERR_OK) return appNameResult_;
    if (pszAppName == nullptr) return kSimErrInvalidParameter;
    if (nMaxLen < sizeof("App")) {
        if (nMaxLen > 0) pszAppName[0] = '\0';
        return kSimErrBufferTooSmall;
    }
    std::memcpy(pszAppName, "App", sizeof("App"));
    return ERR_OK;
}

RTS_HANDLE CSimApplication::hostBrowseGetRoot(RTS_HANDLE hInterface, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    SetResult(pResult, result);
    return app != nullptr ? app->handle(kSpaceNode, 0) : RTS_INVALID_HANDLE;
}

RTS_HANDLE CSimApplication::hostBrowseDown(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    uint64_t id = 0;
    if (app != nullptr && !app->decode(hNode, kSpaceNode, id)) result = kSimErrInvalidHandle;
    if (result == ERR_OK && app->firstChild(static_cast<uint32_t>(id)) == kNoNode)
        result = kSimErrNoMoreNodes;
    SetResult(pResult, result);
    return result == ERR_OK ? app->handle(kSpaceNode, app->firstChild(static_cast<uint32_t>(id)))
                            : RTS_INVALID_HANDLE;
}

RTS_HANDLE CSimApplication::hostBrowseGetNext(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    uint64_t id = 0;
    if (app != nullptr && !app->decode(hNode, kSpaceNode, id)) result = kSimErrInvalidHandle;
    if (result == ERR_OK && app->nextSibling(static_cast<uint32_t>(id)) == kNoNode)
        result = kSimErrNoMoreNodes;
    SetResult(pResult, result);
    return result == ERR_OK ? app->handle(kSpaceNode, app->nextSibling(static_cast<uint32_t>(id)))
                            : RTS_INVALID_HANDLE;
}

char* CSimApplication::hostGetNodeFullPath(RTS_HANDLE hInterface, RTS_HANDLE hNode, char* pszPath,
                                           RTS_SIZE nMaxLen, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    uint64_t id = 0;
    if (app != nullptr && !app->decode(hNode, kSpaceNode, id)) result = kSimErrInvalidHandle;
    if (result == ERR_OK && (pszPath == nullptr || nMaxLen == 0)) result = kSimErrInvalidParameter;
    if (result != ERR_OK) {
        SetResult(pResult, result);
        return nullptr;
    }
    std::string path = app->fullPath(static_cast<uint32_t>(id));
    if (path.size() >= nMaxLen) {
        // Cut and terminated, so a caller that ignores the result still holds a string.
        std::memcpy(pszPath, path.data(), nMaxLen - 1);
        pszPath[nMaxLen - 1] = '\0';
        SetResult(pResult, kSimErrBufferTooSmall);
        return nullptr;
    }
    std::memcpy(pszPath, path.c_str(), path.size() + 1);
    SetResult(pResult, ERR_OK);
    return pszPath;
}

RTS_UI16 CSimApplication::hostGetNodeType(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    uint64_t id = 0;
    if (app != nullptr && !app->decode(hNode, kSpaceNode, id)) result = kSimErrInvalidHandle;
    SetResult(pResult, result);
    if (result != ERR_OK) return 0;
    if (!nodeTypes_.empty()) {
        auto found = nodeTypes_.find(ToUpper(app->fullPath(static_cast<uint32_t>(id))));
        if (found != nodeTypes_.end()) return found->second;
    }
    switch (app->node(static_cast<uint32_t>(id)).kind) {
        case kRoot:
            return kSimNodeKindRoot;
        case kBranch:
            return IECVARACC_NODE_BRANCH;
        default:
            return IECVARACC_NODE_VARIABLE;
    }
}

RTS_RESULT CSimApplication::hostInitVarInfo(VariableInformationStruct3* pVarInfo, RTS_SIZE nSize) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (pVarInfo == nullptr || nSize != sizeof(VariableInformationStruct3)) {
        hostErrors_.push_back(
            "IecVarAccInitVarInfo: " +
            std::string(pVarInfo == nullptr ? "NULL record" : "record size " + std::to_string(nSize)));
        return kSimErrInvalidParameter;
    }
    ++initCalls_;
    if (initFailFrom_ != 0 && initCalls_ >= initFailFrom_) return initFailCode_;
    if (pVarInfo->opaque[0] == kRecordMark && openRecords_.count(pVarInfo->opaque[1]) != 0) {
        hostErrors_.push_back("IecVarAccInitVarInfo: record prepared again while open");
    }
    std::memset(pVarInfo, 0, sizeof(*pVarInfo));
    pVarInfo->opaque[0] = kRecordMark;
    pVarInfo->opaque[1] = ++nextSerial_;
    openRecords_.insert(nextSerial_);
    return ERR_OK;
}

RTS_RESULT CSimApplication::hostExitVarInfo(VariableInformationStruct3* pVarInfo) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (pVarInfo == nullptr) {
        hostErrors_.push_back("IecVarAccExitVarInfo: NULL record");
        return kSimErrInvalidParameter;
    }
    if (pVarInfo->opaque[0] != kRecordMark || openRecords_.erase(pVarInfo->opaque[1]) == 0) {
        hostErrors_.push_back("IecVarAccExitVarInfo: record released without IecVarAccInitVarInfo, or twice");
        return kSimErrBadRecord;
    }
    pVarInfo->opaque[0] = 0;
    pVarInfo->opaque[1] = 0;
    return ERR_OK;
}

RTS_HANDLE CSimApplication::lookup(const char* pszName, RTS_HANDLE* phInterface, RTS_UINTPTR* pOffset,
                                   RTS_RESULT* pResult) {
    if (phInterface != nullptr) *phInterface = RTS_INVALID_HANDLE;
    if (app_ == nullptr) {
        SetResult(pResult, kSimErrNoApplication);
        return RTS_INVALID_HANDLE;
    }
    if (pszName == nullptr) {
        SetResult(pResult, kSimErrInvalidParameter);
        return RTS_INVALID_HANDLE;
    }
    CSimRunningApp::SResolved r;
    if ((!unknownNames_.empty() && unknownNames_.count(ToUpper(pszName)) != 0) ||
        !app_->resolve(pszName, true, r)) {
        SetResult(pResult, kSimErrUnknownName);
        return RTS_INVALID_HANDLE;
    }
    if (phInterface != nullptr) *phInterface = app_->handle(kSpaceInterface, 0);
    if (pOffset != nullptr) *pOffset = static_cast<RTS_UINTPTR>(app_->node(r.node).offset);
    SetResult(pResult, ERR_OK);
    return app_->handle(kSpaceNode, r.node);
}

RTS_HANDLE CSimApplication::hostGetNode3(const char* pszName, RTS_HANDLE* phInterface,
                                         VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    checkRecord(pVarInfo, "IecVarAccGetNode3");
    std::lock_guard<std::mutex> lock(mutex_);
    return lookup(pszName, phInterface, nullptr, pResult);
}

RTS_HANDLE CSimApplication::hostGetNode(const char* pszName, RTS_UINTPTR* pOffset, RTS_HANDLE* phInterface,
                                        RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookup(pszName, phInterface, pOffset, pResult);
}

namespace {

// The variable node behind hNode, or a result saying why there is none.
// REQUIRES: the application's mutex held.
const CSimNode* ValueNode(CSimRunningApp* app, RTS_HANDLE hNode, RTS_RESULT& result) {
    uint64_t id = 0;
    if (app == nullptr) return nullptr;
    if (!app->decode(hNode, kSpaceNode, id)) {
        result = kSimErrInvalidHandle;
        return nullptr;
    }
    const CSimNode& n = app->node(static_cast<uint32_t>(id));
    if (n.type == nullptr) {
        result = kSimErrNotAVariable;
        return nullptr;
    }
    return &n;
}

}  // namespace

RTS_SIZE CSimApplication::hostGetSize3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                       VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    checkRecord(pVarInfo, "IecVarAccGetSize3");
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    const CSimNode* n = ValueNode(appFor(hInterface, result), hNode, result);
    SetResult(pResult, result);
    return n != nullptr ? static_cast<RTS_SIZE>(n->type->size) : 0;
}

TypeClass3 CSimApplication::hostGetTypeClass3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                              VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    checkRecord(pVarInfo, "IecVarAccGetTypeClass3");
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    const CSimNode* n = ValueNode(appFor(hInterface, result), hNode, result);
    SetResult(pResult, result);
    return n != nullptr ? n->type->typeClass : TYPE3_NONE;
}

RTS_UI8* CSimApplication::hostGetAddress3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                          VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    checkRecord(pVarInfo, "IecVarAccGetAddress3");
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    const CSimNode* n = ValueNode(app, hNode, result);
    SetResult(pResult, result);
    return n != nullptr ? app->memory() + n->offset : nullptr;
}

char* CSimApplication::hostGetNodeName(RTS_HANDLE hInterface, RTS_HANDLE hNode, RTS_RESULT* pResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    uint64_t index = 0;
    if (app != nullptr && app->decode(hNode, kSpaceMember, index)) {
        const CSimTypeMember& tm = app->model().typeMembers[index];
        const CSimMember& member = tm.type->members[tm.member];
        SetResult(pResult, ERR_OK);
        if (!nullNames_.empty() && nullNames_.count(ToUpper(tm.type->name + "." + member.name)) != 0)
            return nullptr;
        return const_cast<char*>(member.name.c_str());
    }
    if (app != nullptr && !app->decode(hNode, kSpaceNode, index)) result = kSimErrInvalidHandle;
    SetResult(pResult, result);
    if (result != ERR_OK) return nullptr;
    return const_cast<char*>(givenName(*app, static_cast<uint32_t>(index)));
}

const char* CSimApplication::givenName(CSimRunningApp& app, uint32_t id) {
    if (!nullNames_.empty() || !renamed_.empty()) {
        const std::string path = ToUpper(app.fullPath(id));
        if (nullNames_.count(path) != 0) return nullptr;
        const auto renamed = renamed_.find(path);
        if (renamed != renamed_.end()) return renamed->second.c_str();
    }
    return app.nodeName(id);
}

RTS_HANDLE CSimApplication::hostGetTypeNode3(RTS_HANDLE hInterface, RTS_HANDLE hNode,
                                             VariableInformationStruct3* pVarInfo, RTS_RESULT* pResult) {
    checkRecord(pVarInfo, "IecVarAccGetTypeNode3");
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    const CSimNode* n = ValueNode(app, hNode, result);
    SetResult(pResult, result);
    return n != nullptr ? app->handle(kSpaceType, n->type->id) : RTS_INVALID_HANDLE;
}

RTS_RESULT CSimApplication::hostGetTypeDesc(RTS_HANDLE hInterface, RTS_HANDLE hTypeNode,
                                            TypeDescAsUnion* pTypeDesc) {
    std::lock_guard<std::mutex> lock(mutex_);
    RTS_RESULT result = ERR_OK;
    CSimRunningApp* app = appFor(hInterface, result);
    if (app == nullptr) return result;
    uint64_t index = 0;
    if (!app->decode(hTypeNode, kSpaceType, index)) return kSimErrInvalidHandle;
    if (pTypeDesc == nullptr) return kSimErrInvalidParameter;
    const CSimType& type = *app->model().types[index];
    pTypeDesc->_typeClass = type.typeClass;
    if (type.kind == CSimType::Kind::Array) {
        // Four dimensions are reported as such with the first three ranges: the record
        // has room for three.
        pTypeDesc->_union._array._iDimensions = static_cast<RTS_I16>(type.dims.size());
        for (size_t d = 0; d < 3; ++d) {
            pTypeDesc->_union._array._Dimension[d] =
                d < type.dims.size() ? type.dims[d] : ArrayDimension{0, 0};
        }
    } else if (type.kind == CSimType::Kind::Struct) {
        RTS_I32 count = static_cast<RTS_I32>(type.members.size());
        RTS_HANDLE* handles = pTypeDesc->_union._struct._Components;
        if (handles != nullptr) {
            // The caller's array holds as many handles as the _iComponents it passes in.
            if (pTypeDesc->_union._struct._iComponents < count) {
                pTypeDesc->_union._struct._iComponents = count;
                return kSimErrBufferTooSmall;
            }
            for (RTS_I32 i = 0; i < count; ++i)
                handles[i] = app->handle(kSpaceMember, type.members[i].handleIndex);
        }
        pTypeDesc->_union._struct._iComponents = count;
    }
    return ERR_OK;
}
