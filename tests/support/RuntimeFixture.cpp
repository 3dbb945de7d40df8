#include "support/RuntimeFixture.h"

void PrintTo(const CSimRuntime& runtime, std::ostream* out) { *out << runtime.name; }

std::string RuntimeTestName(const ::testing::TestParamInfo<CSimRuntime>& info) { return info.param.name; }

std::string ComponentName(const std::string& fullName) {
    std::string name;
    if (CSimApplication::instance().nodeName(fullName, name)) {
        return name;
    }
    if (!fullName.empty() && fullName.back() == ']') {
        return fullName.substr(fullName.rfind('['));
    }
    return fullName.substr(fullName.rfind('.') + 1);
}

namespace {

// The indices of element `linear` of an array of type `type`, as the host writes them.
std::string Indices(const CSimType& type, uint64_t linear) {
    std::vector<int64_t> indices(type.dims.size());
    for (size_t d = type.dims.size(); d-- > 0;) {
        const uint64_t extent =
            static_cast<uint64_t>(int64_t(type.dims[d].MaxRange) - type.dims[d].MinRange + 1);
        indices[d] = type.dims[d].MinRange + static_cast<int64_t>(linear % extent);
        linear /= extent;
    }
    std::string text = "[";
    for (size_t d = 0; d < indices.size(); ++d) {
        text += (d > 0 ? "," : "") + std::to_string(indices[d]);
    }
    return text + "]";
}

}  // namespace

std::shared_ptr<CVariable> ReferenceTree(const std::string& fullName, const std::set<std::string>& unknown) {
    auto node = std::make_shared<CVariable>();
    if (unknown.count(fullName) != 0) {
        return node;
    }
    CSimApplication& app = CSimApplication::instance();
    node->varType_ = app.typeClass(fullName);
    node->size_ = static_cast<uint32_t>(app.size(fullName));
    node->var_addr_ = app.address(fullName);
    node->symbol_nodename_ = ComponentName(fullName);
    const CSimType& type = *app.type(fullName);
    if (type.kind == CSimType::Kind::Struct) {
        for (const CSimMember& member : type.members) {
            node->AddChild(ReferenceTree(fullName + "." + member.name, unknown));
        }
    } else if (type.kind == CSimType::Kind::Array && type.dims.size() <= 3) {
        node->bounds_.reset(new CVariable::CArrayBounds());
        node->bounds_->count = type.dims.size();
        node->bounds_->elements = type.count;
        for (size_t d = 0; d < type.dims.size(); ++d) {
            node->bounds_->dimension[d] = CVariable::CBounds{type.dims[d].MinRange, type.dims[d].MaxRange};
        }
        for (uint64_t i = 0; i < type.count; ++i) {
            node->AddChild(ReferenceTree(fullName + Indices(type, i), unknown));
        }
    }
    return node;
}
