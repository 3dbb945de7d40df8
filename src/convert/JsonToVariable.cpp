// JSON to variable: one JSON value written into one variable of the application, leaf
// by leaf through the type-class table, optionally with a report of what was written.
//
// The walk recurses along the variable tree, whose depth is the nesting of the
// application's types, and looks into the JSON value only where the tree leads. It
// reaches members and elements only through CVariableView. The caller holds the index
// shared and the variable's lock exclusively.
//
// The walk is one template with two instances: the plain one writes and nothing else;
// the reporting one also counts what it wrote, skipped and did not know, and keeps the
// first problem with its path.
#include "convert/JsonToVariable.h"

#include <cstring>
#include <string>
#include <vector>

#include "convert/TypeClassTable.h"

namespace {

typedef CJsonValue Value;

// Whether a member name is the length bytes at text. Names are mostly short: they are
// compared in place rather than through a call.
inline bool SameName(const Value& name, const char* text, size_t length) {
    if (name.GetStringLength() != length) {
        return false;
    }
    const char* own = name.GetString();
    if (length > 16) {
        return std::memcmp(own, text, length) == 0;
    }
    for (size_t i = 0; i < length; ++i) {
        if (own[i] != text[i]) {
            return false;
        }
    }
    return true;
}

// The index of the first member of object whose name is the length bytes at name,
// compared byte for byte; -1 when object is not an object or has no such member.
long FindMemberIndex(const Value& object, const char* name, size_t length) {
    if (!object.IsObject()) {
        return -1;
    }
    const Value::ConstMemberIterator begin = object.MemberBegin();
    const Value::ConstMemberIterator end = object.MemberEnd();
    for (Value::ConstMemberIterator member = begin; member != end; ++member) {
        if (member->name.GetStringLength() == length &&
            std::memcmp(member->name.GetString(), name, length) == 0) {
            return static_cast<long>(member - begin);
        }
    }
    return -1;
}

const Value* FindMember(const Value& object, const std::string& name) {
    const long index = FindMemberIndex(object, name.data(), name.size());
    return index < 0 ? nullptr : &object.MemberBegin()[index].value;
}

const char* FoundKind(const Value& value) {
    switch (value.GetType()) {
        case rapidjson::kNullType:
            return "null";
        case rapidjson::kFalseType:
        case rapidjson::kTrueType:
            return "a boolean";
        case rapidjson::kObjectType:
            return "an object";
        case rapidjson::kArrayType:
            return "an array";
        case rapidjson::kStringType:
            return "a string";
        default:
            return value.IsDouble() ? "a number with a fraction or an exponent" : "an integer";
    }
}

std::string IntegerText(const Value& value) {
    return value.IsUint64() ? std::to_string(value.GetUint64()) : std::to_string(value.GetInt64());
}

// Leaves of the subtree of var (var itself when it has no children).
uint32_t CountLeaves(CVariableView var) {
    if (var.isLeaf()) {
        return 1;
    }
    uint32_t leaves = 0;
    for (size_t i = 0; i < var.childCount(); ++i) {
        const CVariableView child = var.child(i);
        leaves += child ? CountLeaves(child) : 0;
    }
    return leaves;
}

// Writes one JSON value into one variable by the rules of its node: a leaf takes a
// scalar of the kind its class takes; a structure an object, member by member, the
// first member of each name; an array a JSON array of exactly its element count,
// element by element (and, for the variable itself, also an object whose members are
// named as the host names the elements). Whatever does not match leaves the part of
// the variable it was meant for unwritten. Lives on the stack of one call.
template <bool kReport>
class CVariableWriter {
   public:
    explicit CVariableWriter(CSymbolWriteReport* report) : report_(report) {}

    // The variable itself; source is the JSON value given for it, null when none.
    void writeVariable(const Value* source, CVariableView var) {
        if (kReport) {
            path_ = var.name();
        }
        write(source, var, true);
    }

    // A text whose root is not an object holds no member for the variable.
    void rootNotAnObject(const Value& root, CVariableView var) {
        if (kReport) {
            path_ = var.name();
            skip(var,
                 std::string("expected an object holding \"") + var.name() + "\", found " + FoundKind(root));
        }
    }

   private:
    void write(const Value* source, CVariableView var, bool isVariable) {
        if (source == nullptr) {
            if (kReport) {
                skip(var, "missing");
            }
            return;
        }
        if (var.isLeaf()) {
            writeLeaf(*source, var);
            return;
        }
        if (var.type() == TYPE3_ARRAY) {
            if (source->IsArray()) {
                writeElements(*source, var);
            } else if (isVariable && source->IsObject()) {
                writeMembers(*source, var, true);
            } else if (kReport) {
                skip(var, std::string("expected an array, found ") + FoundKind(*source));
            }
            return;
        }
        if (source->IsObject()) {
            writeMembers(*source, var, false);
        } else if (kReport) {
            skip(var, std::string("expected an object, found ") + FoundKind(*source));
        }
    }

    void writeLeaf(const Value& source, CVariableView var) {
        const CLeafWrite result = DecodeLeaf(var.type(), var.address(), var.size(), source, kReport);
        if (!kReport) {
            return;
        }
        switch (result.outcome) {
            case CLeafWrite::kWritten:
                ++report_->written;
                if (result.wrapped && wantProblem()) {
                    problem(IntegerText(source) + " wrapped to " +
                            StoredIntegerText(var.type(), var.address()));
                } else if (result.cut && wantProblem()) {
                    problem("cut to " + std::to_string(result.bytes) + " bytes");
                }
                return;
            case CLeafWrite::kWrongKind:
                ++report_->skipped;
                if (wantProblem()) {
                    problem(std::string("expected ") + TypeClassRow(var.type()).expected + ", found " +
                            FoundKind(source));
                }
                return;
            case CLeafWrite::kOutOfRange:
                ++report_->skipped;
                if (wantProblem()) {
                    problem(IntegerText(source) + " is out of the range of " + TypeClassRow(var.type()).name);
                }
                return;
            case CLeafWrite::kNeverWritten:
                ++report_->skipped;
                if (wantProblem()) {
                    const char* name = TypeClassRow(var.type()).name;
                    if (!IsWritableClass(var.type())) {
                        problem(std::string("type class ") +
                                (name != nullptr ? std::string(name) : std::to_string(var.type())) +
                                " is never written");
                    } else {
                        problem("no memory of its type to write to");
                    }
                }
                return;
        }
    }

    // REQUIRES: source is an array.
    void writeElements(const Value& source, CVariableView var) {
        if (source.Size() != var.childCount()) {
            if (kReport) {
                skip(var, std::to_string(source.Size()) + " elements given, " +
                              std::to_string(var.childCount()) + " expected");
            }
            return;
        }
        for (rapidjson::SizeType i = 0; i < source.Size(); ++i) {
            const CVariableView child = var.child(i);
            if (child) {
                const size_t mark = enterElement(var, child, i);
                write(&source[i], child, false);
                leave(mark);
            }
        }
    }

    // REQUIRES: source is an object. Members are looked up by the children's names.
    // JSON members usually come in the order of the children: member i is tried first
    // for child i, and while every earlier child found its member at its own position,
    // a match there is the first member of that name (the children's names differ).
    void writeMembers(const Value& source, CVariableView var, bool elements) {
        const rapidjson::SizeType count = source.MemberCount();
        std::vector<bool> matched;
        if (kReport) {
            matched.assign(count, false);
        }
        bool inOrder = true;
        for (size_t i = 0; i < var.childCount(); ++i) {
            const CVariableView child = var.child(i);
            if (!child) {
                inOrder = false;
                continue;
            }
            const std::string& name = child.name();
            long index = -1;
            if (inOrder && i < count) {
                if (SameName(source.MemberBegin()[i].name, name.data(), name.size())) {
                    index = static_cast<long>(i);
                }
            }
            if (index < 0) {
                inOrder = false;
                index = FindMemberIndex(source, name.data(), name.size());
            }
            const size_t mark = elements ? enterElement(var, child, i) : enterMember(name);
            if (index < 0) {
                write(nullptr, child, false);
            } else {
                if (kReport) {
                    matched[static_cast<size_t>(index)] = true;
                }
                write(&source.MemberBegin()[index].value, child, false);
            }
            leave(mark);
        }
        if (kReport) {
            countUnknown(source, var, matched);
        }
    }

    // Members of source that no child of var took and that name no child (a second
    // member of a name is not unknown).
    void countUnknown(const Value& source, CVariableView var, const std::vector<bool>& matched) {
        for (rapidjson::SizeType j = 0; j < source.MemberCount(); ++j) {
            if (matched[j]) {
                continue;
            }
            const Value& name = source.MemberBegin()[j].name;
            bool known = false;
            for (size_t i = 0; i < var.childCount() && !known; ++i) {
                const CVariableView child = var.child(i);
                known = child && SameName(name, child.name().data(), child.name().size());
            }
            if (!known) {
                ++report_->unknown;
                if (wantProblem()) {
                    const size_t mark = enterMember(std::string(name.GetString(), name.GetStringLength()));
                    problem("unknown member");
                    leave(mark);
                }
            }
        }
    }

    // All leaves below var stay unwritten, for reason.
    void skip(CVariableView var, const std::string& reason) {
        report_->skipped += CountLeaves(var);
        if (wantProblem()) {
            problem(reason);
        }
    }

    bool wantProblem() const { return kReport && report_->problem.empty(); }
    void problem(const std::string& reason) { report_->problem = path_ + ": " + reason; }

    // The path grows by ".member" or by the element's index as the host writes it
    // ("[2]", "[1,0]"); leave() takes it back to the mark enter*() returned.
    size_t enterMember(const std::string& name) {
        const size_t mark = path_.size();
        if (kReport) {
            path_ += '.';
            path_ += name;
        }
        return mark;
    }
    size_t enterElement(CVariableView array, CVariableView element, size_t index) {
        const size_t mark = path_.size();
        if (kReport) {
            // The host names an element after its array: "arr[2]" below "arr".
            const std::string& name = element.name();
            const std::string& parent = array.name();
            if (name.size() > parent.size() && name.compare(0, parent.size(), parent) == 0 &&
                name[parent.size()] == '[') {
                path_.append(name, parent.size(), std::string::npos);
            } else if (!name.empty() && name[0] == '[') {
                path_ += name;
            } else {
                path_ += '[' + std::to_string(index) + ']';
            }
        }
        return mark;
    }
    void leave(size_t mark) {
        if (kReport) {
            path_.resize(mark);
        }
    }

    CSymbolWriteReport* report_;
    std::string path_;  // reporting only: where the walk is, from the variable's name
};

template <bool kReport>
void Write(const Value* root, const Value* value, CVariableView var, CSymbolWriteReport* report) {
    CVariableWriter<kReport> writer(report);
    if (root == nullptr) {
        writer.writeVariable(value, var);
    } else if (root->IsObject()) {
        writer.writeVariable(FindMember(*root, var.name()), var);
    } else {
        writer.rootNotAnObject(*root, var);
    }
}

}  // namespace

void WriteVariable(const CJsonValue* root, const CJsonValue* value, CVariableView var,
                   CSymbolWriteReport* report) {
    if (report == nullptr) {
        Write<false>(root, value, var, nullptr);
    } else {
        Write<true>(root, value, var, report);
    }
}
