// CLexer: splits declaration text into tokens for the parser (SimDeclParser.h
// describes the language). Also the position type and the error helper every stage of
// the declaration compiler shares.
#ifndef SIM_SIMDECLLEXER_H
#define SIM_SIMDECLLEXER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "SimDeclParser.h"

namespace sim_decl {

struct SPos {
    int line = 1;
    int column = 1;
};

[[noreturn]] inline void Fail(SPos pos, const std::string& what) {
    throw CSimDeclError(pos.line, pos.column, what);
}

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
    Plus,
    // Operators of statements and expressions; the declaration parser takes none of them.
    Star,
    Slash,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Arrow,  // =>
    Caret,
    Ampersand
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

// Splits declaration text into tokens on demand, tracking line and column; decodes
// string literals and reads numbers (with their base) as it goes. Owned by one parser.
class CLexer {
   public:
    explicit CLexer(const std::string& text) : text_(text) {}

    CToken next();

   private:
    SPos here() const { return {line_, column_}; }
    char peekc(size_t k = 0) const { return at_ + k < text_.size() ? text_[at_ + k] : '\0'; }
    void advance();

    void skipSpaceAndComments();

    void lexIdent(CToken& token);

    // Digits with single underscores between them; returns the digits alone.
    std::string digits(int base, SPos start);

    static bool Accumulate(const std::string& ds, int base, uint64_t& value);

    void lexNumber(CToken& token);

    // Appends code point cp as UTF-16.
    static void AppendUtf16(std::u16string& out, uint32_t cp);

    // Reads one UTF-8 encoded code point of the source.
    uint32_t utf8CodePoint();

    void lexString(CToken& token, bool wide);

    void lexPunct(CToken& token);

    const std::string& text_;
    size_t at_ = 0;
    int line_ = 1;
    int column_ = 1;
};

// The tokens a parser reads, on demand and with look-ahead, and the checks every parser
// of the simulated host makes on them. The text must outlive the stream. Owned by one
// parser, one thread.
class CTokenStream {
   public:
    explicit CTokenStream(const std::string& text) : lexer_(text) {}

    // The token k places ahead. A deque keeps references to peeked tokens valid while
    // more are peeked.
    const CToken& peek(size_t k = 0);
    CToken take();
    bool atKeyword(const char* keyword, size_t k = 0);
    [[noreturn]] void failExpected(const std::string& what);
    CToken expectKeyword(const char* keyword);
    CToken expect(Tok kind, const char* what);

   private:
    CLexer lexer_;
    std::deque<CToken> ahead_;
};

}  // namespace sim_decl

#endif  // SIM_SIMDECLLEXER_H
