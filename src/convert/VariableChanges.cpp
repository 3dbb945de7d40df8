// Variable changes, walked through CVariableView.
#include "convert/VariableChanges.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "convert/VariableToJson.h"
#include "frame/LogTexts.h"

namespace {

// A part of the variable that a patch sends: its bytes go into the copy once the patch is
// made.
struct CSentPart {
    size_t offset;
    size_t size;
};

// The comparison of one variable with the caller's copy and the patch of what changed.
class CChangeWalk {
   public:
    CChangeWalk(CVariableView var, const CLastSent& last, ValueForm form, CJsonAllocator& allocator,
                std::vector<CSentPart>& sent)
        : base_(static_cast<const unsigned char*>(var.address())),
          copy_(last.copy),
          size_(last.size),
          deadband_(last.deadband),
          form_(form),
          allocator_(allocator),
          sent_(sent) {}

    // The leaves of var that changed.
    size_t Count(CVariableView var) const {
        if (var.isLeaf()) {
            return LeafChanged(var) ? 1 : 0;
        }
        if (SameBytes(var)) {
            return 0;
        }
        size_t changed = 0;
        for (size_t i = 0; i < var.childCount(); ++i) {
            const CVariableView child = var.child(i);
            if (child) {
                changed += Count(child);
            }
        }
        return changed;
    }

    // The patch of var into out; the leaves that changed (none: out is not made).
    size_t Patch(CVariableView var, CJsonValue& out) {
        if (var.isLeaf()) {
            if (!LeafChanged(var)) {
                return 0;
            }
            out = EncodeLeaf(var.type(), var.address(), var.size(), form_, allocator_);
            Sent(var);
            return 1;
        }
        if (var.type() == TYPE3_ARRAY) {
            const size_t changed = Count(var);
            if (changed > 0) {
                out = VariableToJson(var, allocator_, form_);
                Sent(var);
            }
            return changed;
        }
        if (SameBytes(var)) {
            return 0;
        }
        out.SetObject();
        size_t changed = 0;
        for (size_t i = 0; i < var.childCount(); ++i) {
            const CVariableView child = var.child(i);
            if (!child) {
                continue;  // written by no walk
            }
            CJsonValue value;
            const size_t inside = Patch(child, value);
            if (inside > 0) {
                const CVariableName name = child.name();
                CJsonValue copied(name.data(), static_cast<rapidjson::SizeType>(name.size()), allocator_);
                out.AddMember(copied, value, allocator_);
                changed += inside;
            }
        }
        return changed;
    }

    // The whole variable is sent.
    void SentWhole() { sent_.push_back(CSentPart{0, size_}); }

   private:
    // Where var lies in the variable: false for a node without memory or one whose bytes
    // are not all inside the variable's (a copy holds no bytes for it).
    bool Inside(CVariableView var, size_t& offset) const {
        const unsigned char* at = static_cast<const unsigned char*>(var.address());
        if (at == nullptr || at < base_ || static_cast<size_t>(at - base_) > size_ ||
            var.size() > size_ - static_cast<size_t>(at - base_)) {
            return false;
        }
        offset = static_cast<size_t>(at - base_);
        return true;
    }

    // Whether all of var's bytes equal the copy's: then nothing inside has changed.
    bool SameBytes(CVariableView var) const {
        size_t offset = 0;
        return Inside(var, offset) && std::memcmp(base_ + offset, copy_ + offset, var.size()) == 0;
    }

    template <typename Real>
    bool RealChanged(const unsigned char* now, const unsigned char* then) const {
        if (std::memcmp(now, then, sizeof(Real)) == 0) {
            return false;
        }
        Real a;
        Real b;
        std::memcpy(&a, now, sizeof(Real));
        std::memcpy(&b, then, sizeof(Real));
        if (deadband_ == 0 || !std::isfinite(a) || !std::isfinite(b)) {
            return true;
        }
        return std::fabs(static_cast<double>(a) - static_cast<double>(b)) > deadband_;
    }

    bool LeafChanged(CVariableView leaf) const {
        const TypeClass3 type = leaf.type();
        const CTypeClassRow& row = TypeClassRow(type);
        size_t offset = 0;
        if (IsAlwaysNullClass(type) || leaf.size() < row.width || !Inside(leaf, offset)) {
            return false;  // written as null whatever its bytes, or not comparable
        }
        const unsigned char* now = base_ + offset;
        const unsigned char* then = copy_ + offset;
        size_t compared = row.width != 0 ? row.width : leaf.size();
        switch (type) {
            case TYPE3_REAL:
                return RealChanged<float>(now, then);
            case TYPE3_LREAL:
                return RealChanged<double>(now, then);
            case TYPE3_STRING: {
                const void* zero = std::memchr(now, 0, leaf.size());
                if (zero != nullptr) {
                    compared = static_cast<size_t>(static_cast<const unsigned char*>(zero) - now) + 1;
                }
                break;
            }
            case TYPE3_WSTRING: {
                compared = leaf.size() / 2 * 2;
                for (size_t i = 0; i + 1 < compared; i += 2) {
                    if (now[i] == 0 && now[i + 1] == 0) {
                        compared = i + 2;
                        break;
                    }
                }
                break;
            }
            default:
                break;
        }
        return std::memcmp(now, then, compared) != 0;
    }

    // var's bytes go into the copy once the patch is made; a part right after the last one
    // joins it.
    void Sent(CVariableView var) {
        size_t offset = 0;
        if (!Inside(var, offset)) {
            return;
        }
        if (!sent_.empty() && sent_.back().offset + sent_.back().size == offset) {
            sent_.back().size += var.size();
            return;
        }
        sent_.push_back(CSentPart{offset, var.size()});
    }

    const unsigned char* base_;
    const unsigned char* copy_;
    size_t size_;
    double deadband_;
    ValueForm form_;
    CJsonAllocator& allocator_;
    std::vector<CSentPart>& sent_;
};

}  // namespace

const char* VariableChanges(CVariableView var, const CLastSent& last, CJsonAllocator& allocator,
                            ValueForm form, CJsonValue& out, bool& made, uint32_t& changed) {
    made = false;
    changed = 0;
    // !(deadband >= 0) holds for NaN too.
    if (last.copy == nullptr || last.size != var.size() || !(last.deadband >= 0) ||
        var.address() == nullptr) {
        return LogText(ELogText::kInvalidArgument);
    }
    // The parts sent, kept by the thread: a cycle like the last takes no memory for them.
    static thread_local std::vector<CSentPart> s_sent;
    s_sent.clear();
    CChangeWalk walk(var, last, form, allocator, s_sent);
    size_t leaves = 0;
    if (last.keyFrame) {
        leaves = walk.Count(var);
        out = VariableToJson(var, allocator, form);
        walk.SentWhole();
    } else {
        leaves = walk.Patch(var, out);
    }
    // Everything that may fail is done: the copy follows what is sent.
    const unsigned char* from = static_cast<const unsigned char*>(var.address());
    for (const CSentPart& part : s_sent) {
        std::memmove(last.copy + part.offset, from + part.offset, part.size);
    }
    made = last.keyFrame || leaves > 0;
    changed = static_cast<uint32_t>(leaves);
    return nullptr;
}
