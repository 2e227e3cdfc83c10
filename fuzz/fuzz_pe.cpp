// The language library reader: any bytes either load or are refused, never a fault, and what loads reads
// back through LoadStringW's contract.
#include "localize/PeStringTable.h"

#include <array>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (const std::uint16_t language : {std::uint16_t{1031}, std::uint16_t{0}}) {
        const auto table = PeStringTable::parse(data, size, language);
        if (!table)
            continue;
        std::array<char16_t, 8> small{};
        for (const auto& [id, text] : table->strings()) {
            const std::size_t length = table->loadString(id, small.data(), small.size());
            if (length == 0 || length >= small.size() || small[length] != u'\0' || text.empty())
                __builtin_trap();
        }
    }
    return 0;
}
