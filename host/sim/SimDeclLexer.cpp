// The lexer of the declaration language: identifiers, typed literals, numbers in any
// base, string literals with their escapes, punctuation and comments.
#include "SimDeclLexer.h"

#include <algorithm>
#include <set>

#include "SimNames.h"

namespace sim_decl {

namespace {

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const std::set<std::string> s_durationPrefixes = {"T", "TIME", "LT", "LTIME"};
const std::set<std::string> s_datePrefixes = {"D",  "DATE",  "DT",  "DATE_AND_TIME",  "TOD",  "TIME_OF_DAY",
                                              "LD", "LDATE", "LDT", "LDATE_AND_TIME", "LTOD", "LTIME_OF_DAY"};

}  // namespace

CToken CLexer::next() {
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

void CLexer::advance() {
    if (text_[at_] == '\n') {
        ++line_;
        column_ = 1;
    } else {
        ++column_;
    }
    ++at_;
}

void CLexer::skipSpaceAndComments() {
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

void CLexer::lexIdent(CToken& token) {
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
        if (!date && peekc() == '-') advance();  // a negative duration: T#-5s
        for (char b = peekc(); IsIdentChar(b) || b == '.' || (date && (b == ':' || b == '-')); b = peekc()) {
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

std::string CLexer::digits(int base, SPos start) {
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

bool CLexer::Accumulate(const std::string& ds, int base, uint64_t& value) {
    value = 0;
    for (char c : ds) {
        uint64_t d = static_cast<uint64_t>(HexValue(c));
        if (value > (UINT64_MAX - d) / static_cast<uint64_t>(base)) return false;
        value = value * static_cast<uint64_t>(base) + d;
    }
    return true;
}

void CLexer::lexNumber(CToken& token) {
    SPos start = here();
    std::string ds = digits(10, start);
    if (peekc() == '#') {
        uint64_t base = 0;
        if (!Accumulate(ds, 10, base) || (base != 2 && base != 8 && base != 16)) {
            Fail(start, "number base must be 2, 8 or 16");
        }
        advance();
        std::string bd = digits(static_cast<int>(base), here());
        if (!Accumulate(bd, static_cast<int>(base), token.value)) Fail(start, "integer literal too large");
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

void CLexer::AppendUtf16(std::u16string& out, uint32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

uint32_t CLexer::utf8CodePoint() {
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

void CLexer::lexString(CToken& token, bool wide) {
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

void CLexer::lexPunct(CToken& token) {
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
        case '*':
            token.kind = Tok::Star;
            break;
        case '/':
            token.kind = Tok::Slash;
            break;
        case '=':
            token.kind = d == '>' ? Tok::Arrow : Tok::Eq;
            length = d == '>' ? 2 : 1;
            break;
        case '<':
            token.kind = d == '>' ? Tok::Ne : d == '=' ? Tok::Le : Tok::Lt;
            length = d == '>' || d == '=' ? 2 : 1;
            break;
        case '>':
            token.kind = d == '=' ? Tok::Ge : Tok::Gt;
            length = d == '=' ? 2 : 1;
            break;
        case '^':
            token.kind = Tok::Caret;
            break;
        case '&':
            token.kind = Tok::Ampersand;
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

const CToken& CTokenStream::peek(size_t k) {
    while (ahead_.size() <= k) ahead_.push_back(lexer_.next());
    return ahead_[k];
}

CToken CTokenStream::take() {
    peek();
    CToken t = std::move(ahead_.front());
    ahead_.pop_front();
    return t;
}

bool CTokenStream::atKeyword(const char* keyword, size_t k) {
    const CToken& t = peek(k);
    return t.kind == Tok::Ident && t.prefix.empty() && ToUpper(t.text) == keyword;
}

void CTokenStream::failExpected(const std::string& what) {
    const CToken& t = peek();
    Fail(t.pos, "expected " + what + ", found " + t.spelled);
}

CToken CTokenStream::expectKeyword(const char* keyword) {
    if (!atKeyword(keyword)) failExpected(keyword);
    return take();
}

CToken CTokenStream::expect(Tok kind, const char* what) {
    if (peek().kind != kind) failExpected(what);
    return take();
}

}  // namespace sim_decl
