// Manager: JSON texts into variables of the application.
//
// The text is parsed first, without a lock, iteratively (its depth never drives
// recursion). The variable is then found by its exact address in the address index and
// written member by member under the index lock, held shared, so that calls from
// several tasks on different variables run side by side while a reload waits for them.
// The walk recurses along the variable tree, whose depth is the nesting of the
// application's types, and looks into the JSON value only where the tree leads.
// Refusals are logged after the lock is released.
//
// The walk is one template with two instances: the plain one writes and nothing else;
// the reporting one also counts what it wrote, skipped and did not know, and keeps the
// first problem with its path.
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "frame/HostImports.h"
#include "var/DataConvert.h"
#include "var/DomDriverMgr.h"
#include "json/JsonParse.h"

namespace {

typedef rapidjson::Value Value;
typedef DataConverter::CLeafWrite CLeafWrite;

const char* const kTypeClassNames[] = {
    "BOOL",        "BIT",         "BYTE",      "WORD",     "DWORD",   "LWORD",          "SINT",
    "INT",         "DINT",        "LINT",      "USINT",    "UINT",    "UDINT",          "ULINT",
    "REAL",        "LREAL",       "STRING",    "WSTRING",  "TIME",    "DATE",           "DATE_AND_TIME",
    "TIME_OF_DAY", "POINTER",     "REFERENCE", "SUBRANGE", "ENUM",    "ARRAY",          "PARAMS",
    "USERDEF",     "NONE",        "ANY",       "ANYBIT",   "ANYDATE", "ANYINT",         "ANYNUM",
    "ANYREAL",     "LAZY",        "LTIME",     "BITCONST", "UXINT",   "XWORD",          "XINT",
    "XSTRING",     "VARLENARRAY", "ANYSTRING", "VECTOR",   "LDATE",   "LDATE_AND_TIME", "LTIME_OF_DAY",
    "INTERFACE"};

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

const char* ExpectedKind(TypeClass3 type) {
    switch (type) {
        case TYPE3_BOOL:
            return "a boolean";
        case TYPE3_REAL:
        case TYPE3_LREAL:
            return "a number with a fraction or an exponent";
        case TYPE3_STRING:
        case TYPE3_WSTRING:
            return "a string";
        default:
            return "an integer";
    }
}

std::string IntegerText(const Value& value) {
    return value.IsUint64() ? std::to_string(value.GetUint64()) : std::to_string(value.GetInt64());
}

// The integer leaf's value as its class reads it: signed classes signed, the others
// unsigned.
std::string StoredIntegerText(const CVariable& var) {
    const void* addr = var.var_addr_;
    switch (var.varType_) {
        case TYPE3_SINT:
            return std::to_string(DataConverter::convert<int8_t>(addr));
        case TYPE3_INT:
            return std::to_string(DataConverter::convert<int16_t>(addr));
        case TYPE3_DINT:
            return std::to_string(DataConverter::convert<int32_t>(addr));
        case TYPE3_LINT:
            return std::to_string(DataConverter::convert<int64_t>(addr));
        case TYPE3_BIT:
        case TYPE3_BYTE:
        case TYPE3_USINT:
            return std::to_string(DataConverter::convert<uint8_t>(addr));
        case TYPE3_WORD:
        case TYPE3_UINT:
            return std::to_string(DataConverter::convert<uint16_t>(addr));
        case TYPE3_LWORD:
        case TYPE3_ULINT:
            return std::to_string(DataConverter::convert<uint64_t>(addr));
        default:
            return std::to_string(DataConverter::convert<uint32_t>(addr));
    }
}

// Leaves of the subtree of var (var itself when it has no children).
uint32_t CountLeaves(const CVariable& var) {
    if (var.childVec_.empty()) {
        return 1;
    }
    uint32_t leaves = 0;
    for (const std::shared_ptr<CVariable>& child : var.childVec_) {
        leaves += child ? CountLeaves(*child) : 0;
    }
    return leaves;
}

// Writes one JSON value into one variable by the rules of its node: a leaf takes a
// scalar of the kind its class takes; a structure an object, member by member, the
// first member of each name; an array a JSON array of exactly its element count,
// element by element (and, for the variable itself, also an object whose members are
// named as the host names the elements). Whatever does not match leaves the part of
// the variable it was meant for unwritten. Lives on the stack of one call; the caller
// holds the index lock shared.
template <bool kReport>
class CVariableWriter {
   public:
    explicit CVariableWriter(CSymbolWriteReport* report) : report_(report) {}

    // The variable itself; source is the JSON value given for it, null when none.
    void writeVariable(const Value* source, const CVariable& var) {
        if (kReport) {
            path_ = var.symbol_nodename_;
        }
        write(source, var, true);
    }

    // A text whose root is not an object holds no member for the variable.
    void rootNotAnObject(const Value& root, const CVariable& var) {
        if (kReport) {
            path_ = var.symbol_nodename_;
            skip(var, std::string("expected an object holding \"") + var.symbol_nodename_ + "\", found " +
                          FoundKind(root));
        }
    }

   private:
    void write(const Value* source, const CVariable& var, bool isVariable) {
        if (source == nullptr) {
            if (kReport) {
                skip(var, "missing");
            }
            return;
        }
        if (var.childVec_.empty()) {
            writeLeaf(*source, var);
            return;
        }
        if (var.varType_ == TYPE3_ARRAY) {
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

    void writeLeaf(const Value& source, const CVariable& var) {
        if (!kReport) {
            DataConverter::JsonValueConvert(var.varType_, var.var_addr_, var.size_, source);
            return;
        }
        const CLeafWrite result =
            DataConverter::JsonValueWrite(var.varType_, var.var_addr_, var.size_, source);
        switch (result.outcome) {
            case CLeafWrite::kWritten:
                ++report_->written;
                if (result.wrapped && wantProblem()) {
                    problem(IntegerText(source) + " wrapped to " + StoredIntegerText(var));
                } else if (result.cut && wantProblem()) {
                    problem("cut to " + std::to_string(result.bytes) + " bytes");
                }
                return;
            case CLeafWrite::kWrongKind:
                ++report_->skipped;
                if (wantProblem()) {
                    problem(std::string("expected ") + ExpectedKind(var.varType_) + ", found " +
                            FoundKind(source));
                }
                return;
            case CLeafWrite::kOutOfRange:
                ++report_->skipped;
                if (wantProblem()) {
                    problem(IntegerText(source) + " is out of the range of " + kTypeClassNames[var.varType_]);
                }
                return;
            case CLeafWrite::kNeverWritten:
                ++report_->skipped;
                if (wantProblem()) {
                    const bool named = var.varType_ >= 0 && var.varType_ < TYPE3_MAX_TYPE;
                    if (var.varType_ > TYPE3_TIMEOFDAY || !named) {
                        problem(
                            std::string("type class ") +
                            (named ? kTypeClassNames[var.varType_] : std::to_string(var.varType_).c_str()) +
                            " is never written");
                    } else {
                        problem("no memory of its type to write to");
                    }
                }
                return;
        }
    }

    // REQUIRES: source is an array.
    void writeElements(const Value& source, const CVariable& var) {
        if (source.Size() != var.childVec_.size()) {
            if (kReport) {
                skip(var, std::to_string(source.Size()) + " elements given, " +
                              std::to_string(var.childVec_.size()) + " expected");
            }
            return;
        }
        for (rapidjson::SizeType i = 0; i < source.Size(); ++i) {
            const CVariable* child = var.childVec_[i].get();
            if (child != nullptr) {
                const size_t mark = enterElement(var, *child, i);
                write(&source[i], *child, false);
                leave(mark);
            }
        }
    }

    // REQUIRES: source is an object. Members are looked up by the children's names.
    // JSON members usually come in the order of the children: member i is tried first
    // for child i, and while every earlier child found its member at its own position,
    // a match there is the first member of that name (the children's names differ).
    void writeMembers(const Value& source, const CVariable& var, bool elements) {
        const rapidjson::SizeType count = source.MemberCount();
        std::vector<bool> matched;
        if (kReport) {
            matched.assign(count, false);
        }
        bool inOrder = true;
        for (size_t i = 0; i < var.childVec_.size(); ++i) {
            const CVariable* child = var.childVec_[i].get();
            if (child == nullptr) {
                inOrder = false;
                continue;
            }
            const std::string& name = child->symbol_nodename_;
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
            const size_t mark = elements ? enterElement(var, *child, i) : enterMember(name);
            if (index < 0) {
                write(nullptr, *child, false);
            } else {
                if (kReport) {
                    matched[static_cast<size_t>(index)] = true;
                }
                write(&source.MemberBegin()[index].value, *child, false);
            }
            leave(mark);
        }
        if (kReport) {
            countUnknown(source, var, matched);
        }
    }

    // Members of source that no child of var took and that name no child (a second
    // member of a name is not unknown).
    void countUnknown(const Value& source, const CVariable& var, const std::vector<bool>& matched) {
        for (rapidjson::SizeType j = 0; j < source.MemberCount(); ++j) {
            if (matched[j]) {
                continue;
            }
            const Value& name = source.MemberBegin()[j].name;
            bool known = false;
            for (const std::shared_ptr<CVariable>& child : var.childVec_) {
                known = known || (child && SameName(name, child->symbol_nodename_.data(),
                                                    child->symbol_nodename_.size()));
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
    void skip(const CVariable& var, const std::string& reason) {
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
    size_t enterElement(const CVariable& array, const CVariable& element, size_t index) {
        const size_t mark = path_.size();
        if (kReport) {
            // The host names an element after its array: "arr[2]" below "arr".
            const std::string& name = element.symbol_nodename_;
            const std::string& parent = array.symbol_nodename_;
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

// The text is the first size bytes at pJson, up to the first zero byte among them. It
// is parsed in a copy of its own, in place: strings and numbers are read where they
// stand in the copy, none is copied again. The document's strings point into `text`.
bool ParseText(const char* pJson, uint32_t size, std::unique_ptr<char[]>& text, rapidjson::Document& document,
               CJsonParseError* error) {
    const void* zero = std::memchr(pJson, 0, size);
    const size_t length =
        zero == nullptr ? size : static_cast<size_t>(static_cast<const char*>(zero) - pJson);
    text.reset(new char[length + 1]);
    std::memcpy(text.get(), pJson, length);
    text[length] = '\0';
    return ParseJson(text.get(), length, document, true, error);
}

}  // namespace

// The caller holds none of the index's locks.
template <bool kReport>
const char* CDomDriverMgr::writeSymbol(const rapidjson::Value* root, const rapidjson::Value* value,
                                       void* pData, CSymbolWriteReport* report) {
    return index_.WithVariable(pData, true, [&](const CVariable& var) {
        CVariableWriter<kReport> writer(report);
        if (root == nullptr) {
            writer.writeVariable(value, var);
        } else if (root->IsObject()) {
            writer.writeVariable(FindMember(*root, var.symbol_nodename_), var);
        } else {
            writer.rootNotAnObject(*root, var);
        }
    });
}

bool CDomDriverMgr::setSymbolFromJson(char* pJson, const uint32_t& size, void* pData) {
    if (pJson == nullptr) {
        LogRefusedCall("Json error");
        return false;
    }
    std::unique_ptr<char[]> text;
    rapidjson::Document document;
    if (!ParseText(pJson, size, text, document, nullptr)) {
        LogRefusedCall("Json error");
        return false;
    }
    const char* refusal = writeSymbol<false>(&document, nullptr, pData, nullptr);
    if (refusal != nullptr) {
        LogRefusedCall(refusal);
        return false;
    }
    return true;
}

bool CDomDriverMgr::setSymbolFromJsonReport(char* pJson, const uint32_t& size, void* pData,
                                            CSymbolWriteReport& report) {
    report = CSymbolWriteReport();
    if (pJson == nullptr) {
        report.problem = "Json error";
        LogRefusedCall("Json error");
        return false;
    }
    std::unique_ptr<char[]> text;
    rapidjson::Document document;
    CJsonParseError error;
    if (!ParseText(pJson, size, text, document, &error)) {
        report.errorOffset = static_cast<uint32_t>(error.offset);
        report.problem = "JSON text at byte " + std::to_string(error.offset) + ": " + error.reason;
        LogRefusedCall("Json error");
        return false;
    }
    const char* refusal = writeSymbol<true>(&document, nullptr, pData, &report);
    if (refusal != nullptr) {
        report.problem = refusal;
        LogRefusedCall(refusal);
        return false;
    }
    return true;
}

bool CDomDriverMgr::setSymbolFromValue(const rapidjson::Value& value, void* pData,
                                       CSymbolWriteReport* report) {
    const char* refusal = nullptr;
    if (report == nullptr) {
        refusal = writeSymbol<false>(nullptr, &value, pData, nullptr);
    } else {
        *report = CSymbolWriteReport();
        refusal = writeSymbol<true>(nullptr, &value, pData, report);
        if (refusal != nullptr) {
            report->problem = refusal;
        }
    }
    if (refusal != nullptr) {
        LogRefusedCall(refusal);
        return false;
    }
    return true;
}
