// The IEC declarations of the component's function blocks (iec/*.st), as an integrator
// imports them, against the C records the external functions take: every method's
// record, laid out by the IEC compiler's rules for a 64-bit target, must have the C
// record's size and each field's name, offset and size, in order.
//
// A new block needs its .st file in iec/ and its records in kRecords below.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "RV5072_Zentrik/RV5072_ZentrikItf.h"
#include "SimDeclCompiler.h"
#include "SimDeclParser.h"
#include "StComponentMethods.h"
#include "support/ComponentFixture.h"
#include "support/ReaderCalls.h"

namespace {

struct CField {
    const char* name;
    size_t offset;
    size_t size;
};
struct CRecord {
    const char* function;  // the external function that takes the record
    size_t size;
    std::vector<CField> fields;
};

// clang-format off
#define ZK_FIELD(record, field) \
    CField{#field, offsetof(record, field), sizeof(static_cast<record*>(nullptr)->field)}
#define ZK_F1(r, a) ZK_FIELD(r, a)
#define ZK_F2(r, a, ...) ZK_FIELD(r, a), ZK_F1(r, __VA_ARGS__)
#define ZK_F3(r, a, ...) ZK_FIELD(r, a), ZK_F2(r, __VA_ARGS__)
#define ZK_F4(r, a, ...) ZK_FIELD(r, a), ZK_F3(r, __VA_ARGS__)
#define ZK_F5(r, a, ...) ZK_FIELD(r, a), ZK_F4(r, __VA_ARGS__)
#define ZK_F6(r, a, ...) ZK_FIELD(r, a), ZK_F5(r, __VA_ARGS__)
#define ZK_F7(r, a, ...) ZK_FIELD(r, a), ZK_F6(r, __VA_ARGS__)
#define ZK_F8(r, a, ...) ZK_FIELD(r, a), ZK_F7(r, __VA_ARGS__)
#define ZK_F9(r, a, ...) ZK_FIELD(r, a), ZK_F8(r, __VA_ARGS__)
#define ZK_F10(r, a, ...) ZK_FIELD(r, a), ZK_F9(r, __VA_ARGS__)
#define ZK_F11(r, a, ...) ZK_FIELD(r, a), ZK_F10(r, __VA_ARGS__)
#define ZK_F12(r, a, ...) ZK_FIELD(r, a), ZK_F11(r, __VA_ARGS__)
#define ZK_F13(r, a, ...) ZK_FIELD(r, a), ZK_F12(r, __VA_ARGS__)
#define ZK_F14(r, a, ...) ZK_FIELD(r, a), ZK_F13(r, __VA_ARGS__)
#define ZK_F15(r, a, ...) ZK_FIELD(r, a), ZK_F14(r, __VA_ARGS__)
#define ZK_PICK(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, _11, _12, _13, _14, _15, name, ...) name
#define ZK_FIELDS(r, ...)                                                                          \
    ZK_PICK(__VA_ARGS__, ZK_F15, ZK_F14, ZK_F13, ZK_F12, ZK_F11, ZK_F10, ZK_F9, ZK_F8, ZK_F7, ZK_F6, \
            ZK_F5, ZK_F4, ZK_F3, ZK_F2, ZK_F1)(r, __VA_ARGS__)
// One row: block, method, and the record's fields in order (at most 15).
#define ZK_RECORD(block, method, ...)                                                              \
    CRecord{#block "__" #method, sizeof(block##_##method##_struct),                                \
            {ZK_FIELDS(block##_##method##_struct, __VA_ARGS__)}}
// clang-format on

const std::vector<CRecord> kRecords = {
    ZK_RECORD(fb_jsonsaxwriter, main, pInstance),
    ZK_RECORD(fb_jsonsaxwriter, resetdocument, pInstance, ResetDocument),
    ZK_RECORD(fb_jsonsaxwriter, addkeystring, pInstance, key, value),
    ZK_RECORD(fb_jsonsaxwriter, addkeybool, pInstance, key, value),
    ZK_RECORD(fb_jsonsaxwriter, addkeynumber, pInstance, key, value),
    ZK_RECORD(fb_jsonsaxwriter, addkeylreal, pInstance, key, value),
    ZK_RECORD(fb_jsonsaxwriter, addkeydatetime, pInstance, key, value),
    ZK_RECORD(fb_jsonsaxwriter, addkeynull, pInstance, key),
    ZK_RECORD(fb_jsonsaxwriter, addkey, pInstance, key),
    ZK_RECORD(fb_jsonsaxwriter, addstring, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, addbool, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, adddint, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, addudint, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, addlint, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, addreal, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, addlreal, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, adddatetime, pInstance, value),
    ZK_RECORD(fb_jsonsaxwriter, addnull, pInstance),
    ZK_RECORD(fb_jsonsaxwriter, getdocument, pInstance, GetDocument, hrErrorCode),
    ZK_RECORD(fb_jsonsaxwriter, getdocumentlength, pInstance, GetDocumentLength, hrErrorCode),
    ZK_RECORD(fb_jsonsaxwriter, copydocument, pInstance, pDoc, nDoc, CopyDocument, hrErrorCode),
    ZK_RECORD(fb_jsonsaxwriter, copydocumentpart, pInstance, nOffset, pDoc, nDoc, CopyDocumentPart, nLength,
              nChange),
    ZK_RECORD(fb_jsonsaxwriter, startobject, pInstance, StartObject),
    ZK_RECORD(fb_jsonsaxwriter, endobject, pInstance, EndObject),
    ZK_RECORD(fb_jsonsaxwriter, startarray, pInstance, StartArray),
    ZK_RECORD(fb_jsonsaxwriter, endarray, pInstance, EndArray),
    ZK_RECORD(fb_jsonsaxwriter, addrawobject, pInstance, rawJson),
    ZK_RECORD(fb_jsonsaxwriter, addrawarray, pInstance, rawJson),
    ZK_RECORD(fb_jsonsaxwriter, addbase64, pInstance, pBytes, nBytes),
    ZK_RECORD(fb_jsonsaxwriter, addhexbinary, pInstance, pBytes, nBytes),
    ZK_RECORD(fb_jsonsaxwriter, getmaxdecimalplaces, pInstance, GetMaxDecimalPlaces),
    ZK_RECORD(fb_jsonsaxwriter, setmaxdecimalplaces, pInstance, decimalPlaces, SetMaxDecimalPlaces),
    ZK_RECORD(fb_jsonsaxwriter, setformat, pInstance, nFormat, SetFormat),
    ZK_RECORD(fb_jsonsaxwriter, getformat, pInstance, GetFormat),

    ZK_RECORD(fb_jsonreadwritedatatype, main, pInstance),
    ZK_RECORD(fb_jsonreadwritedatatype, addjsonkeyvaluefromsymbol, pInstance, fbWriter, sKey, sDatatype,
              nData, pData, AddJsonKeyValueFromSymbol, hrErrorCode),
    ZK_RECORD(fb_jsonreadwritedatatype, addjsonschemafromsymbol, pInstance, fbWriter, sKey, sDatatype, nData,
              pData, AddJsonSchemaFromSymbol, hrErrorCode),
    ZK_RECORD(fb_jsonreadwritedatatype, addjsonchangesfromsymbol, pInstance, fbWriter, sKey, pData, pLast,
              nLast, fDeadband, bKeyFrame, AddJsonChangesFromSymbol, hrErrorCode, nChanged),
    ZK_RECORD(fb_jsonreadwritedatatype, setsymbolfromjson, pInstance, pJson, nSize, pData, nData,
              SetSymbolFromJson, hrErrorCode),
    ZK_RECORD(fb_jsonreadwritedatatype, setsymbolfromjsonreport, pInstance, pJson, nSize, pData, nData,
              SetSymbolFromJsonReport, nWritten, nSkipped, nUnknown, nErrorOffset, sProblem, nMissing),

    ZK_RECORD(fb_jsonreader, main, pInstance),
    ZK_RECORD(fb_jsonreader, parse, pInstance, pJson, nSize, Parse, nErrorOffset, sError),
    ZK_RECORD(fb_jsonreader, getkind, pInstance, sPath, GetKind),
    ZK_RECORD(fb_jsonreader, getsize, pInstance, sPath, GetSize),
    ZK_RECORD(fb_jsonreader, getbool, pInstance, sPath, GetBool, bValue),
    ZK_RECORD(fb_jsonreader, getdint, pInstance, sPath, GetDint, diValue),
    ZK_RECORD(fb_jsonreader, getlint, pInstance, sPath, GetLint, liValue),
    ZK_RECORD(fb_jsonreader, getlreal, pInstance, sPath, GetLreal, lrValue),
    ZK_RECORD(fb_jsonreader, getstring, pInstance, sPath, pBuffer, nBuffer, GetString, nLength),
    ZK_RECORD(fb_jsonreader, getmembername, pInstance, sPath, nIndex, pBuffer, nBuffer, GetMemberName,
              nLength),
    ZK_RECORD(fb_jsonreader, getraw, pInstance, sPath, pBuffer, nBuffer, GetRaw, nLength),
    ZK_RECORD(fb_jsonreader, tovariable, pInstance, sPath, pData, ToVariable),
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Every iec/*.st file, compiled as one text (a block may name another in its parameters).
std::unique_ptr<CSimModel> CompileIecDeclarations(std::vector<std::string>& files) {
    const std::string dir = std::string(ZENTRIK_SOURCE_DIR) + "/iec";
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) return nullptr;
    for (dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name.size() > 3 && name.compare(name.size() - 3, 3, ".st") == 0) files.push_back(name);
    }
    closedir(listing);
    std::sort(files.begin(), files.end());
    std::string text;
    for (const std::string& name : files) {
        std::ifstream file(dir + "/" + name);
        std::ostringstream content;
        content << file.rdbuf();
        text += content.str() + "\n";
    }
    return SimCompileDeclarations(text);
}

// The IEC record of an external function: "fb_x__m" is method m of block fb_x (by its
// name in lower case), "fb_x__main" the block's body.
const CSimType* IecRecord(const CSimModel& model, const std::string& function) {
    size_t split = function.find("__");
    std::string block = function.substr(0, split), method = function.substr(split + 2);
    for (const CSimFunctionBlock& fb : model.functionBlocks) {
        if (fb.name != block) continue;
        if (method == "main") return fb.body;
        for (const CSimMethod& m : fb.methods) {
            if (Lower(m.name) == method) return m.record;
        }
    }
    return nullptr;
}

TEST(IecDeclarations, EveryMethodRecordHasTheLayoutOfItsCRecord) {
    std::vector<std::string> files;
    std::unique_ptr<CSimModel> model;
    try {
        model = CompileIecDeclarations(files);
    } catch (const CSimDeclError& error) {
        FAIL() << "iec/*.st: " << error.what();
    }
    ASSERT_NE(nullptr, model) << "no iec/ directory";
    for (const CRecord& c : kRecords) {
        SCOPED_TRACE(c.function);
        const CSimType* iec = IecRecord(*model, c.function);
        ASSERT_NE(nullptr, iec) << "no IEC declaration";
        EXPECT_EQ(c.size, iec->size);
        ASSERT_EQ(c.fields.size(), iec->members.size());
        for (size_t i = 0; i < c.fields.size(); ++i) {
            const CSimMember& member = iec->members[i];
            EXPECT_EQ(c.fields[i].name, member.name) << "field " << i;
            EXPECT_EQ(c.fields[i].offset, member.offset) << c.fields[i].name;
            EXPECT_EQ(c.fields[i].size, member.type->size) << c.fields[i].name;
        }
    }
}

// Every function the component registers is declared in IEC and has a C record in the
// table above, and every declared method is a function the component registers: a new
// block or method cannot land without its declaration and its check.
TEST(IecDeclarations, DeclareExactlyTheRegisteredExternalFunctions) {
    std::vector<std::string> files;
    std::unique_ptr<CSimModel> model = CompileIecDeclarations(files);
    ASSERT_NE(nullptr, model);
    std::vector<std::string> registered = RegisteredExternalFunctions();
    ASSERT_FALSE(registered.empty());
    std::map<std::string, int> checked;
    for (const CRecord& c : kRecords) ++checked[c.function];
    for (const std::string& function : registered) {
        EXPECT_NE(nullptr, IecRecord(*model, function)) << function << " is not declared in iec/";
        EXPECT_EQ(1, checked[function]) << function << " needs one row in kRecords";
    }
    size_t declared = 0;
    for (const CSimFunctionBlock& fb : model->functionBlocks) {
        EXPECT_NE(files.end(), std::find(files.begin(), files.end(), fb.name + ".st")) << fb.name;
        std::vector<std::string> functions = {fb.name + "__main"};
        for (const CSimMethod& m : fb.methods) functions.push_back(fb.name + "__" + Lower(m.name));
        for (const std::string& function : functions) {
            ++declared;
            EXPECT_NE(registered.end(), std::find(registered.begin(), registered.end(), function))
                << function << " is declared but not registered";
        }
    }
    EXPECT_EQ(registered.size(), declared);
}

// zentrik-host's table of methods for Structured Text programs: one row per declared
// method and body, with the record's size and every parameter's name, offset, size,
// IEC type and part (input, in-out, result, output) as iec/ declares them.
TEST(IecDeclarations, ProgramsCallEveryMethodAsDeclared) {
    std::vector<std::string> files;
    std::unique_ptr<CSimModel> model = CompileIecDeclarations(files);
    ASSERT_NE(nullptr, model);
    const std::vector<SStMethod>& rows = StComponentMethods();
    size_t declared = 0;
    for (const CSimFunctionBlock& fb : model->functionBlocks) {
        std::vector<std::pair<std::string, const CSimType*>> methods = {{"", fb.body}};
        for (const CSimMethod& m : fb.methods) methods.emplace_back(m.name, m.record);
        for (const auto& [name, record] : methods) {
            ++declared;
            SCOPED_TRACE(fb.name + "." + name);
            const SStMethod* row = nullptr;
            for (const SStMethod& candidate : rows) {
                if (fb.name == candidate.block && name == candidate.method) row = &candidate;
            }
            ASSERT_NE(nullptr, row) << "no row in StComponentMethods()";
            EXPECT_EQ(fb.name + "__" + (name.empty() ? "main" : Lower(name)), row->function);
            EXPECT_EQ(record->size, row->recordSize);
            ASSERT_EQ(record->members.size(), row->params.size() + 1);
            EStRole part = EStRole::Input;
            for (size_t i = 0; i < row->params.size(); ++i) {
                const CSimMember& member = record->members[i + 1];
                const SStParam& param = row->params[i];
                EXPECT_EQ(member.name, param.name);
                EXPECT_EQ(member.offset, param.offset) << member.name;
                EXPECT_EQ(member.type->size, param.size) << member.name;
                const bool inOut = member.type->kind == CSimType::Kind::Reference;
                if (member.name == name) {
                    part = EStRole::Result;
                } else if (part == EStRole::Result) {
                    part = EStRole::Output;
                }
                EXPECT_EQ(inOut ? EStRole::InOut : part, param.role) << member.name;
                EXPECT_EQ(inOut ? member.type->target->typeClass : member.type->typeClass, param.type)
                    << member.name;
            }
        }
    }
    EXPECT_EQ(declared, rows.size());
}

// A named constant: its IEC type and value.
struct CConstant {
    TypeClass3 type;
    uint64_t value;
    bool operator==(const CConstant& other) const { return type == other.type && value == other.value; }
};

std::ostream& operator<<(std::ostream& out, const CConstant& constant) {
    return out << "(type " << constant.type << ", " << constant.value << ")";
}

// The named constants iec/ declares (VAR_GLOBAL CONSTANT) are exactly the component's:
// each with the type and value of the C header, and each known to Structured Text
// programs by the same name, type and value.
TEST(IecDeclarations, ConstantsHaveTheValuesOfTheComponent) {
    std::vector<std::string> files;
    std::unique_ptr<CSimModel> model = CompileIecDeclarations(files);
    ASSERT_NE(nullptr, model);
    const std::map<std::string, CConstant> component = {
        {"NUMERIC_ENUMS", {TYPE3_DWORD, ZENTRIK_FORMAT_NUMERIC_ENUMS}},
        {"LONG_TIMES", {TYPE3_DWORD, ZENTRIK_FORMAT_LONG_TIMES}},
        {"SHORT_REALS", {TYPE3_DWORD, ZENTRIK_FORMAT_SHORT_REALS}},
        {"ISO_8601", {TYPE3_DWORD, ZENTRIK_FORMAT_ISO_8601}},
        {"INT64_STRINGS", {TYPE3_DWORD, ZENTRIK_FORMAT_INT64_STRINGS}},
        {"BOOL_LITERALS", {TYPE3_DWORD, ZENTRIK_FORMAT_BOOL_LITERALS}},
        {"NESTED_ARRAYS", {TYPE3_DWORD, ZENTRIK_FORMAT_NESTED_ARRAYS}},
        {"UNSIGNED_BITS", {TYPE3_DWORD, ZENTRIK_FORMAT_UNSIGNED_BITS}},
        {"PRETTY", {TYPE3_DWORD, ZENTRIK_FORMAT_PRETTY}},
        {"READABLE", {TYPE3_DWORD, ZENTRIK_FORMAT_READABLE}},
        {"JSON_NOTHING", {TYPE3_DINT, ZENTRIK_KIND_NOTHING}},
        {"JSON_NULL", {TYPE3_DINT, ZENTRIK_KIND_NULL}},
        {"JSON_BOOLEAN", {TYPE3_DINT, ZENTRIK_KIND_BOOLEAN}},
        {"JSON_INTEGER", {TYPE3_DINT, ZENTRIK_KIND_INTEGER}},
        {"JSON_REAL", {TYPE3_DINT, ZENTRIK_KIND_REAL}},
        {"JSON_STRING", {TYPE3_DINT, ZENTRIK_KIND_STRING}},
        {"JSON_ARRAY", {TYPE3_DINT, ZENTRIK_KIND_ARRAY}},
        {"JSON_OBJECT", {TYPE3_DINT, ZENTRIK_KIND_OBJECT}},
    };
    std::map<std::string, CConstant> declared;
    for (const CSimVariable& variable : model->variables) {
        ASSERT_NE(nullptr, variable.init) << variable.name << " has no value";
        ASSERT_EQ(CSimInit::Kind::Bytes, variable.init->kind) << variable.name;
        uint64_t value = 0;
        std::memcpy(&value, variable.init->bytes.data(), variable.init->bytes.size());
        declared[variable.name] = {static_cast<TypeClass3>(variable.type->typeClass), value};
    }
    EXPECT_EQ(component, declared);
    std::map<std::string, CConstant> programs;
    for (const SStConstant& constant : StComponentConstants()) {
        programs[constant.name] = {static_cast<TypeClass3>(constant.type), constant.value};
    }
    EXPECT_EQ(component, programs);
    // READABLE is every bit but INT64_STRINGS and PRETTY; the bits are all a format holds.
    EXPECT_EQ(ZENTRIK_FORMAT_BITS & ~(ZENTRIK_FORMAT_INT64_STRINGS | ZENTRIK_FORMAT_PRETTY),
              ZENTRIK_FORMAT_READABLE);
    uint64_t bits = 0;
    for (const auto& [name, constant] : component) {
        bits |= constant.type == TYPE3_DWORD && name != "READABLE" ? constant.value : 0;
    }
    EXPECT_EQ(ZENTRIK_FORMAT_BITS, bits);
}

// Each kind constant is what GetKind gives for a value of that kind, and every kind
// GetKind gives has its constant.
class IecKinds : public ComponentTest {};

TEST_F(IecKinds, EachKindConstantIsWhatGetKindGives) {
    std::vector<std::string> files;
    std::unique_ptr<CSimModel> model = CompileIecDeclarations(files);
    ASSERT_NE(nullptr, model);
    std::map<std::string, int64_t> declared;
    for (const CSimVariable& variable : model->variables) {
        if (variable.type->typeClass != TYPE3_DINT) continue;
        int32_t value = 0;
        std::memcpy(&value, variable.init->bytes.data(), sizeof(value));
        declared[variable.name] = value;
    }
    CReaderCalls reader;
    ASSERT_EQ(1, reader
                     .parse(R"({"n":null,"b":false,"i":-7,"u":18446744073709551615,"r":5.0,"e":1e2,)"
                            R"("s":"x","a":[],"o":{}})")
                     .Parse);
    const struct {
        const char* path;
        const char* constant;
    } cases[] = {{"/n", "JSON_NULL"},    {"/b", "JSON_BOOLEAN"}, {"/i", "JSON_INTEGER"},
                 {"/u", "JSON_INTEGER"}, {"/r", "JSON_REAL"},    {"/e", "JSON_REAL"},
                 {"/s", "JSON_STRING"},  {"/a", "JSON_ARRAY"},   {"/o", "JSON_OBJECT"},
                 {"", "JSON_OBJECT"},    {"/x", "JSON_NOTHING"}, {"n", "JSON_NOTHING"}};
    std::set<std::string> seen;
    for (const auto& c : cases) {
        ASSERT_EQ(1u, declared.count(c.constant)) << c.constant << " is not declared in iec/";
        EXPECT_EQ(declared[c.constant], reader.kind(c.path)) << c.path;
        seen.insert(c.constant);
    }
    EXPECT_EQ(declared.size(), seen.size()) << "a kind constant that no case gives";
}

// The rules the comparison relies on, on records whose layout is known by hand.
TEST(IecDeclarations, MethodRecordsFollowTheCallingConvention) {
    std::unique_ptr<CSimModel> model = SimCompileDeclarations(R"(
        FUNCTION_BLOCK fb_probe
        VAR_INPUT mode : INT; END_VAR
        METHOD Mixed : BYTE
        VAR_INPUT flag : BOOL; END_VAR
        VAR_IN_OUT CONSTANT text : STRING(200); END_VAR
        VAR_INPUT count : LINT; small : USINT; END_VAR
        VAR temp : LREAL; END_VAR
        VAR_OUTPUT code : UINT; name : STRING(9); END_VAR
        END_METHOD
        METHOD Plain END_METHOD
        END_FUNCTION_BLOCK
    )");
    ASSERT_EQ(1u, model->functionBlocks.size());
    const CSimFunctionBlock& fb = model->functionBlocks[0];
    EXPECT_EQ(16u, fb.instance->size);  // table pointer, then its own inputs
    EXPECT_EQ(8u, fb.body->size);
    ASSERT_EQ(2u, fb.methods.size());
    struct Expected {
        const char* name;
        uint64_t offset;
    };
    // in-outs by address, locals left out, the result after the inputs, then the outputs
    const Expected fields[] = {{"pInstance", 0}, {"flag", 8},   {"text", 16}, {"count", 24},
                               {"small", 32},    {"Mixed", 33}, {"code", 34}, {"name", 36}};
    const CSimType* record = fb.methods[0].record;
    ASSERT_EQ(8u, record->members.size());
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(fields[i].name, record->members[i].name);
        EXPECT_EQ(fields[i].offset, record->members[i].offset) << fields[i].name;
    }
    EXPECT_EQ(48u, record->size);
    EXPECT_EQ(8u, fb.methods[1].record->size);
}

TEST(IecDeclarations, MalformedBlocksAreRefusedWithTheirPlace) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"FUNCTION_BLOCK F METHOD M END_FUNCTION_BLOCK",
         "line 1, column 27: expected VAR_INPUT, VAR_OUTPUT, VAR_IN_OUT, VAR or END_METHOD, found "
         "'END_FUNCTION_BLOCK'"},
        {"FUNCTION_BLOCK F METHOD M END_METHOD",
         "line 1, column 37: expected VAR_INPUT, VAR_OUTPUT, VAR_IN_OUT, "
         "VAR, METHOD or END_FUNCTION_BLOCK, found end of text"},
        {"FUNCTION_BLOCK F METHOD M END_METHOD METHOD m END_METHOD END_FUNCTION_BLOCK",
         "line 1, column 45: method 'm' is declared twice"},
        {"FUNCTION_BLOCK F METHOD M VAR_INPUT a : INT; END_VAR VAR_OUTPUT A : INT; END_VAR END_METHOD "
         "END_FUNCTION_BLOCK",
         "line 1, column 65: 'A' is declared twice"},
        {"FUNCTION_BLOCK F METHOD M : INT VAR_INPUT m : INT; END_VAR END_METHOD END_FUNCTION_BLOCK",
         "line 1, column 43: 'm' is declared twice"},
        {"FUNCTION_BLOCK F METHOD M VAR_INPUT p : ST_Missing; END_VAR END_METHOD END_FUNCTION_BLOCK",
         "line 1, column 41: unknown type 'ST_Missing'"},
        {"TYPE F : INT; END_TYPE FUNCTION_BLOCK f END_FUNCTION_BLOCK",
         "line 1, column 39: type 'f' is already "
         "declared"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            SimCompileDeclarations(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const CSimDeclError& error) {
            EXPECT_EQ(c.message, std::string(error.what()));
        }
    }
}

}  // namespace
