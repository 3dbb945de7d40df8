// The parser of the declaration language: recursive descent over the token stream,
// collecting type and variable declarations and building the browse branches.
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "SimDeclSyntax.h"
#include "SimNames.h"

namespace sim_decl {

namespace {

// clang-format off
const std::set<std::string> s_reserved = {
    "TYPE",       "END_TYPE",      "STRUCT",    "END_STRUCT",  "VAR",    "VAR_GLOBAL", "VAR_INPUT",
    "VAR_OUTPUT", "END_VAR",       "PROGRAM",   "END_PROGRAM", "FOLDER", "END_FOLDER", "ARRAY",
    "OF",         "POINTER",       "REFERENCE", "TO",          "TRUE",   "FALSE",      "CONSTANT",
    "RETAIN",     "PERSISTENT",    "STRING",    "WSTRING",     "BOOL",   "BYTE",       "WORD",
    "DWORD",      "LWORD",         "SINT",      "INT",         "DINT",   "LINT",       "USINT",
    "UINT",       "UDINT",         "ULINT",     "REAL",        "LREAL",  "TIME",       "LTIME",
    "DATE",       "DATE_AND_TIME", "DT",        "TIME_OF_DAY", "TOD",    "LDATE",      "LDATE_AND_TIME",
    "LDT",        "LTIME_OF_DAY",  "LTOD",
    "FUNCTION_BLOCK", "END_FUNCTION_BLOCK", "METHOD", "END_METHOD", "VAR_IN_OUT"};
// clang-format on

// Recursive descent over the declaration grammar: collects type and variable
// declarations and builds the model's browse branches. One use, one thread.
class CParser : private CTokenStream {
   public:
    CParser(const std::string& text, CSimModel& model) : CTokenStream(text), model_(model) {}

    void parseFile() {
        model_.branches.push_back({"App", 0, {}});
        branchInfo_.emplace_back();
        while (peek().kind != Tok::End) {
            parseItem(0);
        }
    }

    std::vector<CTypeDecl> types;
    std::vector<CVarDecl> vars;
    std::vector<CBlockDecl> blocks;

   private:
    enum class BranchKind { Root, Globals, Program, Folder };
    struct BranchInfo {
        BranchKind kind = BranchKind::Root;
        // upper-case name -> (is a branch, index)
        std::unordered_map<std::string, std::pair<bool, uint32_t>> names;
    };

    // Inside a block: the end of text, or a keyword that is not being declared as a
    // name (no ':' or ',' after it), means the block's END_... is missing.
    void expectBlockContinues(const char* endKeyword) {
        const CToken& t = peek();
        bool keyword = t.kind == Tok::Ident && t.prefix.empty() && s_reserved.count(ToUpper(t.text)) != 0;
        if (t.kind == Tok::End || (keyword && peek(1).kind != Tok::Colon && peek(1).kind != Tok::Comma)) {
            failExpected(endKeyword);
        }
    }
    CToken expectName(const std::string& what) {
        const CToken& t = peek();
        if (t.kind != Tok::Ident || !t.prefix.empty()) failExpected(what);
        if (s_reserved.count(ToUpper(t.text)) != 0) {
            Fail(t.pos, "'" + t.text + "' is a reserved word and cannot be used as " + what);
        }
        return take();
    }

    std::string branchPath(uint32_t branch) const {
        std::string path = model_.branches[branch].name;
        for (uint32_t b = branch; b != 0;) {
            b = model_.branches[b].parent;
            path = model_.branches[b].name + "." + path;
        }
        return path;
    }

    // Adds a child branch, or returns the existing one of the same name and kind when
    // branches of that kind merge (Globals, folders).
    uint32_t addBranch(uint32_t parent, const std::string& name, SPos pos, BranchKind kind) {
        std::string key = ToUpper(name);
        auto found = branchInfo_[parent].names.find(key);
        if (found != branchInfo_[parent].names.end()) {
            if (found->second.first && kind != BranchKind::Program &&
                branchInfo_[found->second.second].kind == kind) {
                return found->second.second;
            }
            Fail(pos, "'" + name + "' is already declared in " + branchPath(parent));
        }
        uint32_t index = static_cast<uint32_t>(model_.branches.size());
        model_.branches.push_back({name, parent, {}});
        branchInfo_.emplace_back();
        branchInfo_.back().kind = kind;
        branchInfo_[parent].names[key] = {true, index};
        model_.branches[parent].children.push_back({true, index});
        return index;
    }

    void addVariable(uint32_t branch, const CToken& name, const std::shared_ptr<CTypeSpec>& typeSpec,
                     const std::shared_ptr<CLiteral>& init) {
        std::string key = ToUpper(name.text);
        if (branchInfo_[branch].names.count(key) != 0) {
            Fail(name.pos, "'" + name.text + "' is already declared in " + branchPath(branch));
        }
        uint32_t index = static_cast<uint32_t>(vars.size());
        vars.push_back({name.text, name.pos, typeSpec, init, branch});
        branchInfo_[branch].names[key] = {false, index};
        model_.branches[branch].children.push_back({false, index});
    }

    void parseItem(uint32_t branch, int depth = 0) {
        if (atKeyword("TYPE")) {
            parseTypeBlock();
        } else if (atKeyword("VAR_GLOBAL")) {
            CToken keyword = peek();
            parseVarBlock(addBranch(branch, "Globals", keyword.pos, BranchKind::Globals));
        } else if (atKeyword("VAR")) {
            parseVarBlock(branch);
        } else if (atKeyword("PROGRAM")) {
            take();
            CToken name = expectName("a program name");
            uint32_t program = addBranch(branch, name.text, name.pos, BranchKind::Program);
            while (!atKeyword("END_PROGRAM")) {
                if (atKeyword("VAR") || atKeyword("VAR_INPUT") || atKeyword("VAR_OUTPUT")) {
                    parseVarBlock(program);
                } else {
                    failExpected("VAR, VAR_INPUT, VAR_OUTPUT or END_PROGRAM");
                }
            }
            take();
        } else if (atKeyword("FOLDER")) {
            if (depth >= kMaxNesting) Fail(peek().pos, "folders nested too deeply");
            take();
            CToken name = expectName("a folder name");
            uint32_t folder = addBranch(branch, name.text, name.pos, BranchKind::Folder);
            while (!atKeyword("END_FOLDER")) {
                if (peek().kind == Tok::End) failExpected("END_FOLDER");
                parseItem(folder, depth + 1);
            }
            take();
        } else if (atKeyword("FUNCTION_BLOCK")) {
            parseFunctionBlock();
        } else {
            failExpected("TYPE, VAR_GLOBAL, VAR, PROGRAM, FOLDER or FUNCTION_BLOCK");
        }
    }

    size_t addTypeDecl(const std::string& name, SPos pos, std::shared_ptr<CTypeSpec> typeSpec) {
        for (const CTypeDecl& other : types) {
            if (ToUpper(other.name) == ToUpper(name)) Fail(pos, "type '" + name + "' is already declared");
        }
        CTypeDecl decl;
        decl.name = name;
        decl.pos = pos;
        decl.typeSpec = std::move(typeSpec);
        types.push_back(std::move(decl));
        return types.size() - 1;
    }

    static std::shared_ptr<CTypeSpec> PointerTo(const std::string& name, SPos pos) {
        auto target = std::make_shared<CTypeSpec>();
        target->name = name;
        target->pos = pos;
        auto pointer = std::make_shared<CTypeSpec>();
        pointer->kind = CTypeSpec::Kind::Pointer;
        pointer->pos = pos;
        pointer->sub = target;
        return pointer;
    }

    // A parameter block of a method or a function block: VAR_INPUT, VAR_OUTPUT,
    // VAR_IN_OUT [CONSTANT] (passed by address) or VAR (locals, not in any record).
    void parseParameters(std::vector<CTypeSpec::Field>& into, std::unordered_set<std::string>& seen) {
        bool byAddress = atKeyword("VAR_IN_OUT");
        bool local = atKeyword("VAR");
        take();
        while (atKeyword("CONSTANT") || atKeyword("RETAIN") || atKeyword("PERSISTENT")) take();
        while (!atKeyword("END_VAR")) {
            expectBlockContinues("END_VAR");
            std::vector<CToken> names{expectName("a parameter name")};
            while (peek().kind == Tok::Comma) {
                take();
                names.push_back(expectName("a parameter name"));
            }
            expect(Tok::Colon, "':'");
            std::shared_ptr<CTypeSpec> typeSpec = parseSpec(false);
            if (peek().kind == Tok::Assign) {
                take();
                parseInit(0);  // a default argument is no part of the record
            }
            expect(Tok::Semicolon, "';'");
            if (byAddress) {
                auto reference = std::make_shared<CTypeSpec>();
                reference->kind = CTypeSpec::Kind::Reference;
                reference->pos = typeSpec->pos;
                reference->sub = typeSpec;
                typeSpec = reference;
            }
            for (const CToken& name : names) {
                if (!seen.insert(ToUpper(name.text)).second) {
                    Fail(name.pos, "'" + name.text + "' is declared twice");
                }
                if (!local) into.push_back({name.text, name.pos, typeSpec, nullptr});
            }
        }
        take();
    }

    bool atParameterBlock() {
        return atKeyword("VAR_INPUT") || atKeyword("VAR_OUTPUT") || atKeyword("VAR_IN_OUT") ||
               atKeyword("VAR");
    }

    // FUNCTION_BLOCK name { parameter blocks } { METHOD ... END_METHOD } END_FUNCTION_BLOCK.
    // The instance is a structure that starts with the virtual function table pointer;
    // the body and every method are called with a record that starts with the
    // instance's address (pInstance), followed by the inputs and in-outs in declaration
    // order, the result (named as the method) and the outputs.
    void parseFunctionBlock() {
        take();
        CToken name = expectName("a function block name");
        auto instance = std::make_shared<CTypeSpec>();
        instance->kind = CTypeSpec::Kind::Struct;
        instance->pos = name.pos;
        instance->fields.push_back({"__VFTABLEPOINTER", name.pos, PointerTo("BYTE", name.pos), nullptr});
        std::unordered_set<std::string> seen;
        CBlockDecl block;
        block.name = name.text;
        std::vector<std::pair<CToken, std::shared_ptr<CTypeSpec>>> methods;
        while (!atKeyword("END_FUNCTION_BLOCK")) {
            if (atParameterBlock()) {
                parseParameters(instance->fields, seen);
            } else if (atKeyword("METHOD")) {
                methods.push_back(parseMethod(name));
            } else {
                failExpected("VAR_INPUT, VAR_OUTPUT, VAR_IN_OUT, VAR, METHOD or END_FUNCTION_BLOCK");
            }
        }
        take();
        block.instance = addTypeDecl(name.text, name.pos, instance);
        auto body = std::make_shared<CTypeSpec>();
        body->kind = CTypeSpec::Kind::Struct;
        body->pos = name.pos;
        body->fields.push_back({"pInstance", name.pos, PointerTo(name.text, name.pos), nullptr});
        block.body = addTypeDecl(name.text + ".body", name.pos, body);
        std::unordered_set<std::string> methodNames;
        for (auto& [method, record] : methods) {
            if (!methodNames.insert(ToUpper(method.text)).second) {
                Fail(method.pos, "method '" + method.text + "' is declared twice");
            }
            block.methods.push_back(
                {method.text, addTypeDecl(name.text + "." + method.text, method.pos, record)});
        }
        blocks.push_back(std::move(block));
    }

    std::pair<CToken, std::shared_ptr<CTypeSpec>> parseMethod(const CToken& block) {
        take();
        CToken name = expectName("a method name");
        std::shared_ptr<CTypeSpec> result;
        if (peek().kind == Tok::Colon) {
            take();
            result = parseSpec(false);
        }
        if (peek().kind == Tok::Semicolon) take();
        std::vector<CTypeSpec::Field> inputs;
        std::vector<CTypeSpec::Field> outputs;
        std::unordered_set<std::string> seen{ToUpper(name.text), "PINSTANCE"};
        while (!atKeyword("END_METHOD")) {
            if (atKeyword("VAR_OUTPUT")) {
                parseParameters(outputs, seen);
            } else if (atParameterBlock()) {
                parseParameters(inputs, seen);
            } else {
                failExpected("VAR_INPUT, VAR_OUTPUT, VAR_IN_OUT, VAR or END_METHOD");
            }
        }
        take();
        auto record = std::make_shared<CTypeSpec>();
        record->kind = CTypeSpec::Kind::Struct;
        record->pos = name.pos;
        record->fields.push_back({"pInstance", name.pos, PointerTo(block.text, name.pos), nullptr});
        record->fields.insert(record->fields.end(), inputs.begin(), inputs.end());
        if (result) record->fields.push_back({name.text, name.pos, result, nullptr});
        record->fields.insert(record->fields.end(), outputs.begin(), outputs.end());
        return {name, record};
    }

    void parseVarBlock(uint32_t branch) {
        take();  // VAR, VAR_GLOBAL, VAR_INPUT or VAR_OUTPUT
        while (atKeyword("CONSTANT") || atKeyword("RETAIN") || atKeyword("PERSISTENT")) take();
        while (!atKeyword("END_VAR")) {
            expectBlockContinues("END_VAR");
            std::vector<CToken> names{expectName("a variable name")};
            while (peek().kind == Tok::Comma) {
                take();
                names.push_back(expectName("a variable name"));
            }
            expect(Tok::Colon, "':'");
            std::shared_ptr<CTypeSpec> typeSpec = parseSpec(false);
            std::shared_ptr<CLiteral> init;
            if (peek().kind == Tok::Assign) {
                take();
                init = parseInit(0);
            }
            expect(Tok::Semicolon, "';'");
            for (const CToken& name : names) addVariable(branch, name, typeSpec, init);
        }
        take();
    }

    void parseTypeBlock() {
        take();
        do {
            expectBlockContinues("END_TYPE");
            CToken name = expectName("a type name");
            for (const CTypeDecl& other : types) {
                if (ToUpper(other.name) == ToUpper(name.text)) {
                    Fail(name.pos, "type '" + name.text + "' is already declared");
                }
            }
            expect(Tok::Colon, "':'");
            CTypeDecl decl;
            decl.name = name.text;
            decl.pos = name.pos;
            decl.typeSpec = parseSpec(true);
            if (decl.typeSpec->kind == CTypeSpec::Kind::Struct) {
                if (peek().kind == Tok::Semicolon) take();
            } else {
                if (peek().kind == Tok::Assign) {
                    take();
                    decl.init = parseInit(0);
                }
                expect(Tok::Semicolon, "';'");
            }
            types.push_back(std::move(decl));
        } while (!atKeyword("END_TYPE"));
        take();
    }

    int64_t parseSignedInteger(const char* what) {
        bool negative = false;
        if (peek().kind == Tok::Minus || peek().kind == Tok::Plus) {
            negative = take().kind == Tok::Minus;
        }
        CToken t = expect(Tok::Integer, what);
        if (t.value > (negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1)) {
            Fail(t.pos, std::string(what) + " out of range");
        }
        return negative ? -static_cast<int64_t>(t.value) : static_cast<int64_t>(t.value);
    }

    std::shared_ptr<CTypeSpec> parseSpec(bool composite, int depth = 0) {
        auto typeSpec = std::make_shared<CTypeSpec>();
        const CToken& t = peek();
        if (depth >= kMaxNesting) Fail(t.pos, "type nested too deeply");
        typeSpec->pos = t.pos;
        if (t.kind == Tok::LParen) {
            if (!composite) Fail(t.pos, "an enumeration must be declared in a TYPE block");
            parseEnum(*typeSpec);
            return typeSpec;
        }
        if (t.kind != Tok::Ident || !t.prefix.empty()) failExpected("a type");
        std::string upper = ToUpper(t.text);
        if (upper == "STRUCT") {
            if (!composite) Fail(t.pos, "a structure must be declared in a TYPE block");
            parseStruct(*typeSpec);
        } else if (upper == "ARRAY") {
            take();
            typeSpec->kind = CTypeSpec::Kind::Array;
            expect(Tok::LBracket, "'['");
            do {
                SPos pos = peek().pos;
                int64_t lo = parseSignedInteger("an array bound");
                expect(Tok::DotDot, "'..'");
                int64_t hi = parseSignedInteger("an array bound");
                typeSpec->dims.push_back({lo, hi, pos});
            } while (peek().kind == Tok::Comma && (take(), true));
            expect(Tok::RBracket, "']'");
            expectKeyword("OF");
            typeSpec->sub = parseSpec(false, depth + 1);
        } else if (upper == "POINTER" || upper == "REFERENCE") {
            take();
            typeSpec->kind = upper == "POINTER" ? CTypeSpec::Kind::Pointer : CTypeSpec::Kind::Reference;
            expectKeyword("TO");
            typeSpec->sub = parseSpec(false, depth + 1);
        } else if (upper == "STRING" || upper == "WSTRING") {
            take();
            typeSpec->kind = upper == "STRING" ? CTypeSpec::Kind::String : CTypeSpec::Kind::WString;
            if (peek().kind == Tok::LParen || peek().kind == Tok::LBracket) {
                Tok close = take().kind == Tok::LParen ? Tok::RParen : Tok::RBracket;
                CToken n = expect(Tok::Integer, "a string length");
                typeSpec->length = n.value;
                typeSpec->lengthPos = n.pos;
                expect(close, close == Tok::RParen ? "')'" : "']'");
                if (typeSpec->length < 1 || typeSpec->length > kMaxStringLength) {
                    Fail(n.pos, "string length must be 1 to " + std::to_string(kMaxStringLength));
                }
            }
        } else if (s_reserved.count(upper) != 0 && !IsElementaryName(upper)) {
            failExpected("a type");
        } else {
            typeSpec->kind = CTypeSpec::Kind::Named;
            typeSpec->name = take().text;
            if (peek().kind == Tok::LParen && IsElementaryName(upper)) {
                // A subrange of an integer type: INT(0..100).
                take();
                typeSpec->kind = CTypeSpec::Kind::Subrange;
                SPos pos = peek().pos;
                int64_t lo = parseBound();
                expect(Tok::DotDot, "'..'");
                int64_t hi = parseBound();
                expect(Tok::RParen, "')'");
                typeSpec->dims.push_back({lo, hi, pos});
            }
        }
        return typeSpec;
    }

    // A bound of a subrange: a signed integer of 64 bits.
    int64_t parseBound() {
        bool negative = false;
        if (peek().kind == Tok::Minus || peek().kind == Tok::Plus) {
            negative = take().kind == Tok::Minus;
        }
        CToken t = expect(Tok::Integer, "a subrange bound");
        if (t.value > (negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1)) {
            Fail(t.pos, "subrange bound out of range");
        }
        return negative ? static_cast<int64_t>(~t.value + 1) : static_cast<int64_t>(t.value);
    }

    static bool IsElementaryName(const std::string& upper);

    void parseStruct(CTypeSpec& typeSpec) {
        typeSpec.kind = CTypeSpec::Kind::Struct;
        take();
        std::unordered_set<std::string> seen;
        while (!atKeyword("END_STRUCT")) {
            expectBlockContinues("END_STRUCT");
            std::vector<CToken> names{expectName("a member name")};
            while (peek().kind == Tok::Comma) {
                take();
                names.push_back(expectName("a member name"));
            }
            expect(Tok::Colon, "':'");
            std::shared_ptr<CTypeSpec> sub = parseSpec(false);
            std::shared_ptr<CLiteral> init;
            if (peek().kind == Tok::Assign) {
                take();
                init = parseInit(0);
            }
            expect(Tok::Semicolon, "';'");
            for (const CToken& name : names) {
                if (!seen.insert(ToUpper(name.text)).second) {
                    Fail(name.pos, "member '" + name.text + "' is declared twice");
                }
                typeSpec.fields.push_back({name.text, name.pos, sub, init});
            }
        }
        if (typeSpec.fields.empty()) Fail(typeSpec.pos, "a structure needs at least one member");
        take();
    }

    void parseEnum(CTypeSpec& typeSpec) {
        typeSpec.kind = CTypeSpec::Kind::Enum;
        take();
        std::unordered_set<std::string> seen;
        do {
            CToken name = expectName("an enumeration value");
            if (!seen.insert(ToUpper(name.text)).second) {
                Fail(name.pos, "enumeration value '" + name.text + "' is declared twice");
            }
            CTypeSpec::EnumItem item{name.text, name.pos, false, 0};
            if (peek().kind == Tok::Assign) {
                take();
                SPos pos = peek().pos;
                bool negative = false;
                if (peek().kind == Tok::Minus || peek().kind == Tok::Plus)
                    negative = take().kind == Tok::Minus;
                CToken v = expect(Tok::Integer, "an integer");
                if (v.value > (negative ? 32768u : 32767u))
                    Fail(pos, "enumeration value out of range for INT");
                item.hasValue = true;
                item.value = negative ? -static_cast<int64_t>(v.value) : static_cast<int64_t>(v.value);
            }
            typeSpec.items.push_back(item);
        } while (peek().kind == Tok::Comma && (take(), true));
        expect(Tok::RParen, "',' or ')'");
    }

    std::shared_ptr<CLiteral> parseInit(int depth) {
        auto lit = std::make_shared<CLiteral>();
        parseInitInto(*lit, depth);
        return lit;
    }

    void parseInitInto(CLiteral& lit, int depth) {
        const SPos pos = peek().pos;
        lit.pos = pos;
        if (depth > kMaxInitDepth) Fail(pos, "initial value nested too deeply");
        switch (peek().kind) {
            case Tok::LBracket:
                take();
                lit.kind = CLiteral::Kind::List;
                do {
                    CLiteral item;
                    if (peek().kind == Tok::Integer && peek(1).kind == Tok::LParen) {
                        CToken count = take();
                        take();
                        if (count.value == 0) Fail(count.pos, "repeat count must be at least 1");
                        parseInitInto(item, depth + 1);
                        item.repeat = count.value;
                        item.pos = count.pos;
                        expect(Tok::RParen, "')'");
                    } else {
                        parseInitInto(item, depth + 1);
                    }
                    lit.items.push_back(std::move(item));
                } while (peek().kind == Tok::Comma && (take(), true));
                expect(Tok::RBracket, "',' or ']'");
                return;
            case Tok::LParen:
                take();
                lit.kind = CLiteral::Kind::Struct;
                do {
                    CToken name = expectName("a member name");
                    expect(Tok::Assign, "':='");
                    CLiteral item;
                    parseInitInto(item, depth + 1);
                    item.member = name.text;
                    item.memberPos = name.pos;
                    lit.items.push_back(std::move(item));
                } while (peek().kind == Tok::Comma && (take(), true));
                expect(Tok::RParen, "',' or ')'");
                return;
            case Tok::Minus:
            case Tok::Plus: {
                bool negative = take().kind == Tok::Minus;
                if (peek().kind != Tok::Integer && peek().kind != Tok::Real) failExpected("a number");
                parseInitInto(lit, depth + 1);
                lit.pos = pos;
                lit.negative = negative;
                return;
            }
            case Tok::Integer:
                lit.kind = CLiteral::Kind::Integer;
                lit.integer = take().value;
                return;
            case Tok::Real:
                lit.kind = CLiteral::Kind::Real;
                lit.text = take().text;
                return;
            case Tok::String:
                lit.kind = CLiteral::Kind::String;
                lit.text = take().text;
                return;
            case Tok::WString:
                lit.kind = CLiteral::Kind::WString;
                lit.wide = take().wide;
                return;
            case Tok::Typed: {
                CToken typed = take();
                lit.kind = CLiteral::Kind::Typed;
                lit.prefix = typed.prefix;
                lit.text = typed.text;
                return;
            }
            case Tok::Ident: {
                CToken name = take();
                lit.kind = CLiteral::Kind::Name;
                lit.text = name.text;
                lit.prefix = name.prefix;
                if (lit.prefix.empty() && peek().kind == Tok::Dot && peek(1).kind == Tok::Ident &&
                    peek(1).prefix.empty()) {
                    take();
                    lit.prefix = lit.text;
                    lit.text = take().text;
                }
                return;
            }
            default:
                failExpected("an initial value");
        }
    }

    CSimModel& model_;
    std::vector<BranchInfo> branchInfo_;
};

bool CParser::IsElementaryName(const std::string& upper) { return IsElementaryTypeName(upper); }

}  // namespace

SParsedDeclarations ParseDeclarations(const std::string& text, CSimModel& model) {
    CParser parser(text, model);
    parser.parseFile();
    return {std::move(parser.types), std::move(parser.vars), std::move(parser.blocks)};
}

}  // namespace sim_decl
