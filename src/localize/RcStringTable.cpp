#include "localize/RcStringTable.h"

#include "localize/PeStringTable.h"

#include <cctype>
#include <stdexcept>
#include <vector>

namespace RcStringTable {
namespace {

struct SyntaxError : std::runtime_error {
    SyntaxError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message)
    {
    }
};

// Appends the UTF-16 form of a UTF-8 run; malformed sequences are rejected rather than guessed at.
bool appendUtf8(std::u16string& out, std::string_view bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::uint32_t code = 0;
        std::size_t length = 0;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1Fu;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0Fu;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07u;
            length = 4;
        } else {
            return false;
        }
        if (i + length > bytes.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        static constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return true;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

struct Token {
    enum Kind { Number, String, Word, Comma, Open, Close, End } kind = End;
    int line = 0;
    std::uint32_t number = 0;
    std::u16string text;
    std::string word;
};

class Lexer {
public:
    explicit Lexer(std::string_view script) : m_s(script)
    {
        if (m_s.substr(0, 3) == "\xEF\xBB\xBF")
            m_begin = m_pos = 3;
    }

    Token next()
    {
        skipBlanks();
        Token token;
        token.line = m_line;
        if (m_pos >= m_s.size())
            return token;
        const char c = m_s[m_pos];
        if (c == ',') {
            ++m_pos;
            token.kind = Token::Comma;
        } else if (c == '{') {
            ++m_pos;
            token.kind = Token::Open;
        } else if (c == '}') {
            ++m_pos;
            token.kind = Token::Close;
        } else if (c == '"' || ((c == 'L' || c == 'l') && peek(1) == '"')) {
            token.kind = Token::String;
            const bool wide = c != '"';
            m_pos += wide ? 2 : 1;
            token.text = stringBody(wide);
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            token.kind = Token::Number;
            token.number = number();
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            token.kind = Token::Word;
            const std::size_t start = m_pos;
            while (m_pos < m_s.size() &&
                   (std::isalnum(static_cast<unsigned char>(m_s[m_pos])) || m_s[m_pos] == '_'))
                ++m_pos;
            token.word = std::string(m_s.substr(start, m_pos - start));
        } else {
            throw SyntaxError(m_line, std::string("unexpected character '") + c + "'");
        }
        return token;
    }

private:
    char peek(std::size_t ahead) const { return m_pos + ahead < m_s.size() ? m_s[m_pos + ahead] : '\0'; }

    void skipBlanks()
    {
        bool lineStart = m_pos == m_begin || m_s[m_pos - 1] == '\n';
        while (m_pos < m_s.size()) {
            const char c = m_s[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
                lineStart = true;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++m_pos;
            } else if (c == '/' && peek(1) == '/') {
                while (m_pos < m_s.size() && m_s[m_pos] != '\n')
                    ++m_pos;
            } else if (c == '/' && peek(1) == '*') {
                const std::size_t close = m_s.find("*/", m_pos + 2);
                if (close == std::string_view::npos)
                    throw SyntaxError(m_line, "unterminated comment");
                for (std::size_t i = m_pos; i < close; ++i)
                    m_line += m_s[i] == '\n' ? 1 : 0;
                m_pos = close + 2;
            } else if (c == '#' && lineStart) {
                directive();
            } else {
                return;
            }
        }
    }

    // Only the code page pragma is understood; anything else would need a preprocessor.
    void directive()
    {
        const std::size_t end = std::min(m_s.find('\n', m_pos), m_s.size());
        std::string line;
        for (std::size_t i = m_pos; i < end; ++i) {
            if (!std::isspace(static_cast<unsigned char>(m_s[i])))
                line += static_cast<char>(std::tolower(static_cast<unsigned char>(m_s[i])));
        }
        if (line.rfind("#pragmacode_page(", 0) != 0)
            throw SyntaxError(m_line, "preprocessor directives are not supported");
        if (line != "#pragmacode_page(65001)")
            throw SyntaxError(m_line, "only code page 65001 (UTF-8) is supported");
        m_pos = end;
    }

    std::uint32_t number()
    {
        std::uint64_t value = 0;
        int base = 10;
        if (m_s[m_pos] == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
            base = 16;
            m_pos += 2;
        }
        std::size_t digits = 0;
        while (m_pos < m_s.size()) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(m_s[m_pos])));
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            if (digit < 0)
                break;
            value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
            if (value > 0xFFFFFFFFu)
                throw SyntaxError(m_line, "number too large");
            ++digits;
            ++m_pos;
        }
        if (digits == 0)
            throw SyntaxError(m_line, "malformed number");
        if (m_pos < m_s.size() && (m_s[m_pos] == 'L' || m_s[m_pos] == 'l'))
            ++m_pos;
        if (m_pos < m_s.size() && (std::isalnum(static_cast<unsigned char>(m_s[m_pos])) || m_s[m_pos] == '_'))
            throw SyntaxError(m_line, "malformed number");
        return static_cast<std::uint32_t>(value);
    }

    std::u16string stringBody(bool wide)
    {
        std::u16string text;
        std::size_t run = m_pos;
        auto flush = [&] {
            if (!appendUtf8(text, m_s.substr(run, m_pos - run)))
                throw SyntaxError(m_line, "text is not valid UTF-8");
        };
        while (true) {
            if (m_pos >= m_s.size() || m_s[m_pos] == '\n')
                throw SyntaxError(m_line, "unterminated string");
            const char c = m_s[m_pos];
            if (c == '"') {
                flush();
                if (peek(1) == '"') {
                    text.push_back(u'"');
                    m_pos += 2;
                    run = m_pos;
                    continue;
                }
                ++m_pos;
                return text;
            }
            if (c == '\\') {
                flush();
                ++m_pos;
                text.push_back(escape(wide));
                run = m_pos;
                continue;
            }
            ++m_pos;
        }
    }

    char16_t escape(bool wide)
    {
        if (m_pos >= m_s.size() || m_s[m_pos] == '\n')
            throw SyntaxError(m_line, "unterminated string");
        const char c = m_s[m_pos++];
        switch (c) {
        case 'n':
            return u'\n';
        case 'r':
            return u'\r';
        case 't':
            return u'\t';
        case 'a':
            return u'\a';
        case '\\':
            return u'\\';
        case '"':
            return u'"';
        case '\'':
            return u'\'';
        case '?':
            return u'?';
        case 'x':
        case 'X': {
            std::uint32_t value = 0;
            int digits = 0;
            while (digits < (wide ? 4 : 2) && std::isxdigit(static_cast<unsigned char>(peek(0)))) {
                const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(m_s[m_pos++])));
                value = value * 16 + static_cast<std::uint32_t>(h <= '9' ? h - '0' : h - 'a' + 10);
                ++digits;
            }
            if (digits == 0)
                throw SyntaxError(m_line, "malformed \\x escape");
            return static_cast<char16_t>(value);
        }
        default:
            break;
        }
        if (c >= '0' && c <= '7') {
            std::uint32_t value = static_cast<std::uint32_t>(c - '0');
            for (int digits = 1; digits < 3 && peek(0) >= '0' && peek(0) <= '7'; ++digits)
                value = value * 8 + static_cast<std::uint32_t>(m_s[m_pos++] - '0');
            return static_cast<char16_t>(value);
        }
        throw SyntaxError(m_line, std::string("unknown escape \\") + c);
    }

    std::string_view m_s;
    std::size_t m_begin = 0;
    std::size_t m_pos = 0;
    int m_line = 1;
};

class Parser {
public:
    explicit Parser(std::string_view script) : m_lexer(script) { advance(); }

    // The texts of each block of 16 identifiers come from the one language that serves best; identifiers
    // that language lacks are missing, as they are from its compiled block.
    Strings run(std::uint16_t preferredLanguage)
    {
        read();
        Strings strings;
        for (const auto& [block, languages] : m_blocks) {
            const Strings* best = nullptr;
            int bestRank = 0;
            for (const auto& [language, texts] : languages) {
                // Among equal ranks the lowest language identifier (first in the compiled file) wins.
                const int rank = PeStringTable::languageRank(language, preferredLanguage);
                if (!best || rank < bestRank) {
                    best = &texts;
                    bestRank = rank;
                }
            }
            strings.insert(best->begin(), best->end());
        }
        return strings;
    }

private:
    void read()
    {
        while (m_token.kind != Token::End) {
            if (isWord("LANGUAGE")) {
                m_language = language();
            } else if (isWord("STRINGTABLE")) {
                stringTable();
            } else {
                throw SyntaxError(m_token.line, "expected LANGUAGE or STRINGTABLE");
            }
        }
    }

    void advance() { m_token = m_lexer.next(); }
    bool isWord(std::string_view word) const
    {
        return m_token.kind == Token::Word && equalsIgnoringCase(m_token.word, word);
    }

    std::uint32_t expectNumber(const char* what)
    {
        if (m_token.kind != Token::Number)
            throw SyntaxError(m_token.line, std::string("expected ") + what);
        const std::uint32_t value = m_token.number;
        advance();
        return value;
    }

    // LANGUAGE primary, sub: the identifier packed and cut to 16 bits, as the resource compiler does.
    std::uint16_t language()
    {
        advance();
        const std::uint32_t primary = expectNumber("a language number");
        if (m_token.kind != Token::Comma)
            throw SyntaxError(m_token.line, "expected ',' in LANGUAGE");
        advance();
        const std::uint32_t sub = expectNumber("a sublanguage number");
        return static_cast<std::uint16_t>((primary | (sub << 10)) & 0xFFFFu);
    }

    void stringTable()
    {
        advance();
        // A LANGUAGE inside the statement applies to this table only.
        std::uint16_t tableLanguage = m_language;
        static const char* const memoryFlags[] = {"MOVEABLE", "FIXED",      "PURE",        "IMPURE",
                                                  "PRELOAD",  "LOADONCALL", "DISCARDABLE", "NONDISCARDABLE"};
        while (true) {
            bool flag = false;
            for (const char* name : memoryFlags)
                flag = flag || isWord(name);
            if (flag) {
                advance();
            } else if (isWord("LANGUAGE")) {
                tableLanguage = language();
            } else if (isWord("CHARACTERISTICS") || isWord("VERSION")) {
                advance();
                expectNumber("a number");
            } else {
                break;
            }
        }
        if (!(m_token.kind == Token::Open || isWord("BEGIN")))
            throw SyntaxError(m_token.line, "expected BEGIN");
        advance();
        while (!(m_token.kind == Token::Close || isWord("END"))) {
            if (m_token.kind == Token::End)
                throw SyntaxError(m_token.line, "STRINGTABLE without END");
            const int line = m_token.line;
            const std::uint32_t id = expectNumber("a string identifier");
            if (id > 0xFFFF)
                throw SyntaxError(line, "string identifier out of range");
            if (m_token.kind == Token::Comma)
                advance();
            if (m_token.kind != Token::String)
                throw SyntaxError(m_token.line, "expected a quoted text");
            std::u16string text;
            while (m_token.kind == Token::String) {
                text += m_token.text;
                advance();
            }
            // The same identifier in another language is that language's text; twice in one is a mistake.
            Strings& texts = m_blocks[static_cast<std::uint16_t>(id >> 4)][tableLanguage];
            if (!texts.emplace(static_cast<std::uint16_t>(id), std::move(text)).second)
                throw SyntaxError(line, "duplicate string identifier " + std::to_string(id));
        }
        advance();
    }

    Lexer m_lexer;
    Token m_token;
    // Without a LANGUAGE statement the resource compiler takes English (United States).
    std::uint16_t m_language = DefaultLanguage;
    // Block (identifier / 16) -> language -> texts.
    std::map<std::uint16_t, std::map<std::uint16_t, Strings>> m_blocks;
};

} // namespace

std::optional<Strings> parse(std::string_view script, std::string* error)
{
    return parse(script, DefaultLanguage, error);
}

std::optional<Strings> parse(std::string_view script, std::uint16_t preferredLanguage, std::string* error)
{
    try {
        return Parser(script).run(preferredLanguage);
    } catch (const SyntaxError& e) {
        if (error)
            *error = e.what();
    }
    return std::nullopt;
}

} // namespace RcStringTable
