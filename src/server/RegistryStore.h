#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// HKEY_LOCAL_MACHINE as read from a registry export file (.reg): "Windows Registry Editor Version 5.00"
// (UTF-16LE with BOM) or REGEDIT4 (UTF-8, which stands in for the ANSI code page). Standard C++ only, so
// the same file builds for Windows too. Values keep the bytes and type Windows would store: strings as
// UTF-16LE with terminator, REG_DWORD as four little-endian bytes. Names are UTF-8 and compare ignoring
// ASCII letter case. The read calls mirror the Win32 A-functions (RegOpenKeyExA, RegQueryValueExA,
// RegEnumKeyA), including their status codes, so the code above behaves as it would on Windows.
class RegistryStore {
public:
    enum Type : std::uint32_t {
        RegNone = 0,
        RegSz = 1,
        RegExpandSz = 2,
        RegBinary = 3,
        RegDword = 4,
        RegMultiSz = 7,
    };

    // Win32 status codes of the calls below.
    static constexpr long ErrorSuccess = 0;
    static constexpr long ErrorFileNotFound = 2;
    static constexpr long ErrorMoreData = 234;
    static constexpr long ErrorNoMoreItems = 259;

    // Windows refuses deeper keys; the limit also bounds the recursion when the tree is destroyed.
    static constexpr std::size_t MaxKeyDepth = 512;

    struct Value {
        std::uint32_t type = RegNone;
        std::vector<std::uint8_t> data;
    };

    class Key {
    public:
        Key() = default;
        Key(Key&&) = default;
        Key& operator=(Key&&) = default;
        Key(const Key&) = delete;
        Key& operator=(const Key&) = delete;

        // A direct subkey by name, ignoring ASCII case, or nullptr.
        const Key* subkey(std::string_view name) const;
        // A value by name ("" is the default value), ignoring ASCII case, or nullptr.
        const Value* value(std::string_view name) const;
        // Subkeys in the order they first appeared in the file, each with the spelling it had then.
        std::size_t subkeyCount() const { return m_subkeys.size(); }
        const std::string& subkeyName(std::size_t index) const { return m_subkeys.at(index).first; }

        Key& ensureSubkey(std::string_view name);
        void setValue(std::string_view name, Value value);

    private:
        std::vector<std::pair<std::string, std::unique_ptr<Key>>> m_subkeys;
        std::unordered_map<std::string, std::size_t> m_subkeyIndex; // folded name -> position
        std::unordered_map<std::string, Value> m_values;            // folded name -> value
    };

    // Reads a file; a missing or unreadable file gives an empty registry. Problems are reported on
    // `warnings`, one line each, naming the file and line. `problem`, if given, receives why the file
    // cannot serve as a machine's registry at all (missing, a folder, unreadable, empty, not an export
    // file, no HKEY_LOCAL_MACHINE keys), or is cleared.
    static RegistryStore load(const std::string& fileName, std::ostream& warnings,
                              std::string* problem = nullptr);
    // Parses the bytes of an export file; `sourceName` names it in warnings.
    static RegistryStore parse(std::string_view bytes, const std::string& sourceName, std::ostream& warnings,
                               std::string* problem = nullptr);

    const Key& root() const { return m_root; }

    // RegOpenKeyExA below the root: backslash-separated path, trailing backslashes tolerated, "" is the
    // root itself. nullptr when the key does not exist.
    const Key* openKey(std::string_view path) const;

    struct QueryResult {
        long status = ErrorFileNotFound;
        std::uint32_t type = RegNone;
        std::uint32_t size = 0;         // bytes the value needs (also reported with ErrorMoreData)
        std::vector<std::uint8_t> data; // `size` bytes on success
    };
    // RegQueryValueExA: string types (1, 2, 7) come back converted to the narrow form, ending with a zero
    // byte; other types as stored. A value larger than `bufferSize` gives ErrorMoreData.
    static QueryResult queryValueA(const Key& key, std::string_view valueName, std::uint32_t bufferSize);

    // RegEnumKeyA: the name of subkey `index`. ErrorNoMoreItems past the end; ErrorMoreData when the name
    // and its terminator do not fit `bufferSize`.
    static long enumKeyA(const Key& key, std::uint32_t index, std::uint32_t bufferSize, std::string& name);

    // Conversions used by the parser and by the A-calls; exposed for tests.
    static std::vector<std::uint8_t> utf16FromUtf8(std::string_view text);
    static std::string utf8FromUtf16(const std::uint8_t* data, std::size_t size);

private:
    Key m_root;
};
