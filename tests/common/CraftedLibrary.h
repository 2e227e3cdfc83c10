#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// A resource-only PE32+ library made byte for byte, for damage no linker would produce: one string block
// (identifiers 0 to 15, `text` as identifier 0) listed under `languages` language entries 1, 2, 3, ...
class CraftedLibrary {
public:
    enum class Sharing {
        None,       // each language entry has its own data entry and its own copy of the block
        DataEntry,  // every language entry points at one data entry
        BlockBytes, // each language entry has its own data entry, all pointing at one block
    };

    static QByteArray build(const QString& text, int languages, Sharing sharing);
};
