#include "app/frmHelp.h"
#include "app/frmMain.h"
#include "app/frmSplashScreen.h"
#include "common/NamedChild.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/Keyboard.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "selection/SubscriberGridModel.h"
#include "selection/frmChooseSubscribers.h"
#include "server/OrvaneVersion.h"
#include "server/modOrvaneDB.h"
#include "server/modSwitchInfo.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QPointer>
#include <QSignalSpy>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kConnection = QStringLiteral("Driver={SQL Server};server=;database=OrvaneDb");
const QString kSwitches = QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations");
const QString kOnlyNumbers = QStringLiteral("Only numbers are allowed for extension range values");

QStringList itemsOf(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

QList<int> codesOf(const QComboBox* combo)
{
    QList<int> codes;
    for (int i = 0; i < combo->count(); ++i)
        codes.append(combo->itemData(i).toInt());
    return codes;
}

void addRows(SubscriberGridModel& grid, int count)
{
    grid.setRedraw(false);
    for (int i = 1; i <= count; ++i) {
        const QString n = QString::number(i);
        grid.AddUserToGridFAST(QStringLiteral("user") + n, QStringLiteral("First"), QStringLiteral("Last"),
                               QStringLiteral("Display ") + n, n, QStringLiteral("MAIL1"), QString(),
                               QString(), QStringLiteral("Staff"),
                               QStringLiteral("{S-") + n + QLatin1Char('}'),
                               QStringLiteral("{H-") + n + QLatin1Char('}'));
    }
    grid.setRedraw(true);
}
} // namespace

class TestChooseSubscribers : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void listsFollowTheDatabaseAndRegistry();
    void archivedMailboxesOfferedOnlyWhereTheyExist();
    void eachCriterionShowsItsOwnInputOnTheRow();
    void aFailingQueryEmptiesOnlyItsList();
    void gridButtonsAndNextChecks();
    void nextWalksBeyond32767Rows();
    void extensionBoxesRefuseAnythingButWholeNumbers();
    void navigationForthAndBackRebuildsThePage();
    void archivedCountThatCannotOpenIsReportedOnce();
    void addSubscribersFillsTheGridBehindTheSplashWindow();
    void browseKeepsThePathUnlessAFileIsChosen();
    void csvImportFromThePage();
    void filterNarrowsSortsAndChecksTheShownRows();
    void filterCaptionsFollowTheLanguage();
    void aFillLocksThePageAndNothingFreesIt();
    void nextNamesCheckedRowsTheFilterHides();
    void criterionListsStartWithNothingChosen();
    void gridRowsAreOneLineWithTheWholeTextAsTip();
    void pagesStayWhollyOnTheScreenWithEveryTextWhole();
    void firstPageFitsItsTextsAtAnySizeAndFont();
    void closingAPageEndsTheProgramWithHelpOpen();

private:
    // A stand-in with known contents and the shared lists opened on it, as start-up leaves them.
    void prepareServer(OrvaneServerVersion version, bool archived = false);
    frmChooseSubscribers& loadPage();

    template <class T> T* child(const char* name) const { return namedChild<T>(*m_page, name); }

    std::unique_ptr<StandinFixture> m_standin;
    std::unique_ptr<RegFile> m_reg;
    std::unique_ptr<QWidget> m_firstPage;
    std::unique_ptr<frmChooseSubscribers> m_page;
    int m_exits = 0;
    Module1::ExitHandler m_previousExit;
};

void TestChooseSubscribers::init()
{
    m_exits = 0;
    m_previousExit = Module1::setExitHandler([this] { ++m_exits; });
    modLocalize::resetLocalisation();
}

void TestChooseSubscribers::cleanup()
{
    m_page.reset();
    m_firstPage.reset();
    modOrvaneDB::CloseSharedLists();
    m_reg.reset();
    m_standin.reset();
    Module1::setExitHandler(std::move(m_previousExit));
}

void TestChooseSubscribers::prepareServer(OrvaneServerVersion version, bool archived)
{
    m_standin = std::make_unique<StandinFixture>(0);
    QVERIFY(m_standin->isValid());
    StandinFixture& db = *m_standin;
    QVERIFY(db.exec(QStringLiteral("DELETE FROM cos")));
    QVERIFY(db.exec(QStringLiteral("DELETE FROM location")));
    QVERIFY(db.exec(QStringLiteral("DELETE FROM subscriber")));
    // Two classes of service share a display name; only their aliases tell them apart.
    const char* classes[][3] = {{"{C0000000-0000-0000-0000-000000000001}", "StaffNorth", "Staff"},
                                {"{C0000000-0000-0000-0000-000000000002}", "O'Brien COS", "Admins"},
                                {"{C0000000-0000-0000-0000-000000000003}", "StaffSouth", "Staff"},
                                {"{C0000000-0000-0000-0000-000000000004}", "Zed", "Zoo keepers"}};
    for (const auto& c : classes)
        QVERIFY(db.exec(QStringLiteral("INSERT INTO cos (CosObjectID, Alias, TextName) VALUES (?, ?, ?)"),
                        {QString::fromUtf8(c[0]), QString::fromUtf8(c[1]), QString::fromUtf8(c[2])}));
    const std::pair<const char*, int> locations[] = {
        {"Remote Five", 5}, {"Local Three", 3}, {"Remote Seven", 7}, {"Remote Eight", 8}, {"Remote Nine", 9}};
    int n = 0;
    for (const auto& [name, type] : locations)
        QVERIFY(db.exec(
            QStringLiteral("INSERT INTO location (LocationObjectID, Alias, TextName, DestinationType) "
                           "VALUES (?, ?, ?, ?)"),
            {QStringLiteral("{L0000000-0000-0000-0000-00000000000%1}").arg(++n), QString::fromUtf8(name),
             QString::fromUtf8(name), type}));
    const char* homes[] = {"MAIL2", nullptr, "MAIL1", "MAIL2", "Mail1"};
    const char* nodes[] = {"12", nullptr, "7", "12", nullptr};
    for (int i = 0; i < 5; ++i)
        QVERIFY(db.exec(
            QStringLiteral("INSERT INTO subscriber (SubscriberObjectID, Alias, SubscriberType, HomeServer, "
                           "RemoteNodeID, CallHandlerObjectID) VALUES (?, ?, ?, ?, ?, ?)"),
            {QStringLiteral("{S0000000-0000-0000-0000-00000000000%1}").arg(i), QStringLiteral("s%1").arg(i),
             1, homes[i] ? QVariant(QString::fromUtf8(homes[i])) : QVariant(QMetaType(QMetaType::QString)),
             nodes[i] ? QVariant(QString::fromUtf8(nodes[i])) : QVariant(QMetaType(QMetaType::QString)),
             QStringLiteral("{H%1}").arg(i)}));
    // A type 0 subscriber without a call handler is no archived mailbox; with one it is.
    QVERIFY(
        db.exec(QStringLiteral(
                    "INSERT INTO subscriber (SubscriberObjectID, Alias, SubscriberType, CallHandlerObjectID) "
                    "VALUES ('{A1}', 'gone', 0, ?)"),
                {archived ? QVariant(QStringLiteral("{HA1}")) : QVariant(QMetaType(QMetaType::QString))}));

    m_reg = std::make_unique<RegFile>();
    m_reg->currentVersion(version.Major, version.Minor, version.Release, version.Build);
    m_reg->key(kSwitches + QStringLiteral("\\PBX East"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("East"))
        .dword(QStringLiteral("IntegrationID"), 2);
    m_reg->key(kSwitches + QStringLiteral("\\PBX West"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("West"))
        .dword(QStringLiteral("IntegrationID"), 0);
    m_reg->save();

    OrvaneVersion::setInstalledVersion(version);
    ScriptedMessageBoxes quiet;
    modSwitchInfo::InitalizeSwitchInfo();
    modOrvaneDB::DbConnectionString() = kConnection;
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
}

frmChooseSubscribers& TestChooseSubscribers::loadPage()
{
    m_firstPage = std::make_unique<QWidget>();
    m_page = std::make_unique<frmChooseSubscribers>(m_firstPage.get());
    m_page->Form_Load();
    return *m_page;
}

void TestChooseSubscribers::listsFollowTheDatabaseAndRegistry()
{
    prepareServer({5, 0, 1, 33});
    ScriptedMessageBoxes boxes;
    loadPage();
    QCOMPARE(boxes.texts(), QStringList{});

    const auto* cos = child<QComboBox>("ComSubscribersCOS");
    const auto* hiddenCos = child<QComboBox>("comHiddenCOS");
    QCOMPARE(itemsOf(cos), (QStringList{QStringLiteral("Admins"), QStringLiteral("Staff"),
                                        QStringLiteral("Staff"), QStringLiteral("Zoo keepers")}));
    QVERIFY(!hiddenCos->isVisible());
    QCOMPARE(hiddenCos->count(), cos->count());
    // Each entry leads through its item data to its own alias.
    QStringList aliases;
    for (int i = 0; i < cos->count(); ++i)
        aliases.append(hiddenCos->itemText(cos->itemData(i).toInt()));
    QCOMPARE(aliases.at(0), QStringLiteral("O'Brien COS"));
    QCOMPARE(QSet<QString>(aliases.begin() + 1, aliases.begin() + 3),
             (QSet<QString>{QStringLiteral("StaffNorth"), QStringLiteral("StaffSouth")}));
    QCOMPARE(aliases.at(3), QStringLiteral("Zed"));

    // Grouped ignoring case as the server's collation does; no empty entry for subscribers without one.
    const QStringList servers = itemsOf(child<QComboBox>("comSubscriberMailServer"));
    QCOMPARE(servers.size(), 2);
    QVERIFY(servers.contains(QStringLiteral("MAIL2")));
    QVERIFY(!servers.contains(QString()));

    QCOMPARE(itemsOf(child<QComboBox>("comSubscriberSwitch")),
             (QStringList{QStringLiteral("East"), QStringLiteral("West")}));
    QCOMPARE(codesOf(child<QComboBox>("comSubscriberSwitch")), (QList<int>{2, 0}));

    const auto* locations = child<QComboBox>("comSubscriberLocation");
    const auto* locationIds = child<QComboBox>("comSubscriberLocationHidden");
    QCOMPARE(itemsOf(locations),
             (QStringList{QStringLiteral("Remote Five"), QStringLiteral("Remote Seven"),
                          QStringLiteral("Remote Eight"), QStringLiteral("Remote Nine")}));
    QCOMPARE(itemsOf(locationIds), (QStringList{QStringLiteral("{L0000000-0000-0000-0000-000000000001}"),
                                                QStringLiteral("{L0000000-0000-0000-0000-000000000003}"),
                                                QStringLiteral("{L0000000-0000-0000-0000-000000000004}"),
                                                QStringLiteral("{L0000000-0000-0000-0000-000000000005}")}));

    QCOMPARE(itemsOf(child<QComboBox>("comSubscriberNodeID")),
             (QStringList{QStringLiteral("12"), QStringLiteral("7")}));

    // The grid starts empty with its headings from the string table.
    QCOMPARE(m_page->grid().Rows(), 1);
    QCOMPARE(m_page->grid().headerText(QStringLiteral("DisplayName")), QStringLiteral("Display Name"));
    QCOMPARE(m_page->grid().headerText(QStringLiteral("RemoteNodeID")), QStringLiteral("Remote Node ID"));
    QCOMPARE(child<QLineEdit>("txtUsersInGrid")->text(), QStringLiteral("0"));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdUnselectAll")->text()),
             QStringLiteral("deSelect All"));
}

void TestChooseSubscribers::archivedMailboxesOfferedOnlyWhereTheyExist()
{
    const QList<int> without{1, 9, 2, 4, 6, 7, 5, 8};
    const QList<int> with{1, 10, 9, 2, 4, 6, 7, 5, 8};
    struct Case {
        OrvaneServerVersion version;
        bool archived;
        QList<int> codes;
    };
    for (const Case& c : {Case{{4, 2, 0, 27}, true, without}, Case{{5, 0, 0, 0}, false, without},
                          Case{{5, 0, 0, 0}, true, with}}) {
        prepareServer(c.version, c.archived);
        ScriptedMessageBoxes boxes;
        loadPage();
        const auto* types = child<QComboBox>("cmbSubscriberSelectType");
        QCOMPARE(codesOf(types), c.codes);
        QCOMPARE(types->itemText(0), QStringLiteral("All subscribers"));
        if (c.archived && c.version.Major == 5)
            QCOMPARE(types->itemText(1), QStringLiteral("Archived Mailboxes"));
        QCOMPARE(types->itemText(types->count() - 1),
                 QStringLiteral("Remote subscribers associated with this location:"));
        QCOMPARE(types->currentIndex(), 0);
        QCOMPARE(boxes.texts(), QStringList{});
        cleanup();
        init();
    }
}

void TestChooseSubscribers::eachCriterionShowsItsOwnInputOnTheRow()
{
    prepareServer({5, 0, 0, 0}, true);
    ScriptedMessageBoxes boxes;
    loadPage();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    QCOMPARE(QApplication::focusWidget(), types);

    const QStringList inputs{QStringLiteral("txtSubscriberExtensionRangeLow"),
                             QStringLiteral("lblExtensionRangeTo"),
                             QStringLiteral("txtSubscriberExtensionRangeHigh"),
                             QStringLiteral("comSubscriberSwitch"),
                             QStringLiteral("comSubscriberMailServer"),
                             QStringLiteral("txtCSVPath"),
                             QStringLiteral("cmdBrowseForCSV"),
                             QStringLiteral("ComSubscribersCOS"),
                             QStringLiteral("comSubscriberLocation"),
                             QStringLiteral("comSubscriberNodeID")};
    const QMap<int, QStringList> expected{
        {1, {}},
        {10, {}},
        {2,
         {QStringLiteral("txtSubscriberExtensionRangeLow"), QStringLiteral("lblExtensionRangeTo"),
          QStringLiteral("txtSubscriberExtensionRangeHigh")}},
        {4, {QStringLiteral("comSubscriberSwitch")}},
        {5, {QStringLiteral("comSubscriberMailServer")}},
        {6, {QStringLiteral("txtCSVPath"), QStringLiteral("cmdBrowseForCSV")}},
        {7, {QStringLiteral("ComSubscribersCOS")}},
        {8, {QStringLiteral("comSubscriberLocation")}},
        {9, {QStringLiteral("comSubscriberNodeID")}},
    };
    for (int index = types->count() - 1; index >= 0; --index) {
        types->setCurrentIndex(index);
        QApplication::processEvents();
        const int code = types->itemData(index).toInt();
        QStringList shown;
        for (const QString& name : inputs) {
            auto* input = m_page->findChild<QWidget*>(name);
            if (input->isVisible()) {
                shown.append(name);
                // On the row of the combo box: their vertical extents overlap.
                const QRect a = input->geometry();
                const QRect b = types->geometry();
                QVERIFY2(a.top() < b.bottom() && b.top() < a.bottom(), qPrintable(name));
                QVERIFY2(a.left() >= b.right(), qPrintable(name));
            }
        }
        QCOMPARE(shown, expected.value(code));
    }

    // Text typed in one criterion's input is still there after a detour through another.
    types->setCurrentIndex(types->findData(2));
    QTest::keyClicks(child<QLineEdit>("txtSubscriberExtensionRangeHigh"), QStringLiteral("4711"));
    types->setCurrentIndex(types->findData(7));
    types->setCurrentIndex(types->findData(2));
    QCOMPARE(child<QLineEdit>("txtSubscriberExtensionRangeHigh")->text(), QStringLiteral("4711"));
    QVERIFY(child<QLineEdit>("txtCSVPath")->isReadOnly());
    QCOMPARE(boxes.texts(), QStringList{});

    // An entry whose code belongs to no criterion shows no input and says so.
    types->addItem(QStringLiteral("bogus"), 3);
    types->setCurrentIndex(types->count() - 1);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Error! Invalid subscriber selection value.")});
    for (const QString& name : inputs)
        QVERIFY(!m_page->findChild<QWidget*>(name)->isVisible());
}

void TestChooseSubscribers::aFailingQueryEmptiesOnlyItsList()
{
    prepareServer({5, 0, 0, 0});
    QVERIFY(m_standin->exec(QStringLiteral("DROP VIEW vw_Location")));
    ScriptedMessageBoxes boxes;
    loadPage();
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY2(boxes.texts().constFirst().startsWith(QStringLiteral("(error):")),
             qPrintable(boxes.texts().constFirst()));
    QVERIFY(boxes.texts().constFirst().endsWith(
        QStringLiteral(") in procedure Form_Load of Form frmChooseSubscribers")));
    QVERIFY(boxes.texts().constFirst().contains(QStringLiteral("vw_Location")));
    QCOMPARE(child<QComboBox>("comSubscriberLocation")->count(), 0);
    QCOMPARE(child<QComboBox>("comSubscriberLocationHidden")->count(), 0);
    QCOMPARE(child<QComboBox>("comSubscriberNodeID")->count(), 2);
    QCOMPARE(child<QComboBox>("ComSubscribersCOS")->count(), 4);
    QVERIFY(m_page->isVisible());
}

void TestChooseSubscribers::gridButtonsAndNextChecks()
{
    prepareServer({5, 0, 0, 0});
    ScriptedMessageBoxes boxes;
    loadPage();
    SubscriberGridModel& grid = m_page->grid();
    auto* next = child<QPushButton>("cmdNext");

    QTest::mouseClick(child<QPushButton>("cmdSelectAll"), Qt::LeftButton);
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("You must first select subscribers to delete")});

    addRows(grid, 3);
    QTest::mouseClick(child<QPushButton>("cmdUnselectAll"), Qt::LeftButton);
    for (int row = 1; row <= 3; ++row)
        QVERIFY(!grid.isChecked(row));
    boxes.clear();
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("You must select at least one subscriber to delete")});

    // A click on a text cell of the real view checks that row again; one checked row is enough.
    auto* view = child<QTableView>("myGrid");
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    const QRect cell = view->visualRect(
        grid.index(SubscriberGridModel::viewRowFromGridRow(2), SubscriberGridModel::ColDisplayName));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(grid.isChecked(2));
    boxes.clear();
    QTest::mouseClick(next, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{});
    QVERIFY(m_page->isVisible());

    QTest::mouseClick(child<QPushButton>("cmdSelectAll"), Qt::LeftButton);
    QVERIFY(grid.isChecked(1) && grid.isChecked(3));
    child<QLineEdit>("txtUsersInGrid")->setText(QStringLiteral("3"));
    QTest::mouseClick(child<QPushButton>("cmdClearGrid"), Qt::LeftButton);
    QCOMPARE(grid.Rows(), 1);
    QCOMPARE(grid.rowCount(), 0);
    QCOMPARE(child<QLineEdit>("txtUsersInGrid")->text(), QStringLiteral("0"));

    QTest::mouseClick(child<QPushButton>("cmdExit"), Qt::LeftButton);
    QCOMPARE(m_exits, 1);
}

void TestChooseSubscribers::nextWalksBeyond32767Rows()
{
    prepareServer({5, 0, 0, 0});
    ScriptedMessageBoxes boxes;
    loadPage();
    SubscriberGridModel& grid = m_page->grid();
    addRows(grid, 40000);
    QCOMPARE(grid.Rows(), 40001);
    grid.setAllChecked(false);
    grid.setChecked(39999, true);
    QTest::mouseClick(child<QPushButton>("cmdNext"), Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestChooseSubscribers::extensionBoxesRefuseAnythingButWholeNumbers()
{
    prepareServer({5, 0, 0, 0});
    ScriptedMessageBoxes boxes;
    loadPage();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    types->setCurrentIndex(types->findData(2));
    auto* low = child<QLineEdit>("txtSubscriberExtensionRangeLow");
    auto* high = child<QLineEdit>("txtSubscriberExtensionRangeHigh");
    QCOMPARE(low->maxLength(), 20);
    QCOMPARE(high->maxLength(), 20);

    // The upper box is checked on every change.
    high->setFocus();
    QTest::keyClicks(high, QStringLiteral("123"));
    QCOMPARE(boxes.texts(), QStringList{});
    QTest::keyClicks(high, QStringLiteral("x"));
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    QCOMPARE(high->text(), QString());
    for (const QString& first : {QStringLiteral("-"), QStringLiteral(".")}) {
        boxes.clear();
        QTest::keyClicks(high, first);
        QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
        QCOMPARE(high->text(), QString());
    }
    boxes.clear();
    QTest::keyClicks(high, QStringLiteral("0042"));
    QCOMPARE(high->text(), QStringLiteral("0042"));

    // The lower box only when the focus moves on.
    low->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return low->hasFocus(); }));
    QTest::keyClicks(low, QStringLiteral("12.5"));
    QCOMPARE(boxes.texts(), QStringList{});
    QTest::keyClick(low, Qt::Key_Tab);
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    QCOMPARE(low->text(), QString());
    QVERIFY(!low->hasFocus());

    boxes.clear();
    low->setFocus();
    QTest::keyClicks(low, QStringLiteral("5.0"));
    QTest::keyClick(low, Qt::Key_Tab);
    QCOMPARE(boxes.texts(), QStringList{kOnlyNumbers});
    boxes.clear();
    low->setFocus();
    QTest::keyClicks(low, QStringLiteral("0042"));
    QTest::keyClick(low, Qt::Key_Tab);
    QCOMPARE(boxes.texts(), QStringList{});
    QCOMPARE(low->text(), QStringLiteral("0042"));
}

void TestChooseSubscribers::navigationForthAndBackRebuildsThePage()
{
    prepareServer({5, 0, 0, 0});
    // Start-up reads the same registry and database itself.
    modOrvaneDB::CloseSharedLists();
    ScriptedMessageBoxes boxes;
    frmMain first;
    first.Form_Load();
    QCOMPARE(boxes.texts(), QStringList{});
    first.move(130, 90);
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    first.findChild<QRadioButton*>(QStringLiteral("optSubscriberDeleteAll"))->setChecked(true);
    const QPoint where = first.pos();

    for (int visit = 0; visit < 2; ++visit) {
        QTest::mouseClick(first.findChild<QPushButton*>(QStringLiteral("cmdNext")), Qt::LeftButton);
        frmChooseSubscribers* page = first.chooseSubscribersPage();
        QVERIFY(page);
        QVERIFY(page->isVisible());
        QVERIFY(!first.isVisible());
        // Handed on, but moved left as far as this page, wider than the test's screen, needs.
        const QRect area = page->screen()->availableGeometry();
        QCOMPARE(page->pos(),
                 QPoint(std::min(where.x(), area.right() + 1 - page->frameGeometry().width()), where.y()));
        QVERIFY(area.contains(page->frameGeometry()));
        // Every visit builds the lists anew rather than adding to them.
        QCOMPARE(page->findChild<QComboBox*>(QStringLiteral("ComSubscribersCOS"))->count(), 4);
        QCOMPARE(page->findChild<QComboBox*>(QStringLiteral("comHiddenCOS"))->count(), 4);
        QCOMPARE(page->findChild<QComboBox*>(QStringLiteral("comSubscriberSwitch"))->count(), 2);
        QCOMPARE(page->findChild<QComboBox*>(QStringLiteral("cmbSubscriberSelectType"))->count(), 8);

        addRows(page->grid(), 2);
        page->findChild<QLineEdit*>(QStringLiteral("txtUsersInGrid"))->setText(QStringLiteral("2"));
        QPointer<frmChooseSubscribers> watch(page);
        const QPoint handedBack = page->pos();
        QTest::mouseClick(page->findChild<QPushButton*>(QStringLiteral("cmdPrevious")), Qt::LeftButton);
        QCOMPARE(page->grid().Rows(), 1);
        QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("txtUsersInGrid"))->text(), QStringLiteral("0"));
        QVERIFY(first.isVisible());
        QCOMPARE(first.pos(), handedBack);
        QTRY_VERIFY(watch.isNull());
        QVERIFY(!first.chooseSubscribersPage());
        QVERIFY(first.deleteAllSelected());
    }
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestChooseSubscribers::archivedCountThatCannotOpenIsReportedOnce()
{
    prepareServer({5, 0, 0, 0}, true);
    QVERIFY(m_standin->exec(QStringLiteral("DROP VIEW vw_subscriber")));
    ScriptedMessageBoxes boxes;
    loadPage();
    // One report for the count, one for the node list that reads the same view; no closed-recordset noise.
    QCOMPARE(boxes.texts().size(), 2);
    for (const QString& text : boxes.texts())
        QVERIFY2(!text.startsWith(QStringLiteral("(error):3704")), qPrintable(text));
    QVERIFY(boxes.texts().constFirst().contains(QStringLiteral("vw_subscriber"), Qt::CaseInsensitive));
    QCOMPARE(codesOf(child<QComboBox>("cmbSubscriberSelectType")), (QList<int>{1, 9, 2, 4, 6, 7, 5, 8}));
}

void TestChooseSubscribers::addSubscribersFillsTheGridBehindTheSplashWindow()
{
    prepareServer({5, 0, 1, 33});
    // The generated subscribers in place of the hand-made ones.
    m_standin.reset();
    m_standin = std::make_unique<StandinFixture>(400);
    QVERIFY(m_standin->isValid());
    modOrvaneDB::CloseSharedLists();
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    frmSplashScreen splash;
    loadPage();
    m_page->setSplashScreen(&splash);
    m_page->move(100, 80);
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    auto* view = child<QPushButton>("cmdView");
    auto* count = child<QLineEdit>("txtUsersInGrid");
    QVERIFY(view->isEnabled());

    // While a message of the query is open, the splash window stands at its place and the pointer waits.
    types->setCurrentIndex(types->findData(4));
    child<QComboBox>("comSubscriberSwitch")->setCurrentIndex(0); // East, identifier 2
    QVERIFY(m_standin->exec(QStringLiteral("UPDATE subscriber SET SwitchID = NULL WHERE SwitchID = 2")));
    bool splashShown = false;
    bool waiting = false;
    QPoint splashAt;
    MsgBox::Handler previous = MsgBox::setHandler([&](const QString& text, MsgBox::Buttons) {
        splashShown = splash.isVisible();
        splashAt = splash.pos();
        waiting = m_page->cursor().shape() == Qt::WaitCursor;
        return text.isEmpty() ? MsgBox::vbCancel : MsgBox::vbOK;
    });
    QTest::mouseClick(view, Qt::LeftButton);
    MsgBox::setHandler(std::move(previous));
    QVERIFY(splashShown);
    QVERIFY(waiting);
    QCOMPARE(splashAt,
             m_page->pos() + QPoint(SubscriberGridModel::twipsToPixels(2200, m_page->logicalDpiX()),
                                    SubscriberGridModel::twipsToPixels(4700, m_page->logicalDpiY())));
    QVERIFY(!splash.isVisible());
    QVERIFY(m_page->cursor().shape() != Qt::WaitCursor);
    QCOMPARE(count->text(), QStringLiteral("0"));

    // All subscribers: every row the grid accepts, the count beside it; pressing again gives the same.
    types->setCurrentIndex(0);
    ScriptedMessageBoxes boxes;
    QTest::mouseClick(view, Qt::LeftButton);
    const qint32 rows = m_page->grid().Rows();
    QVERIFY(rows > 300);
    QCOMPARE(count->text(), QString::number(rows - 1));
    // Subscribers without a class of service are refused by the grid, one message each.
    QVERIFY(!boxes.texts().isEmpty());
    for (const QString& text : boxes.texts())
        QVERIFY(text.startsWith(QStringLiteral("Error, invalid COSObjectID string")));
    QVERIFY(m_page->grid().redraw());
    QCOMPARE(m_page->grid().rowCount(), rows - 1);
    QCOMPARE(splash.label()->text(), QString::number(rows - 1 + boxes.texts().size()));
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(m_page->grid().Rows(), rows);
    QCOMPARE(m_page->grid().TextMatrix(1, SubscriberGridModel::ColRowIndex), QStringLiteral("1"));

    // A mail server: the grid is replaced, not added to.
    types->setCurrentIndex(types->findData(5));
    auto* servers = child<QComboBox>("comSubscriberMailServer");
    servers->setCurrentIndex(servers->findText(QStringLiteral("EXCH-BRANCH")));
    boxes.clear();
    QTest::mouseClick(view, Qt::LeftButton);
    QVERIFY(m_page->grid().Rows() > 10);
    QVERIFY(m_page->grid().Rows() < rows / 3);
    for (qint32 row = 1; row < m_page->grid().Rows(); ++row)
        QCOMPARE(m_page->grid().subscriberRow(row).HomeServer, QStringLiteral("EXCH-BRANCH"));
    QCOMPARE(count->text(), QString::number(m_page->grid().Rows() - 1));

    // A query that breaks: the grid keeps what it has, one message, the page is usable again.
    QVERIFY(m_standin->exec(QStringLiteral("DROP VIEW vw_CallHandler")));
    boxes.clear();
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY(boxes.texts().constFirst().contains(QStringLiteral("vw_CallHandler")));
    QCOMPARE(m_page->grid().Rows(), 1);
    QCOMPARE(count->text(), QStringLiteral("0"));
    QVERIFY(!splash.isVisible());
    QVERIFY(m_page->cursor().shape() != Qt::WaitCursor);
}

void TestChooseSubscribers::browseKeepsThePathUnlessAFileIsChosen()
{
    prepareServer({5, 0, 1, 33});
    loadPage();
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    types->setCurrentIndex(types->findData(6));
    auto* browse = child<QPushButton>("cmdBrowseForCSV");
    auto* path = child<QLineEdit>("txtCSVPath");
    QVERIFY(browse->isEnabled());
    QVERIFY(path->isReadOnly());
    ScriptedFileDialog dialog;
    dialog.setNextChoice(QStringLiteral("/srv/lists/leavers.csv"));
    dialog.setNextChoice(std::nullopt);
    dialog.setNextChoice(QStringLiteral("/ab"));
    dialog.setNextChoice(QStringLiteral("/tmp/does-not-exist.csv"));
    QTest::mouseClick(browse, Qt::LeftButton);
    QCOMPARE(path->text(), QStringLiteral("/srv/lists/leavers.csv"));
    QTest::mouseClick(browse, Qt::LeftButton); // cancelled
    QCOMPARE(path->text(), QStringLiteral("/srv/lists/leavers.csv"));
    QTest::mouseClick(browse, Qt::LeftButton); // too short to be a file name
    QCOMPARE(path->text(), QStringLiteral("/srv/lists/leavers.csv"));
    QTest::mouseClick(browse, Qt::LeftButton); // a file that does not exist is taken
    QCOMPARE(path->text(), QStringLiteral("/tmp/does-not-exist.csv"));

    QCOMPARE(dialog.requests().size(), 4);
    const FileDialog::Request& first = dialog.requests().constFirst();
    QCOMPARE(first.title, QStringLiteral("Select CSV file for subscriber selection"));
    // The filter as Qt's own dialog reads it: a file without a dot is listed as well.
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const char* name : {"leavers", "leavers.csv"}) {
            QFile file(folder.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QFileDialog qtDialog(nullptr, first.title, folder.path(), first.filter);
        qtDialog.setOption(QFileDialog::DontUseNativeDialog);
        qtDialog.show();
        auto* list = qtDialog.findChild<QListView*>(QStringLiteral("listView"));
        QVERIFY(list);
        const auto listed = [&] {
            QStringList names;
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
                names.append(list->model()->index(row, 0, list->rootIndex()).data().toString());
            names.sort();
            return names;
        };
        QTRY_COMPARE(listed(), (QStringList{QStringLiteral("leavers"), QStringLiteral("leavers.csv")}));
    }
    QCOMPARE(first.initialFolder, QDir::homePath());
    QCOMPARE(first.fileName, QString());
    QCOMPARE(dialog.requests().at(1).fileName, QStringLiteral("/srv/lists/leavers.csv"));
}

void TestChooseSubscribers::csvImportFromThePage()
{
    prepareServer({5, 0, 1, 33});
    m_standin.reset();
    m_standin = std::make_unique<StandinFixture>(400);
    QVERIFY(m_standin->isValid());
    modOrvaneDB::CloseSharedLists();
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    frmSplashScreen splash;
    loadPage();
    m_page->setSplashScreen(&splash);
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    types->setCurrentIndex(types->findData(6));
    auto* view = child<QPushButton>("cmdView");

    // Nothing chosen yet: the file cannot be opened.
    ScriptedMessageBoxes boxes;
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(boxes.texts(),
             (QStringList{QStringLiteral("Error! Could not open CSV input file."),
                          QStringLiteral("Import complete.   0 lines read in from text file,  0 "
                                         "users added to grid.")}));

    const QString file = m_standin->folder() + QStringLiteral("/leavers.csv");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("Alias,Extension\r\nuser00013,\r\n,402\r\n");
    out.close();
    ScriptedFileDialog dialog;
    dialog.setNextChoice(file);
    QTest::mouseClick(child<QPushButton>("cmdBrowseForCSV"), Qt::LeftButton);
    boxes.clear();
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(boxes.texts(),
             QStringList{QStringLiteral(
                 "Import complete.   2 lines read in from text file,  2 users added to grid.")});
    QCOMPARE(m_page->grid().Rows(), 3);
    QCOMPARE(m_page->grid().subscriberRow(1).Alias, QStringLiteral("user00013"));
    QCOMPARE(m_page->grid().subscriberRow(2).Extension, QStringLiteral("402"));
    QCOMPARE(child<QLineEdit>("txtUsersInGrid")->text(), QStringLiteral("2"));
    QVERIFY(!splash.isVisible());

    // A subscriber the file names twice (by extension and alias on one line, and on a line of its own) is
    // added once; the summary box says how many were left out, on a line of its own.
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write("Alias,Extension\r\nuser00013,401\r\n,402\r\nuser00013,\r\n");
    out.close();
    boxes.clear();
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral(
                                "Import complete.   3 lines read in from text file,  2 users added to "
                                "grid.\n2 duplicate(s) left out: subscribers the file names more than "
                                "once are added once.")});
    QCOMPARE(m_page->grid().Rows(), 3);
    QCOMPARE(m_page->grid().subscriberRow(1).Alias, QStringLiteral("user00013"));
    QCOMPARE(m_page->grid().subscriberRow(1).Extension, QStringLiteral("401"));
    QCOMPARE(m_page->grid().subscriberRow(2).Extension, QStringLiteral("402"));
    QCOMPARE(child<QLineEdit>("txtUsersInGrid")->text(), QStringLiteral("2"));
}

void TestChooseSubscribers::filterNarrowsSortsAndChecksTheShownRows()
{
    prepareServer({5, 0, 1, 33});
    m_standin.reset();
    m_standin = std::make_unique<StandinFixture>(40);
    QVERIFY(m_standin->isValid());
    modOrvaneDB::CloseSharedLists();
    QVERIFY(modOrvaneDB::OpenSharedLists(kConnection));
    loadPage();
    ScriptedMessageBoxes boxes;
    SubscriberGridModel& grid = m_page->grid();
    auto* filter = child<QLineEdit>("txtFilter");
    auto* view = child<QTableView>("myGrid");
    auto* count = child<QLineEdit>("txtUsersInGrid");
    const auto fill = [&] { QTest::mouseClick(child<QPushButton>("cmdView"), Qt::LeftButton); };
    fill();
    const qint32 rows = grid.Rows() - 1;
    QVERIFY(rows > 20);
    QCOMPARE(count->text(), QString::number(rows));

    // The stand-in's names carry accents: "muller" finds every Müller, in any shown column.
    QTest::keyClicks(filter, QStringLiteral("muller"));
    int mullers = 0;
    for (qint32 row = 1; row <= rows; ++row) {
        bool found = false;
        for (int column = SubscriberGridModel::ColAlias; column <= SubscriberGridModel::ColRemoteNodeID;
             ++column)
            found =
                found || grid.TextMatrix(row, column).contains(QStringLiteral("müller"), Qt::CaseInsensitive);
        mullers += found ? 1 : 0;
    }
    QVERIFY(mullers > 1);
    QCOMPARE(view->model()->rowCount(), mullers);

    // Two subscribers get a name no other has; before that, nothing matches its accent-free spelling.
    filter->setText(QStringLiteral("ludenscheidt"));
    QCOMPARE(view->model()->rowCount(), 0);
    const QString first = grid.subscriberRow(3).ObjectID;
    const QString second = grid.subscriberRow(9).ObjectID;
    QVERIFY(m_standin->exec(QStringLiteral("UPDATE subscriber SET LastName = ? WHERE SubscriberObjectID = ?"),
                            {QStringLiteral("Müller-Lüdenscheidt"), first}));
    QVERIFY(
        m_standin->exec(QStringLiteral("UPDATE subscriber SET DisplayName = ? WHERE SubscriberObjectID = ?"),
                        {QStringLiteral("Petra LÜDENSCHEIDT"), second}));
    // The refill keeps the filter: only the two show, and the count box counts every row.
    fill();
    QCOMPARE(count->text(), QString::number(rows));
    QCOMPARE(view->model()->rowCount(), 2);
    const auto shownIds = [&] {
        QStringList ids;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            ids.append(view->model()->index(row, SubscriberGridModel::ColObjectID).data().toString());
        ids.sort();
        return ids;
    };
    QStringList both{first, second};
    both.sort();
    QCOMPARE(shownIds(), both);

    // "Check visible rows" checks those two only; "Select All" still reaches every row.
    QTest::mouseClick(child<QPushButton>("cmdUnselectAll"), Qt::LeftButton);
    child<QAction>("mnuCheckVisibleRows")->trigger();
    for (qint32 row = 1; row <= rows; ++row) {
        const QString id = grid.subscriberRow(row).ObjectID;
        QCOMPARE(grid.isChecked(row), id == first || id == second);
    }
    QCOMPARE(count->text(), QString::number(rows));
    QTest::mouseClick(child<QPushButton>("cmdSelectAll"), Qt::LeftButton);
    child<QAction>("mnuUncheckVisibleRows")->trigger();
    for (qint32 row = 1; row <= rows; ++row) {
        const QString id = grid.subscriberRow(row).ObjectID;
        QCOMPARE(grid.isChecked(row), id != first && id != second);
    }

    // Blanks around the text and letter case do not count; a hidden column's text matches nothing.
    filter->setText(QStringLiteral("  LüdenSCHEIDT "));
    QCOMPARE(view->model()->rowCount(), 2);
    filter->setText(first.mid(1, 8));
    QCOMPARE(view->model()->rowCount(), 0);
    child<QAction>("mnuCheckVisibleRows")->trigger();
    for (qint32 row = 1; row <= rows; ++row) {
        const QString id = grid.subscriberRow(row).ObjectID;
        QCOMPARE(grid.isChecked(row), id != first && id != second);
    }
    filter->clear();
    QCOMPARE(view->model()->rowCount(), rows);

    // A heading sorts the view only: the grid, which the deletion walks, keeps its order.
    QStringList gridOrder;
    for (qint32 row = 1; row <= rows; ++row)
        gridOrder.append(grid.TextMatrix(row, SubscriberGridModel::ColAlias));
    QHeaderView* header = view->horizontalHeader();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    const auto clickHeading = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 4, header->height() / 2));
    };
    const auto shownColumn = [&](int column) {
        QStringList texts;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            texts.append(view->model()->index(row, column).data().toString());
        return texts;
    };
    clickHeading(SubscriberGridModel::ColAlias);
    clickHeading(SubscriberGridModel::ColAlias);
    QCOMPARE(header->sortIndicatorSection(), int(SubscriberGridModel::ColAlias));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QStringList descending = gridOrder;
    std::sort(descending.begin(), descending.end(),
              [](const QString& a, const QString& b) { return a.toLower() > b.toLower(); });
    QCOMPARE(shownColumn(SubscriberGridModel::ColAlias), descending);
    QVERIFY(descending != gridOrder);
    for (qint32 row = 1; row <= rows; ++row)
        QCOMPARE(grid.TextMatrix(row, SubscriberGridModel::ColAlias), gridOrder.at(row - 1));
    // A click on the first shown row toggles that subscriber, wherever the grid holds it; the check
    // heading leaves the order as it is.
    const qint32 topRow = qint32(gridOrder.indexOf(descending.constFirst())) + 1;
    const bool before = grid.isChecked(topRow);
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, {},
        view->visualRect(view->model()->index(0, SubscriberGridModel::ColDisplayName)).center());
    QCOMPARE(grid.isChecked(topRow), !before);
    clickHeading(SubscriberGridModel::ColSelected);
    QCOMPARE(shownColumn(SubscriberGridModel::ColAlias), descending);
    QCOMPARE(header->sortIndicatorSection(), int(SubscriberGridModel::ColAlias));
    // Extensions sort as numbers; a third click returns to the grid's order.
    clickHeading(SubscriberGridModel::ColExtension);
    const QStringList extensions = shownColumn(SubscriberGridModel::ColExtension);
    for (int at = 1; at < extensions.size(); ++at)
        QVERIFY(extensions.at(at - 1).toLongLong() <= extensions.at(at).toLongLong());
    clickHeading(SubscriberGridModel::ColExtension);
    clickHeading(SubscriberGridModel::ColExtension);
    QCOMPARE(shownColumn(SubscriberGridModel::ColAlias), gridOrder);
    QVERIFY(!header->isSortIndicatorShown());

    // "Clear Grid" with a filter typed: no rows, count 0; the filter stays for the next fill.
    filter->setText(QStringLiteral("petra ludenscheidt"));
    QTest::mouseClick(child<QPushButton>("cmdClearGrid"), Qt::LeftButton);
    QCOMPARE(view->model()->rowCount(), 0);
    QCOMPARE(count->text(), QStringLiteral("0"));
    fill();
    QCOMPARE(shownIds(), QStringList{second});
}

void TestChooseSubscribers::filterCaptionsFollowTheLanguage()
{
    prepareServer({5, 0, 0, 0});
    loadPage();
    QCOMPARE(Keyboard::shownText(child<QLabel>("lblFilter")->text()), QStringLiteral("Filter:"));
    QCOMPARE(Keyboard::shownText(child<QAction>("mnuCheckVisibleRows")->text()),
             QStringLiteral("Check visible rows"));
    QCOMPARE(Keyboard::shownText(child<QAction>("mnuUncheckVisibleRows")->text()),
             QStringLiteral("Uncheck visible rows"));

    QTemporaryDir folder;
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll"),
                        folder.filePath(QStringLiteral("Culvane_DEU.dll"))));
    modLocalize::setProgramLocation(folder.path(), QStringLiteral("Culvane"));
    modLocalize::setCurrentLangID(1031);
    modLocalize::InitalizeLanguages();
    m_page->frmChooseSubscribers_Auto_Init();
    modLocalize::setProgramLocation({}, {});
    QCOMPARE(Keyboard::shownText(child<QLabel>("lblFilter")->text()), QStringLiteral("Filter:"));
    QCOMPARE(Keyboard::shownText(child<QAction>("mnuCheckVisibleRows")->text()),
             QStringLiteral("Sichtbare Zeilen markieren"));
    QCOMPARE(Keyboard::shownText(child<QAction>("mnuUncheckVisibleRows")->text()),
             QStringLiteral("Markierung sichtbarer Zeilen aufheben"));
    QCOMPARE(Keyboard::shownText(child<QPushButton>("cmdSelectAll")->text()),
             QStringLiteral("Alle auswählen"));
}

void TestChooseSubscribers::aFillLocksThePageAndNothingFreesIt()
{
    prepareServer({5, 0, 1, 33});
    m_standin.reset();
    m_standin = std::make_unique<StandinFixture>(40);
    QVERIFY(m_standin->isValid());
    modOrvaneDB::CloseSharedLists();
    ScriptedMessageBoxes quiet;
    frmMain first;
    first.Form_Load();
    first.show();
    QTest::mouseClick(first.findChild<QPushButton*>(QStringLiteral("cmdNext")), Qt::LeftButton);
    QPointer<frmChooseSubscribers> page(first.chooseSubscribersPage());
    QVERIFY(page && page->isVisible());
    const auto button = [&](const char* name) {
        return page->findChild<QPushButton*>(QString::fromLatin1(name));
    };
    auto* types = page->findChild<QComboBox*>(QStringLiteral("cmbSubscriberSelectType"));
    types->setCurrentIndex(types->findData(6));
    const QString file = m_standin->folder() + QStringLiteral("/leavers.csv");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("Alias\r\nuser00005\r\nmary ann 3\r\n");
    out.close();
    page->findChild<QLineEdit*>(QStringLiteral("txtCSVPath"))->setText(file);

    // The import's closing message is shown while the fill still runs; everything a user may press then
    // is pressed, and whatever the page would free is freed at once.
    int boxes = 0;
    int imports = 0;
    QStringList enabledDuringFill;
    bool filling = false;
    ScriptedFileDialog cancelled; // an unlocked "Browse..." or "Export..." would ask for a file
    const MsgBox::Handler previous = MsgBox::setHandler([&](const QString& text, MsgBox::Buttons) {
        if (text.startsWith(QStringLiteral("Import complete.")))
            ++imports;
        if (++boxes > 1 || !page)
            return MsgBox::vbOK;
        filling = page->isFilling();
        for (const char* name : {"cmdView", "cmdNext", "cmdPrevious", "cmdClearGrid", "cmdSelectAll",
                                 "cmdUnselectAll", "cmdExport", "cmdExit", "cmdBrowseForCSV"}) {
            if (button(name)->isEnabled())
                enabledDuringFill.append(QString::fromLatin1(name));
            QTest::mouseClick(button(name), Qt::LeftButton);
        }
        for (const char* name : {"cmbSubscriberSelectType", "myGrid", "txtFilter"}) {
            if (page->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled())
                enabledDuringFill.append(QString::fromLatin1(name));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return MsgBox::vbOK;
    });
    QTest::mouseClick(button("cmdView"), Qt::LeftButton);
    MsgBox::setHandler(previous);

    QVERIFY(filling);
    QCOMPARE(enabledDuringFill, QStringList{});
    QCOMPARE(imports, 1); // no second import started inside the first
    QCOMPARE(m_exits, 0);
    QVERIFY(page);
    QVERIFY(page->isVisible());
    QVERIFY(!first.isVisible());
    QVERIFY(!page->isFilling());
    QCOMPARE(page->grid().Rows(), 3);
    QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("txtUsersInGrid"))->text(), QStringLiteral("2"));
    // Unlocked as they were: every control usable again, "<< Previous" now leaves the page.
    for (const char* name : {"cmdView", "cmdNext", "cmdPrevious", "cmdClearGrid", "cmdExit"})
        QVERIFY2(button(name)->isEnabled(), name);
    QTest::mouseClick(button("cmdPrevious"), Qt::LeftButton);
    QVERIFY(first.isVisible());
    QTRY_VERIFY(page.isNull());
}

void TestChooseSubscribers::nextNamesCheckedRowsTheFilterHides()
{
    prepareServer({5, 0, 1, 33});
    loadPage();
    SubscriberGridModel& grid = m_page->grid();
    addRows(grid, 10);
    QSignalSpy next(m_page.get(), &frmChooseSubscribers::nextRequested);
    auto* filter = child<QLineEdit>("txtFilter");
    auto* nextButton = child<QPushButton>("cmdNext");
    ScriptedMessageBoxes boxes;

    // One row shown, all ten checked: nine would go unseen. NO stays on the page.
    QTest::keyClicks(filter, QStringLiteral("user3"));
    QCOMPARE(child<QTableView>("myGrid")->model()->rowCount(), 1);
    boxes.setNextAnswer(MsgBox::vbNo);
    QTest::mouseClick(nextButton, Qt::LeftButton);
    const QString hidden = QStringLiteral(
        "9 of the 10 checked subscribers are hidden by the filter and will be deleted with the "
        "others.  Press YES to go on to the deletion page, NO to stay here and look at them "
        "(clear the filter to show every row).");
    QCOMPARE(boxes.texts(), QStringList{hidden});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbYesNo});
    QCOMPARE(next.count(), 0);
    QCOMPARE(filter->text(), QStringLiteral("user3"));

    // Rows the filter hides count only while checked; YES goes on.
    grid.setChecked(4, false);
    grid.setChecked(5, false);
    boxes.clear();
    boxes.setNextAnswer(MsgBox::vbYes);
    QTest::mouseClick(nextButton, Qt::LeftButton);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY(boxes.texts().constFirst().startsWith(QStringLiteral("7 of the 8 checked subscribers")));
    QCOMPARE(next.count(), 1);

    // Every checked row in sight, or no filter at all: no question.
    QTest::mouseClick(child<QPushButton>("cmdUnselectAll"), Qt::LeftButton);
    grid.setChecked(3, true);
    boxes.clear();
    QTest::mouseClick(nextButton, Qt::LeftButton);
    QCOMPARE(next.count(), 2);
    filter->clear();
    QTest::mouseClick(child<QPushButton>("cmdSelectAll"), Qt::LeftButton);
    QTest::mouseClick(nextButton, Qt::LeftButton);
    QCOMPARE(next.count(), 3);
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestChooseSubscribers::criterionListsStartWithNothingChosen()
{
    prepareServer({5, 0, 1, 33});
    loadPage();
    auto* types = child<QComboBox>("cmbSubscriberSelectType");
    auto* view = child<QPushButton>("cmdView");
    struct Case {
        int code;
        const char* list;
        QString message; // what "Add" says while nothing is chosen
    };
    const Case cases[] = {
        {7, "ComSubscribersCOS", QStringLiteral("You must first select a COS")},
        {4, "comSubscriberSwitch", QStringLiteral("You must select a switch first")},
        {5, "comSubscriberMailServer", QStringLiteral("You must select a mailstore first")},
        {8, "comSubscriberLocation", QStringLiteral("You must select a location first")},
        {9, "comSubscriberNodeID", QString()},
    };
    for (const Case& c : cases) {
        auto* list = child<QComboBox>(c.list);
        QVERIFY2(list->count() > 0, c.list);
        QCOMPARE(list->currentIndex(), -1);
        QCOMPARE(list->currentText(), QString());
        types->setCurrentIndex(types->findData(c.code));
        ScriptedMessageBoxes boxes;
        QTest::mouseClick(view, Qt::LeftButton);
        QCOMPARE(boxes.texts(), c.message.isEmpty() ? QStringList() : QStringList{c.message});
        QCOMPARE(m_page->grid().Rows(), 1);
    }

    // A choice made by the user is what runs: the second class of service by name, "Staff" (StaffNorth).
    types->setCurrentIndex(types->findData(7));
    auto* classes = child<QComboBox>("ComSubscribersCOS");
    classes->setCurrentIndex(1);
    QCOMPARE(classes->currentText(), QStringLiteral("Staff"));
    ScriptedMessageBoxes boxes;
    QTest::mouseClick(view, Qt::LeftButton);
    QCOMPARE(boxes.texts(), QStringList{});
}

void TestChooseSubscribers::gridRowsAreOneLineWithTheWholeTextAsTip()
{
    prepareServer({5, 0, 1, 33});
    loadPage();
    SubscriberGridModel& grid = m_page->grid();
    const QString longName = QStringLiteral("Executive Assistant to the Regional Director of Operations");
    grid.AddUserToGridFAST(QStringLiteral("ea1"), QStringLiteral("Pat"), QStringLiteral("Lee"), longName,
                           QStringLiteral("401"), QStringLiteral("MAIL1"), QString(), QString(),
                           QStringLiteral("Staff"), QStringLiteral("{S-1}"), QStringLiteral("{H-1}"));
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    auto* view = child<QTableView>("myGrid");
    const int line = view->fontMetrics().height();
    QVERIFY(!view->wordWrap());
    QCOMPARE(view->textElideMode(), Qt::ElideRight);
    QVERIFY2(view->rowHeight(0) >= line && view->rowHeight(0) < 2 * line,
             qPrintable(QStringLiteral("%1 for a line of %2").arg(view->rowHeight(0)).arg(line)));
    const QModelIndex cell = view->model()->index(0, SubscriberGridModel::ColDisplayName);
    QVERIFY(view->columnWidth(SubscriberGridModel::ColDisplayName) <
            view->fontMetrics().horizontalAdvance(longName));
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(), longName);

    // A language's larger font keeps the rows one line of that font high.
    QFont larger = view->font();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    view->setFont(larger);
    const int largerLine = QFontMetrics(larger).height();
    QVERIFY(view->rowHeight(0) >= largerLine && view->rowHeight(0) < 2 * largerLine);
}

namespace {
// Every control of `window` lies inside it and shows its whole text: buttons and plain labels at least
// as wide as they ask, wrapped texts as tall as their width needs, grid headings as wide as their text.
void verifyTextsWhole(QWidget& window, const QString& where)
{
    QApplication::processEvents();
    const QRect inside = window.rect();
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        if (!button->isVisibleTo(&window))
            continue;
        const QRect at(button->mapTo(&window, QPoint(0, 0)), button->size());
        QVERIFY2(inside.contains(at), qPrintable(where + QLatin1Char(' ') + button->objectName()));
        QVERIFY2(button->width() >= button->minimumSizeHint().width(),
                 qPrintable(where + QLatin1Char(' ') + button->objectName()));
    }
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || label->text().isEmpty())
            continue;
        const QString what = where + QLatin1Char(' ') + label->objectName() + QLatin1Char(' ') +
                             QString::number(label->width()) + QLatin1Char('x') +
                             QString::number(label->height());
        if (label->wordWrap())
            QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(what));
        else
            QVERIFY2(label->width() >= label->minimumSizeHint().width(), qPrintable(what));
    }
    for (QTableView* grid : window.findChildren<QTableView*>()) {
        QHeaderView* header = grid->horizontalHeader();
        for (int col = 0; col < header->count(); ++col) {
            if (header->isSectionHidden(col) ||
                grid->model()->headerData(col, Qt::Horizontal).toString().isEmpty())
                continue;
            QVERIFY2(header->sectionSize(col) >= header->sectionSizeHint(col),
                     qPrintable(where + QLatin1Char(' ') +
                                grid->model()->headerData(col, Qt::Horizontal).toString()));
        }
    }
}

void verifyOnScreen(const QWidget& window, const QString& where)
{
    const QRect area = window.screen()->availableGeometry();
    QVERIFY2(area.contains(window.frameGeometry()),
             qPrintable(where + QStringLiteral(": %1,%2 %3x%4")
                                    .arg(window.frameGeometry().x())
                                    .arg(window.frameGeometry().y())
                                    .arg(window.frameGeometry().width())
                                    .arg(window.frameGeometry().height())));
}
} // namespace

void TestChooseSubscribers::pagesStayWhollyOnTheScreenWithEveryTextWhole()
{
    prepareServer({5, 0, 0, 0});
    modOrvaneDB::CloseSharedLists();
    ScriptedMessageBoxes quiet;
    frmMain first;
    first.Form_Load();
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    const QRect area = first.screen()->availableGeometry();

    // The first page was moved to the bottom right corner; each page that takes its place is moved (and
    // shrunk where the screen is small) until all of it is on the screen.
    first.move(area.right() - 120, area.bottom() - 90);
    QTest::mouseClick(namedChild<QPushButton>(first, "cmdNext"), Qt::LeftButton);
    frmChooseSubscribers* page = first.chooseSubscribersPage();
    QVERIFY(page && page->isVisible());
    verifyOnScreen(*page, QStringLiteral("selection page"));
    verifyTextsWhole(*page, QStringLiteral("selection page"));
    // Even at its smallest, which fits a small screen with every button in sight.
    QVERIFY2(page->minimumSize().width() <= area.width(), qPrintable(QString::number(page->minimumWidth())));
    page->resize(1, 1);
    verifyTextsWhole(*page, QStringLiteral("smallest selection page"));

    page->grid().AddUserToGridFAST(QStringLiteral("anna"), {}, {}, {}, QStringLiteral("100"), {}, {}, {},
                                   QStringLiteral("Staff"), QStringLiteral("{S}"), QStringLiteral("{H}"));
    page->move(area.left() - 300, area.bottom() - 10);
    QTest::mouseClick(namedChild<QPushButton>(*page, "cmdNext"), Qt::LeftButton);
    frmDeleteSubscribers* deletion = first.deleteSubscribersPage();
    QVERIFY(deletion && deletion->isVisible());
    verifyOnScreen(*deletion, QStringLiteral("deletion page"));
    verifyTextsWhole(*deletion, QStringLiteral("deletion page"));

    deletion->move(area.right() - 50, area.top() - 200);
    QTest::mouseClick(namedChild<QPushButton>(*deletion, "cmdPrevious"), Qt::LeftButton);
    QVERIFY(page->isVisible());
    verifyOnScreen(*page, QStringLiteral("selection page again"));
    page->move(area.right() - 10, area.bottom() - 10);
    QTest::mouseClick(namedChild<QPushButton>(*page, "cmdPrevious"), Qt::LeftButton);
    QVERIFY(first.isVisible());
    verifyOnScreen(first, QStringLiteral("first page again"));

    // In German, whose texts are longer, all the same.
    QTemporaryDir folder;
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll"),
                        folder.filePath(QStringLiteral("Culvane_DEU.dll"))));
    modLocalize::setProgramLocation(folder.path(), QStringLiteral("Culvane"));
    modLocalize::setCurrentLangID(1031);
    modLocalize::InitalizeLanguages();
    first.frmMain_Auto_Init();
    modLocalize::setProgramLocation({}, {});
    QTest::mouseClick(namedChild<QPushButton>(first, "cmdNext"), Qt::LeftButton);
    page = first.chooseSubscribersPage();
    QVERIFY(page && page->isVisible());
    QCOMPARE(page->grid().headerText(QStringLiteral("Extension")), QStringLiteral("Durchwahl"));
    verifyOnScreen(*page, QStringLiteral("German selection page"));
    QVERIFY2(page->minimumSize().width() <= area.width(), qPrintable(QString::number(page->minimumWidth())));
    page->resize(1, 1);
    verifyTextsWhole(*page, QStringLiteral("smallest German selection page"));
    QCOMPARE(m_exits, 0);
}

void TestChooseSubscribers::firstPageFitsItsTextsAtAnySizeAndFont()
{
    prepareServer({5, 0, 0, 0});
    modOrvaneDB::CloseSharedLists();
    ScriptedMessageBoxes quiet;
    // The font of a 144-dpi screen: one and a half times as many pixels.
    const QFont normal = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(normal); });
    for (const qreal scale : {1.0, 1.5}) {
        QFont font = normal;
        font.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(font);
        frmMain first;
        first.Form_Load();
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        const QString where = QStringLiteral("font x%1").arg(scale);
        verifyTextsWhole(first, where + QStringLiteral(" at the start"));
        // No taller than its screen: wider where the designed width would wrap the texts too often. A
        // 1366x768 screen at 1.5 times the pixels is 911x512; the same with a task bar, and a 1024x600 one;
        // the larger font on a 1366x768 screen with a task bar.
        const QList<QRect> areas =
            scale == 1.0 ? QList<QRect>{QRect(0, 0, 911, 512), QRect(0, 40, 911, 472), QRect(0, 0, 1024, 600)}
                         : QList<QRect>{QRect(0, 0, 1366, 728)};
        for (const QRect& area : areas + QList<QRect>{first.screen()->availableGeometry()}) {
            first.fitStartSizeTo(area);
            const QString on = where + QStringLiteral(" on %1x%2: %3x%4")
                                           .arg(area.width())
                                           .arg(area.height())
                                           .arg(first.width())
                                           .arg(first.height());
            QVERIFY2(first.width() <= area.width() && first.height() + 30 <= area.height(), qPrintable(on));
            verifyTextsWhole(first, on);
        }
        // Narrowed as far as the page lets itself be: the wrapped texts grow taller instead of overlapping.
        first.resize(1, 1);
        verifyTextsWhole(first, where + QStringLiteral(" at its smallest"));
        first.resize(first.width(), 1);
        verifyTextsWhole(first, where + QStringLiteral(" at its lowest"));
    }
}

void TestChooseSubscribers::closingAPageEndsTheProgramWithHelpOpen()
{
    prepareServer({5, 0, 0, 0});
    modOrvaneDB::CloseSharedLists();
    ScriptedMessageBoxes quiet;
    // The test's own closing of every window must not end the test program.
    QApplication::setQuitOnLastWindowClosed(false);
    const auto restore = qScopeGuard([] { QApplication::setQuitOnLastWindowClosed(true); });
    {
        frmMain first;
        first.Form_Load();
        first.show();
        QCOMPARE(m_exits, 0);
        QPointer<frmHelp> help = frmHelp::showHelp();
        QVERIFY(help && help->isVisible());
        QVERIFY(first.close());
        QCOMPARE(m_exits, 1);
        delete help;
    }
    modOrvaneDB::CloseSharedLists();
    frmMain first;
    first.Form_Load();
    first.show();
    QTest::mouseClick(namedChild<QPushButton>(first, "cmdNext"), Qt::LeftButton);
    frmChooseSubscribers* page = first.chooseSubscribersPage();
    QVERIFY(page && page->isVisible());
    QCOMPARE(m_exits, 1);
    QPointer<frmHelp> help = frmHelp::showHelp();
    QVERIFY(page->close());
    QCOMPARE(m_exits, 2);
    delete help;
}

QTEST_MAIN(TestChooseSubscribers)
#include "test_choosesubscribers.moc"
