// Address index: building it from a walk's trees, looking addresses up, counting them.
//
// The order of writes (AddressIndex.h) is numbered as the build visits the trees: root by
// root, each tree in post-order. Every node outside arrays that keep one element, the
// arrays themselves included, is a point of the whole address space; every node inside
// one element of such an array is a point of that array's layout, at its offset from the
// element. A node inside an element is written before its array, and after everything
// written before the array's subtree: against a node outside the array it compares as
// the array does. So a range resolves an offset with the array's own order, and the
// point of the array itself, at the array's first byte, wins over its first element.
#include "symbols/AddressIndex.h"

#include <algorithm>

namespace {

uintptr_t Bits(const void* address) { return reinterpret_cast<uintptr_t>(address); }

// Where the probe for address starts in a table of `capacity` slots: the high bits of a
// multiplicative hash (addresses differ in their low bits), scaled to the table.
size_t Home(const void* address, size_t capacity) {
    const uint64_t hash = static_cast<uint64_t>(Bits(address)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>((static_cast<unsigned __int128>(hash) * capacity) >> 64);
}

// The nodes a table holds for one tree: every node outside arrays that keep one element
// (the arrays themselves included), and the unresolved nodes inside them.
size_t WholePoints(const CVariable& root) {
    size_t count = 0;
    std::vector<std::pair<const CVariable*, bool>> pending{{&root, false}};
    while (!pending.empty()) {
        const auto [node, inLayout] = pending.back();
        pending.pop_back();
        count += !inLayout || node->var_addr_ == nullptr ? 1 : 0;
        const bool layout = inLayout || node->KeepsOneElement();
        for (const CVariable& child : node->childVec_) {
            pending.emplace_back(&child, layout);
        }
    }
    return count;
}

}  // namespace

// Collects the points and ranges of a set of trees. Used once, by the constructor.
struct CAddressIndex::CBuilder {
    CAddressIndex& index;
    uint64_t order = 0;

    // Visits node and its subtree in post-order. scope: where its points go, null for
    // the whole address space; base: the address offsets in scope are counted from.
    // Recurses as deep as the application's types nest, as the walk did.
    void visit(const CVariable& node, CScope* scope, uintptr_t base, uint32_t root) {
        if (node.KeepsOneElement()) {
            index.layouts_.push_back(std::make_unique<CScope>());
            CScope* layout = index.layouts_.back().get();
            visit(node.childVec_[0], layout, Bits(node.var_addr_), root);
            ++order;
            const uintptr_t begin = Bits(node.var_addr_) - base;
            CScope& around = scope != nullptr ? *scope : index.whole_;
            around.ranges.push_back(CRange{begin, begin + node.bounds_->elements * node.bounds_->stride,
                                           node.bounds_->stride, order, layout, root,
                                           index.roots_[root].var_addr_});
        } else {
            for (const CVariable& child : node.childVec_) {
                visit(child, scope, base, root);
            }
            ++order;
        }
        // Nodes the host did not resolve all sit at the null address, wherever they are.
        if (scope == nullptr || node.var_addr_ == nullptr) {
            // Each write replaces what an earlier one put under the same address.
            CSlot& slot = index.SlotOf(node.var_addr_);
            index.points_ += slot.node == nullptr ? 1 : 0;
            slot = CSlot{node.var_addr_, &node, root, static_cast<uint32_t>(order)};
        } else {
            scope->points.push_back(CPoint{Bits(node.var_addr_) - base, &node, order});
        }
    }
};

CAddressIndex::CAddressIndex(CRoots roots) : roots_(std::move(roots)) {
    size_t points = 0;
    for (const CVariable& root : roots_) {
        points += WholePoints(root);
    }
    // Half full at most, so that a probe for an address no node starts at (an element's,
    // the common case) ends after two or three slots; one slot stays empty, so every
    // probe ends.
    capacity_ = 2 * points + 1;
    slots_.reset(new CSlot[capacity_]());
    CBuilder builder{*this, 0};
    for (uint32_t root = 0; root < roots_.size(); ++root) {
        builder.visit(roots_[root], nullptr, 0, root);
    }
    Order(whole_);
    for (const std::unique_ptr<CScope>& layout : layouts_) {
        Order(*layout);
    }

    // Each address keeps the last node written there, unless a range written later
    // resolves it.
    size_t covered = 0;
    for (size_t i = 0; i < capacity_; ++i) {
        CSlot& slot = slots_[i];
        if (slot.node == nullptr || slot.address == nullptr) {
            continue;
        }
        const CHit hit = FindInRanges(whole_, Bits(slot.address));
        if (hit.node == nullptr) {
            continue;
        }
        ++covered;
        if (hit.order > slot.order) {
            slot.node = hit.node;
            slot.root = hit.root;
        }
    }

    std::unordered_map<const CScope*, uint64_t> memo;
    uint64_t addresses = points_ - covered;
    for (const CRange& range : whole_.ranges) {
        addresses += (range.end - range.begin) / range.stride * CountScope(*range.layout, memo);
    }
    addresses_ = static_cast<size_t>(addresses);
}

const CAddressIndex::CSlot& CAddressIndex::SlotOf(const void* address) const {
    static const CSlot kNone{nullptr, nullptr, 0, 0};
    if (capacity_ == 0) {
        return kNone;
    }
    for (size_t i = Home(address, capacity_);; i = i + 1 == capacity_ ? 0 : i + 1) {
        const CSlot& slot = slots_[i];
        if (slot.node == nullptr || slot.address == address) {
            return slot;
        }
    }
}

CAddressIndex::~CAddressIndex() = default;

void CAddressIndex::Order(CScope& scope) {
    std::vector<CPoint>& points = scope.points;
    std::sort(points.begin(), points.end(), [](const CPoint& a, const CPoint& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.order < b.order;
    });
    // One point per offset: the last written.
    size_t kept = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        if (kept > 0 && points[kept - 1].offset == points[i].offset) {
            points[kept - 1] = points[i];
        } else {
            points[kept++] = points[i];
        }
    }
    points.resize(kept);
    points.shrink_to_fit();

    std::sort(scope.ranges.begin(), scope.ranges.end(),
              [](const CRange& a, const CRange& b) { return a.begin < b.begin; });
    scope.ranges.shrink_to_fit();
    scope.reach.resize(scope.ranges.size());
    uintptr_t reach = 0;
    for (size_t i = 0; i < scope.ranges.size(); ++i) {
        reach = std::max(reach, scope.ranges[i].end);
        scope.reach[i] = reach;
    }
}

CAddressIndex::CHit CAddressIndex::FindInRanges(const CScope& scope, uintptr_t offset) {
    CHit best;
    const auto after = std::upper_bound(scope.ranges.begin(), scope.ranges.end(), offset,
                                        [](uintptr_t at, const CRange& range) { return at < range.begin; });
    // Ranges that begin at or before offset, back to the first whose predecessors all end
    // before it; more than one only where arrays overlap.
    for (size_t j = static_cast<size_t>(after - scope.ranges.begin()); j-- > 0 && scope.reach[j] > offset;) {
        const CRange& range = scope.ranges[j];
        if (offset >= range.end || (best.node != nullptr && range.order <= best.order)) {
            continue;
        }
        const CHit inner = FindInScope(*range.layout, (offset - range.begin) % range.stride);
        if (inner.node != nullptr) {
            best = CHit{inner.node, range.order, range.root, range.rootAddress};
        }
    }
    return best;
}

CAddressIndex::CHit CAddressIndex::FindInScope(const CScope& scope, uintptr_t offset) {
    CHit best;
    const auto point = std::lower_bound(scope.points.begin(), scope.points.end(), offset,
                                        [](const CPoint& p, uintptr_t at) { return p.offset < at; });
    if (point != scope.points.end() && point->offset == offset) {
        best = CHit{point->node, point->order, 0, nullptr};
    }
    if (!scope.ranges.empty()) {
        const CHit inRange = FindInRanges(scope, offset);
        if (inRange.node != nullptr && (best.node == nullptr || inRange.order > best.order)) {
            best = inRange;
        }
    }
    return best;
}

bool CAddressIndex::Find(const void* address, CFound& found) const {
    const CSlot& slot = SlotOf(address);
    if (slot.node != nullptr) {
        found = CFound{slot.node, static_cast<ptrdiff_t>(Bits(address) - Bits(slot.node->var_addr_)),
                       roots_[slot.root].var_addr_};
        return true;
    }
    if (address == nullptr || whole_.ranges.empty()) {
        return false;
    }
    const CHit hit = FindInRanges(whole_, Bits(address));
    if (hit.node == nullptr) {
        return false;
    }
    found =
        CFound{hit.node, static_cast<ptrdiff_t>(Bits(address) - Bits(hit.node->var_addr_)), hit.rootAddress};
    return true;
}

uint64_t CAddressIndex::CountScope(const CScope& scope, std::unordered_map<const CScope*, uint64_t>& memo) {
    const auto known = memo.find(&scope);
    if (known != memo.end()) {
        return known->second;
    }
    uint64_t count = scope.points.size();
    for (const CPoint& point : scope.points) {
        count -= FindInRanges(scope, point.offset).node != nullptr ? 1 : 0;
    }
    for (const CRange& range : scope.ranges) {
        count += (range.end - range.begin) / range.stride * CountScope(*range.layout, memo);
    }
    memo.emplace(&scope, count);
    return count;
}
