#include "localize/PeStringTable.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <set>
#include <stdexcept>
#include <system_error>

namespace {

struct NotLoadable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr std::uint32_t RtString = 6;
constexpr std::uint32_t HighBit = 0x80000000u;

// Every read goes through here; offsets are 64-bit so that offset + length cannot wrap.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    void require(std::uint64_t offset, std::uint64_t length, const char* what) const
    {
        if (offset > m_size || length > m_size - offset)
            throw NotLoadable(what);
    }
    std::uint16_t u16(std::uint64_t offset, const char* what) const
    {
        require(offset, 2, what);
        return static_cast<std::uint16_t>(m_data[offset] | (m_data[offset + 1] << 8));
    }
    std::uint32_t u32(std::uint64_t offset, const char* what) const
    {
        require(offset, 4, what);
        return static_cast<std::uint32_t>(m_data[offset]) |
               (static_cast<std::uint32_t>(m_data[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(m_data[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(m_data[offset + 3]) << 24);
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawPointer = 0;
};

using Block = std::array<std::u16string, 16>;

struct BlockCandidate {
    std::uint16_t language = 0;
    int rank = 0;
    Block strings;
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size, std::uint16_t preferredLanguage)
        : m_bytes(data, size), m_fileSize(size), m_preferred(preferredLanguage)
    {
    }

    std::map<std::uint16_t, BlockCandidate> read()
    {
        std::uint32_t resourceRva = 0;
        std::uint32_t resourceSize = 0;
        headers(resourceRva, resourceSize);
        if (resourceRva == 0 && resourceSize == 0)
            return {}; // a library without resources: every lookup misses
        if (resourceRva == 0 || resourceSize < 16)
            throw NotLoadable("malformed resource data directory entry");
        m_resourceBase =
            fileOffset(resourceRva, resourceSize, "resource directory outside the file's sections");
        m_resourceSize = resourceSize;
        directory(0, 0, Context{});
        return std::move(m_blocks);
    }

private:
    void headers(std::uint32_t& resourceRva, std::uint32_t& resourceSize)
    {
        if (m_bytes.u16(0, "file too short for a DOS header") != 0x5A4D)
            throw NotLoadable("no DOS header");
        m_bytes.require(0, 64, "file too short for a DOS header");
        const std::uint64_t pe = m_bytes.u32(0x3C, "file too short for a DOS header");
        if (m_bytes.u32(pe, "PE header beyond the end of the file") != 0x00004550)
            throw NotLoadable("no PE signature");
        const std::uint64_t coff = pe + 4;
        m_bytes.require(coff, 20, "truncated COFF header");
        const std::uint16_t sectionCount = m_bytes.u16(coff + 2, "truncated COFF header");
        const std::uint16_t optionalSize = m_bytes.u16(coff + 16, "truncated COFF header");

        const std::uint64_t optional = coff + 20;
        m_bytes.require(optional, optionalSize, "truncated optional header");
        if (optionalSize < 2)
            throw NotLoadable("missing optional header");
        std::uint64_t countAt = 0;
        std::uint64_t directoriesAt = 0;
        switch (m_bytes.u16(optional, "truncated optional header")) {
        case 0x10B: // PE32
            countAt = 92;
            directoriesAt = 96;
            break;
        case 0x20B: // PE32+
            countAt = 108;
            directoriesAt = 112;
            break;
        default:
            throw NotLoadable("unknown optional header kind");
        }
        if (optionalSize < directoriesAt)
            throw NotLoadable("truncated optional header");
        const std::uint64_t directoryCount = m_bytes.u32(optional + countAt, "truncated optional header");
        if (directoryCount > (optionalSize - directoriesAt) / 8)
            throw NotLoadable("data directories beyond the optional header");
        if (directoryCount > 2) {
            resourceRva = m_bytes.u32(optional + directoriesAt + 16, "truncated optional header");
            resourceSize = m_bytes.u32(optional + directoriesAt + 20, "truncated optional header");
        }

        const std::uint64_t table = optional + optionalSize;
        m_bytes.require(table, std::uint64_t{sectionCount} * 40, "truncated section table");
        for (std::uint64_t i = 0; i < sectionCount; ++i) {
            const std::uint64_t at = table + i * 40;
            Section s;
            s.virtualSize = m_bytes.u32(at + 8, "truncated section table");
            s.virtualAddress = m_bytes.u32(at + 12, "truncated section table");
            s.rawSize = m_bytes.u32(at + 16, "truncated section table");
            s.rawPointer = m_bytes.u32(at + 20, "truncated section table");
            if (s.rawSize > 0)
                m_bytes.require(s.rawPointer, s.rawSize, "section data beyond the end of the file");
            m_sections.push_back(s);
        }
    }

    // Where length bytes at a relative virtual address lie in the file. They must lie in one section and
    // be backed by its raw data.
    std::uint64_t fileOffset(std::uint32_t rva, std::uint32_t length, const char* what) const
    {
        for (const Section& s : m_sections) {
            const std::uint64_t mapped = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
            const std::uint64_t extent = std::max<std::uint64_t>(mapped, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= extent)
                continue;
            const std::uint64_t inside = rva - s.virtualAddress;
            const std::uint64_t backed = std::min<std::uint64_t>(mapped, s.rawSize);
            if (inside + length > backed)
                throw NotLoadable(what);
            return s.rawPointer + inside;
        }
        throw NotLoadable(what);
    }

    // Offsets inside the resource directory are relative to its start and must stay inside it.
    std::uint64_t resourceOffset(std::uint64_t offset, std::uint64_t length, const char* what) const
    {
        if (offset > m_resourceSize || length > m_resourceSize - offset)
            throw NotLoadable(what);
        return m_resourceBase + offset;
    }

    struct Context {
        bool stringType = false;
        bool stringBlock = false;
        std::uint16_t blockId = 0;
    };

    // The tree has three levels: type, name, language. Each directory may be reached once only, which
    // rules out loops and shared subtrees.
    void directory(std::uint32_t offset, int level, Context context)
    {
        if (!m_visited.insert(offset).second)
            throw NotLoadable("resource directory loops or is shared");
        const std::uint64_t at = resourceOffset(offset, 16, "resource directory outside its section");
        const std::uint32_t named = m_bytes.u16(at + 12, "truncated resource directory");
        const std::uint32_t ids = m_bytes.u16(at + 14, "truncated resource directory");
        resourceOffset(std::uint64_t{offset} + 16, (std::uint64_t{named} + ids) * 8,
                       "resource directory entries outside their section");

        for (std::uint32_t i = 0; i < named + ids; ++i) {
            const std::uint64_t entry = at + 16 + std::uint64_t{i} * 8;
            const std::uint32_t name = m_bytes.u32(entry, "truncated resource entry");
            const std::uint32_t value = m_bytes.u32(entry + 4, "truncated resource entry");
            const bool isNamed = (name & HighBit) != 0;
            if (isNamed != (i < named))
                throw NotLoadable("resource entries out of order");
            if (isNamed) {
                const std::uint64_t nameAt = name & ~HighBit;
                const std::uint16_t length =
                    m_bytes.u16(resourceOffset(nameAt, 2, "resource name outside its section"),
                                "truncated resource name");
                resourceOffset(nameAt + 2, std::uint64_t{length} * 2, "resource name outside its section");
            } else if (name > 0xFFFF) {
                throw NotLoadable("resource identifier out of range");
            }
            const bool isDirectory = (value & HighBit) != 0;
            const std::uint32_t child = value & ~HighBit;
            if (level == 2) {
                if (isDirectory)
                    throw NotLoadable("resource tree too deep");
                leaf(child, context, isNamed ? std::uint16_t{0} : static_cast<std::uint16_t>(name));
                continue;
            }
            if (!isDirectory)
                throw NotLoadable("resource tree too shallow");
            Context inner = context;
            if (level == 0) {
                inner.stringType = !isNamed && name == RtString;
            } else {
                // Block n holds the strings (n - 1) * 16 to (n - 1) * 16 + 15; other numbers are unreachable.
                inner.stringBlock = context.stringType && !isNamed && name >= 1 && name <= 4096;
                inner.blockId = static_cast<std::uint16_t>(name);
            }
            directory(child, level + 1, inner);
        }
    }

    void leaf(std::uint32_t offset, const Context& context, std::uint16_t language)
    {
        // One block shared by many language entries would be copied once per entry: a small file could
        // ask for gigabytes. The linker never shares a data entry.
        if (!m_dataEntries.insert(offset).second)
            throw NotLoadable("resource data entry reached more than once");
        const std::uint64_t at = resourceOffset(offset, 16, "resource data entry outside its section");
        const std::uint32_t rva = m_bytes.u32(at, "truncated resource data entry");
        const std::uint32_t size = m_bytes.u32(at + 4, "truncated resource data entry");
        const std::uint64_t data = fileOffset(rva, size, "resource data outside the file's sections");
        if (!context.stringBlock)
            return;
        // Every block is checked, but only the best so far is kept.
        // Among equal ranks the first in the file's order wins.
        BlockCandidate candidate{language, PeStringTable::languageRank(language, m_preferred),
                                 block(data, size)};
        const auto [it, inserted] = m_blocks.try_emplace(context.blockId);
        if (inserted || candidate.rank < it->second.rank)
            it->second = std::move(candidate);
    }

    Block block(std::uint64_t data, std::uint32_t size)
    {
        Block strings;
        std::uint64_t position = 0;
        for (std::u16string& text : strings) {
            if (position + 2 > size)
                throw NotLoadable("truncated string block");
            const std::uint16_t length = m_bytes.u16(data + position, "truncated string block");
            position += 2;
            if (position + std::uint64_t{length} * 2 > size)
                throw NotLoadable("string longer than its block");
            // Blocks that do not overlap hold no more text, counted as stored, than the file has bytes.
            m_stringBytes += 2 + std::uint64_t{length} * 2;
            if (m_stringBytes > m_fileSize)
                throw NotLoadable("more string text than the file holds");
            text.resize(length);
            for (std::uint16_t k = 0; k < length; ++k)
                text[k] =
                    static_cast<char16_t>(m_bytes.u16(data + position + 2u * k, "truncated string block"));
            position += std::uint64_t{length} * 2;
        }
        return strings;
    }

    Bytes m_bytes;
    std::vector<Section> m_sections;
    std::uint64_t m_resourceBase = 0;
    std::uint64_t m_resourceSize = 0;
    std::uint64_t m_fileSize;
    std::uint16_t m_preferred;
    std::set<std::uint32_t> m_visited;
    std::set<std::uint32_t> m_dataEntries;
    std::uint64_t m_stringBytes = 0;
    std::map<std::uint16_t, BlockCandidate> m_blocks;
};

} // namespace

std::optional<PeStringTable> PeStringTable::load(const std::filesystem::path& file,
                                                 std::uint16_t preferredLanguage, std::string* error)
{
    auto fail = [&](const std::string& reason) -> std::optional<PeStringTable> {
        if (error)
            *error = reason;
        return std::nullopt;
    };
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return fail("not a file");
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec)
        return fail("cannot read the file");
    if (size > MaxFileSize)
        return fail("file too large for a language library");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream in(file, std::ios::binary);
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return fail("cannot read the file");
    return parse(bytes.data(), bytes.size(), preferredLanguage, error);
}

std::optional<PeStringTable> PeStringTable::parse(const std::uint8_t* data, std::size_t size,
                                                  std::uint16_t preferredLanguage, std::string* error)
{
    try {
        PeStringTable table;
        for (const auto& [blockId, chosen] : Reader(data, size, preferredLanguage).read()) {
            const Block& strings = chosen.strings;
            for (std::size_t i = 0; i < strings.size(); ++i)
                table.m_strings[static_cast<std::uint16_t>((blockId - 1u) * 16u + i)] = strings[i];
        }
        return table;
    } catch (const NotLoadable& e) {
        if (error)
            *error = e.what();
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "out of memory";
    }
    return std::nullopt;
}

std::size_t PeStringTable::loadString(std::uint32_t id, char16_t* buffer, std::size_t bufferSize) const
{
    if (buffer == nullptr || bufferSize == 0)
        return 0;
    buffer[0] = u'\0';
    if (id > 0xFFFF)
        return 0;
    const auto it = m_strings.find(static_cast<std::uint16_t>(id));
    if (it == m_strings.end())
        return 0;
    const std::size_t count = std::min(it->second.size(), bufferSize - 1);
    std::copy_n(it->second.begin(), count, buffer);
    buffer[count] = u'\0';
    return count;
}

int PeStringTable::languageRank(std::uint16_t language, std::uint16_t preferred)
{
    constexpr std::uint16_t PrimaryLanguageMask = 0x03FF;
    if (language == preferred)
        return 0;
    if ((language & PrimaryLanguageMask) == (preferred & PrimaryLanguageMask))
        return 1;
    return language == 0 ? 2 : 3;
}

std::optional<std::u16string> PeStringTable::text(std::uint32_t id) const
{
    if (id > 0xFFFF)
        return std::nullopt;
    const auto it = m_strings.find(static_cast<std::uint16_t>(id));
    if (it == m_strings.end())
        return std::nullopt;
    return it->second;
}

std::map<std::uint16_t, std::u16string> PeStringTable::strings() const
{
    std::map<std::uint16_t, std::u16string> result;
    for (const auto& [id, text] : m_strings) {
        if (!text.empty())
            result.emplace(id, text);
    }
    return result;
}
