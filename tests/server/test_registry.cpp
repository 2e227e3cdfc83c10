#include "common/RegFile.h"
#include "ports/CulvaneError.h"
#include "server/RegistryAPI.h"
#include "server/RegistryStore.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <sstream>

using RegistryAPI::RegValue;

namespace {

constexpr auto HKLM = RegistryAPI::HKEY_LOCAL_MACHINE;
const QString TestKey = QStringLiteral("SOFTWARE\\Velcor\\Test");

// A value with its kind, so that comparisons tell text, number, bytes and "nothing read" apart.
QString show(const RegValue& value)
{
    if (const auto* text = std::get_if<QString>(&value))
        return QStringLiteral("text:") + *text;
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return QStringLiteral("number:%1").arg(*number);
    if (const auto* bytes = std::get_if<QByteArray>(&value))
        return QStringLiteral("bytes:") + QString::fromLatin1(bytes->toHex());
    return QStringLiteral("default");
}

QString read(const QString& key, const QString& name, int type)
{
    return show(RegistryAPI::getRegValue(HKLM, key, name, type, RegValue()));
}

QString text(const QString& value)
{
    return QStringLiteral("text:") + value;
}

QString bytes(const QByteArray& value)
{
    return QStringLiteral("bytes:") + QString::fromLatin1(value.toHex());
}

QByteArray utf16le(const QString& text)
{
    QByteArray out;
    for (const QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return data;
}

struct Parsed {
    RegistryStore store;
    QStringList warnings;
};

Parsed parse(const QByteArray& content)
{
    std::ostringstream sink;
    Parsed parsed{
        RegistryStore::parse(std::string_view(content.constData(), static_cast<std::size_t>(content.size())),
                             "test.reg", sink),
        {}};
    parsed.warnings = QString::fromStdString(sink.str()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return parsed;
}

// The stored bytes of a value, or "missing".
QString stored(const RegistryStore& store, const char* key, const char* name)
{
    const RegistryStore::Key* k = store.openKey(key);
    const RegistryStore::Value* v = k ? k->value(name) : nullptr;
    if (!v)
        return QStringLiteral("missing");
    return QStringLiteral("%1:").arg(v->type) +
           QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(v->data.data()),
                                          static_cast<qsizetype>(v->data.size()))
                                   .toHex());
}

QString storedText(const QString& value)
{
    return QStringLiteral("1:") + QString::fromLatin1((utf16le(value) + QByteArray(2, '\0')).toHex());
}

QString storedDword(quint32 value)
{
    QByteArray data;
    for (int shift = 0; shift < 32; shift += 8)
        data.append(static_cast<char>((value >> shift) & 0xFF));
    return QStringLiteral("4:") + QString::fromLatin1(data.toHex());
}

} // namespace

class TestRegistry : public QObject {
    Q_OBJECT

private slots:
    void unicodeExportIsWrittenAndReadAsRegedit();
    void regedit4ExportInItsVariants();
    void namesIgnoreCase();
    void subkeysEnumerateInFileOrder();
    void malformedLinesWarnOnceAndKeepNeighbours();
    void hexContinuations();
    void bufferRules();
    void unsupportedTypeRaises1001();
    void missingFileIsAnEmptyRegistry();
    void storeIsReadOnceUntilReloaded();
    void damagedFilesNeverCrashAndKeepEarlierValues();
};

void TestRegistry::unicodeExportIsWrittenAndReadAsRegedit()
{
    const QByteArray blob = pattern(300);
    RegFile reg;
    reg.key(TestKey)
        .sz(QStringLiteral("Path"), QStringLiteral("C:\\Program Files\\Orvane \"quoted\""))
        .sz(QStringLiteral("Unicode"), QStringLiteral("Grüße 日本 \U0001F600"))
        .sz(QString(), QStringLiteral("default text"))
        .sz(QStringLiteral("Empty"), QString())
        .dword(QStringLiteral("Count"), 0x2a)
        .dword(QStringLiteral("Negative"), 0xFFFFFFFEu)
        .hex(QStringLiteral("Blob"), RegistryAPI::REG_BINARY, blob)
        .expandSz(QStringLiteral("Expand"), QStringLiteral("%SystemRoot%\\system32"))
        .multiSz(QStringLiteral("Multi"), {QStringLiteral("one"), QStringLiteral("two")})
        .key(TestKey + QStringLiteral("\\Child"));
    reg.save();

    // The file is what regedit writes: BOM, UTF-16LE, CR LF, hex lines wrapped with ",\" and two blanks.
    QFile file(reg.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray raw = file.readAll();
    QVERIFY(raw.startsWith("\xFF\xFE"));
    const QString content =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData() + 2), (raw.size() - 2) / 2);
    QVERIFY(content.startsWith(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velcor\\Test]\r\n")));
    QVERIFY(content.contains(
        QStringLiteral("\r\n\"Path\"=\"C:\\\\Program Files\\\\Orvane \\\"quoted\\\"\"\r\n")));
    QVERIFY(content.contains(QStringLiteral("\r\n@=\"default text\"\r\n")));
    QVERIFY(content.contains(QStringLiteral("\r\n\"Count\"=dword:0000002a\r\n")));
    QVERIFY(content.endsWith(QStringLiteral("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velcor\\Test\\Child]\r\n\r\n")));
    const QStringList lines = content.split(QStringLiteral("\r\n"));
    const int blobLine =
        static_cast<int>(lines.indexOf(QRegularExpression(QStringLiteral("^\"Blob\"=hex:.*"))));
    QVERIFY(blobLine > 0);
    // "Blob"=hex: is 11 characters; 22 bytes take it to 77, then each continuation holds 25 bytes.
    QCOMPARE(lines[blobLine].size(), 11 + 22 * 3 + 1);
    QVERIFY(lines[blobLine].endsWith(QStringLiteral(",\\")));
    QCOMPARE(lines[blobLine + 1].size(), 2 + 25 * 3 + 1);
    QVERIFY(lines[blobLine + 1].startsWith(QStringLiteral("  ")) &&
            !lines[blobLine + 1].startsWith(QStringLiteral("   ")));

    QCOMPARE(read(TestKey, QStringLiteral("Path"), 1),
             text(QStringLiteral("C:\\Program Files\\Orvane \"quoted\"")));
    QCOMPARE(read(TestKey, QStringLiteral("Unicode"), 1), text(QStringLiteral("Grüße 日本 \U0001F600")));
    QCOMPARE(read(TestKey, QString(), 1), text(QStringLiteral("default text")));
    QCOMPARE(read(TestKey, QStringLiteral("Empty"), 1), text(QString()));
    QCOMPARE(read(TestKey, QStringLiteral("Count"), 4), QStringLiteral("number:42"));
    QCOMPARE(read(TestKey, QStringLiteral("Negative"), 4), QStringLiteral("number:-2"));
    QCOMPARE(read(TestKey, QStringLiteral("Blob"), 3), bytes(blob));
    // Expandable and multi-strings come back in the narrow form, as the A-calls give them.
    QCOMPARE(read(TestKey, QStringLiteral("Expand"), 1), text(QStringLiteral("%SystemRoot%\\system32")));
    QCOMPARE(read(TestKey, QStringLiteral("Multi"), 1), text(QString::fromUtf8("one\0two\0", 8)));

    // The stored bytes are read as the requested type.
    QCOMPARE(read(TestKey, QStringLiteral("Path"), 3),
             bytes(QByteArray("C:\\Program Files\\Orvane \"quoted\"") + QByteArray(1, '\0')));
    QCOMPARE(read(TestKey, QStringLiteral("Count"), 3), bytes(QByteArray::fromHex("2a000000")));
    QCOMPARE(read(TestKey, QStringLiteral("Count"), 1), text(QString::fromUtf8("*\0\0", 3)));

    // A value or key that is not there leaves the caller's default, whatever its kind.
    for (const RegValue& fallback : {RegValue(), RegValue(QStringLiteral("dflt")), RegValue(std::int32_t(7)),
                                     RegValue(QByteArray("\x01\x02"))}) {
        for (int type : {1, 3, 4}) {
            QCOMPARE(show(RegistryAPI::getRegValue(HKLM, TestKey, QStringLiteral("Nope"), type, fallback)),
                     show(fallback));
            QCOMPARE(show(RegistryAPI::getRegValue(HKLM, QStringLiteral("SOFTWARE\\Nope"),
                                                   QStringLiteral("Path"), type, fallback)),
                     show(fallback));
        }
    }

    QVERIFY(RegistryAPI::bRegKeyExists(HKLM, TestKey));
    QVERIFY(RegistryAPI::bRegKeyExists(HKLM, QStringLiteral("SOFTWARE\\Velcor\\")));
    QVERIFY(RegistryAPI::bRegKeyExists(HKLM, QString()));
    QVERIFY(!RegistryAPI::bRegKeyExists(HKLM, QStringLiteral("SOFTWARE\\Velcor\\Nope")));
    QVERIFY(!RegistryAPI::bRegKeyExists(HKLM, QStringLiteral("SOFTWARE\\\\Velcor")));
}

void TestRegistry::regedit4ExportInItsVariants()
{
    RegFile reg(RegFile::Format::Regedit4);
    reg.key(QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"))
        .sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsDomino.VcIDCDomino.1"))
        .sz(QStringLiteral("Name"), QStringLiteral("Café"))
        .expandSz(QStringLiteral("Expand"), QStringLiteral("%TEMP%\\é"))
        .dword(QStringLiteral("Flag"), 1);
    const QByteArray plain = reg.bytes();
    QVERIFY(plain.startsWith(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velcor\\SystemParameters\\1.0]\r\n"));
    // The narrow string of hex(2) is the one regedit writes for REGEDIT4: one byte per ASCII character.
    QVERIFY(plain.contains("\"Expand\"=hex(2):25,54,45,4d,50,25,5c,c3,a9,00\r\n"));

    QByteArray latin1 = plain;
    latin1.replace("Caf\xC3\xA9", "Caf\xE9"); // saved in a Western ANSI code page
    QByteArray lfOnly = plain;
    lfOnly.replace("\r\n", "\n");
    const QString key = QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0");
    for (const QByteArray& variant : {plain, QByteArray("\xEF\xBB\xBF") + plain, latin1, lfOnly}) {
        reg.saveBytes(variant);
        QCOMPARE(read(key, QStringLiteral("IDCProgID"), 1), text(QStringLiteral("VCDsDomino.VcIDCDomino.1")));
        QCOMPARE(read(key, QStringLiteral("Name"), 1), text(QStringLiteral("Café")));
        QCOMPARE(read(key, QStringLiteral("Expand"), 1), text(QStringLiteral("%TEMP%\\é")));
        QCOMPARE(read(key, QStringLiteral("Flag"), 4), QStringLiteral("number:1"));
    }
    // Windows keeps the strings of either format as UTF-16.
    const Parsed parsed = parse(plain);
    QCOMPARE(stored(parsed.store, "SOFTWARE\\Velcor\\SystemParameters\\1.0", "Name"),
             storedText(QStringLiteral("Café")));
    QCOMPARE(stored(parsed.store, "SOFTWARE\\Velcor\\SystemParameters\\1.0", "Expand"),
             QStringLiteral("2:") +
                 QString::fromLatin1((utf16le(QStringLiteral("%TEMP%\\é")) + QByteArray(2, '\0')).toHex()));
    QVERIFY(parsed.warnings.isEmpty());
}

void TestRegistry::namesIgnoreCase()
{
    RegFile reg;
    reg.key(QStringLiteral("Software\\Velcor"))
        .sz(QStringLiteral("Name"), QStringLiteral("first"))
        .sz(QStringLiteral("größe"), QStringLiteral("non-ASCII"));
    reg.raw(QString()).raw(QStringLiteral("[hkey_local_machine\\SOFTWARE\\VELCOR\\Sub]"));
    reg.key(QStringLiteral("SOFTWARE\\velcor")).sz(QStringLiteral("NAME"), QStringLiteral("second"));
    reg.save();

    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QString()), QStringList{QStringLiteral("Software")});
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("SOFTWARE")),
             QStringList{QStringLiteral("Velcor")});
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("software\\velcor")),
             QStringList{QStringLiteral("Sub")});
    QVERIFY(RegistryAPI::bRegKeyExists(HKLM, QStringLiteral("sOfTwArE\\vElCoR\\sUb")));
    // The later line wins, as an import would leave it.
    QCOMPARE(read(QStringLiteral("SOFTWARE\\VELCOR"), QStringLiteral("name"), 1),
             text(QStringLiteral("second")));
    // ASCII letters fold; other letters must match as written.
    QCOMPARE(read(QStringLiteral("software\\velcor"), QStringLiteral("GRöSSE"), 1),
             QStringLiteral("default"));
    QCOMPARE(read(QStringLiteral("software\\velcor"), QStringLiteral("GRößE"), 1),
             text(QStringLiteral("non-ASCII")));
}

void TestRegistry::subkeysEnumerateInFileOrder()
{
    const QString base = QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations");
    RegFile reg;
    reg.key(QStringLiteral("A\\B\\C"))
        .key(QStringLiteral("A\\X"))
        .key(QStringLiteral("A\\B"))
        .key(QStringLiteral("A\\0First"));
    QStringList expected;
    for (int i = 0; i < 250; ++i) {
        const QString name = QStringLiteral("integration%1").arg((i * 97) % 250 + 1);
        expected.append(name);
        reg.key(base + QLatin1Char('\\') + name).sz(QStringLiteral("DisplayName"), name);
    }
    // RegEnumKeyA's 260-character buffer holds 259 bytes of name; a longer name ends the enumeration.
    const QString fits = QString(259, QLatin1Char('f'));
    const QString tooLong = QString(130, QChar(0x00E9)); // 260 bytes in the narrow form
    reg.key(QStringLiteral("Long\\") + fits)
        .key(QStringLiteral("Long\\") + tooLong)
        .key(QStringLiteral("Long\\After"));
    reg.save();

    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QString()),
             (QStringList{QStringLiteral("A"), QStringLiteral("Software"), QStringLiteral("Long")}));
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("A")),
             (QStringList{QStringLiteral("B"), QStringLiteral("X"), QStringLiteral("0First")}));
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("A\\B\\")), QStringList{QStringLiteral("C")});
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("A\\B\\C")), QStringList());
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("A\\Nope")), QStringList());
    const QStringList all = RegistryAPI::getRegSubkeys(HKLM, base);
    QCOMPARE(all.size(), 250);
    QCOMPARE(all, expected);
    QCOMPARE(read(base + QStringLiteral("\\integration250"), QStringLiteral("DisplayName"), 1),
             text(QStringLiteral("integration250")));
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QStringLiteral("Long")), QStringList{fits});
}

void TestRegistry::malformedLinesWarnOnceAndKeepNeighbours()
{
    RegFile reg;
    reg.key(TestKey); // line 3
    const QStringList body = {
        QStringLiteral("\"Good1\"=\"one\""),
        QStringLiteral("\"NoEquals\" \"x\""),
        QStringLiteral("\"Good2\"=dword:00000002"),
        QStringLiteral("\"Big\"=dword:123456789"),
        QStringLiteral("\"BadDword\"=dword:12G4"),
        QStringLiteral("\"Good3\"=hex:03"),
        QStringLiteral("\"BadHex\"=hex:01,zz,03"),
        QStringLiteral("\"Unterminated\"=\"abc"),
        QStringLiteral("\"Trailing\"=\"abc\" junk"),
        QStringLiteral("\"HexType\"=hex(123456789):00"),
        QStringLiteral("\"Triple\"=hex:012,03"),
        QStringLiteral("garbage line"),
        QStringLiteral("; a comment"),
        QStringLiteral("\"Good4\"=\"four\" ; trailing comment"),
        QStringLiteral("\"Gone\"=-"),
        QStringLiteral("[HKEY_LOCAL_MACHINE\\A\\\\B]"),
        QStringLiteral("\"InBadKey\"=\"x\""),
        QStringLiteral("[HKEY_NOWHERE\\X]"),
        QStringLiteral("[HKEY_LOCAL_MACHINE\\Missing"),
        QStringLiteral("[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velcor\\Test]"),
        QStringLiteral("\"InDeletion\"=\"x\""),
        QStringLiteral("[HKEY_CURRENT_USER\\Software\\Velcor\\Test]"),
        QStringLiteral("\"OtherRoot\"=hex:01,02,\\"),
        QStringLiteral("  03,04"),
        QStringLiteral("[HKLM\\SOFTWARE\\Velcor\\Test]"),
        QStringLiteral("\"Good5\"=\"five\""),
    };
    for (const QString& line : body)
        reg.raw(line);
    const QList<int> badLines = {5, 7, 8, 10, 11, 12, 13, 14, 15, 19, 21, 22};

    const Parsed parsed = parse(reg.bytes());
    QCOMPARE(parsed.warnings.size(), badLines.size());
    for (int i = 0; i < badLines.size(); ++i)
        QVERIFY2(parsed.warnings[i].startsWith(QStringLiteral("test.reg:%1: warning: ").arg(badLines[i])),
                 qPrintable(parsed.warnings[i]));
    const char* key = "SOFTWARE\\Velcor\\Test";
    QCOMPARE(stored(parsed.store, key, "Good1"), storedText(QStringLiteral("one")));
    QCOMPARE(stored(parsed.store, key, "Good2"), storedDword(2));
    QCOMPARE(stored(parsed.store, key, "Good3"), QStringLiteral("3:03"));
    QCOMPARE(stored(parsed.store, key, "Good4"), storedText(QStringLiteral("four")));
    QCOMPARE(stored(parsed.store, key, "Good5"), storedText(QStringLiteral("five")));
    for (const char* name : {"NoEquals", "Big", "BadDword", "BadHex", "Unterminated", "Trailing", "HexType",
                             "Triple", "Gone", "InBadKey", "InDeletion", "OtherRoot"})
        QCOMPARE(stored(parsed.store, key, name), QStringLiteral("missing"));
    QVERIFY(!parsed.store.openKey("A"));
    QCOMPARE(parsed.store.root().subkeyCount(), std::size_t(1));

    // Through the program's reader the same file gives the same values.
    reg.save();
    QCOMPARE(read(TestKey, QStringLiteral("Good2"), 4), QStringLiteral("number:2"));
    QCOMPARE(read(TestKey, QStringLiteral("Good5"), 1), text(QStringLiteral("five")));

    // A value before any key, and a file without its header line.
    const Parsed orphan = parse("REGEDIT4\r\n\"Orphan\"=\"x\"\r\n\"OrphanHex\"=hex:01,\\\r\n  02\r\n"
                                "[HKEY_LOCAL_MACHINE\\A]\r\n\"Kept\"=\"y\"\r\n");
    QCOMPARE(orphan.warnings.size(), 2);
    QVERIFY(orphan.warnings[0].startsWith(QStringLiteral("test.reg:2: ")));
    QVERIFY(orphan.warnings[1].startsWith(QStringLiteral("test.reg:3: ")));
    QCOMPARE(stored(orphan.store, "A", "Kept"), storedText(QStringLiteral("y")));
    const Parsed headless = parse("[HKEY_LOCAL_MACHINE\\A]\r\n\"Kept\"=\"y\"\r\n");
    QCOMPARE(headless.warnings.size(), 1);
    QVERIFY(headless.warnings[0].startsWith(QStringLiteral("test.reg:1: ")));
    QCOMPARE(stored(headless.store, "A", "Kept"), storedText(QStringLiteral("y")));
}

void TestRegistry::hexContinuations()
{
    const QByteArray big = pattern(1000);
    RegFile reg;
    reg.key(TestKey);                                                                      // line 3
    reg.raw(QStringLiteral("\"Wrapped\"=hex:01,02,\\")).raw(QStringLiteral("  03,04"));    // 4, 5
    reg.raw(QStringLiteral("\"Cut\"=hex:01,02,\\")).raw(QStringLiteral("\"Next\"=\"x\"")); // 6, 7
    reg.raw(QStringLiteral("\"Cut2\"=hex:01,\\")).raw(QStringLiteral("  zz,01"));          // 8, 9
    reg.raw(QStringLiteral("\"After\"=dword:00000001"));                                   // 10
    reg.raw(QStringLiteral("\"BadStart\"=hex:0g,\\")).raw(QStringLiteral("  01,02"));      // 11, 12
    reg.raw(QStringLiteral("\"Blank\"=hex:05,\\")).raw(QString());                         // 13, 14
    reg.raw(QStringLiteral("\"NoTerm\"=hex(1):41,00,42,00"));                              // 15
    reg.raw(QStringLiteral("\"Odd\"=hex(1):41,00,42"));                                    // 16
    reg.hex(QStringLiteral("Big"), RegistryAPI::REG_BINARY, big);
    reg.raw(QStringLiteral("\"Last\"=hex:01,\\"));
    const QByteArray content = reg.bytes();
    // Cut the file right after the last line's backslash: the value runs into the end of the file.
    const QByteArray file = content.left(content.lastIndexOf(utf16le(QStringLiteral("\\"))) + 2);

    const Parsed parsed = parse(file);
    const char* key = "SOFTWARE\\Velcor\\Test";
    QCOMPARE(stored(parsed.store, key, "Big"), QStringLiteral("3:") + QString::fromLatin1(big.toHex()));
    QCOMPARE(stored(parsed.store, key, "Wrapped"), QStringLiteral("3:01020304"));
    QCOMPARE(stored(parsed.store, key, "Cut"), QStringLiteral("missing"));
    QCOMPARE(stored(parsed.store, key, "Next"), storedText(QStringLiteral("x")));
    QCOMPARE(stored(parsed.store, key, "Cut2"), QStringLiteral("missing"));
    QCOMPARE(stored(parsed.store, key, "After"), storedDword(1));
    QCOMPARE(stored(parsed.store, key, "BadStart"), QStringLiteral("missing"));
    QCOMPARE(stored(parsed.store, key, "Blank"), QStringLiteral("3:05"));
    QCOMPARE(stored(parsed.store, key, "NoTerm"), QStringLiteral("1:410042000000"));
    QCOMPARE(stored(parsed.store, key, "Odd"), QStringLiteral("1:410042"));
    QCOMPARE(stored(parsed.store, key, "Last"), QStringLiteral("missing"));
    QCOMPARE(parsed.warnings.size(), 4);
    QVERIFY(parsed.warnings[0].startsWith(QStringLiteral("test.reg:7: warning: bad continuation")));
    QVERIFY(parsed.warnings[1].startsWith(QStringLiteral("test.reg:9: warning: bad continuation")));
    QVERIFY(parsed.warnings[2].startsWith(
        QStringLiteral("test.reg:11: warning: unexpected character in hex data")));
    QVERIFY(parsed.warnings[3].contains(QStringLiteral("past the end of the file")));

    reg.saveBytes(file);
    QCOMPARE(read(TestKey, QStringLiteral("Big"), 3), bytes(big));
    QCOMPARE(read(TestKey, QStringLiteral("NoTerm"), 1), text(QStringLiteral("AB")));
    QCOMPARE(read(TestKey, QStringLiteral("Odd"), 1), text(QStringLiteral("A")));
}

void TestRegistry::bufferRules()
{
    const QString e = QStringLiteral("é");
    RegFile reg;
    reg.key(TestKey)
        .sz(QStringLiteral("Text1023"), QString(1023, QLatin1Char('a')))
        .sz(QStringLiteral("Text1024"), QString(1024, QLatin1Char('a')))
        .sz(QStringLiteral("Bytes1023"), e.repeated(511) + QLatin1Char('a'))
        .sz(QStringLiteral("Bytes1024"), e.repeated(512))
        .hex(QStringLiteral("Bin4096"), RegistryAPI::REG_BINARY, pattern(4096))
        .hex(QStringLiteral("Bin4097"), RegistryAPI::REG_BINARY, pattern(4097))
        .hex(QStringLiteral("EmptyBin"), RegistryAPI::REG_BINARY, QByteArray())
        .hex(QStringLiteral("EmptySz"), RegistryAPI::REG_SZ, QByteArray())
        .hex(QStringLiteral("Dword5"), RegistryAPI::REG_DWORD, QByteArray::fromHex("0102030405"))
        .hex(QStringLiteral("Dword2"), RegistryAPI::REG_DWORD, QByteArray::fromHex("3412"))
        .hex(QStringLiteral("None4"), 0, QByteArray::fromHex("78563412"))
        .sz(QStringLiteral("Five"), QStringLiteral("5"));
    reg.save();

    QCOMPARE(read(TestKey, QStringLiteral("Text1023"), 1), text(QString(1023, QLatin1Char('a'))));
    QCOMPARE(read(TestKey, QStringLiteral("Text1024"), 1), QStringLiteral("default"));
    QCOMPARE(read(TestKey, QStringLiteral("Bytes1023"), 1), text(e.repeated(511) + QLatin1Char('a')));
    QCOMPARE(read(TestKey, QStringLiteral("Bytes1024"), 1), QStringLiteral("default"));
    QCOMPARE(read(TestKey, QStringLiteral("Bin4096"), 3), bytes(pattern(4096)));
    QCOMPARE(read(TestKey, QStringLiteral("Bin4097"), 3), QStringLiteral("default"));
    QCOMPARE(read(TestKey, QStringLiteral("EmptyBin"), 1), text(QString()));
    QCOMPARE(read(TestKey, QStringLiteral("EmptyBin"), 3), bytes(QByteArray()));
    QCOMPARE(read(TestKey, QStringLiteral("EmptySz"), 1), text(QString()));
    QCOMPARE(show(RegistryAPI::getRegValue(HKLM, TestKey, QStringLiteral("Dword5"), 4, std::int32_t(7))),
             QStringLiteral("number:7"));
    QCOMPARE(read(TestKey, QStringLiteral("Dword2"), 4), QStringLiteral("number:4660"));
    QCOMPARE(read(TestKey, QStringLiteral("None4"), 4), QStringLiteral("number:305419896"));
    QCOMPARE(read(TestKey, QStringLiteral("Five"), 4), QStringLiteral("number:53")); // "5" and its zero byte
    QCOMPARE(read(TestKey, QStringLiteral("Bin4096"), 4), QStringLiteral("default"));
}

void TestRegistry::unsupportedTypeRaises1001()
{
    RegFile reg;
    reg.key(TestKey).expandSz(QStringLiteral("Expand"), QStringLiteral("%TEMP%"));
    reg.save();
    for (int type : {2, 0, 7, 11, -1}) {
        try {
            RegistryAPI::getRegValue(HKLM, TestKey, QStringLiteral("Expand"), type, RegValue());
            QFAIL("no error raised");
        } catch (const CulvaneError& error) {
            QCOMPARE(error.number(), 1001);
            QCOMPARE(error.description(), QStringLiteral("Unsupported value type"));
        }
    }
    // The key is opened first: a missing key returns the default before the type is looked at.
    QCOMPARE(show(RegistryAPI::getRegValue(HKLM, QStringLiteral("SOFTWARE\\Nope"), QStringLiteral("Expand"),
                                           2, QStringLiteral("dflt"))),
             text(QStringLiteral("dflt")));
}

void TestRegistry::missingFileIsAnEmptyRegistry()
{
    RegFile reg; // never saved: the file does not exist
    QVERIFY(!QFile::exists(reg.path()));
    QVERIFY(!RegistryAPI::bRegKeyExists(HKLM, QStringLiteral("SOFTWARE")));
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QString()), QStringList());
    QCOMPARE(show(RegistryAPI::getRegValue(HKLM, QString(), QStringLiteral("x"), 4, std::int32_t(9))),
             QStringLiteral("number:9"));

    // A folder where the file should be is no registry either.
    QTemporaryDir folder;
    qputenv("CULVANE_REGISTRY", QFile::encodeName(folder.path()));
    RegistryAPI::reloadRegistry();
    QCOMPARE(RegistryAPI::getRegSubkeys(HKLM, QString()), QStringList());
    QVERIFY(!RegistryAPI::bRegKeyExists(HKLM, QStringLiteral("SOFTWARE")));
}

void TestRegistry::storeIsReadOnceUntilReloaded()
{
    RegFile reg;
    reg.key(TestKey).sz(QStringLiteral("Value"), QStringLiteral("old"));
    reg.save();
    QCOMPARE(read(TestKey, QStringLiteral("Value"), 1), text(QStringLiteral("old")));

    reg.sz(QStringLiteral("Value"), QStringLiteral("new"));
    QFile file(reg.path());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(file.write(reg.bytes()) > 0);
    file.close();
    QCOMPARE(read(TestKey, QStringLiteral("Value"), 1), text(QStringLiteral("old")));
    RegistryAPI::reloadRegistry();
    QCOMPARE(read(TestKey, QStringLiteral("Value"), 1), text(QStringLiteral("new")));
}

void TestRegistry::damagedFilesNeverCrashAndKeepEarlierValues()
{
    QRandomGenerator random(20240611);
    for (const RegFile::Format format : {RegFile::Format::Unicode5, RegFile::Format::Regedit4}) {
        RegFile reg(format);
        reg.key(TestKey);
        QStringList names;
        QStringList lines;
        for (int i = 0; i < 8; ++i) {
            const QString name = QStringLiteral("Value%1").arg(i);
            names.append(name);
            if (i % 3 == 0)
                reg.sz(name, QStringLiteral("text %1 é").arg(i));
            else if (i % 3 == 1)
                reg.dword(name, static_cast<quint32>(0x01020304 * i));
            else
                reg.hex(name, RegistryAPI::REG_BINARY, pattern(40 + i));
        }
        const QByteArray whole = reg.bytes();
        const Parsed reference = parse(whole);
        QVERIFY(reference.warnings.isEmpty());
        const QByteArray keyBytes = "SOFTWARE\\Velcor\\Test";
        auto encoded = [format](const QString& line) {
            return format == RegFile::Format::Unicode5 ? utf16le(line) : line.toUtf8();
        };
        // Where each value's last line ends in the file, line end included.
        QList<qsizetype> ends;
        for (int i = 0; i < names.size(); ++i) {
            const QString next = i + 1 < names.size()
                                     ? QStringLiteral("\r\n\"") + names[i + 1] + QLatin1Char('"')
                                     : QStringLiteral("\r\n\r\n");
            const qsizetype start = whole.indexOf(encoded(QLatin1Char('"') + names[i] + QLatin1Char('"')));
            ends.append(whole.indexOf(encoded(next), start) + encoded(QStringLiteral("\r\n")).size());
        }
        auto checkKept = [&](const Parsed& parsed, qsizetype intact) {
            for (int i = 0; i < names.size(); ++i) {
                if (ends[i] > intact)
                    break;
                const QByteArray name = names[i].toUtf8();
                if (stored(parsed.store, keyBytes.constData(), name.constData()) !=
                    stored(reference.store, keyBytes.constData(), name.constData()))
                    return false;
            }
            return true;
        };

        // Truncated at every byte.
        for (qsizetype cut = 0; cut <= whole.size(); ++cut)
            QVERIFY2(checkKept(parse(whole.left(cut)), cut),
                     qPrintable(QStringLiteral("cut at %1").arg(cut)));

        // Random bytes after an intact part, and random bytes overwriting the tail.
        for (int round = 0; round < 300; ++round) {
            const qsizetype intact = ends[random.bounded(static_cast<int>(ends.size()))];
            QByteArray damaged = whole.left(intact);
            const int extra = random.bounded(600);
            for (int i = 0; i < extra; ++i)
                damaged.append(static_cast<char>(random.bounded(256)));
            if (round % 2 == 1) {
                damaged = whole;
                for (qsizetype i = intact; i < damaged.size(); ++i) {
                    if (random.bounded(8) == 0)
                        damaged[i] = static_cast<char>(random.bounded(256));
                }
            }
            const Parsed parsed = parse(damaged);
            QVERIFY2(checkKept(parsed, intact), qPrintable(QStringLiteral("round %1").arg(round)));
            for (const QString& warning : parsed.warnings)
                QVERIFY2(warning.startsWith(QStringLiteral("test.reg")), qPrintable(warning));
        }
    }

    // Wholly random files, with and without a byte order mark.
    for (int round = 0; round < 200; ++round) {
        QByteArray noise(random.bounded(2000), '\0');
        for (char& c : noise)
            c = static_cast<char>(random.bounded(256));
        if (round % 3 == 0)
            noise.prepend("\xFF\xFE");
        const Parsed parsed = parse(noise);
        QVERIFY(parsed.warnings.size() <= 101);
        for (const QString& warning : parsed.warnings)
            QVERIFY2(warning.startsWith(QStringLiteral("test.reg")), qPrintable(warning));
    }

    // Hostile lines: deep nesting, huge numbers, lone surrogates, zero characters.
    QByteArray hostile = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Deep" + QByteArray("\\a").repeated(5000) + "]\r\n";
    hostile += "\"AfterDeep\"=\"x\"\r\n[HKEY_LOCAL_MACHINE\\Ok]\r\n";
    hostile += "\"Huge\"=dword:" + QByteArray("F").repeated(100000) + "\r\n";
    hostile += "\"HugeType\"=hex(FFFFFFFFFFFFFFFF):00\r\n";
    static const char zeroLine[] = "\"Zero\0Name\"=\"a\0b\"\r\n";
    hostile += QByteArray(zeroLine, sizeof zeroLine - 1);
    hostile += "\"Fine\"=dword:ffffffff\r\n";
    const Parsed deep = parse(hostile);
    QCOMPARE(deep.warnings.size(), 3); // the deep key (its value goes with it), Huge, HugeType
    QCOMPARE(stored(deep.store, "Ok", "Fine"), storedDword(0xFFFFFFFFu));
    QVERIFY(!deep.store.openKey("Deep"));
    const RegistryStore::Value* zero = deep.store.openKey("Ok")->value(std::string("zero\0name", 9));
    QVERIFY(zero && zero->data.size() == 8);
    QByteArray surrogate = "\xFF\xFE" + utf16le(QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                                               "[HKEY_LOCAL_MACHINE\\S]\r\n\"Lone\"=\"x"));
    surrogate += QByteArray("\x00\xD8", 2) + utf16le(QStringLiteral("y\"\r\n")) + QByteArray("\x41", 1);
    const Parsed lone = parse(surrogate);
    QCOMPARE(stored(lone.store, "S", "Lone"), storedText(QStringLiteral("x\uFFFDy")));
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
