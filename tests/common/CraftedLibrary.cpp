#include "common/CraftedLibrary.h"

#include <QtEndian>

namespace {

void put16(QByteArray& b, qsizetype at, quint16 value)
{
    qToLittleEndian(value, b.data() + at);
}
void put32(QByteArray& b, qsizetype at, quint32 value)
{
    qToLittleEndian(value, b.data() + at);
}

constexpr qsizetype PeAt = 0x40;
constexpr qsizetype OptionalSize = 240; // PE32+ with 16 data directories
constexpr qsizetype SectionTableAt = PeAt + 4 + 20 + OptionalSize;
constexpr qsizetype SectionAt = 0x200;
constexpr quint32 SectionRva = 0x1000;
constexpr quint32 Directory = 0x80000000u;

} // namespace

QByteArray CraftedLibrary::build(const QString& text, int languages, Sharing sharing)
{
    // The block: string 0 holds the text, strings 1 to 15 are empty.
    QByteArray block(2 + text.size() * 2 + 15 * 2, '\0');
    put16(block, 0, static_cast<quint16>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i)
        put16(block, 2 + i * 2, text.at(i).unicode());

    // Resource directory: type 6 -> block 1 -> the language entries -> data entries -> blocks.
    const qsizetype typeLevel = 0;
    const qsizetype nameLevel = 16 + 8;
    const qsizetype languageLevel = nameLevel + 16 + 8;
    const qsizetype dataEntries = languageLevel + 16 + qsizetype{languages} * 8;
    const int entryCount = sharing == Sharing::DataEntry ? 1 : languages;
    const qsizetype blocks = dataEntries + qsizetype{entryCount} * 16;
    const int blockCount = sharing == Sharing::None ? languages : 1;
    QByteArray rsrc(blocks + block.size() * blockCount, '\0');

    put16(rsrc, typeLevel + 14, 1);
    put32(rsrc, typeLevel + 16, 6);
    put32(rsrc, typeLevel + 20, Directory | static_cast<quint32>(nameLevel));
    put16(rsrc, nameLevel + 14, 1);
    put32(rsrc, nameLevel + 16, 1);
    put32(rsrc, nameLevel + 20, Directory | static_cast<quint32>(languageLevel));
    put16(rsrc, languageLevel + 14, static_cast<quint16>(languages));
    for (int i = 0; i < languages; ++i) {
        const qsizetype entry = languageLevel + 16 + qsizetype{i} * 8;
        put32(rsrc, entry, static_cast<quint32>(i + 1));
        const int dataEntry = sharing == Sharing::DataEntry ? 0 : i;
        put32(rsrc, entry + 4, static_cast<quint32>(dataEntries + qsizetype{dataEntry} * 16));
    }
    for (int i = 0; i < entryCount; ++i) {
        const qsizetype entry = dataEntries + qsizetype{i} * 16;
        const int copy = sharing == Sharing::None ? i : 0;
        put32(rsrc, entry, SectionRva + static_cast<quint32>(blocks + copy * block.size()));
        put32(rsrc, entry + 4, static_cast<quint32>(block.size()));
    }
    for (int i = 0; i < blockCount; ++i)
        rsrc.replace(blocks + i * block.size(), block.size(), block);

    QByteArray file(SectionAt + rsrc.size(), '\0');
    file[0] = 'M';
    file[1] = 'Z';
    put32(file, 0x3C, PeAt);
    file.replace(PeAt, 4, QByteArray("PE\0\0", 4));
    const qsizetype coff = PeAt + 4;
    put16(file, coff, 0x8664); // x86-64
    put16(file, coff + 2, 1);  // one section
    put16(file, coff + 16, OptionalSize);
    put16(file, coff + 18, 0x2022); // executable image, large addresses, library
    const qsizetype optional = coff + 20;
    put16(file, optional, 0x20B);
    put32(file, optional + 108, 16);
    put32(file, optional + 112 + 16, SectionRva); // resource directory
    put32(file, optional + 112 + 20, static_cast<quint32>(rsrc.size()));
    file.replace(SectionTableAt, 5, QByteArray(".rsrc"));
    put32(file, SectionTableAt + 8, static_cast<quint32>(rsrc.size()));
    put32(file, SectionTableAt + 12, SectionRva);
    put32(file, SectionTableAt + 16, static_cast<quint32>(rsrc.size()));
    put32(file, SectionTableAt + 20, SectionAt);
    put32(file, SectionTableAt + 36, 0x40000040u); // initialised data, readable
    file.replace(SectionAt, rsrc.size(), rsrc);
    return file;
}
