#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// Reads the STRINGTABLE statements of a resource script (.rc), the form in which the built-in texts are
// kept. The script must need no preprocessing: besides `#pragma code_page(65001)` (the script is read as
// UTF-8) it may hold comments, LANGUAGE statements and STRINGTABLE blocks with `id, "text"` entries, where
// a doubled quote stands for one quote and the usual backslash escapes apply. Plain C++ on purpose: the
// same reader serves a native Windows build.
namespace RcStringTable {

using Strings = std::map<std::uint16_t, std::u16string>;

// The language of a table without a LANGUAGE statement, and the built-in table's: English (United States).
constexpr std::uint16_t DefaultLanguage = 1033;

// The texts by identifier, or nothing with the reason (and line) in *error when the script is malformed.
// The same identifier may stand in several languages; as LoadStringW does, the choice is made per block of
// 16 identifiers: the block in preferredLanguage, then one of the same primary language, then the neutral
// language (0), then the lowest language identifier.
std::optional<Strings> parse(std::string_view script, std::uint16_t preferredLanguage,
                             std::string* error = nullptr);
// The texts for DefaultLanguage.
std::optional<Strings> parse(std::string_view script, std::string* error = nullptr);

} // namespace RcStringTable
