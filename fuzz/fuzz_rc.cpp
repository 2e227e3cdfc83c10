// The resource script reader: any text either parses or is refused with a reason, never a fault.
#include "localize/RcStringTable.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto english = RcStringTable::parse(script, &error);
    if (!english && error.empty())
        __builtin_trap();
    // The choice of language changes which texts win, never whether the script parses.
    const auto german = RcStringTable::parse(script, 1031, nullptr);
    if (english.has_value() != german.has_value())
        __builtin_trap();
    return 0;
}
