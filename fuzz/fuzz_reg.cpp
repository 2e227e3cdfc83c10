// The registry export reader: any bytes parse without a fault, and every key found answers the read calls.
#include "server/RegistryStore.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace {

// Opens each key by its path, enumerates its subkeys and reads a few values the program asks for.
void walk(const RegistryStore& store, const RegistryStore::Key& key, const std::string& path,
          std::size_t depth)
{
    if (store.openKey(path) != &key)
        __builtin_trap();
    for (const char* name : {"", "MajorVersion", "Version Number", "IDCProgID", "DisplayName"}) {
        for (std::uint32_t size : {0u, 4u, 1024u, 4096u})
            RegistryStore::queryValueA(key, name, size);
    }
    std::string name;
    for (std::uint32_t index = 0;
         RegistryStore::enumKeyA(key, index, 260, name) != RegistryStore::ErrorNoMoreItems; ++index) {
        const RegistryStore::Key* child = key.subkey(key.subkeyName(index));
        if (!child)
            __builtin_trap();
        if (depth < 64)
            walk(store, *child, path.empty() ? key.subkeyName(index) : path + '\\' + key.subkeyName(index),
                 depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::ostream nowhere(nullptr);
    std::string problem;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const RegistryStore store = RegistryStore::parse(bytes, "fuzz.reg", nowhere, &problem);
    walk(store, store.root(), std::string(), 0);
    RegistryStore::utf8FromUtf16(data, size);
    RegistryStore::utf16FromUtf8(bytes);
    return 0;
}
