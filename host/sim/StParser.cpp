// The parser of Structured Text programs: recursive descent over the declaration
// lexer's tokens, with the nesting of the text bounded (kMaxNesting) so that neither the
// parser nor the interpreter that walks the tree can exhaust the stack.
#include <algorithm>
#include <set>

#include "SimNames.h"
#include "StSyntax.h"

namespace st {

namespace {

using sim_decl::CToken;
using sim_decl::Fail;
using sim_decl::Tok;

// Words that end a statement list or cannot start a statement.
const std::set<std::string> s_keywords = {
    "IF",      "THEN",      "ELSIF",      "ELSE",        "END_IF",   "FOR",      "TO",         "BY",
    "DO",      "END_FOR",   "WHILE",      "END_WHILE",   "REPEAT",   "UNTIL",    "END_REPEAT", "CASE",
    "OF",      "END_CASE",  "EXIT",       "RETURN",      "AND",      "OR",       "XOR",        "NOT",
    "MOD",     "TRUE",      "FALSE",      "END_PROGRAM", "VAR",      "END_VAR",  "TYPE",       "END_TYPE",
    "PROGRAM", "VAR_INPUT", "VAR_OUTPUT", "VAR_IN_OUT",  "VAR_TEMP", "CONTINUE", "JMP"};

// Recursive descent over one program file. One use, one thread.
class CParser : private sim_decl::CTokenStream {
   public:
    explicit CParser(const std::string& text) : CTokenStream(text), text_(text) {
        lineStarts_.push_back(0);
        for (size_t i = 0; i < text_.size(); ++i) {
            if (text_[i] == '\n') lineStarts_.push_back(i + 1);
        }
    }

    SProgram parseFile() {
        SProgram program;
        while (atKeyword("TYPE")) skipBlock("END_TYPE");
        expectKeyword("PROGRAM");
        const CToken& name = peek();
        if (name.kind != Tok::Ident || !name.prefix.empty() || s_keywords.count(ToUpper(name.text)) != 0) {
            failExpected("a program name");
        }
        program.name = name.text;
        program.namePos = name.pos;
        take();
        while (atVarBlock()) skipBlock("END_VAR");
        size_t bodyBegin = offset(peek().pos);
        program.body = parseStatements();
        size_t bodyEnd = offset(peek().pos);
        expectKeyword("END_PROGRAM");
        if (peek().kind == Tok::Semicolon) take();
        if (peek().kind != Tok::End) failExpected("end of text after END_PROGRAM");
        program.declarations = text_;
        for (size_t i = bodyBegin; i < bodyEnd; ++i) {
            if (program.declarations[i] != '\n') program.declarations[i] = ' ';
        }
        return program;
    }

   private:
    // Counts one level of nesting for as long as it lives.
    class CNest {
       public:
        CNest(CParser& parser, SPos pos) : parser_(parser) {
            if (++parser_.depth_ > kMaxNesting) {
                Fail(pos, "nested too deeply (at most " + std::to_string(kMaxNesting) + " levels)");
            }
        }
        ~CNest() { --parser_.depth_; }
        CNest(const CNest&) = delete;
        CNest& operator=(const CNest&) = delete;

       private:
        CParser& parser_;
    };

    size_t offset(SPos pos) const {
        return lineStarts_[static_cast<size_t>(pos.line - 1)] + static_cast<size_t>(pos.column - 1);
    }

    bool atVarBlock() {
        const CToken& t = peek();
        return t.kind == Tok::Ident && t.prefix.empty() && ToUpper(t.text).rfind("VAR", 0) == 0 &&
               ToUpper(t.text) != "VAR_GLOBAL";
    }
    void optionalSemicolon() {
        if (peek().kind == Tok::Semicolon) take();
    }

    // Declarations are compiled by the declaration language; here they are only passed over.
    void skipBlock(const char* endKeyword) {
        take();
        while (!atKeyword(endKeyword)) {
            if (peek().kind == Tok::End) failExpected(endKeyword);
            take();
        }
        take();
        optionalSemicolon();
    }

    // Statements up to a word that ends the list (END_..., ELSE, ELSIF, UNTIL) or, in a
    // CASE, up to the next arm's labels.
    std::vector<SStmt> parseStatements(bool inCase = false) {
        std::vector<SStmt> list;
        for (;;) {
            const CToken& t = peek();
            if (t.kind == Tok::End) return list;
            if (t.kind == Tok::Ident && t.prefix.empty()) {
                std::string word = ToUpper(t.text);
                if (word.rfind("END_", 0) == 0 || word == "ELSE" || word == "ELSIF" || word == "UNTIL") {
                    return list;
                }
            }
            if (inCase && atCaseLabel()) return list;
            list.push_back(parseStatement());
        }
    }

    bool atCaseLabel() {
        const CToken& t = peek();
        if (t.kind == Tok::Integer || t.kind == Tok::Minus) return true;
        return t.kind == Tok::Ident &&
               (peek(1).kind == Tok::Colon || peek(1).kind == Tok::Comma || peek(1).kind == Tok::DotDot);
    }

    SStmt parseStatement() {
        CNest nest(*this, peek().pos);
        SStmt stmt;
        stmt.pos = peek().pos;
        const CToken& t = peek();
        if (t.kind == Tok::Semicolon) {
            take();
            return stmt;
        }
        if (t.kind != Tok::Ident || !t.prefix.empty()) {
            if (t.kind == Tok::LParen || t.kind == Tok::Integer) failExpected("a statement");
            parseAssignOrCall(stmt);
            return stmt;
        }
        std::string word = ToUpper(t.text);
        if (word == "IF") {
            stmt.kind = SStmt::Kind::If;
            take();
            PExpr condition = parseExpression();
            expectKeyword("THEN");
            stmt.branches.emplace_back(std::move(condition), parseStatements());
            while (atKeyword("ELSIF")) {
                take();
                PExpr next = parseExpression();
                expectKeyword("THEN");
                stmt.branches.emplace_back(std::move(next), parseStatements());
            }
            if (atKeyword("ELSE")) {
                take();
                stmt.elseBody = parseStatements();
            }
            expectKeyword("END_IF");
        } else if (word == "CASE") {
            stmt.kind = SStmt::Kind::Case;
            take();
            stmt.value = parseExpression();
            expectKeyword("OF");
            while (!atKeyword("ELSE") && !atKeyword("END_CASE")) {
                if (!atCaseLabel()) failExpected("a CASE label, ELSE or END_CASE");
                SCaseArm arm;
                for (;;) {
                    PExpr lo = parseExpression();
                    PExpr hi;
                    if (peek().kind == Tok::DotDot) {
                        take();
                        hi = parseExpression();
                    }
                    arm.labels.emplace_back(std::move(lo), std::move(hi));
                    if (peek().kind != Tok::Comma) break;
                    take();
                }
                expect(Tok::Colon, "':' after the CASE labels");
                arm.body = parseStatements(true);
                stmt.arms.push_back(std::move(arm));
            }
            if (atKeyword("ELSE")) {
                take();
                stmt.elseBody = parseStatements();
            }
            expectKeyword("END_CASE");
        } else if (word == "FOR") {
            stmt.kind = SStmt::Kind::For;
            take();
            const CToken& control = peek();
            if (control.kind != Tok::Ident || s_keywords.count(ToUpper(control.text)) != 0) {
                failExpected("the FOR loop's variable");
            }
            stmt.target = std::make_unique<SExpr>();
            stmt.target->kind = SExpr::Kind::Name;
            stmt.target->pos = control.pos;
            stmt.target->text = control.text;
            take();
            expect(Tok::Assign, "':='");
            stmt.value = parseExpression();
            expectKeyword("TO");
            stmt.to = parseExpression();
            if (atKeyword("BY")) {
                take();
                stmt.by = parseExpression();
            }
            expectKeyword("DO");
            stmt.body = parseStatements();
            expectKeyword("END_FOR");
        } else if (word == "WHILE") {
            stmt.kind = SStmt::Kind::While;
            take();
            stmt.value = parseExpression();
            expectKeyword("DO");
            stmt.body = parseStatements();
            expectKeyword("END_WHILE");
        } else if (word == "REPEAT") {
            stmt.kind = SStmt::Kind::Repeat;
            take();
            stmt.body = parseStatements();
            expectKeyword("UNTIL");
            stmt.value = parseExpression();
            expectKeyword("END_REPEAT");
        } else if (word == "EXIT" || word == "RETURN") {
            stmt.kind = word == "EXIT" ? SStmt::Kind::Exit : SStmt::Kind::Return;
            take();
            expect(Tok::Semicolon, "';'");
            return stmt;
        } else if (word == "CONTINUE" || word == "JMP") {
            Fail(t.pos, word + " is not supported");
        } else if (word.rfind("VAR", 0) == 0 || word == "TYPE") {
            Fail(t.pos, "declarations go before the first statement");
        } else if (s_keywords.count(word) != 0) {
            failExpected("a statement");
        } else if (peek(1).kind == Tok::Colon) {
            Fail(t.pos, "labels are not supported");
        } else {
            parseAssignOrCall(stmt);
            return stmt;
        }
        optionalSemicolon();
        return stmt;
    }

    void parseAssignOrCall(SStmt& stmt) {
        PExpr place = parsePostfix();
        if (peek().kind == Tok::Assign) {
            take();
            stmt.kind = SStmt::Kind::Assign;
            stmt.target = std::move(place);
            stmt.value = parseExpression();
        } else if (place->kind == SExpr::Kind::Call) {
            stmt.kind = SStmt::Kind::Call;
            stmt.value = std::move(place);
        } else {
            failExpected("':=' or a call");
        }
        expect(Tok::Semicolon, "';'");
    }

    static PExpr Node(SExpr::Kind kind, SPos pos) {
        auto node = std::make_unique<SExpr>();
        node->kind = kind;
        node->pos = pos;
        return node;
    }
    static PExpr Binary(EOp op, SPos pos, PExpr left, PExpr right) {
        PExpr node = Node(SExpr::Kind::Binary, pos);
        node->op = op;
        node->operands.push_back(std::move(left));
        node->operands.push_back(std::move(right));
        return Grown(std::move(node));
    }

    // Sets the node's height from its operands' and arguments'; the interpreter's
    // recursion over an expression is as deep as its tree is high.
    static PExpr Grown(PExpr node) {
        int below = 0;
        for (const PExpr& operand : node->operands) below = std::max(below, operand->height);
        for (const SArg& arg : node->args) below = std::max(below, arg.value->height);
        node->height = below + 1;
        if (node->height > kMaxExpressionHeight) {
            Fail(node->pos, "the expression is nested too deeply (at most " +
                                std::to_string(kMaxExpressionHeight) + " operations deep)");
        }
        return node;
    }

    // Binary levels from the loosest: OR, XOR, AND (&), = <>, < <= > >=, + -, * / MOD.
    PExpr parseExpression(int level = 0) {
        if (level == 0) {
            CNest nest(*this, peek().pos);
            return parseExpression(1);
        }
        if (level == 8) return parseUnary();
        PExpr left = parseExpression(level + 1);
        for (;;) {
            const CToken& t = peek();
            std::string word = t.kind == Tok::Ident && t.prefix.empty() ? ToUpper(t.text) : "";
            EOp op;
            if (level == 1 && word == "OR") {
                op = EOp::Or;
            } else if (level == 2 && word == "XOR") {
                op = EOp::Xor;
            } else if (level == 3 && (word == "AND" || t.kind == Tok::Ampersand)) {
                op = EOp::And;
            } else if (level == 4 && (t.kind == Tok::Eq || t.kind == Tok::Ne)) {
                op = t.kind == Tok::Eq ? EOp::Eq : EOp::Ne;
            } else if (level == 4 &&
                       (t.kind == Tok::Lt || t.kind == Tok::Le || t.kind == Tok::Gt || t.kind == Tok::Ge)) {
                op = t.kind == Tok::Lt   ? EOp::Lt
                     : t.kind == Tok::Le ? EOp::Le
                     : t.kind == Tok::Gt ? EOp::Gt
                                         : EOp::Ge;
            } else if (level == 6 && (t.kind == Tok::Plus || t.kind == Tok::Minus)) {
                op = t.kind == Tok::Plus ? EOp::Add : EOp::Sub;
            } else if (level == 7 && (t.kind == Tok::Star || t.kind == Tok::Slash || word == "MOD")) {
                if (t.kind == Tok::Star && peek(1).kind == Tok::Star) Fail(t.pos, "'**' is not supported");
                op = t.kind == Tok::Star ? EOp::Mul : t.kind == Tok::Slash ? EOp::Div : EOp::Mod;
            } else {
                return left;
            }
            SPos pos = t.pos;
            take();
            left = Binary(op, pos, std::move(left), parseExpression(level + 1));
        }
    }

    PExpr parseUnary() {
        const CToken& t = peek();
        if (t.kind == Tok::Minus || t.kind == Tok::Plus || atKeyword("NOT")) {
            CNest nest(*this, t.pos);
            if (t.kind == Tok::Plus) {
                take();
                return parseUnary();
            }
            PExpr node = Node(SExpr::Kind::Unary, t.pos);
            node->op = t.kind == Tok::Minus ? EOp::Neg : EOp::Not;
            take();
            node->operands.push_back(parseUnary());
            return Grown(std::move(node));
        }
        return parsePostfix();
    }

    PExpr parsePostfix() {
        PExpr node = parsePrimary();
        for (;;) {
            const CToken& t = peek();
            if (t.kind == Tok::Dot) {
                take();
                const CToken& name = peek();
                if (name.kind != Tok::Ident || !name.prefix.empty()) failExpected("a member name after '.'");
                PExpr member = Node(SExpr::Kind::Member, name.pos);
                member->text = name.text;
                member->operands.push_back(std::move(node));
                take();
                node = Grown(std::move(member));
            } else if (t.kind == Tok::LBracket) {
                PExpr index = Node(SExpr::Kind::Index, t.pos);
                take();
                index->operands.push_back(std::move(node));
                for (;;) {
                    index->operands.push_back(parseExpression());
                    if (peek().kind != Tok::Comma) break;
                    take();
                }
                expect(Tok::RBracket, "']'");
                node = Grown(std::move(index));
            } else if (t.kind == Tok::LParen) {
                PExpr call = Node(SExpr::Kind::Call, node->pos);
                take();
                call->operands.push_back(std::move(node));
                parseArguments(call->args);
                node = Grown(std::move(call));
            } else if (t.kind == Tok::Caret) {
                Fail(t.pos, "dereferencing a pointer (^) is not supported");
            } else {
                return node;
            }
        }
    }

    void parseArguments(std::vector<SArg>& args) {
        if (peek().kind == Tok::RParen) {
            take();
            return;
        }
        for (;;) {
            SArg arg;
            arg.pos = peek().pos;
            if (peek().kind == Tok::Ident && (peek(1).kind == Tok::Assign || peek(1).kind == Tok::Arrow)) {
                arg.name = peek().text;
                arg.output = peek(1).kind == Tok::Arrow;
                take();
                take();
            }
            arg.value = parseExpression();
            args.push_back(std::move(arg));
            if (peek().kind != Tok::Comma) break;
            take();
        }
        expect(Tok::RParen, "',' or ')'");
    }

    PExpr parsePrimary() {
        CToken t = take();
        switch (t.kind) {
            case Tok::Integer: {
                PExpr node = Node(SExpr::Kind::Integer, t.pos);
                node->integer = t.value;
                return node;
            }
            case Tok::Real: {
                PExpr node = Node(SExpr::Kind::Real, t.pos);
                node->text = t.text;
                return node;
            }
            case Tok::String:
            case Tok::WString: {
                PExpr node = Node(t.kind == Tok::String ? SExpr::Kind::String : SExpr::Kind::WString, t.pos);
                node->text = t.text;
                return node;
            }
            case Tok::Typed: {
                PExpr node = Node(SExpr::Kind::Typed, t.pos);
                node->text = t.text;
                node->prefix = t.prefix;
                return node;
            }
            case Tok::LParen: {
                PExpr inner = parseExpression();
                expect(Tok::RParen, "')'");
                return inner;
            }
            case Tok::Ident: {
                if (!t.prefix.empty()) {
                    Fail(t.pos, "enumeration values (" + t.prefix + "#" + t.text + ") are not supported");
                }
                std::string word = ToUpper(t.text);
                if (word == "TRUE" || word == "FALSE") {
                    PExpr node = Node(SExpr::Kind::Bool, t.pos);
                    node->integer = word == "TRUE" ? 1 : 0;
                    return node;
                }
                if (s_keywords.count(word) != 0) Fail(t.pos, "expected a value, found '" + t.text + "'");
                PExpr node = Node(SExpr::Kind::Name, t.pos);
                node->text = t.text;
                return node;
            }
            default:
                Fail(t.pos, "expected a value, found " + t.spelled);
        }
    }

    const std::string& text_;
    std::vector<size_t> lineStarts_;
    int depth_ = 0;
};

}  // namespace

SProgram ParseProgram(const std::string& text) {
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    const std::string body = text.compare(0, 3, kByteOrderMark) == 0 ? text.substr(3) : text;
    CParser parser(body);
    return parser.parseFile();
}

}  // namespace st
