#include "common/CraftedLibrary.h"
#include "localize/PeStringTable.h"
#include "localize/RcStringTable.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::optional<PeStringTable> parse(const QByteArray& bytes, std::uint16_t language = 1031,
                                   std::string* error = nullptr)
{
    return PeStringTable::parse(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                static_cast<std::size_t>(bytes.size()), language, error);
}

QString text(const PeStringTable& table, std::uint32_t id)
{
    const auto found = table.text(id);
    return found ? QString::fromStdU16String(*found) : QStringLiteral("<none>");
}

quint32 u32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 u16(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
void put32(QByteArray& b, qsizetype at, quint32 value)
{
    qToLittleEndian(value, b.data() + at);
}
void put16(QByteArray& b, qsizetype at, quint16 value)
{
    qToLittleEndian(value, b.data() + at);
}

// Where the interesting structures of a library built by our tool chain lie.
struct Layout {
    qsizetype pe = 0, optional = 0, sections = 0, directories = 0;
    qsizetype rsrcSection = 0;   // its section header
    qsizetype root = 0;          // the resource directory in the file
    qsizetype nameLevel = 0;     // the string type's directory of blocks
    qsizetype languageLevel = 0; // the first block's directory of languages
    qsizetype dataEntry = 0;     // the first block's data entry
    qsizetype block = 0;         // the first block's strings

    explicit Layout(const QByteArray& b)
    {
        pe = u32(b, 0x3C);
        optional = pe + 24;
        const bool pe32 = u16(b, optional) == 0x10B;
        directories = optional + (pe32 ? 96 : 112);
        sections = optional + u16(b, pe + 20);
        const quint32 rva = u32(b, directories + 16);
        for (int i = 0; i < u16(b, pe + 6); ++i) {
            const qsizetype s = sections + i * 40;
            if (b.mid(s, 5) == ".rsrc") {
                rsrcSection = s;
                root = u32(b, s + 20) + (rva - u32(b, s + 12));
            }
        }
        nameLevel = root + (u32(b, root + 20) & 0x7FFFFFFF);
        languageLevel = root + (u32(b, nameLevel + 20) & 0x7FFFFFFF);
        dataEntry = root + u32(b, languageLevel + 20);
        block = u32(b, rsrcSection + 20) + (u32(b, dataEntry) - u32(b, rsrcSection + 12));
    }
};

const QString dlls = QStringLiteral(LOCALIZE_TEST_DLLS);
const QString german = QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll");

} // namespace

class TestPeStringTable : public QObject {
    Q_OBJECT

private slots:
    void readsTheGermanLibrary();
    void readsPe32AndPe32Plus();
    void loadStringCutsToTheBuffer();
    void choosesTheBlockOfTheWantedLanguage();
    void everyTruncationIsNotLoadable();
    void damagedHeadersAreNotLoadable_data();
    void damagedHeadersAreNotLoadable();
    void damagedResourceTreesAreNotLoadable_data();
    void damagedResourceTreesAreNotLoadable();
    void randomBytesAndMutationsNeverCrash();
    void filesThatAreNoLibraries();
    void sharedStringBlocksAreRefused();
};

void TestPeStringTable::readsTheGermanLibrary()
{
    std::string error;
    const auto table = PeStringTable::load(QFile::encodeName(german).toStdString(), 1031, &error);
    QVERIFY2(table, error.c_str());
    QCOMPARE(text(*table, 412), QStringLiteral("Art der Teilnehmerlöschung"));
    QCOMPARE(text(*table, 18), QStringLiteral("<< Zurück"));
    QVERIFY(text(*table, 389).contains(QStringLiteral("Es \"bereinigt\" diese Benutzer")));
    QCOMPARE(text(*table, 308), QStringLiteral("Import abgeschlossen.  "));
    // The maker's name is left to the built-in table; its block exists, the slot is empty.
    QCOMPARE(text(*table, 97), QString());
    QCOMPARE(table->loadString(97, nullptr, 0), std::size_t{0});
    QCOMPARE(text(*table, 600), QStringLiteral("<none>"));
    QVERIFY(table->strings().size() > 80);
}

void TestPeStringTable::readsPe32AndPe32Plus()
{
    const QByteArray plus = readFile(german);
    const QByteArray pe32 = readFile(dlls + QStringLiteral("/Culvane_DEU_pe32.dll"));
    QCOMPARE(u16(plus, Layout(plus).optional), quint16(0x20B));
    QCOMPARE(u16(pe32, Layout(pe32).optional), quint16(0x10B));
    const auto a = parse(plus);
    const auto b = parse(pe32);
    QVERIFY(a && b);
    QVERIFY(a->strings() == b->strings());
}

void TestPeStringTable::loadStringCutsToTheBuffer()
{
    const auto table = parse(readFile(dlls + QStringLiteral("/LongStrings.dll")), 1033);
    QVERIFY(table);
    const QString expected = QStringLiteral("abcdefghij").repeated(130);
    std::vector<char16_t> buffer(1200, u'#');
    for (std::uint32_t id : {500u, 501u, 502u}) {
        QCOMPARE(table->loadString(id, buffer.data(), buffer.size()), std::size_t{1199});
        QCOMPARE(QString::fromUtf16(buffer.data(), 1199), expected.left(1199));
        QCOMPARE(buffer[1199], u'\0');
    }
    QCOMPARE(text(*table, 502), expected);
    QCOMPARE(table->loadString(500, buffer.data(), 5), std::size_t{4});
    QCOMPARE(QString::fromUtf16(buffer.data()), QStringLiteral("abcd"));
    QCOMPARE(table->loadString(18, buffer.data(), buffer.size()), std::size_t{0}); // held empty
    QCOMPARE(table->loadString(0x10000 + 500, buffer.data(), buffer.size()), std::size_t{0});
}

void TestPeStringTable::choosesTheBlockOfTheWantedLanguage()
{
    const QByteArray mixed = readFile(dlls + QStringLiteral("/Mixed.dll"));
    const auto english = parse(mixed, 1033);
    const auto german = parse(mixed, 1031);
    const auto austrian = parse(mixed, 3079);
    const auto french = parse(mixed, 1036);
    QVERIFY(english && german && austrian && french);
    QCOMPARE(text(*english, 15), QStringLiteral("(error, English):"));
    QCOMPARE(text(*english, 14), QStringLiteral("English only"));
    QCOMPARE(text(*german, 15), QStringLiteral("(Fehler, Deutsch):"));
    QCOMPARE(text(*german, 14), QString()); // the choice is made per block
    QCOMPARE(text(*austrian, 40), QStringLiteral("zweiter Block, Deutsch"));
    QCOMPARE(text(*french, 15), QStringLiteral("(error, neutral):"));
    QCOMPARE(text(*french, 40), QStringLiteral("zweiter Block, Deutsch")); // no neutral block: the first

    // The script the library was compiled from reads to the same texts in every language.
    const QByteArray script = readFile(QStringLiteral(CULVANE_TEST_DATA "/Mixed.rc"));
    for (const std::uint16_t language : {0, 1031, 1033, 2057, 3079, 1036, 4100}) {
        const auto fromScript = RcStringTable::parse(
            std::string_view(script.constData(), static_cast<std::size_t>(script.size())), language);
        const auto fromLibrary = parse(mixed, language);
        QVERIFY(fromScript && fromLibrary);
        QVERIFY2(*fromScript == fromLibrary->strings(), qPrintable(QString::number(language)));
    }
}

void TestPeStringTable::everyTruncationIsNotLoadable()
{
    const QByteArray whole = readFile(german);
    QVERIFY(parse(whole));
    // The linker leaves a symbol table behind the sections; without it the library is still whole.
    const Layout layout(whole);
    const qsizetype sectionsEnd = u32(whole, layout.rsrcSection + 20) + u32(whole, layout.rsrcSection + 16);
    QVERIFY(sectionsEnd <= whole.size());
    // Every cut through the headers and the resource directory, then every 13th byte.
    for (qsizetype length = 0; length < whole.size(); length += length < 0x1000 ? 1 : 13) {
        std::string error;
        const bool loaded = parse(whole.left(length), 1031, &error).has_value();
        if (loaded != (length >= sectionsEnd))
            QFAIL(qPrintable(QStringLiteral("a copy cut at %1 bytes: %2").arg(length).arg(error.c_str())));
    }
}

using Damage = std::function<void(QByteArray&, const Layout&)>;
Q_DECLARE_METATYPE(Damage)

void TestPeStringTable::damagedHeadersAreNotLoadable_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("DOS signature") << Damage([](QByteArray& b, const Layout&) { b[0] = 'X'; })
                                   << "no DOS header";
    QTest::newRow("PE offset past the end")
        << Damage([](QByteArray& b, const Layout&) { put32(b, 0x3C, 0xFFFFFFF0u); })
        << "PE header beyond the end of the file";
    QTest::newRow("PE signature") << Damage([](QByteArray& b, const Layout& l) { b[l.pe + 1] = 'F'; })
                                  << "no PE signature";
    QTest::newRow("section count") << Damage([](QByteArray& b, const Layout& l) {
        put16(b, l.pe + 6, 0xFFFF);
    }) << "truncated section table";
    QTest::newRow("optional header size")
        << Damage([](QByteArray& b, const Layout& l) { put16(b, l.pe + 20, 0xFFFF); })
        << "truncated optional header";
    QTest::newRow("optional header too small")
        << Damage([](QByteArray& b, const Layout& l) { put16(b, l.pe + 20, 100); })
        << "truncated optional header";
    QTest::newRow("optional header kind")
        << Damage([](QByteArray& b, const Layout& l) { put16(b, l.optional, 0x107); })
        << "unknown optional header kind";
    QTest::newRow("directory count") << Damage([](QByteArray& b, const Layout& l) {
        put32(b, l.directories - 4, 0xFFFFFFFFu);
    }) << "data directories beyond the optional header";
    QTest::newRow("resource address")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.directories + 16, 0x7FFFFFF0u); })
        << "resource directory outside the file's sections";
    QTest::newRow("resource size") << Damage([](QByteArray& b, const Layout& l) {
        put32(b, l.directories + 20, 0xFFFFFFFFu);
    }) << "resource directory outside the file's sections";
    QTest::newRow("resource size half set")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.directories + 16, 0); })
        << "malformed resource data directory entry";
    QTest::newRow("section raw offset")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.rsrcSection + 20, 0xFFFFFF00u); })
        << "section data beyond the end of the file";
    QTest::newRow("section raw size")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.rsrcSection + 16, 0x7FFFFFFFu); })
        << "section data beyond the end of the file";
    QTest::newRow("section moved away")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.rsrcSection + 12, 0x00900000u); })
        << "resource directory outside the file's sections";
    QTest::newRow("section virtual size too small")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.rsrcSection + 8, 0x20); })
        << "resource directory outside the file's sections";
}

void TestPeStringTable::damagedHeadersAreNotLoadable()
{
    QFETCH(Damage, damage);
    QFETCH(QString, reason);
    QByteArray bytes = readFile(german);
    damage(bytes, Layout(bytes));
    std::string error;
    QVERIFY(!parse(bytes, 1031, &error));
    QCOMPARE(QString::fromStdString(error), reason);
}

void TestPeStringTable::damagedResourceTreesAreNotLoadable_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("reason");
    QTest::newRow("entry count") << Damage([](QByteArray& b, const Layout& l) {
        put16(b, l.root + 14, 0xFFFF);
    }) << "resource directory entries outside their section";
    QTest::newRow("subdirectory past the end")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.root + 20, 0xFFFFFFF0u); })
        << "resource directory outside its section";
    QTest::newRow("loop back to the root")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.nameLevel + 20, 0x80000000u); })
        << "resource directory loops or is shared";
    QTest::newRow("two blocks share a subtree") << Damage([](QByteArray& b, const Layout& l) {
        put32(b, l.nameLevel + 28, u32(b, l.nameLevel + 20));
    }) << "resource directory loops or is shared";
    QTest::newRow("type without subdirectory") << Damage([](QByteArray& b, const Layout& l) {
        put32(b, l.root + 20, u32(b, l.root + 20) & 0x7FFFFFFF);
    }) << "resource tree too shallow";
    QTest::newRow("language level too deep")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.languageLevel + 20, 0x80000000u | 0x18); })
        << "resource tree too deep";
    QTest::newRow("named entry counted as numbered") << Damage([](QByteArray& b, const Layout& l) {
        put16(b, l.root + 12, 1);
        put16(b, l.root + 14, 0);
    }) << "resource entries out of order";
    QTest::newRow("name past the end") << Damage([](QByteArray& b, const Layout& l) {
        put16(b, l.root + 12, 1);
        put16(b, l.root + 14, 0);
        put32(b, l.root + 16, 0xFFFFFFF0u);
    }) << "resource name outside its section";
    QTest::newRow("identifier out of range")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.nameLevel + 16, 0x10001); })
        << "resource identifier out of range";
    QTest::newRow("data entry past the end")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.languageLevel + 20, 0x7FFFFFF0u); })
        << "resource data entry outside its section";
    QTest::newRow("data address") << Damage([](QByteArray& b, const Layout& l) {
        put32(b, l.dataEntry, 0x10);
    }) << "resource data outside the file's sections";
    QTest::newRow("data size") << Damage([](QByteArray& b, const Layout& l) {
        put32(b, l.dataEntry + 4, 0x7FFFFFFFu);
    }) << "resource data outside the file's sections";
    QTest::newRow("block too short for 16 strings")
        << Damage([](QByteArray& b, const Layout& l) { put32(b, l.dataEntry + 4, 6); })
        << "truncated string block";
    QTest::newRow("string longer than its block")
        << Damage([](QByteArray& b, const Layout& l) { put16(b, l.block, 0xFFFF); })
        << "string longer than its block";
}

void TestPeStringTable::damagedResourceTreesAreNotLoadable()
{
    QFETCH(Damage, damage);
    QFETCH(QString, reason);
    QByteArray bytes = readFile(german);
    damage(bytes, Layout(bytes));
    std::string error;
    QVERIFY(!parse(bytes, 1031, &error));
    QCOMPARE(QString::fromStdString(error), reason);
}

void TestPeStringTable::randomBytesAndMutationsNeverCrash()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 200; ++round) {
        QByteArray noise(random.bounded(1, 4096), '\0');
        for (char& c : noise)
            c = static_cast<char>(random.bounded(256));
        QVERIFY(!parse(noise));
    }
    // Damage in the strings themselves may still load; damage anywhere must never crash or read outside
    // the file, which the sanitizer build checks.
    const QByteArray whole = readFile(german);
    int loaded = 0;
    for (int round = 0; round < 600; ++round) {
        QByteArray copy = whole;
        for (int flips = random.bounded(1, 4); flips > 0; --flips)
            copy[random.bounded(0xE00)] = static_cast<char>(random.bounded(256)); // headers and directory
        loaded += parse(copy) ? 1 : 0;
    }
    // Some damage is harmless (time stamps, padding), most is not.
    QVERIFY(loaded > 0 && loaded < 600);
}

void TestPeStringTable::filesThatAreNoLibraries()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::string error;
    QVERIFY(!PeStringTable::load(QFile::encodeName(dir.filePath("missing.dll")).toStdString(), 1031, &error));
    QCOMPARE(error, std::string("not a file"));
    QVERIFY(!PeStringTable::load(QFile::encodeName(dir.path()).toStdString(), 1031, &error));

    QFile empty(dir.filePath("empty.dll"));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(!PeStringTable::load(QFile::encodeName(empty.fileName()).toStdString(), 1031, &error));
    QCOMPARE(error, std::string("file too short for a DOS header"));

    QFile big(dir.filePath("big.dll"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(static_cast<qint64>(PeStringTable::MaxFileSize) + 1)); // sparse
    big.close();
    QVERIFY(!PeStringTable::load(QFile::encodeName(big.fileName()).toStdString(), 1031, &error));
    QCOMPARE(error, std::string("file too large for a language library"));

    // A library without a resource directory loads and has no strings, as on Windows.
    QByteArray bare = readFile(german);
    const Layout layout(bare);
    put32(bare, layout.directories + 16, 0);
    put32(bare, layout.directories + 20, 0);
    const auto table = parse(bare);
    QVERIFY(table);
    QVERIFY(table->strings().empty());
}

void TestPeStringTable::sharedStringBlocksAreRefused()
{
    const QString written = QString(1000, QLatin1Char('x'));
    // Made honestly, with a copy of the block per language, the crafted library reads.
    const QByteArray honest = CraftedLibrary::build(written, 3, CraftedLibrary::Sharing::None);
    const auto table = parse(honest, 2);
    QVERIFY(table);
    QCOMPARE(text(*table, 0), written);
    QCOMPARE(text(*table, 1), QString());
    QCOMPARE(text(*table, 16), QStringLiteral("<none>"));

    // Thousands of language entries that share one data entry: under 40 KB of file, yet each entry would
    // copy the 2 KB block once more.
    const QByteArray sharedEntry = CraftedLibrary::build(written, 4000, CraftedLibrary::Sharing::DataEntry);
    QVERIFY(sharedEntry.size() < 40 * 1024);
    std::string error;
    QVERIFY(!parse(sharedEntry, 1031, &error));
    QCOMPARE(error, std::string("resource data entry reached more than once"));

    // Separate data entries that all point at one block: the text outgrows the file.
    const QByteArray sharedBytes = CraftedLibrary::build(written, 4000, CraftedLibrary::Sharing::BlockBytes);
    QVERIFY(!parse(sharedBytes, 1031, &error));
    QCOMPARE(error, std::string("more string text than the file holds"));
}

QTEST_GUILESS_MAIN(TestPeStringTable)
#include "test_pestringtable.moc"
