// "Export..." on the real selection page: rows from the stand-in through the real ODBC driver, the file
// read back by the page's own CSV import, messages and the save dialog answered through the ports.
#include "common/FuzzSeeds.h"
#include "common/NamedChild.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "localize/Keyboard.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "selection/CsvText.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "selection/frmChooseSubscribers.h"
#include "server/OrvaneVersion.h"
#include "server/modOrvaneDB.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList rowTexts(const SubscriberRow& row)
{
    return {row.Selected ? QStringLiteral("checked") : QStringLiteral("unchecked"),
            row.Alias,
            row.DisplayName,
            row.FirstName,
            row.LastName,
            row.Extension,
            row.HomeServer,
            row.COS,
            row.LegacyMailbox,
            row.RemoteNodeID,
            row.HandlerObjectID,
            row.ObjectID};
}

void addRow(SubscriberGridModel& grid, const QString& alias, const QString& extension = QString(),
            const QString& displayName = QString())
{
    grid.AddUserToGridFAST(alias, QStringLiteral("First"), QStringLiteral("Last"), displayName, extension,
                           QStringLiteral("MAIL1"), QString(), QString(), QStringLiteral("Staff"),
                           QStringLiteral("{S-") + alias + QLatin1Char('}'),
                           QStringLiteral("{H-") + alias + QLatin1Char('}'));
}

} // namespace

class TestSelectionExport : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void exportClearAndImportGiveTheSameSubscribers_data();
    void exportClearAndImportGiveTheSameSubscribers();
    void nothingCheckedOrUnreadableRowsWriteNothing();
    void fileBytesAndWriteFailures();

private:
    void loadPage(int subscribers);
    template <class T> T* child(const char* name) const { return namedChild<T>(*m_page, name); }

    std::unique_ptr<StandinFixture> m_standin;
    std::unique_ptr<frmChooseSubscribers> m_page;
    QTemporaryDir m_files;
};

void TestSelectionExport::cleanup()
{
    m_page.reset();
    modOrvaneDB::CloseSharedLists();
    m_standin.reset();
    modLocalize::resetLocalisation();
    modLocalize::setProgramLocation(QString(), QString());
}

void TestSelectionExport::loadPage(int subscribers)
{
    m_page = std::make_unique<frmChooseSubscribers>();
    if (subscribers < 0) {
        m_page->frmChooseSubscribers_Auto_Init();
        return;
    }
    m_standin = std::make_unique<StandinFixture>(subscribers);
    QVERIFY(m_standin->isValid());
    OrvaneVersion::setInstalledVersion({5, 0, 1, 33});
    modOrvaneDB::DbConnectionString() = kConnection;
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    ScriptedMessageBoxes quiet;
    m_page->Form_Load();
    QCOMPARE(quiet.texts(), QStringList());
}

void TestSelectionExport::exportClearAndImportGiveTheSameSubscribers_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("caption");
    QTest::newRow("English") << 1033 << QStringLiteral("Extension") << QStringLiteral("Export...");
    QTest::newRow("German") << 1031 << QStringLiteral("Durchwahl") << QStringLiteral("Exportieren...");
}

void TestSelectionExport::exportClearAndImportGiveTheSameSubscribers()
{
    QFETCH(int, language);
    QFETCH(QString, heading);
    QFETCH(QString, caption);
    modLocalize::setProgramLocation(QStringLiteral(CULVANE_BIN_DIR), QStringLiteral("Culvane"));
    modLocalize::setCurrentLangID(language);
    modLocalize::InitalizeLanguages();
    QCOMPARE(modLocalize::languageLibraryLoaded(), language != 1033);
    loadPage(160);

    // The button stands right after "Clear Grid" and speaks the page's language.
    auto* exportButton = child<QPushButton>("cmdExport");
    auto* clearGrid = child<QPushButton>("cmdClearGrid");
    QCOMPARE(Keyboard::shownText(exportButton->text()), caption);
    const QBoxLayout* row = nullptr;
    for (auto* layout : m_page->findChildren<QBoxLayout*>()) {
        if (layout->indexOf(clearGrid) >= 0)
            row = layout;
    }
    QVERIFY(row);
    QCOMPARE(row->indexOf(exportButton), row->indexOf(clearGrid) + 1);

    // All subscribers (aliases with quotes, blanks inside and accents among them), two rows unchecked.
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    auto* view = child<QPushButton>("cmdView");
    types->setCurrentIndex(types->findData(SubscriberQuery::AllSubscribers));
    {
        ScriptedMessageBoxes skipped; // rows without a class of service are refused by the grid
        QTest::mouseClick(view, Qt::LeftButton);
    }
    SubscriberGridModel& grid = m_page->grid();
    QVERIFY(grid.Rows() > 100);
    grid.setChecked(2, false);
    grid.setChecked(grid.Rows() - 1, false);
    QList<QStringList> exported;
    for (qint32 r = 1; r < grid.Rows(); ++r) {
        if (grid.isChecked(r))
            exported.append(rowTexts(grid.subscriberRow(r)));
    }
    QStringList aliases;
    for (const QStringList& texts : exported)
        aliases.append(texts.at(1));
    QVERIFY(aliases.contains(QStringLiteral("o'brien1")));
    QVERIFY(aliases.contains(QStringLiteral("mary ann 3")));

    const QString path = m_files.filePath(QStringLiteral("selection-%1.csv").arg(language));
    ScriptedMessageBoxes boxes;
    ScriptedFileDialog dialog;
    dialog.setNextChoice(path);
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(dialog.requests().size(), 1);
    QCOMPARE(dialog.requests().constFirst().mode, FileDialog::Request::Mode::Save);
    QCOMPARE(dialog.requests().constFirst().title, modLocalize::mymyLoadString(StringIds::ExportDialogTitle));
    const QByteArray bytes = readAll(path);
    FuzzSeeds::keep("csv", bytes);
    const QStringList lines = CsvText::splitLines(bytes);
    QCOMPARE(lines.size(), exported.size() + 1);
    QCOMPARE(lines.constFirst(), QStringLiteral("Alias,") + heading +
                                     QStringLiteral(",DisplayName,FirstName,LastName,HomeServer,COS"));
    // The import of this language finds the extension column, yet looks each subscriber up once.
    QCOMPARE(CsvText::extensionColumn(CsvText::splitFields(lines.constFirst()),
                                      modLocalize::mymyLoadString(StringIds::CsvExtensionHeading)),
             1);

    QTest::mouseClick(clearGrid, Qt::LeftButton);
    QCOMPARE(grid.Rows(), 1);
    types->setCurrentIndex(types->findData(SubscriberQuery::CsvFile));
    dialog.setNextChoice(path);
    QTest::mouseClick(child<QPushButton>("cmdBrowseForCSV"), Qt::LeftButton);
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(boxes.texts().size(), 1); // the import's summary only
    QList<QStringList> imported;
    for (qint32 r = 1; r < grid.Rows(); ++r)
        imported.append(rowTexts(grid.subscriberRow(r)));
    QCOMPARE(imported, exported);
}

void TestSelectionExport::nothingCheckedOrUnreadableRowsWriteNothing()
{
    loadPage(-1);
    SubscriberGridModel& grid = m_page->grid();
    auto* exportButton = child<QPushButton>("cmdExport");
    ScriptedMessageBoxes boxes;
    ScriptedFileDialog dialog;
    const QString path = m_files.filePath(QStringLiteral("refused.csv"));
    dialog.setNextChoice(path);

    // An empty grid, then one with every row unchecked: said so, no dialog.
    const QString nothing = QStringLiteral("No subscriber is checked, so there is nothing to export.");
    QTest::mouseClick(exportButton, Qt::LeftButton);
    addRow(grid, QStringLiteral("user1"));
    grid.setAllChecked(false);
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(boxes.texts(), (QStringList{nothing, nothing}));

    // Aliases the import would split, unquote or strip, and a line break elsewhere in a row; twelve bad
    // rows in all, of which the first ten are named.
    grid.setAllChecked(true);
    const QStringList bad{QStringLiteral("smith, j"), QStringLiteral("say \"hi\""), QStringLiteral(" lead"),
                          QStringLiteral("trail "), QStringLiteral("two\nlines")};
    for (const QString& alias : bad)
        addRow(grid, alias);
    addRow(grid, QStringLiteral("user2"), QStringLiteral("402"), QStringLiteral("Ann\r\nuser1"));
    for (int i = 1; i <= 6; ++i)
        addRow(grid, QStringLiteral("x,%1").arg(i));
    boxes.clear();
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(boxes.texts(),
             QStringList{QStringLiteral(
                 "12 checked subscriber(s) cannot be exported, because the CSV import would not read them "
                 "back unchanged: \"smith, j\", \"say \"hi\"\", \" lead\", \"trail \", \"two lines\", "
                 "\"user2\", \"x,1\", \"x,2\", \"x,3\", \"x,4\", \u2026.  An alias must not hold a comma, a "
                 "double quote or a line break, nor begin or end with a blank, and no field may hold a line "
                 "break.  Uncheck these rows to export the others.  Nothing was written.")});
    QVERIFY(dialog.requests().isEmpty());
    QVERIFY(!QFile::exists(path));

    // Unchecked, they stay out of the way of the others.
    for (qint32 row = 2; row < grid.Rows(); ++row)
        grid.setChecked(row, false);
    boxes.clear();
    QTest::mouseClick(exportButton, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(CsvText::splitLines(readAll(path)).size(), 2);
}

void TestSelectionExport::fileBytesAndWriteFailures()
{
    loadPage(-1);
    SubscriberGridModel& grid = m_page->grid();
    addRow(grid, QStringLiteral("o'brien"), QStringLiteral("401"), QStringLiteral("O'Brien, \"Pat\""));
    addRow(grid, QStringLiteral("skipped"));
    addRow(grid, QString::fromUtf8("jos\xC3\xA9"), QString(), QString::fromUtf8("Jos\xC3\xA9"));
    grid.setChecked(2, false);

    // A longer file in its place is replaced as a whole.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("exact.csv"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(4096, 'z')) == 4096);
    old.close();
    ScriptedMessageBoxes boxes;
    ScriptedFileDialog dialog;
    dialog.setNextChoice(path);
    QTest::mouseClick(child<QPushButton>("cmdExport"), Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList());
    QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF"
                                       "Alias,Extension,DisplayName,FirstName,LastName,HomeServer,COS\r\n"
                                       "o'brien,\"401\",\"O'Brien, \"\"Pat\"\"\",First,Last,MAIL1,Staff\r\n"
                                       "jos\xC3\xA9,\"\",Jos\xC3\xA9,First,Last,MAIL1,Staff\r\n"));

    // A folder that does not exist, and a folder chosen as the file: the path and the system's reason.
    const QString missing = folder.filePath(QStringLiteral("gone/list.csv"));
    dialog.setNextChoice(missing);
    dialog.setNextChoice(folder.path());
    dialog.setNextChoice(std::nullopt); // cancelled: nothing to say
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(child<QPushButton>("cmdExport"), Qt::LeftButton);
    QCOMPARE(boxes.texts().size(), 2);
    QVERIFY2(
        boxes.texts().at(0).startsWith(QStringLiteral("The checked subscribers could not be written to ") +
                                       missing + QStringLiteral(": ")),
        qPrintable(boxes.texts().at(0)));
    QVERIFY(boxes.texts().at(0).endsWith(QStringLiteral(".  Nothing was exported.")));
    QVERIFY(boxes.texts().at(0).size() > 90); // a reason between path and ending
    QVERIFY(boxes.texts().at(1).contains(folder.path() + QStringLiteral(": ")));
    QVERIFY(!QFile::exists(missing));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("exact.csv")});
}

QTEST_MAIN(TestSelectionExport)
#include "test_selectionexport.moc"
