// Declaration text -> CSimModel: lexer, parser, type layout and initial values.
#include "SimDeclParser.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <set>
#include <unordered_set>

#include "SimNames.h"

namespace {

struct SPos {
    int line = 1;
    int column = 1;
};

[[noreturn]] void Fail(SPos pos, const std::string& what) { throw CSimDeclError(pos.line, pos.column, what); }

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------------
// Lexer

enum class Tok {
    End,
    Ident,
    Integer,
    Real,
    String,
    WString,
    Typed,
    Assign,
    Colon,
    Semicolon,
    Comma,
    DotDot,
    Dot,
    LParen,
    RParen,
    LBracket,
    RBracket,
    Minus,
    Plus
};

struct CToken {
    Tok kind = Tok::End;
    SPos pos;
    std::string spelled;  // the token as written, for messages
    std::string text;     // Ident: name; Real: digits; String: bytes; Typed: body
    std::string prefix;   // Typed: upper-case prefix; Ident: qualifier of Q#NAME
    std::u16string wide;  // WString
    uint64_t value = 0;   // Integer
};

const std::set<std::string> s_durationPrefixes = {"T", "TIME", "LT", "LTIME"};
const std::set<std::string> s_datePrefixes = {"D", "DATE", "DT", "DATE_AND_TIME", "TOD", "TIME_OF_DAY"};

// Splits declaration text into tokens on demand, tracking line and column; decodes
// string literals and reads numbers (with their base) as it goes. Owned by one parser.
class CLexer {
   public:
    explicit CLexer(const std::string& text) : text_(text) {}

    CToken next() {
        skipSpaceAndComments();
        CToken token;
        token.pos = here();
        size_t begin = at_;
        if (at_ >= text_.size()) {
            token.kind = Tok::End;
            token.spelled = "end of text";
            return token;
        }
        char c = peekc();
        if (IsIdentStart(c)) {
            lexIdent(token);
        } else if (IsDigit(c)) {
            lexNumber(token);
        } else if (c == '\'') {
            lexString(token, false);
        } else if (c == '"') {
            lexString(token, true);
        } else {
            lexPunct(token);
        }
        token.spelled = "'" + text_.substr(begin, std::min<size_t>(at_ - begin, 40)) + "'";
        return token;
    }

   private:
    SPos here() const { return {line_, column_}; }
    char peekc(size_t k = 0) const { return at_ + k < text_.size() ? text_[at_ + k] : '\0'; }
    void advance() {
        if (text_[at_] == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
        ++at_;
    }

    void skipSpaceAndComments() {
        for (;;) {
            char c = peekc();
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                advance();
            } else if (c == '/' && peekc(1) == '/') {
                while (at_ < text_.size() && peekc() != '\n') advance();
            } else if (c == '(' && peekc(1) == '*') {
                SPos start = here();
                int depth = 0;
                do {
                    if (at_ >= text_.size()) Fail(start, "unterminated comment");
                    if (peekc() == '(' && peekc(1) == '*') {
                        ++depth;
                        advance();
                        advance();
                    } else if (peekc() == '*' && peekc(1) == ')') {
                        --depth;
                        advance();
                        advance();
                    } else {
                        advance();
                    }
                } while (depth > 0);
            } else {
                return;
            }
        }
    }

    void lexIdent(CToken& token) {
        size_t begin = at_;
        while (IsIdentChar(peekc())) advance();
        token.kind = Tok::Ident;
        token.text = text_.substr(begin, at_ - begin);
        if (peekc() != '#') return;
        std::string prefix = ToUpper(token.text);
        SPos hashPos = here();
        advance();
        if (s_durationPrefixes.count(prefix) != 0 || s_datePrefixes.count(prefix) != 0) {
            bool date = s_datePrefixes.count(prefix) != 0;
            size_t bodyBegin = at_;
            for (char b = peekc(); IsIdentChar(b) || b == '.' || (date && (b == ':' || b == '-'));
                 b = peekc()) {
                advance();
            }
            token.kind = Tok::Typed;
            token.prefix = prefix;
            token.text = text_.substr(bodyBegin, at_ - bodyBegin);
            if (token.text.empty()) Fail(hashPos, "empty " + prefix + "# literal");
            return;
        }
        if (!IsIdentStart(peekc())) Fail(hashPos, "unexpected '#' after '" + token.text + "'");
        size_t nameBegin = at_;
        while (IsIdentChar(peekc())) advance();
        token.prefix = token.text;
        token.text = text_.substr(nameBegin, at_ - nameBegin);
    }

    // Digits with single underscores between them; returns the digits alone.
    std::string digits(int base, SPos start) {
        std::string out;
        for (;;) {
            char c = peekc();
            int v = HexValue(c);
            if (c == '_') {
                advance();
                continue;
            }
            if (v < 0 || v >= base) break;
            out.push_back(c);
            advance();
        }
        if (out.empty()) Fail(start, "number without digits");
        return out;
    }

    static bool Accumulate(const std::string& ds, int base, uint64_t& value) {
        value = 0;
        for (char c : ds) {
            uint64_t d = static_cast<uint64_t>(HexValue(c));
            if (value > (UINT64_MAX - d) / static_cast<uint64_t>(base)) return false;
            value = value * static_cast<uint64_t>(base) + d;
        }
        return true;
    }

    void lexNumber(CToken& token) {
        SPos start = here();
        std::string ds = digits(10, start);
        if (peekc() == '#') {
            uint64_t base = 0;
            if (!Accumulate(ds, 10, base) || (base != 2 && base != 8 && base != 16)) {
                Fail(start, "number base must be 2, 8 or 16");
            }
            advance();
            std::string bd = digits(static_cast<int>(base), here());
            if (!Accumulate(bd, static_cast<int>(base), token.value))
                Fail(start, "integer literal too large");
            token.kind = Tok::Integer;
        } else if ((peekc() == '.' && IsDigit(peekc(1))) ||
                   ((peekc() == 'e' || peekc() == 'E') &&
                    (IsDigit(peekc(1)) || ((peekc(1) == '+' || peekc(1) == '-') && IsDigit(peekc(2)))))) {
            token.kind = Tok::Real;
            token.text = ds;
            if (peekc() == '.') {
                advance();
                token.text += "." + digits(10, here());
            }
            if (peekc() == 'e' || peekc() == 'E') {
                advance();
                token.text += "e";
                if (peekc() == '+' || peekc() == '-') {
                    token.text.push_back(peekc());
                    advance();
                }
                token.text += digits(10, here());
            }
        } else {
            if (!Accumulate(ds, 10, token.value)) Fail(start, "integer literal too large");
            token.kind = Tok::Integer;
        }
        if (IsIdentChar(peekc()) || peekc() == '#') Fail(start, "malformed number");
    }

    // Appends code point cp as UTF-16.
    static void AppendUtf16(std::u16string& out, uint32_t cp) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }

    // Reads one UTF-8 encoded code point of the source.
    uint32_t utf8CodePoint() {
        SPos pos = here();
        unsigned char c = static_cast<unsigned char>(peekc());
        int extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            Fail(pos, "invalid UTF-8 in a WSTRING literal");
        }
        advance();
        for (int i = 0; i < extra; ++i) {
            unsigned char k = static_cast<unsigned char>(peekc());
            if ((k & 0xC0) != 0x80) Fail(pos, "invalid UTF-8 in a WSTRING literal");
            cp = (cp << 6) | (k & 0x3F);
            advance();
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            Fail(pos, "invalid UTF-8 in a WSTRING literal");
        }
        return cp;
    }

    void lexString(CToken& token, bool wide) {
        SPos start = here();
        char quote = peekc();
        advance();
        token.kind = wide ? Tok::WString : Tok::String;
        for (;;) {
            if (at_ >= text_.size() || peekc() == '\n' || peekc() == '\r') Fail(start, "unterminated string");
            char c = peekc();
            if (c == quote) {
                advance();
                return;
            }
            if (c != '$') {
                if (wide) {
                    AppendUtf16(token.wide, utf8CodePoint());
                } else {
                    token.text.push_back(c);
                    advance();
                }
                continue;
            }
            SPos escPos = here();
            advance();
            char e = Upper(peekc());
            uint32_t code = 0;
            switch (e) {
                case '$':
                    code = '$';
                    break;
                case '\'':
                    code = '\'';
                    break;
                case '"':
                    code = '"';
                    break;
                case 'L':
                case 'N':
                    code = '\n';
                    break;
                case 'P':
                    code = '\f';
                    break;
                case 'R':
                    code = '\r';
                    break;
                case 'T':
                    code = '\t';
                    break;
                default: {
                    int n = wide ? 4 : 2;
                    for (int i = 0; i < n; ++i) {
                        int v = HexValue(peekc(static_cast<size_t>(i)));
                        if (v < 0) Fail(escPos, std::string("invalid escape in a string; use $$ for '$'"));
                        code = code * 16 + static_cast<uint32_t>(v);
                    }
                    for (int i = 0; i < n - 1; ++i) advance();
                }
            }
            advance();
            if (wide) {
                token.wide.push_back(static_cast<char16_t>(code));
            } else {
                token.text.push_back(static_cast<char>(code));
            }
        }
    }

    void lexPunct(CToken& token) {
        SPos pos = here();
        char c = peekc();
        char d = peekc(1);
        int length = 1;
        switch (c) {
            case ':':
                token.kind = d == '=' ? Tok::Assign : Tok::Colon;
                length = d == '=' ? 2 : 1;
                break;
            case '.':
                token.kind = d == '.' ? Tok::DotDot : Tok::Dot;
                length = d == '.' ? 2 : 1;
                break;
            case ';':
                token.kind = Tok::Semicolon;
                break;
            case ',':
                token.kind = Tok::Comma;
                break;
            case '(':
                token.kind = Tok::LParen;
                break;
            case ')':
                token.kind = Tok::RParen;
                break;
            case '[':
                token.kind = Tok::LBracket;
                break;
            case ']':
                token.kind = Tok::RBracket;
                break;
            case '-':
                token.kind = Tok::Minus;
                break;
            case '+':
                token.kind = Tok::Plus;
                break;
            default: {
                unsigned char u = static_cast<unsigned char>(c);
                char shown[16];
                if (u >= 0x20 && u < 0x7F) {
                    snprintf(shown, sizeof(shown), "'%c'", c);
                } else {
                    snprintf(shown, sizeof(shown), "0x%02X", u);
                }
                Fail(pos, std::string("unexpected character ") + shown);
            }
        }
        for (int i = 0; i < length; ++i) advance();
    }

    const std::string& text_;
    size_t at_ = 0;
    int line_ = 1;
    int column_ = 1;
};

// ---------------------------------------------------------------------------------
// Syntax tree

// An initial value as written, before it is checked against a type.
struct CLiteral {
    enum class Kind { Integer, Real, String, WString, Typed, Name, List, Struct };
    Kind kind = Kind::Integer;
    SPos pos;
    bool negative = false;
    uint64_t integer = 0;
    std::string text;    // Real: digits; String: bytes; Typed: body; Name: the name
    std::string prefix;  // Typed: prefix; Name: qualifier
    std::u16string wide;
    uint64_t repeat = 1;  // as an item of a List
    std::string member;   // as an item of a Struct
    SPos memberPos;
    std::vector<CLiteral> items;
};

// A type as written in a declaration, before it is resolved and laid out.
struct CTypeSpec {
    enum class Kind { Named, String, WString, Array, Pointer, Reference, Struct, Enum };
    struct Dim {
        int64_t lo;
        int64_t hi;
        SPos pos;
    };
    struct Field {
        std::string name;
        SPos pos;
        std::shared_ptr<CTypeSpec> typeSpec;
        std::shared_ptr<CLiteral> init;
    };
    struct EnumItem {
        std::string name;
        SPos pos;
        bool hasValue = false;
        int64_t value = 0;
    };
    Kind kind = Kind::Named;
    SPos pos;
    std::string name;      // Named
    uint64_t length = 80;  // String, WString
    SPos lengthPos;
    std::vector<Dim> dims;
    std::shared_ptr<CTypeSpec> sub;  // Array element; Pointer and Reference target
    std::vector<Field> fields;
    std::vector<EnumItem> items;
    const CSimType* resolved = nullptr;  // shared by every name of one declaration
};

struct CTypeDecl {
    std::string name;
    SPos pos;
    std::shared_ptr<CTypeSpec> typeSpec;
    std::shared_ptr<CLiteral> init;
    CSimType* shell = nullptr;
    int state = 0;  // 0 not laid out, 1 being laid out, 2 done
};

struct CVarDecl {
    std::string name;
    SPos pos;
    std::shared_ptr<CTypeSpec> typeSpec;
    std::shared_ptr<CLiteral> init;
    uint32_t branch = 0;
};

// ---------------------------------------------------------------------------------
// Parser

// clang-format off
const std::set<std::string> s_reserved = {
    "TYPE",       "END_TYPE",      "STRUCT",    "END_STRUCT",  "VAR",    "VAR_GLOBAL", "VAR_INPUT",
    "VAR_OUTPUT", "END_VAR",       "PROGRAM",   "END_PROGRAM", "FOLDER", "END_FOLDER", "ARRAY",
    "OF",         "POINTER",       "REFERENCE", "TO",          "TRUE",   "FALSE",      "CONSTANT",
    "RETAIN",     "PERSISTENT",    "STRING",    "WSTRING",     "BOOL",   "BYTE",       "WORD",
    "DWORD",      "LWORD",         "SINT",      "INT",         "DINT",   "LINT",       "USINT",
    "UINT",       "UDINT",         "ULINT",     "REAL",        "LREAL",  "TIME",       "LTIME",
    "DATE",       "DATE_AND_TIME", "DT",        "TIME_OF_DAY", "TOD",
    "FUNCTION_BLOCK", "END_FUNCTION_BLOCK", "METHOD", "END_METHOD", "VAR_IN_OUT"};
// clang-format on

// Nesting limits, so that no declaration text can exhaust the stack.
constexpr int kMaxInitDepth = 32;
constexpr int kMaxNesting = 64;
constexpr uint64_t kMaxStringLength = 1 << 20;

// Recursive descent over the declaration grammar: collects type and variable
// declarations and builds the model's browse branches. One use, one thread.
class CParser {
   public:
    CParser(const std::string& text, CSimModel& model) : lexer_(text), model_(model) {}

    void parseFile() {
        model_.branches.push_back({"App", 0, {}});
        branchInfo_.emplace_back();
        while (peek().kind != Tok::End) {
            parseItem(0);
        }
    }

    std::vector<CTypeDecl> types;
    std::vector<CVarDecl> vars;

    // A function block: its instance type and the record type of its body and of each
    // method, as indices into types.
    struct BlockDecl {
        std::string name;
        size_t instance = 0;
        size_t body = 0;
        std::vector<std::pair<std::string, size_t>> methods;
    };
    std::vector<BlockDecl> blocks;

   private:
    enum class BranchKind { Root, Globals, Program, Folder };
    struct BranchInfo {
        BranchKind kind = BranchKind::Root;
        // upper-case name -> (is a branch, index)
        std::unordered_map<std::string, std::pair<bool, uint32_t>> names;
    };

    const CToken& peek(size_t k = 0) {
        while (ahead_.size() <= k) ahead_.push_back(lexer_.next());
        return ahead_[k];
    }
    CToken take() {
        peek();
        CToken t = std::move(ahead_.front());
        ahead_.pop_front();
        return t;
    }
    bool atKeyword(const char* keyword, size_t k = 0) {
        const CToken& t = peek(k);
        return t.kind == Tok::Ident && t.prefix.empty() && ToUpper(t.text) == keyword;
    }
    [[noreturn]] void failExpected(const std::string& what) {
        const CToken& t = peek();
        Fail(t.pos, "expected " + what + ", found " + t.spelled);
    }
    CToken expectKeyword(const char* keyword) {
        if (!atKeyword(keyword)) failExpected(keyword);
        return take();
    }
    CToken expect(Tok kind, const char* what) {
        if (peek().kind != kind) failExpected(what);
        return take();
    }
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
        BlockDecl block;
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
        }
        return typeSpec;
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

    CLexer lexer_;
    CSimModel& model_;
    std::deque<CToken> ahead_;
    std::vector<BranchInfo> branchInfo_;
};

// ---------------------------------------------------------------------------------
// Elementary types

struct SElementary {
    const char* name;  // canonical name
    TypeClass3 typeClass;
    uint32_t size;
};

const std::unordered_map<std::string, SElementary>& ElementaryTypes() {
    static const std::unordered_map<std::string, SElementary> table = {
        {"BOOL", {"BOOL", TYPE3_BOOL, 1}},
        {"BYTE", {"BYTE", TYPE3_BYTE, 1}},
        {"WORD", {"WORD", TYPE3_WORD, 2}},
        {"DWORD", {"DWORD", TYPE3_DWORD, 4}},
        {"LWORD", {"LWORD", TYPE3_LWORD, 8}},
        {"SINT", {"SINT", TYPE3_SINT, 1}},
        {"INT", {"INT", TYPE3_INT, 2}},
        {"DINT", {"DINT", TYPE3_DINT, 4}},
        {"LINT", {"LINT", TYPE3_LINT, 8}},
        {"USINT", {"USINT", TYPE3_USINT, 1}},
        {"UINT", {"UINT", TYPE3_UINT, 2}},
        {"UDINT", {"UDINT", TYPE3_UDINT, 4}},
        {"ULINT", {"ULINT", TYPE3_ULINT, 8}},
        {"REAL", {"REAL", TYPE3_REAL, 4}},
        {"LREAL", {"LREAL", TYPE3_LREAL, 8}},
        {"TIME", {"TIME", TYPE3_TIME, 4}},
        {"LTIME", {"LTIME", TYPE3_LTIME, 8}},
        {"DATE", {"DATE", TYPE3_DATE, 4}},
        {"DATE_AND_TIME", {"DATE_AND_TIME", TYPE3_DATEANDTIME, 4}},
        {"DT", {"DATE_AND_TIME", TYPE3_DATEANDTIME, 4}},
        {"TIME_OF_DAY", {"TIME_OF_DAY", TYPE3_TIMEOFDAY, 4}},
        {"TOD", {"TIME_OF_DAY", TYPE3_TIMEOFDAY, 4}},
    };
    return table;
}

bool CParser::IsElementaryName(const std::string& upper) { return ElementaryTypes().count(upper) != 0; }

// ---------------------------------------------------------------------------------
// Values

struct SIntRange {
    bool isSigned;
    unsigned bits;
};

bool IntegerRange(TypeClass3 tc, SIntRange& range) {
    switch (tc) {
        case TYPE3_BYTE:
            range = {false, 8};
            return true;
        case TYPE3_WORD:
            range = {false, 16};
            return true;
        case TYPE3_DWORD:
            range = {false, 32};
            return true;
        case TYPE3_LWORD:
            range = {false, 64};
            return true;
        case TYPE3_USINT:
            range = {false, 8};
            return true;
        case TYPE3_UINT:
            range = {false, 16};
            return true;
        case TYPE3_UDINT:
            range = {false, 32};
            return true;
        case TYPE3_ULINT:
            range = {false, 64};
            return true;
        case TYPE3_SINT:
            range = {true, 8};
            return true;
        case TYPE3_INT:
            range = {true, 16};
            return true;
        case TYPE3_DINT:
            range = {true, 32};
            return true;
        case TYPE3_LINT:
            range = {true, 64};
            return true;
        default:
            return false;
    }
}

std::string LittleEndian(uint64_t value, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Reads a run of decimal digits (at least one, at most maxDigits) at s[at].
bool ReadNumber(const std::string& s, size_t& at, size_t maxDigits, uint64_t& value,
                size_t* count = nullptr) {
    size_t begin = at;
    value = 0;
    while (at < s.size() && IsDigit(s[at]) && at - begin < maxDigits) value = value * 10 + (s[at++] - '0');
    if (count != nullptr) *count = at - begin;
    return at > begin && (at >= s.size() || !IsDigit(s[at]));
}

// Turns parsed declarations into the model's types and variables: resolves type names
// (in any order, refusing a type that contains itself), lays types and variables out,
// and checks and encodes initial values. One use, one thread.
class CCompiler {
   public:
    CCompiler(CSimModel& model, std::vector<CTypeDecl>& decls) : model_(model), decls_(decls) {}

    void compile(std::vector<CVarDecl>& vars) {
        for (size_t i = 0; i < decls_.size(); ++i) {
            declIndex_[ToUpper(decls_[i].name)] = i;
            decls_[i].shell = newType();
            decls_[i].shell->name = decls_[i].name;
        }
        for (CTypeDecl& decl : decls_) layout(decl, decl.pos);

        uint64_t offset = 0;
        for (CVarDecl& var : vars) {
            const CSimType* type = resolve(*var.typeSpec);
            CSimVariable v;
            v.name = var.name;
            v.type = type;
            v.branch = var.branch;
            if (var.init) v.init = encode(*var.init, type);
            offset = (offset + type->align - 1) / type->align * type->align;
            if (type->size > kSimMaxMemory - offset) Fail(var.pos, "the application's memory exceeds 1 GiB");
            v.offset = offset;
            offset += type->size;
            model_.variables.push_back(std::move(v));
        }
        model_.memorySize = offset;

        // Pointer and reference targets need not be laid out when the pointer is, so a
        // structure may point to itself; they are resolved once everything else is.
        while (!pendingTargets_.empty()) {
            auto [type, typeSpec] = pendingTargets_.front();
            pendingTargets_.pop_front();
            type->target = resolve(*typeSpec);
        }
        for (auto& [copy, original] : targetCopies_) copy->target = original->target;
    }

   private:
    CSimType* newType() {
        model_.types.push_back(std::make_unique<CSimType>());
        CSimType* type = model_.types.back().get();
        type->id = static_cast<uint32_t>(model_.types.size() - 1);
        return type;
    }

    static std::string Describe(const CSimType* type) { return type->name; }

    void layout(CTypeDecl& decl, SPos usedAt) {
        if (decl.state == 2) return;
        if (decl.state == 1) Fail(usedAt, "type '" + decl.name + "' contains itself");
        if (layoutDepth_ >= kMaxNesting) Fail(usedAt, "types nested too deeply");
        ++layoutDepth_;
        decl.state = 1;
        CSimType* shell = decl.shell;
        CTypeSpec& typeSpec = *decl.typeSpec;
        if (typeSpec.kind == CTypeSpec::Kind::Struct) {
            shell->kind = CSimType::Kind::Struct;
            shell->typeClass = TYPE3_USERDEF;
            uint64_t offset = 0;
            uint32_t align = 1;
            for (CTypeSpec::Field& field : typeSpec.fields) {
                CSimMember member;
                member.name = field.name;
                member.type = resolve(*field.typeSpec);
                offset = (offset + member.type->align - 1) / member.type->align * member.type->align;
                member.offset = offset;
                if (member.type->size > kSimMaxMemory - offset)
                    Fail(field.pos, "structure larger than 1 GiB");
                offset += member.type->size;
                align = std::max(align, member.type->align);
                if (field.init) member.init = encode(*field.init, member.type);
                shell->hasDefaults = shell->hasDefaults || member.init || member.type->hasDefaults;
                member.handleIndex = static_cast<uint32_t>(model_.typeMembers.size());
                model_.typeMembers.push_back({shell, static_cast<uint32_t>(shell->members.size())});
                shell->members.push_back(std::move(member));
            }
            shell->align = align;
            shell->size = (offset + align - 1) / align * align;
            shell->buildMemberIndex();
        } else if (typeSpec.kind == CTypeSpec::Kind::Enum) {
            shell->kind = CSimType::Kind::Enum;
            shell->typeClass = TYPE3_ENUM;
            shell->size = 2;
            shell->align = 2;
            shell->enumName = decl.name;
            int64_t next = 0;
            for (const CTypeSpec::EnumItem& item : typeSpec.items) {
                int64_t value = item.hasValue ? item.value : next;
                if (value > INT16_MAX) Fail(item.pos, "enumeration value out of range for INT");
                shell->enumValues.push_back({item.name, static_cast<int16_t>(value)});
                next = value + 1;
            }
            shell->hasDefaults = shell->enumValues.front().second != 0;
        } else {
            const CSimType* target = resolve(typeSpec);
            std::string name = shell->name;
            uint32_t id = shell->id;
            *shell = *target;  // an alias is a copy of its type under a name of its own
            shell->name = name;
            shell->id = id;
            if (shell->kind == CSimType::Kind::Struct) shell->buildMemberIndex();
            if (shell->kind == CSimType::Kind::Pointer || shell->kind == CSimType::Kind::Reference) {
                targetCopies_.push_back({shell, target});
            }
        }
        if (decl.init) {
            shell->ownInit = encode(*decl.init, shell);
            shell->hasDefaults = true;
        }
        decl.state = 2;
        --layoutDepth_;
    }

    const CSimType* interned(const std::string& key, CSimType::Kind kind, TypeClass3 tc, uint64_t size,
                             uint32_t align, uint32_t length) {
        auto found = interned_.find(key);
        if (found != interned_.end()) return found->second;
        CSimType* type = newType();
        type->kind = kind;
        type->typeClass = tc;
        type->name = key;
        type->size = size;
        type->align = align;
        type->length = length;
        interned_[key] = type;
        return type;
    }

    const CSimType* resolve(CTypeSpec& typeSpec) {
        if (typeSpec.resolved == nullptr) typeSpec.resolved = resolveNew(typeSpec);
        return typeSpec.resolved;
    }

    const CSimType* resolveNew(CTypeSpec& typeSpec) {
        switch (typeSpec.kind) {
            case CTypeSpec::Kind::Named: {
                std::string upper = ToUpper(typeSpec.name);
                auto elementary = ElementaryTypes().find(upper);
                if (elementary != ElementaryTypes().end()) {
                    const SElementary& e = elementary->second;
                    return interned(e.name, CSimType::Kind::Elementary, e.typeClass, e.size, e.size, 0);
                }
                auto found = declIndex_.find(upper);
                if (found == declIndex_.end()) Fail(typeSpec.pos, "unknown type '" + typeSpec.name + "'");
                layout(decls_[found->second], typeSpec.pos);
                return decls_[found->second].shell;
            }
            case CTypeSpec::Kind::String:
                return interned("STRING(" + std::to_string(typeSpec.length) + ")", CSimType::Kind::String,
                                TYPE3_STRING, typeSpec.length + 1, 1, static_cast<uint32_t>(typeSpec.length));
            case CTypeSpec::Kind::WString:
                return interned("WSTRING(" + std::to_string(typeSpec.length) + ")", CSimType::Kind::WString,
                                TYPE3_WSTRING, 2 * (typeSpec.length + 1), 2,
                                static_cast<uint32_t>(typeSpec.length));
            case CTypeSpec::Kind::Array: {
                if (typeSpec.dims.size() > 4)
                    Fail(typeSpec.dims[4].pos, "an array has at most four dimensions");
                const CSimType* element = resolve(*typeSpec.sub);
                CSimType* type = newType();
                type->kind = CSimType::Kind::Array;
                type->typeClass = TYPE3_ARRAY;
                type->element = element;
                type->align = element->align;
                type->hasDefaults = element->hasDefaults;
                type->name = "ARRAY[";
                uint64_t count = 1;
                for (const CTypeSpec::Dim& dim : typeSpec.dims) {
                    if (dim.lo > dim.hi) {
                        Fail(dim.pos, "lower bound " + std::to_string(dim.lo) + " exceeds upper bound " +
                                          std::to_string(dim.hi));
                    }
                    uint64_t extent = static_cast<uint64_t>(dim.hi - dim.lo + 1);
                    if (count > kSimMaxMemory / extent) Fail(dim.pos, "array larger than 1 GiB");
                    count *= extent;
                    type->dims.push_back({static_cast<RTS_I32>(dim.lo), static_cast<RTS_I32>(dim.hi)});
                    if (type->dims.size() > 1) type->name += ",";
                    type->name += std::to_string(dim.lo) + ".." + std::to_string(dim.hi);
                }
                if (count > kSimMaxMemory / element->size) Fail(typeSpec.pos, "array larger than 1 GiB");
                type->count = count;
                type->size = count * element->size;
                type->name += "] OF " + element->name;
                return type;
            }
            case CTypeSpec::Kind::Pointer:
            case CTypeSpec::Kind::Reference: {
                CSimType* type = newType();
                bool pointer = typeSpec.kind == CTypeSpec::Kind::Pointer;
                type->kind = pointer ? CSimType::Kind::Pointer : CSimType::Kind::Reference;
                type->typeClass = pointer ? TYPE3_POINTER : TYPE3_REFERENCE;
                type->size = 8;
                type->align = 8;
                type->name =
                    std::string(pointer ? "POINTER TO " : "REFERENCE TO ") + SpelledSpec(*typeSpec.sub);
                pendingTargets_.push_back({type, typeSpec.sub.get()});
                return type;
            }
            default:
                Fail(typeSpec.pos, "a structure or enumeration must be declared in a TYPE block");
        }
    }

    static std::string SpelledSpec(const CTypeSpec& typeSpec) {
        switch (typeSpec.kind) {
            case CTypeSpec::Kind::Named:
                return typeSpec.name;
            case CTypeSpec::Kind::String:
                return "STRING(" + std::to_string(typeSpec.length) + ")";
            case CTypeSpec::Kind::WString:
                return "WSTRING(" + std::to_string(typeSpec.length) + ")";
            case CTypeSpec::Kind::Pointer:
                return "POINTER TO " + SpelledSpec(*typeSpec.sub);
            case CTypeSpec::Kind::Reference:
                return "REFERENCE TO " + SpelledSpec(*typeSpec.sub);
            case CTypeSpec::Kind::Array: {
                std::string out = "ARRAY[";
                for (size_t i = 0; i < typeSpec.dims.size(); ++i) {
                    out += (i ? "," : "") + std::to_string(typeSpec.dims[i].lo) + ".." +
                           std::to_string(typeSpec.dims[i].hi);
                }
                return out + "] OF " + SpelledSpec(*typeSpec.sub);
            }
            default:
                return "?";
        }
    }

    // --- initial values ---

    std::shared_ptr<const CSimInit> encode(const CLiteral& lit, const CSimType* type) {
        auto init = std::make_shared<CSimInit>();
        switch (type->kind) {
            case CSimType::Kind::Array: {
                if (lit.kind != CLiteral::Kind::List) {
                    Fail(lit.pos, "expected an array value [...] for " + Describe(type));
                }
                init->kind = CSimInit::Kind::List;
                uint64_t total = 0;
                for (const CLiteral& item : lit.items) {
                    if (item.repeat > type->count - total) {
                        Fail(item.pos, "too many initial values for " + Describe(type) + " (" +
                                           std::to_string(type->count) + " elements)");
                    }
                    total += item.repeat;
                    init->items.push_back({item.repeat, encode(item, type->element)});
                }
                return init;
            }
            case CSimType::Kind::Struct: {
                if (lit.kind != CLiteral::Kind::Struct) {
                    Fail(lit.pos, "expected a structure value (member := value, ...) for " + Describe(type));
                }
                init->kind = CSimInit::Kind::Struct;
                std::unordered_set<uint32_t> seen;
                for (const CLiteral& item : lit.items) {
                    auto found = type->memberIndex.find(item.member);
                    if (found == type->memberIndex.end()) {
                        Fail(item.memberPos, "'" + item.member + "' is not a member of " + Describe(type));
                    }
                    if (!seen.insert(found->second).second) {
                        Fail(item.memberPos, "member '" + item.member + "' is given twice");
                    }
                    init->members.push_back({found->second, encode(item, type->members[found->second].type)});
                }
                return init;
            }
            case CSimType::Kind::Pointer:
            case CSimType::Kind::Reference:
                Fail(lit.pos, "a pointer or reference takes no initial value");
            default:
                init->kind = CSimInit::Kind::Bytes;
                init->bytes = encodeScalar(lit, type);
                return init;
        }
    }

    std::string encodeScalar(const CLiteral& lit, const CSimType* type) {
        if (lit.kind == CLiteral::Kind::List || lit.kind == CLiteral::Kind::Struct) {
            Fail(lit.pos, "expected a single value for " + Describe(type));
        }
        SIntRange range{};
        if (type->kind == CSimType::Kind::Enum) return encodeEnum(lit, type);
        if (type->kind == CSimType::Kind::String) {
            if (lit.kind != CLiteral::Kind::String)
                Fail(lit.pos, "expected a 'string' for " + Describe(type));
            if (lit.text.size() > type->length) {
                Fail(lit.pos, "string of " + std::to_string(lit.text.size()) + " characters does not fit " +
                                  Describe(type));
            }
            std::string bytes = lit.text;
            bytes.resize(type->size, '\0');
            return bytes;
        }
        if (type->kind == CSimType::Kind::WString) {
            if (lit.kind != CLiteral::Kind::WString)
                Fail(lit.pos, "expected a \"wstring\" for " + Describe(type));
            if (lit.wide.size() > type->length) {
                Fail(lit.pos, "string of " + std::to_string(lit.wide.size()) + " characters does not fit " +
                                  Describe(type));
            }
            std::string bytes(type->size, '\0');
            std::memcpy(&bytes[0], lit.wide.data(), lit.wide.size() * 2);
            return bytes;
        }
        if (type->typeClass == TYPE3_BOOL) {
            if (lit.kind == CLiteral::Kind::Name && lit.prefix.empty()) {
                std::string upper = ToUpper(lit.text);
                if (upper == "TRUE") return std::string(1, '\1');
                if (upper == "FALSE") return std::string(1, '\0');
            }
            if (lit.kind == CLiteral::Kind::Integer && !lit.negative && lit.integer <= 1) {
                return std::string(1, static_cast<char>(lit.integer));
            }
            Fail(lit.pos, "expected TRUE or FALSE for BOOL");
        }
        if (IntegerRange(type->typeClass, range)) {
            if (lit.kind != CLiteral::Kind::Integer)
                Fail(lit.pos, "expected an integer for " + Describe(type));
            uint64_t max = range.bits == 64 ? UINT64_MAX : (uint64_t(1) << range.bits) - 1;
            uint64_t limit =
                range.isSigned ? (lit.negative ? max / 2 + 1 : max / 2) : (lit.negative ? 0 : max);
            if (lit.integer > limit) {
                Fail(lit.pos, "value " + std::string(lit.negative ? "-" : "") + std::to_string(lit.integer) +
                                  " out of range for " + Describe(type));
            }
            uint64_t bits = lit.negative ? ~lit.integer + 1 : lit.integer;
            return LittleEndian(bits, type->size);
        }
        if (type->typeClass == TYPE3_REAL || type->typeClass == TYPE3_LREAL) {
            double value = 0;
            if (lit.kind == CLiteral::Kind::Integer) {
                value = static_cast<double>(lit.integer);
            } else if (lit.kind == CLiteral::Kind::Real) {
                auto [end, ec] = std::from_chars(lit.text.data(), lit.text.data() + lit.text.size(), value);
                if (ec != std::errc() || end != lit.text.data() + lit.text.size()) {
                    Fail(lit.pos, "value out of range for " + Describe(type));
                }
            } else {
                Fail(lit.pos, "expected a number for " + Describe(type));
            }
            if (lit.negative) value = -value;
            std::string bytes(type->size, '\0');
            if (type->typeClass == TYPE3_REAL) {
                if (std::fabs(value) > FLT_MAX) Fail(lit.pos, "value out of range for " + Describe(type));
                float f = static_cast<float>(value);
                std::memcpy(&bytes[0], &f, 4);
            } else {
                std::memcpy(&bytes[0], &value, 8);
            }
            return bytes;
        }
        return encodeTemporal(lit, type);
    }

    std::string encodeEnum(const CLiteral& lit, const CSimType* type) {
        if (lit.kind != CLiteral::Kind::Name) Fail(lit.pos, "expected a value name of " + Describe(type));
        if (!lit.prefix.empty() && !CSimNameEqual()(lit.prefix, type->enumName)) {
            Fail(lit.pos, "'" + lit.prefix + "' is not the enumeration " + type->enumName);
        }
        for (const auto& [name, value] : type->enumValues) {
            if (CSimNameEqual()(name, lit.text)) return LittleEndian(static_cast<uint16_t>(value), 2);
        }
        Fail(lit.pos, "'" + lit.text + "' is not a value of " + type->enumName);
    }

    std::string encodeTemporal(const CLiteral& lit, const CSimType* type) {
        TypeClass3 tc = type->typeClass;
        const char* expected = tc == TYPE3_TIME          ? "a T# literal"
                               : tc == TYPE3_LTIME       ? "an LTIME# or T# literal"
                               : tc == TYPE3_DATE        ? "a D# literal"
                               : tc == TYPE3_DATEANDTIME ? "a DT# literal"
                                                         : "a TOD# literal";
        if (lit.kind != CLiteral::Kind::Typed)
            Fail(lit.pos, std::string("expected ") + expected + " for " + type->name);
        const std::string& p = lit.prefix;
        bool duration = p == "T" || p == "TIME" || p == "LT" || p == "LTIME";
        bool ok = (tc == TYPE3_TIME && (p == "T" || p == "TIME")) || (tc == TYPE3_LTIME && duration) ||
                  (tc == TYPE3_DATE && (p == "D" || p == "DATE")) ||
                  (tc == TYPE3_DATEANDTIME && (p == "DT" || p == "DATE_AND_TIME")) ||
                  (tc == TYPE3_TIMEOFDAY && (p == "TOD" || p == "TIME_OF_DAY"));
        if (!ok) Fail(lit.pos, std::string("expected ") + expected + " for " + type->name);
        std::string body;
        for (char c : lit.text) {
            if (c != '_') body.push_back(Upper(c));
        }
        if (duration) {
            unsigned __int128 ns = ParseDuration(body, lit.pos);
            if (tc == TYPE3_TIME) {
                if (ns % 1000000 != 0) Fail(lit.pos, "TIME has a resolution of one millisecond");
                if (ns / 1000000 > UINT32_MAX) Fail(lit.pos, "duration out of range for TIME");
                return LittleEndian(static_cast<uint64_t>(ns / 1000000), 4);
            }
            if (ns > UINT64_MAX) Fail(lit.pos, "duration out of range for LTIME");
            return LittleEndian(static_cast<uint64_t>(ns), 8);
        }
        size_t at = 0;
        int64_t seconds = 0;
        uint64_t ms = 0;
        if (tc == TYPE3_DATE || tc == TYPE3_DATEANDTIME) {
            uint64_t y = 0, m = 0, d = 0;
            bool good = ReadNumber(body, at, 4, y) && at < body.size() && body[at++] == '-' &&
                        ReadNumber(body, at, 2, m) && at < body.size() && body[at++] == '-' &&
                        ReadNumber(body, at, 2, d);
            static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
            bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
            if (!good || y < 1970 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] ||
                (m == 2 && d == 29 && !leap)) {
                Fail(lit.pos, "malformed or impossible date '" + lit.text + "'");
            }
            seconds =
                DaysFromCivil(static_cast<int64_t>(y), static_cast<unsigned>(m), static_cast<unsigned>(d)) *
                86400;
            if (tc == TYPE3_DATEANDTIME) {
                if (at >= body.size() || body[at++] != '-') Fail(lit.pos, "expected DT#yyyy-mm-dd-hh:mm:ss");
            } else if (at != body.size()) {
                Fail(lit.pos, "malformed date '" + lit.text + "'");
            }
        }
        if (tc == TYPE3_DATEANDTIME || tc == TYPE3_TIMEOFDAY) {
            uint64_t h = 0, mi = 0, s = 0, frac = 0;
            size_t digits = 0;
            bool good = ReadNumber(body, at, 2, h) && at < body.size() && body[at++] == ':' &&
                        ReadNumber(body, at, 2, mi) && at < body.size() && body[at++] == ':' &&
                        ReadNumber(body, at, 2, s);
            if (good && at < body.size() && body[at] == '.' && tc == TYPE3_TIMEOFDAY) {
                ++at;
                good = ReadNumber(body, at, 3, frac, &digits);
                for (size_t i = digits; i < 3; ++i) frac *= 10;
            }
            if (!good || at != body.size() || h > 23 || mi > 59 || s > 59) {
                Fail(lit.pos, "malformed time of day '" + lit.text + "'");
            }
            seconds += static_cast<int64_t>(h * 3600 + mi * 60 + s);
            ms = (h * 3600 + mi * 60 + s) * 1000 + frac;
        }
        if (tc == TYPE3_TIMEOFDAY) return LittleEndian(ms, 4);
        if (seconds > static_cast<int64_t>(UINT32_MAX)) Fail(lit.pos, "date out of range for " + type->name);
        return LittleEndian(static_cast<uint64_t>(seconds), 4);
    }

    // "1H30M", "500MS", "1.5S": descending units, a fraction only on the last one.
    static unsigned __int128 ParseDuration(const std::string& body, SPos pos) {
        static const std::pair<const char*, uint64_t> kUnits[] = {
            {"D", 86400000000000ull}, {"H", 3600000000000ull}, {"M", 60000000000ull}, {"S", 1000000000ull},
            {"MS", 1000000ull},       {"US", 1000ull},         {"NS", 1ull}};
        unsigned __int128 total = 0;
        size_t at = 0;
        int lastRank = -1;
        bool fractionSeen = false;
        if (body.empty()) Fail(pos, "empty duration");
        while (at < body.size()) {
            if (fractionSeen) Fail(pos, "only the last unit of a duration may have a fraction");
            uint64_t whole = 0, frac = 0;
            size_t fracDigits = 0;
            if (!ReadNumber(body, at, 18, whole)) Fail(pos, "malformed duration");
            if (at < body.size() && body[at] == '.') {
                ++at;
                if (!ReadNumber(body, at, 18, frac, &fracDigits)) Fail(pos, "malformed duration");
                fractionSeen = true;
            }
            size_t unitBegin = at;
            while (at < body.size() && body[at] >= 'A' && body[at] <= 'Z') ++at;
            std::string unit = body.substr(unitBegin, at - unitBegin);
            int rank = -1;
            for (int i = 0; i < 7; ++i) {
                if (unit == kUnits[i].first) rank = i;
            }
            if (rank < 0) Fail(pos, "unknown duration unit '" + unit + "' (use d, h, m, s, ms, us, ns)");
            if (rank <= lastRank) Fail(pos, "duration units must go from days down to nanoseconds");
            lastRank = rank;
            unsigned __int128 unitNs = kUnits[rank].second;
            total += static_cast<unsigned __int128>(whole) * unitNs;
            if (fracDigits > 0) {
                unsigned __int128 scale = 1;
                for (size_t i = 0; i < fracDigits; ++i) scale *= 10;
                unsigned __int128 part = static_cast<unsigned __int128>(frac) * unitNs;
                if (part % scale != 0) Fail(pos, "duration finer than a nanosecond");
                total += part / scale;
            }
            if (total > static_cast<unsigned __int128>(UINT64_MAX)) Fail(pos, "duration out of range");
        }
        return total;
    }

    CSimModel& model_;
    std::vector<CTypeDecl>& decls_;
    std::unordered_map<std::string, size_t> declIndex_;
    std::unordered_map<std::string, const CSimType*> interned_;
    std::deque<std::pair<CSimType*, CTypeSpec*>> pendingTargets_;
    std::vector<std::pair<CSimType*, const CSimType*>> targetCopies_;
    int layoutDepth_ = 0;
};

// ---------------------------------------------------------------------------------
// Writing initial values

void WriteInit(const CSimInit& init, const CSimType* type, uint8_t* at) {
    switch (init.kind) {
        case CSimInit::Kind::Bytes:
            std::memcpy(at, init.bytes.data(), init.bytes.size());
            break;
        case CSimInit::Kind::List: {
            uint64_t element = 0;
            for (const auto& [repeat, item] : init.items) {
                for (uint64_t r = 0; r < repeat; ++r, ++element) {
                    WriteInit(*item, type->element, at + element * type->element->size);
                }
            }
            break;
        }
        case CSimInit::Kind::Struct:
            for (const auto& [member, item] : init.members) {
                WriteInit(*item, type->members[member].type, at + type->members[member].offset);
            }
            break;
    }
}

void WriteDefaults(const CSimType* type, uint8_t* at) {
    if (!type->hasDefaults) return;
    switch (type->kind) {
        case CSimType::Kind::Enum: {
            uint16_t first = static_cast<uint16_t>(type->enumValues.front().second);
            std::memcpy(at, &first, 2);
            break;
        }
        case CSimType::Kind::Struct:
            for (const CSimMember& member : type->members) {
                WriteDefaults(member.type, at + member.offset);
                if (member.init) WriteInit(*member.init, member.type, at + member.offset);
            }
            break;
        case CSimType::Kind::Array:
            for (uint64_t i = 0; i < type->count; ++i)
                WriteDefaults(type->element, at + i * type->element->size);
            break;
        default:
            break;
    }
    if (type->ownInit) WriteInit(*type->ownInit, type, at);
}

}  // namespace

CSimDeclError::CSimDeclError(int line, int column, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what),
      line_(line),
      column_(column) {}

size_t CSimNameHash::operator()(std::string_view name) const {
    uint64_t hash = 1469598103934665603ull;
    for (char c : name) {
        hash ^= static_cast<unsigned char>(Upper(c));
        hash *= 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

bool CSimNameEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
    }
    return true;
}

void CSimType::buildMemberIndex() {
    memberIndex.clear();
    for (size_t i = 0; i < members.size(); ++i) memberIndex[members[i].name] = static_cast<uint32_t>(i);
}

std::unique_ptr<CSimModel> SimCompileDeclarations(const std::string& text) {
    auto model = std::make_unique<CSimModel>();
    // A UTF-8 byte order mark, as some editors write it, is no part of the text.
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    const std::string unmarked = text.compare(0, 3, kByteOrderMark) == 0 ? text.substr(3) : text;
    CParser parser(unmarked, *model);
    parser.parseFile();
    CCompiler compiler(*model, parser.types);
    compiler.compile(parser.vars);
    for (const CParser::BlockDecl& block : parser.blocks) {
        CSimFunctionBlock compiled;
        compiled.name = block.name;
        compiled.instance = parser.types[block.instance].shell;
        compiled.body = parser.types[block.body].shell;
        for (const auto& [name, index] : block.methods) {
            compiled.methods.push_back({name, parser.types[index].shell});
        }
        model->functionBlocks.push_back(std::move(compiled));
    }
    return model;
}

void SimWriteInitialValues(const CSimModel& model, uint8_t* memory) {
    for (const CSimVariable& var : model.variables) {
        WriteDefaults(var.type, memory + var.offset);
        if (var.init) WriteInit(*var.init, var.type, memory + var.offset);
    }
}
