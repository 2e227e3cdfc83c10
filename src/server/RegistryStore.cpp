#include "server/RegistryStore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string fold(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && fold(a) == fold(b);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to 8 hexadecimal digits, nothing else.
std::optional<std::uint32_t> parseHex32(std::string_view digits)
{
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return value;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendUtf16(Bytes& out, char32_t cp)
{
    auto unit = [&out](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (cp >= 0x10000) {
        const std::uint32_t v = static_cast<std::uint32_t>(cp) - 0x10000;
        unit(0xD800 | (v >> 10));
        unit(0xDC00 | (v & 0x3FF));
    } else {
        unit(static_cast<std::uint32_t>(cp));
    }
}

// The next character of UTF-8 text. A byte that does not start a valid sequence stands for itself as a
// Latin-1 character, so text saved in a Western ANSI code page still reads sensibly.
char32_t nextUtf8(std::string_view s, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        cp = b0 & 0x1F;
        minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        cp = b0 & 0x0F;
        minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        cp = b0 & 0x07;
        minimum = 0x10000;
    }
    if (length == 0 || i + length > s.size()) {
        ++i;
        return b0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return b0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return b0;
    }
    i += length;
    return cp;
}

std::string sanitizeUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();)
        appendUtf8(out, nextUtf8(bytes, i));
    return out;
}

// UTF-16 code units to UTF-8; an odd trailing byte is dropped, an unpaired surrogate becomes U+FFFD.
std::string decodeUtf16(const std::uint8_t* data, std::size_t size, bool bigEndian)
{
    std::string out;
    const std::size_t units = size / 2;
    out.reserve(units);
    auto unitAt = [&](std::size_t k) -> char32_t {
        const std::uint8_t lo = data[2 * k + (bigEndian ? 1 : 0)];
        const std::uint8_t hi = data[2 * k + (bigEndian ? 0 : 1)];
        return static_cast<char32_t>(lo | (hi << 8));
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char32_t u = unitAt(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
            const char32_t low = unitAt(k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++k;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? char32_t(0xFFFD) : u);
    }
    return out;
}

// Text decoded from the file, and whether it is in the Unicode (UTF-16) encoding.
std::pair<std::string, bool> decodeFile(std::string_view bytes)
{
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE)
        return {decodeUtf16(data + 2, size - 2, false), true};
    if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF)
        return {decodeUtf16(data + 2, size - 2, true), true};
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return {sanitizeUtf8(bytes.substr(3)), false};
    // UTF-16LE that lost its byte order mark: ASCII text with every second byte zero.
    if (size >= 4 && data[0] != 0 && data[1] == 0 && data[2] != 0 && data[3] == 0)
        return {decodeUtf16(data, size, false), true};
    return {sanitizeUtf8(bytes), false};
}

constexpr std::string_view UnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view AnsiHeader = "REGEDIT4";
constexpr std::size_t MaxWarnings = 100;

bool isStringType(std::uint32_t type)
{
    return type == RegistryStore::RegSz || type == RegistryStore::RegExpandSz ||
           type == RegistryStore::RegMultiSz;
}

class Parser {
public:
    Parser(std::string source, std::ostream& warnings, RegistryStore::Key& root)
        : m_source(std::move(source)), m_warnings(warnings), m_root(root)
    {
    }

    bool blank() const { return m_blank; }
    bool headerFound() const { return m_headerFound; }

    void run(std::string_view bytes)
    {
        const auto [text, utf16] = decodeFile(bytes);
        m_blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        std::string_view rest = text;
        std::size_t number = 0;
        while (!rest.empty() || number == 0) {
            const std::size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            ++number;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (number == 1)
                header(line, utf16);
            else
                handle(line, number);
        }
        if (m_pending && !m_pending->warned)
            warn(m_pending->startLine, "the value continues past the end of the file; value skipped");
        m_pending.reset();
    }

private:
    enum class Section { None, Active, Ignored, Invalid };

    struct PendingValue {
        std::string name;
        std::uint32_t type = RegistryStore::RegBinary;
        Bytes data;
        std::size_t startLine = 0;
        bool keep = true;    // false: parse its continuation lines but store nothing
        bool warned = false; // its first line has been reported already
    };

    void warn(std::size_t line, const std::string& reason)
    {
        ++m_warningCount;
        if (m_warningCount > MaxWarnings) {
            if (m_warningCount == MaxWarnings + 1)
                m_warnings << m_source << ": warning: further problems in this registry file are not shown\n";
            return;
        }
        m_warnings << m_source << ':' << line << ": warning: " << reason << '\n';
    }

    void header(std::string_view line, bool utf16)
    {
        const std::string_view trimmed = trimRight(trimLeft(line));
        if (trimmed == UnicodeHeader) {
            m_unicode = true;
            m_headerFound = true;
            return;
        }
        if (trimmed == AnsiHeader) {
            m_unicode = false;
            m_headerFound = true;
            return;
        }
        m_unicode = utf16;
        warn(1, std::string("not a registry export file header (expected \"") + std::string(UnicodeHeader) +
                    "\" or \"" + std::string(AnsiHeader) + "\"); reading on");
        // Whatever the first line holds is still read, without a second report for it.
        parseLine(line);
        started(1, true);
    }

    void handle(std::string_view line, std::size_t number)
    {
        if (m_pending) {
            bool more = false;
            const std::string reason = parseHexList(trimLeft(line), m_pending->data, more);
            if (reason.empty()) {
                if (!more)
                    commitPending();
                return;
            }
            const bool alreadyWarned = m_pending->warned;
            const std::size_t start = m_pending->startLine;
            m_pending.reset();
            // The line may well be a value or key of its own: it is read as one, one report per line.
            const std::string ownReason = parseLine(line);
            if (!alreadyWarned) {
                warn(number, "bad continuation of the value begun at line " + std::to_string(start) + " (" +
                                 reason + "); value skipped");
            } else if (!ownReason.empty()) {
                warn(number, ownReason + "; line skipped");
            }
            started(number, !ownReason.empty());
            return;
        }
        const std::string reason = parseLine(line);
        if (!reason.empty())
            warn(number, reason + "; line skipped");
        started(number, !reason.empty());
    }

    // Notes where a value that continues on the next lines began.
    void started(std::size_t number, bool reported)
    {
        if (m_pending && m_pending->startLine == 0) {
            m_pending->startLine = number;
            m_pending->warned = reported;
        }
    }

    // Empty when the line is fine, otherwise why it is not.
    std::string parseLine(std::string_view line)
    {
        line = trimLeft(line);
        if (line.empty() || line.front() == ';')
            return {};
        if (line.front() == '[')
            return parseSection(trimRight(line));
        if (line.front() == '"' || line.front() == '@')
            return parseValue(line);
        return "unrecognised line";
    }

    std::string parseSection(std::string_view line)
    {
        m_current = nullptr;
        m_section = Section::Invalid;
        if (line.size() < 2 || line.back() != ']')
            return "key line without a closing ']'";
        std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-') {
            m_section = Section::Ignored; // a deletion: this registry is read-only
            return {};
        }
        const std::size_t slash = inner.find('\\');
        const std::string_view rootName = inner.substr(0, slash);
        std::string_view path =
            slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
        if (!equalsNoCase(rootName, "HKEY_LOCAL_MACHINE") && !equalsNoCase(rootName, "HKLM")) {
            static constexpr std::string_view otherRoots[] = {"HKEY_CLASSES_ROOT",
                                                              "HKEY_CURRENT_USER",
                                                              "HKEY_USERS",
                                                              "HKEY_CURRENT_CONFIG",
                                                              "HKEY_PERFORMANCE_DATA",
                                                              "HKEY_DYN_DATA",
                                                              "HKCR",
                                                              "HKCU",
                                                              "HKU",
                                                              "HKCC"};
            for (std::string_view other : otherRoots) {
                if (equalsNoCase(rootName, other)) {
                    m_section = Section::Ignored;
                    return {};
                }
            }
            return "unknown root key \"" + std::string(rootName) + "\"";
        }
        while (!path.empty() && path.back() == '\\')
            path.remove_suffix(1);
        std::vector<std::string_view> names;
        while (!path.empty()) {
            const std::size_t next = path.find('\\');
            const std::string_view name = path.substr(0, next);
            if (name.empty())
                return "empty key name in the key path";
            names.push_back(name);
            if (names.size() > RegistryStore::MaxKeyDepth)
                return "key path deeper than " + std::to_string(RegistryStore::MaxKeyDepth) + " levels";
            path = next == std::string_view::npos ? std::string_view() : path.substr(next + 1);
        }
        RegistryStore::Key* key = &m_root;
        for (std::string_view name : names)
            key = &key->ensureSubkey(name);
        m_current = key;
        m_section = Section::Active;
        return {};
    }

    // A quoted name or text starting at line[pos] == '"'; `pos` ends after the closing quote.
    static bool parseQuoted(std::string_view line, std::size_t& pos, std::string& out)
    {
        ++pos;
        while (pos < line.size()) {
            const char c = line[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"')) {
                out += line[pos + 1];
                pos += 2;
                continue;
            }
            out += c;
            ++pos;
        }
        return false;
    }

    static bool onlyCommentFollows(std::string_view rest)
    {
        rest = trimLeft(rest);
        return rest.empty() || rest.front() == ';';
    }

    std::string parseValue(std::string_view line)
    {
        std::string name;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!parseQuoted(line, pos, name)) {
            return "value name without a closing quote";
        }
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            return "missing '=' after the value name";
        const std::string_view data = trimLeft(line.substr(pos + 1));

        Value value;
        if (!data.empty() && data.front() == '"') {
            std::string text;
            std::size_t end = 0;
            if (!parseQuoted(data, end, text))
                return "text value without a closing quote";
            if (!onlyCommentFollows(data.substr(end)))
                return "unexpected characters after the text value";
            value.type = RegistryStore::RegSz;
            value.data = RegistryStore::utf16FromUtf8(text);
            value.data.push_back(0);
            value.data.push_back(0);
            return store(name, std::move(value));
        }
        if (!data.empty() && data.front() == '-') {
            if (!onlyCommentFollows(data.substr(1)))
                return "unexpected characters after '-'";
            return {}; // a deletion: this registry is read-only
        }
        if (startsWithNoCase(data, "dword:")) {
            std::string_view digits = data.substr(6);
            const std::size_t comment = digits.find(';');
            digits = trimRight(trimLeft(digits.substr(0, comment)));
            const auto number = parseHex32(digits);
            if (!number)
                return "dword value is not 1 to 8 hexadecimal digits";
            value.type = RegistryStore::RegDword;
            for (int shift = 0; shift < 32; shift += 8)
                value.data.push_back(static_cast<std::uint8_t>((*number >> shift) & 0xFF));
            return store(name, std::move(value));
        }
        if (startsWithNoCase(data, "hex")) {
            std::string_view rest = data.substr(3);
            std::uint32_t type = RegistryStore::RegBinary;
            if (!rest.empty() && rest.front() == '(') {
                const std::size_t close = rest.find(')');
                const auto number =
                    close == std::string_view::npos ? std::nullopt : parseHex32(rest.substr(1, close - 1));
                if (!number)
                    return "hex value type is not 1 to 8 hexadecimal digits in parentheses";
                type = *number;
                rest = rest.substr(close + 1);
            }
            if (rest.empty() || rest.front() != ':')
                return "missing ':' after hex";
            PendingValue pending;
            pending.name = name;
            pending.type = type;
            bool more = false;
            std::string reason = parseHexList(rest.substr(1), pending.data, more);
            if (reason.empty() && m_section == Section::None)
                reason = "value outside a key section";
            pending.keep = reason.empty() && m_section == Section::Active;
            if (more || (!reason.empty() && endsWithContinuation(rest))) {
                // Its continuation lines still belong to it, whether it is kept or not.
                m_pending = std::move(pending);
                return reason;
            }
            if (!reason.empty())
                return reason;
            m_pending = std::move(pending);
            commitPending();
            return {};
        }
        return "unknown kind of value data";
    }

    static bool endsWithContinuation(std::string_view s)
    {
        s = trimRight(s);
        return !s.empty() && s.back() == '\\';
    }

    using Value = RegistryStore::Value;

    std::string store(const std::string& name, Value value)
    {
        switch (m_section) {
        case Section::None:
            return "value outside a key section";
        case Section::Active:
            m_current->setValue(name, std::move(value));
            break;
        case Section::Ignored:
        case Section::Invalid:
            break;
        }
        return {};
    }

    // Comma-separated bytes of one line of hex data; `more` tells that a backslash continues it.
    static std::string parseHexList(std::string_view s, Bytes& out, bool& more)
    {
        more = false;
        std::size_t i = 0;
        auto skipBlanks = [&] {
            while (i < s.size() && (isBlank(s[i]) || s[i] == '\r'))
                ++i;
        };
        auto continuation = [&]() -> std::string {
            ++i;
            skipBlanks();
            if (i != s.size())
                return "characters after the continuation backslash";
            more = true;
            return {};
        };
        skipBlanks();
        if (i == s.size())
            return {};
        for (;;) {
            if (s[i] == '\\')
                return continuation();
            const int high = hexDigit(s[i]);
            if (high < 0)
                return "bad hex digit";
            ++i;
            int byte = high;
            if (i < s.size() && hexDigit(s[i]) >= 0) {
                byte = high * 16 + hexDigit(s[i]);
                ++i;
                if (i < s.size() && hexDigit(s[i]) >= 0)
                    return "hex byte with more than two digits";
            }
            out.push_back(static_cast<std::uint8_t>(byte));
            skipBlanks();
            if (i == s.size())
                return {};
            if (s[i] == '\\')
                return continuation();
            if (s[i] != ',')
                return "unexpected character in hex data";
            ++i;
            skipBlanks();
            if (i == s.size())
                return {};
        }
    }

    void commitPending()
    {
        PendingValue pending = std::move(*m_pending);
        m_pending.reset();
        if (!pending.keep)
            return;
        Value value;
        value.type = pending.type;
        value.data = std::move(pending.data);
        if (isStringType(value.type) && !value.data.empty()) {
            if (!m_unicode) {
                // REGEDIT4 writes strings in the narrow form; Windows stores them as UTF-16.
                const std::string narrow(value.data.begin(), value.data.end());
                value.data = RegistryStore::utf16FromUtf8(narrow);
            }
            const std::size_t n = value.data.size();
            if (n % 2 == 0 && (value.data[n - 2] != 0 || value.data[n - 1] != 0)) {
                value.data.push_back(0);
                value.data.push_back(0);
            }
        }
        store(pending.name, std::move(value));
    }

    std::string m_source;
    std::ostream& m_warnings;
    RegistryStore::Key& m_root;
    RegistryStore::Key* m_current = nullptr;
    Section m_section = Section::None;
    bool m_unicode = true;
    std::optional<PendingValue> m_pending;
    std::size_t m_warningCount = 0;
    bool m_blank = true;
    bool m_headerFound = false;
};

} // namespace

const RegistryStore::Key* RegistryStore::Key::subkey(std::string_view name) const
{
    const auto found = m_subkeyIndex.find(fold(name));
    return found == m_subkeyIndex.end() ? nullptr : m_subkeys[found->second].second.get();
}

const RegistryStore::Value* RegistryStore::Key::value(std::string_view name) const
{
    const auto found = m_values.find(fold(name));
    return found == m_values.end() ? nullptr : &found->second;
}

RegistryStore::Key& RegistryStore::Key::ensureSubkey(std::string_view name)
{
    std::string folded = fold(name);
    const auto found = m_subkeyIndex.find(folded);
    if (found != m_subkeyIndex.end())
        return *m_subkeys[found->second].second;
    m_subkeys.emplace_back(std::string(name), std::make_unique<Key>());
    m_subkeyIndex.emplace(std::move(folded), m_subkeys.size() - 1);
    return *m_subkeys.back().second;
}

void RegistryStore::Key::setValue(std::string_view name, Value value)
{
    m_values[fold(name)] = std::move(value);
}

RegistryStore RegistryStore::load(const std::string& fileName, std::ostream& warnings, std::string* problem)
{
    namespace fs = std::filesystem;
    auto refuse = [&](const std::string& reason) {
        if (problem)
            *problem = reason;
        warnings << fileName << ": warning: " << reason << "; the registry is empty\n";
        return RegistryStore();
    };
    std::error_code error;
    const fs::file_status status = fs::status(fileName, error);
    if (!fs::exists(status)) {
        if (problem)
            *problem = "the file does not exist";
        return RegistryStore();
    }
    if (fs::is_directory(status))
        return refuse("it is a folder, not a file");
    if (!fs::is_regular_file(status))
        return refuse("it is not a regular file");
    // Standard C streams tell a read error from the end of the file; the reason is the system's own.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(fileName.c_str(), "rb"), &std::fclose);
    if (!in)
        return refuse(std::string("the file cannot be read (") + std::strerror(errno) + ")");
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, in.get());
        bytes.append(buffer, got);
        if (got < sizeof buffer)
            break;
    }
    if (std::ferror(in.get()))
        return refuse(std::string("the file cannot be read (") + std::strerror(errno) + ")");
    return parse(bytes, fileName, warnings, problem);
}

RegistryStore RegistryStore::parse(std::string_view bytes, const std::string& sourceName,
                                   std::ostream& warnings, std::string* problem)
{
    RegistryStore store;
    Parser parser(sourceName, warnings, store.m_root);
    parser.run(bytes);
    if (problem) {
        if (parser.blank())
            *problem = "the file is empty";
        else if (!parser.headerFound())
            *problem = std::string("it is not a registry export file (its first line is neither \"") +
                       std::string(UnicodeHeader) + "\" nor \"" + std::string(AnsiHeader) + "\")";
        else if (store.m_root.subkeyCount() == 0)
            *problem = "it holds no keys of HKEY_LOCAL_MACHINE";
        else
            problem->clear();
    }
    return store;
}

const RegistryStore::Key* RegistryStore::openKey(std::string_view path) const
{
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    const Key* key = &m_root;
    while (!path.empty()) {
        const std::size_t next = path.find('\\');
        const std::string_view name = path.substr(0, next);
        if (name.empty())
            return nullptr;
        key = key->subkey(name);
        if (!key)
            return nullptr;
        path = next == std::string_view::npos ? std::string_view() : path.substr(next + 1);
    }
    return key;
}

RegistryStore::QueryResult RegistryStore::queryValueA(const Key& key, std::string_view valueName,
                                                      std::uint32_t bufferSize)
{
    QueryResult result;
    const Value* value = key.value(valueName);
    if (!value)
        return result;
    result.type = value->type;
    if (isStringType(value->type)) {
        const std::string narrow = utf8FromUtf16(value->data.data(), value->data.size());
        result.data.assign(narrow.begin(), narrow.end());
        if (result.data.empty() || result.data.back() != 0)
            result.data.push_back(0);
    } else {
        result.data = value->data;
    }
    if (result.data.size() > bufferSize) {
        result.status = ErrorMoreData;
        result.size =
            result.data.size() > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(result.data.size());
        result.data.clear();
        return result;
    }
    result.status = ErrorSuccess;
    result.size = static_cast<std::uint32_t>(result.data.size());
    return result;
}

long RegistryStore::enumKeyA(const Key& key, std::uint32_t index, std::uint32_t bufferSize, std::string& name)
{
    name.clear();
    if (index >= key.subkeyCount())
        return ErrorNoMoreItems;
    const std::string& found = key.subkeyName(index);
    if (found.size() + 1 > bufferSize)
        return ErrorMoreData;
    name = found;
    return ErrorSuccess;
}

std::vector<std::uint8_t> RegistryStore::utf16FromUtf8(std::string_view text)
{
    Bytes out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();)
        appendUtf16(out, nextUtf8(text, i));
    return out;
}

std::string RegistryStore::utf8FromUtf16(const std::uint8_t* data, std::size_t size)
{
    return data ? decodeUtf16(data, size, false) : std::string();
}
