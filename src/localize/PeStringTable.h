#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The string table (RT_STRING resources) of a resource-only Windows library (PE32 or PE32+), read as data:
// nothing in the file is run. The whole file is checked when it is loaded; a file with any offset or length
// that does not fit, or a resource tree that is not a proper tree, counts as not loadable; so does one whose
// data entries are shared or whose string text outgrows the file, which would make a small file cost
// gigabytes of memory. Plain C++ so that it builds on Windows too, beside a back end over LoadLibraryExW /
// LoadStringW.
class PeStringTable {
public:
    // Files above this size are not language libraries.
    static constexpr std::uintmax_t MaxFileSize = 64u * 1024u * 1024u;

    // A block of strings may exist in several languages. The block in preferredLanguage wins, then one of
    // the same primary language, then the neutral language (0), then the first in the file's order
    // (ascending language identifiers).
    static std::optional<PeStringTable> load(const std::filesystem::path& file,
                                             std::uint16_t preferredLanguage, std::string* error = nullptr);
    static std::optional<PeStringTable> parse(const std::uint8_t* data, std::size_t size,
                                              std::uint16_t preferredLanguage, std::string* error = nullptr);

    // As LoadStringW: copies at most bufferSize - 1 characters and a terminating zero and answers how many
    // characters were copied; 0 when the string is missing or empty.
    std::size_t loadString(std::uint32_t id, char16_t* buffer, std::size_t bufferSize) const;

    // The whole text, or nothing when no block holds the identifier (an empty text is held as empty).
    std::optional<std::u16string> text(std::uint32_t id) const;

    // Every non-empty string (tests, diagnostics).
    std::map<std::uint16_t, std::u16string> strings() const;

    // How well a block's language serves the preferred one, as the resource loader ranks them: lower is
    // better (the language itself, then its primary language, then the neutral language, then any other).
    static int languageRank(std::uint16_t language, std::uint16_t preferred);

private:
    std::map<std::uint16_t, std::u16string> m_strings;
};
