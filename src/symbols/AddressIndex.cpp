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

}  // namespace

// Collects the points and ranges of a set of trees. Used once, by the constructor.
struct CAddressIndex::CBuilder {
    struct CWholePoint {
        const void* address;
        const CVariable* node;
        uint64_t order;
        const void* root;
    };

    CAddressIndex& index;
    std::vector<CWholePoint> wholePoints;
    uint64_t order = 0;

    // Visits node and its subtree in post-order. scope: where its points go, null for
    // the whole address space; base: the address offsets in scope are counted from.
    // Recurses as deep as the application's types nest, as the walk did.
    void visit(const CVariable& node, CScope* scope, uintptr_t base, const void* root) {
        if (node.KeepsOneElement()) {
            index.layouts_.push_back(std::make_unique<CScope>());
            CScope* layout = index.layouts_.back().get();
            visit(*node.childVec_[0], layout, Bits(node.var_addr_), root);
            ++order;
            const uintptr_t begin = Bits(node.var_addr_) - base;
            CScope& around = scope != nullptr ? *scope : index.whole_;
            around.ranges.push_back(CRange{begin, begin + node.bounds_->elements * node.bounds_->stride,
                                           node.bounds_->stride, order, layout, root});
        } else {
            for (const std::shared_ptr<CVariable>& child : node.childVec_) {
                if (child) {
                    visit(*child, scope, base, root);
                }
            }
            ++order;
        }
        // Nodes the host did not resolve all sit at the null address, wherever they are.
        if (scope == nullptr || node.var_addr_ == nullptr) {
            wholePoints.push_back(CWholePoint{node.var_addr_, &node, order, root});
        } else {
            scope->points.push_back(CPoint{Bits(node.var_addr_) - base, &node, order});
        }
    }
};

CAddressIndex::CAddressIndex(std::vector<std::shared_ptr<CVariable>> roots) : roots_(std::move(roots)) {
    CBuilder builder{*this, {}, 0};
    for (const std::shared_ptr<CVariable>& root : roots_) {
        builder.visit(*root, nullptr, 0, root->var_addr_);
    }
    Order(whole_);
    for (const std::unique_ptr<CScope>& layout : layouts_) {
        Order(*layout);
    }

    // Each address keeps the last node written there, then meets the ranges.
    points_.reserve(builder.wholePoints.size());
    std::unordered_map<const void*, uint64_t> orders;
    orders.reserve(builder.wholePoints.size());
    for (const CBuilder::CWholePoint& point : builder.wholePoints) {
        points_[point.address] = CFound{point.node, 0, point.root};
        orders[point.address] = point.order;
    }
    size_t covered = 0;
    for (auto& entry : points_) {
        if (entry.first == nullptr) {
            continue;
        }
        const CHit hit = FindInRanges(whole_, Bits(entry.first));
        if (hit.node == nullptr) {
            continue;
        }
        ++covered;
        if (hit.order > orders[entry.first]) {
            entry.second = CFound{
                hit.node, static_cast<ptrdiff_t>(Bits(entry.first) - Bits(hit.node->var_addr_)), hit.root};
        }
    }

    std::unordered_map<const CScope*, uint64_t> memo;
    uint64_t addresses = points_.size() - covered;
    for (const CRange& range : whole_.ranges) {
        addresses += (range.end - range.begin) / range.stride * CountScope(*range.layout, memo);
    }
    addresses_ = static_cast<size_t>(addresses);
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
            best = CHit{inner.node, range.order, range.root};
        }
    }
    return best;
}

CAddressIndex::CHit CAddressIndex::FindInScope(const CScope& scope, uintptr_t offset) {
    CHit best;
    const auto point = std::lower_bound(scope.points.begin(), scope.points.end(), offset,
                                        [](const CPoint& p, uintptr_t at) { return p.offset < at; });
    if (point != scope.points.end() && point->offset == offset) {
        best = CHit{point->node, point->order, nullptr};
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
    const auto point = points_.find(address);
    if (point != points_.end()) {
        found = point->second;
        return true;
    }
    if (address == nullptr || whole_.ranges.empty()) {
        return false;
    }
    const CHit hit = FindInRanges(whole_, Bits(address));
    if (hit.node == nullptr) {
        return false;
    }
    found = CFound{hit.node, static_cast<ptrdiff_t>(Bits(address) - Bits(hit.node->var_addr_)), hit.root};
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
