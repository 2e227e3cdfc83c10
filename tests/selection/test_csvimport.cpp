// The CSV import: files written byte for byte, looked up through the real ODBC driver on a generated
// stand-in, rows into a real grid, error lines into a real run log.
#include "common/FuzzSeeds.h"
#include "common/StandinFixture.h"
#include "deletion/Logging.h"
#include "localize/modLocalize.h"
#include "selection/CsvImport.h"
#include "selection/CsvText.h"
#include "selection/SubscriberGridModel.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");
const QString kOverflow =
    QStringLiteral("(error):6 (Overflow) in procedure ParseCSVForSubscribers of Form frmChooseSubscribers");

QString summary(int lines, int rows, int duplicates = 0)
{
    QString text =
        QStringLiteral("Import complete.   %1 lines read in from text file,  %2 users added to grid.")
            .arg(lines)
            .arg(rows);
    if (duplicates > 0)
        text +=
            QStringLiteral("\n%1 duplicate(s) left out: subscribers the file names more than once are added "
                           "once.")
                .arg(duplicates);
    return text;
}

// Rows into a real grid, messages recorded.
class GridRecorder : public CsvSink {
public:
    void addSubscriber(SubscriberValues&& v) override
    {
        grid.AddUserToGridFAST(v.alias, v.firstName, v.lastName, v.displayName, v.extension, v.homeServer,
                               v.remoteNode, v.legacyMailbox, v.cos, v.subscriberObjectId,
                               v.callHandlerObjectId);
    }
    void message(const QString& text) override { messages.append(text); }
    qint32 gridRows() const override { return grid.Rows(); }

    QStringList aliases() const
    {
        QStringList list;
        for (qint32 row = 1; row < grid.Rows(); ++row)
            list.append(grid.subscriberRow(row).Alias);
        return list;
    }

    SubscriberGridModel grid;
    QStringList messages;
};

} // namespace

class TestCsvImport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void bytesBecomeLinesAndFields();
    void aliasesAndExtensionsAreLookedUp();
    void unusableFilesAndHeaders();
    void beyond32767LinesTheCountStopsAndTheLogSaysSo();
    void failedLookupsAreNeverSilent();

private:
    // A subscriber of its own on the stand-in, with a call handler and a class of service.
    bool addSubscriber(const QString& alias, int n);
    QString write(const QByteArray& bytes);
    std::unique_ptr<GridRecorder> import(const QByteArray& bytes);

    std::unique_ptr<StandinFixture> m_db;
    QTemporaryDir m_files;
    QTemporaryDir m_logs;
    int m_written = 0;
};

void TestCsvImport::initTestCase()
{
    m_db = std::make_unique<StandinFixture>(400);
    QVERIFY(m_db->isValid());
    Logging::setLogFolder(m_logs.path());
}

void TestCsvImport::cleanupTestCase()
{
    Logging::CloseRunLog();
    Logging::setLogFolder(QString());
    m_db.reset();
}

void TestCsvImport::init()
{
    modLocalize::resetLocalisation();
}

bool TestCsvImport::addSubscriber(const QString& alias, int n)
{
    const QString id = QStringLiteral("{C5700000-5B5C-4000-8000-%1}").arg(n, 12, 10, QLatin1Char('0'));
    const QString handler = QStringLiteral("{C5700000-CA11-4000-8000-%1}").arg(n, 12, 10, QLatin1Char('0'));
    return m_db->exec(QStringLiteral("INSERT INTO callhandler (CallHandlerObjectID, Alias, DTMFAccessID) "
                                     "VALUES (?, ?, ?)"),
                      {handler, alias, QString::number(n)}) &&
           m_db->exec(
               QStringLiteral("INSERT INTO subscriber (SubscriberObjectID, Alias, CallHandlerObjectID, "
                              "SubscriberType, CosObjectId) SELECT ?, ?, ?, 1, min(CosObjectID) FROM cos"),
               {id, alias, handler});
}

QString TestCsvImport::write(const QByteArray& bytes)
{
    const QString path = m_files.filePath(QStringLiteral("list%1.csv").arg(++m_written));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    FuzzSeeds::keep("csv", bytes);
    return path;
}

std::unique_ptr<GridRecorder> TestCsvImport::import(const QByteArray& bytes)
{
    auto sink = std::make_unique<GridRecorder>();
    CsvImport::ParseCSVForSubscribers(write(bytes), kConnection, *sink);
    return sink;
}

void TestCsvImport::bytesBecomeLinesAndFields()
{
    using CsvText::splitLines;
    const QStringList abc{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QCOMPARE(splitLines("a\r\nb\r\nc\r\n"), abc);
    QCOMPARE(splitLines("a\nb\nc"), abc);
    QCOMPARE(splitLines("a\rb\r\nc\n"), abc);
    QCOMPARE(splitLines("\xEF\xBB\xBF"
                        "a\nb\nc\n"),
             abc);
    // Only the very start holds a byte-order mark.
    QCOMPARE(splitLines("a\n\xEF\xBB\xBF"
                        "b")
                 .at(1),
             QString(QChar(0xFEFF)) + QLatin1Char('b'));
    QCOMPARE(splitLines("a\r\n\r\n\nb"),
             (QStringList{QStringLiteral("a"), QString(), QString(), QStringLiteral("b")}));
    QCOMPARE(splitLines(""), QStringList());
    QCOMPARE(splitLines("\r\n"), QStringList{QString()});
    // UTF-8 is read as such; any other byte stays as the character of its number.
    QCOMPARE(splitLines("jos\xC3\xA9"), QStringList{QString::fromUtf8("jos\xC3\xA9")});
    QCOMPARE(splitLines("jos\xE9\n\xFF\xC3"),
             (QStringList{QString::fromLatin1("jos\xE9"), QString::fromLatin1("\xFF\xC3")}));
    QCOMPARE(splitLines("\xF0\x9F\x93\x9E\xED\xA0\x80").constFirst(),
             QString::fromUtf8("\xF0\x9F\x93\x9E") + QStringLiteral(u"\u00ED\u00A0\u20AC"));
    // Windows-1252 where UTF-8 does not fit: 0x80 to 0x9F are its punctuation, euro and letters, and the
    // five it leaves undefined are the C1 controls of the same number.
    QByteArray high;
    for (int byte = 0x80; byte <= 0x9F; ++byte)
        high += char(byte);
    QCOMPARE(splitLines(high).constFirst(),
             QStringLiteral(u"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039"
                            u"\u0152\u008D\u017D\u008F\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014"
                            u"\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178"));
    QCOMPARE(splitLines(QByteArray("a\0b", 3)).constFirst().size(), 3);

    QCOMPARE(CsvText::splitFields(QString()), QStringList());
    QCOMPARE(CsvText::splitFields(QStringLiteral("\"a,b\",,c")),
             (QStringList{QStringLiteral("\"a"), QStringLiteral("b\""), QString(), QStringLiteral("c")}));
    QCOMPARE(CsvText::stripSpaces(QStringLiteral("  a b \t ")), QStringLiteral("a b \t"));
}

void TestCsvImport::aliasesAndExtensionsAreLookedUp()
{
    // Two aliases, one with an apostrophe, CR LF line ends.
    auto two = import("Alias,Name\r\nuser00013,John\r\no'brien38,Pat\r\n");
    QCOMPARE(two->aliases(), (QStringList{QStringLiteral("user00013"), QStringLiteral("o'brien38")}));
    QCOMPARE(two->messages, QStringList{summary(2, 2)});
    QCOMPARE(two->grid.subscriberRow(1).Extension, QStringLiteral("401"));

    // A byte-order mark, LF line ends, a spaced header and a spaced extension; the second extension of a
    // subscriber finds the subscriber already added, which is not added again but counted.
    auto extensions = import("\xEF\xBB\xBF Extension \n 401 \n99000013\n");
    QCOMPARE(extensions->aliases(), QStringList{QStringLiteral("user00013")});
    QCOMPARE(extensions->grid.subscriberRow(1).Extension, QStringLiteral("401"));
    QCOMPARE(extensions->messages, QStringList{summary(2, 1, 1)});

    // Both columns, extension first: a line whose extension and alias name one subscriber adds it once,
    // and so does a second line naming it; letters in the extension skip only that lookup; an empty line
    // counts as read.
    auto both =
        import("EXTENSION,SubscriberAlias\r\n402,user00026\r\n402,user00013\r\nabc,user00026\r\n\r\n");
    QCOMPARE(both->aliases(), (QStringList{QStringLiteral("user00026"), QStringLiteral("user00013")}));
    QCOMPARE(both->messages, QStringList{summary(4, 2, 3)});
    GridRecorder once;
    const CsvImport::Outcome counted =
        CsvImport::ParseCSVForSubscribers(write("Alias,Extension\r\nuser00013,401\r\n"), kConnection, once);
    QCOMPARE(once.aliases(), QStringList{QStringLiteral("user00013")});
    QCOMPARE(counted.file, CsvImport::Outcome::File::Read);
    QCOMPARE(counted.linesRead, std::int16_t(1));
    QCOMPARE(counted.duplicates, 1);

    // Quotes belong to the alias; nothing is called "user00013" with them. A short line lacks the column.
    auto quoted = import("Name,Alias\n\"John\",\"user00013\"\nonly-a-name\n");
    QCOMPARE(quoted->aliases(), QStringList());
    QCOMPARE(quoted->messages, QStringList{summary(2, 0)});

    // A file from an older spreadsheet: Latin-1 bytes are kept and still name the subscriber.
    auto latin = import("alias\r\njos\xE9.m\xFCller2\r\n");
    QCOMPARE(latin->aliases(), QStringList{QString::fromUtf8("jos\xC3\xA9.m\xC3\xBCller2")});

    // A file a Windows spreadsheet saved: its quotes, dashes and euro signs are Windows-1252 bytes.
    const QStringList windowsAliases = {
        QStringLiteral(u"o\u2019brien.w"), QStringLiteral(u"smith\u2013jones"),
        QStringLiteral(u"\u20ACuro\u2014desk"), QStringLiteral(u"\u0160imon\u017Ei\u00E6")};
    for (int n = 0; n < windowsAliases.size(); ++n)
        QVERIFY(addSubscriber(windowsAliases.at(n), 9001 + n));
    auto windows = import("Alias,Extension\r\no\x92"
                          "brien.w,\r\nsmith\x96jones,\r\n\x80uro\x97"
                          "desk,\r\n\x8Aimon\x9Ei\xE6,\r\n");
    QCOMPARE(windows->aliases(), windowsAliases);
    QCOMPARE(windows->messages, QStringList{summary(4, 4)});

    // Rows go after those already in the grid.
    GridRecorder sink;
    sink.grid.AddUserToGridFAST(QStringLiteral("x"), {}, {}, {}, {}, {}, {}, {}, QStringLiteral("c"),
                                QStringLiteral("{s}"), QStringLiteral("{h}"));
    CsvImport::ParseCSVForSubscribers(write("Alias\nuser00013\n"), kConnection, sink);
    QCOMPARE(sink.aliases(), (QStringList{QStringLiteral("x"), QStringLiteral("user00013")}));
    QCOMPARE(sink.messages, QStringList{summary(1, 1)});
}

void TestCsvImport::unusableFilesAndHeaders()
{
    const QString invalid = QStringLiteral(
        "Error! CSV file is not a valid format.  See the help for details on format requirements.");
    for (const QByteArray& bytes :
         {QByteArray("name,phone\r\nuser00013,401\r\n"), QByteArray(), QByteArray("A\r\nuser00013\r\n"),
          QByteArray("\xEF\xBB\xBF"
                     "A\n")}) {
        GridRecorder sink;
        QCOMPARE(CsvImport::ParseCSVForSubscribers(write(bytes), kConnection, sink).file,
                 CsvImport::Outcome::File::InvalidFormat);
        QCOMPARE(sink.messages, (QStringList{invalid, summary(0, 0)}));
        QCOMPARE(sink.grid.Rows(), 1);
    }
    const QString cannotOpen = QStringLiteral("Error! Could not open CSV input file.");
    for (const QString& path : {m_files.filePath(QStringLiteral("missing.csv")), QString(), m_files.path()}) {
        GridRecorder sink;
        QCOMPARE(CsvImport::ParseCSVForSubscribers(path, kConnection, sink).file,
                 CsvImport::Outcome::File::CannotOpen);
        QCOMPARE(sink.messages, (QStringList{cannotOpen, summary(0, 0)}));
    }
}

void TestCsvImport::beyond32767LinesTheCountStopsAndTheLogSaysSo()
{
    QByteArray bytes("Alias\r\n");
    for (int i = 0; i < 32767; ++i)
        bytes += "\r\n";
    bytes += "user00013\r\n"; // line 32,768: still looked up
    const QString log = Logging::GenerateNewLogFileName();
    Logging::OpenRunLog(log, false);
    auto sink = import(bytes);
    Logging::CloseRunLog();
    QCOMPARE(sink->messages, QStringList{summary(32767, 1)});
    QCOMPARE(sink->aliases(), QStringList{QStringLiteral("user00013")});
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text.count(kOverflow.toUtf8() + "\r\n"), 1);
    QVERIFY(text.endsWith(kOverflow.toUtf8() + "\r\n"));
}

void TestCsvImport::failedLookupsAreNeverSilent()
{
    QVERIFY(m_db->exec(QStringLiteral("DROP VIEW vw_CallHandler")));
    const QByteArray bytes("Alias,Extension\r\nuser00013,401\r\nuser00026,402\r\n");

    // Without a run log: the summary as always, then how many lookups failed and why.
    auto unlogged = import(bytes);
    QCOMPARE(unlogged->aliases(), (QStringList{QStringLiteral("user00013"), QStringLiteral("user00026")}));
    QCOMPARE(unlogged->messages.size(), 2);
    QCOMPARE(unlogged->messages.at(0), summary(2, 2));
    QVERIFY2(unlogged->messages.at(1).startsWith(QStringLiteral("2 subscriber lookups failed")),
             qPrintable(unlogged->messages.at(1)));
    QVERIFY(unlogged->messages.at(1).contains(QStringLiteral("vw_CallHandler"), Qt::CaseInsensitive));

    // With one: each failure is a line of the log, and the summary stands alone.
    const QString log = Logging::GenerateNewLogFileName();
    Logging::OpenRunLog(log, false);
    auto logged = import(bytes);
    Logging::CloseRunLog();
    QCOMPARE(logged->messages, QStringList{summary(2, 2)});
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QCOMPARE(
        text.count(QStringLiteral(") in procedure ParseCSVForSubscribers of Form frmChooseSubscribers\r\n")),
        2);
    QVERIFY(text.contains(QStringLiteral("(error):")));

    // In German, from the German library (whose extension heading is another word: aliases only).
    QTemporaryDir program;
    const QString library = QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll");
    QVERIFY(QFile::copy(library, program.filePath(QStringLiteral("Culvane_DEU.dll"))));
    modLocalize::setProgramLocation(program.path(), QStringLiteral("Culvane"));
    modLocalize::setCurrentLangID(1031);
    modLocalize::InitalizeLanguages();
    QVERIFY(modLocalize::languageLibraryLoaded());
    auto german = import(bytes);
    modLocalize::resetLocalisation();
    modLocalize::setProgramLocation(QString(), QString());
    QCOMPARE(german->messages.size(), 2);
    QVERIFY2(german->messages.at(1).startsWith(QStringLiteral(
                 u"2 Teilnehmersuchen sind fehlgeschlagen, daher fehlen im Raster womöglich Teilnehmer, die "
                 u"die Datei nennt.  Es war kein Ausführungsprotokoll geöffnet, das sie verzeichnen konnte.  "
                 u"Der erste Fehler: ")),
             qPrintable(german->messages.at(1)));
    QVERIFY(m_db->exec(QStringLiteral("CREATE VIEW vw_CallHandler AS SELECT CallHandlerObjectID, Alias, "
                                      "DisplayName, DTMFAccessID FROM callhandler")));
}

QTEST_GUILESS_MAIN(TestCsvImport)
#include "test_csvimport.moc"
