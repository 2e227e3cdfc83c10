#include "common/ScriptedPorts.h"
#include "ports/CulvaneError.h"
#include "selection/SubscriberFilterModel.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberGridView.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

namespace {

const QString kAliasMessage =
    QStringLiteral("Error, invalid Alias string passed into AdDUserToGridFast routine.  Skipping user");
const QString kCosMessage =
    QStringLiteral("Error, invalid COSObjectID string passed into AdDUserToGridFast routine.  Skipping user");
const QString kObjectIdMessage = QStringLiteral(
    "Error, invalid SubscriberObjectID string passed into AdDUserToGridFast routine.  Skipping user");
const QString kHandlerMessage = QStringLiteral(
    "Error, invalid CallHandlerObjectID string passed into AdDUserToGridFast routine.  Skipping user");

// Appends a valid subscriber whose texts all carry the tag.
void addUser(SubscriberGridModel& grid, const QString& tag)
{
    grid.AddUserToGridFAST(
        tag + QStringLiteral("-alias"), tag + QStringLiteral("-first"), tag + QStringLiteral("-last"),
        tag + QStringLiteral("-display"), tag + QStringLiteral("-ext"), tag + QStringLiteral("-server"),
        tag + QStringLiteral("-node"), tag + QStringLiteral("-legacy"), tag + QStringLiteral("-cos"),
        tag + QStringLiteral("-object"), tag + QStringLiteral("-handler"));
}

// Counts the structural and data notifications a model sends.
struct SignalCounter {
    explicit SignalCounter(QAbstractItemModel& model)
        : resets(&model, &QAbstractItemModel::modelReset),
          inserted(&model, &QAbstractItemModel::rowsInserted),
          removed(&model, &QAbstractItemModel::rowsRemoved), changed(&model, &QAbstractItemModel::dataChanged)
    {
    }
    int structural() const { return int(resets.count() + inserted.count() + removed.count()); }
    void clear()
    {
        resets.clear();
        inserted.clear();
        removed.clear();
        changed.clear();
    }
    QSignalSpy resets;
    QSignalSpy inserted;
    QSignalSpy removed;
    QSignalSpy changed;
};

int errorNumberOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CulvaneError& error) {
        return error.number();
    }
    return 0;
}

} // namespace

class TestSubscriberGrid : public QObject {
    Q_OBJECT

private slots:
    void columnsKeysAndHeaders();
    void emptyGrid();
    void appendRefusesIncompleteRows();
    void appendStoresRowsAsPassed();
    void modelTesterThroughEveryFlow();
    void suspendedBatchAnnouncesOnce();
    void flagsGuardEditing();
    void clickToggleRule();
    void moreRowsThanSixteenBits();
    void realViewClicksAndEdits();
    void filterFoldsAndFollowsTheGrid();
};

void TestSubscriberGrid::columnsKeysAndHeaders()
{
    SubscriberGridModel grid;
    QCOMPARE(grid.columnCount(), 13);
    const QStringList keys{QString(),
                           QStringLiteral("Selected"),
                           QStringLiteral("Alias"),
                           QStringLiteral("DisplayName"),
                           QStringLiteral("FirstName"),
                           QStringLiteral("LastName"),
                           QStringLiteral("Extension"),
                           QStringLiteral("HomeServer"),
                           QStringLiteral("COS"),
                           QStringLiteral("LegacyMailbox"),
                           QStringLiteral("RemoteNodeID"),
                           QStringLiteral("HandlerObjectID"),
                           QStringLiteral("ObjectID")};
    const QList<int> widths{270, 255, 1500, 2340, 1305, 1500, 1020, 1665, 960, 1275, 1380, 960, 960};
    for (int col = 0; col < 13; ++col) {
        QCOMPARE(QLatin1String(SubscriberGridModel::columnInfo(col).key), keys[col]);
        QCOMPARE(SubscriberGridModel::columnInfo(col).widthTwips, widths[col]);
        if (col > 0) {
            QCOMPARE(grid.ColIndex(keys[col]), col);
            QCOMPARE(grid.ColIndex(keys[col].toLower()), col);
            QCOMPARE(grid.ColIndex(keys[col].toUpper()), col);
        }
    }
    QCOMPARE(grid.ColIndex(QStringLiteral("selected")), grid.ColIndex(QStringLiteral("Selected")));
    QCOMPARE(grid.ColIndex(QStringLiteral("Selected")), 1);
    QCOMPARE(grid.ColIndex(QStringLiteral("NoSuchColumn")), -1);
    QCOMPARE(grid.ColIndex(QString()), -1);
    QCOMPARE(SubscriberGridModel::hiddenColumns(), (QList<int>{0, 11, 12}));

    // Fixed headers for 9-12, nothing for 0 and 1; 2-8 come from the page.
    QCOMPARE(grid.TextMatrix(0, 9), QStringLiteral("Legacy Mailbox"));
    QCOMPARE(grid.TextMatrix(0, 10), QStringLiteral("Remote Node ID"));
    QCOMPARE(grid.headerText(QStringLiteral("handlerobjectid")), QStringLiteral("HandlerObjectID"));
    QCOMPARE(grid.headerData(12, Qt::Horizontal).toString(), QStringLiteral("ObjectID"));
    QVERIFY(grid.TextMatrix(0, 0).isEmpty());
    QVERIFY(grid.TextMatrix(0, 1).isEmpty());

    QSignalSpy headers(&grid, &QAbstractItemModel::headerDataChanged);
    grid.setHeaderText(QStringLiteral("DisplayName"), QStringLiteral("Anzeigename"));
    QCOMPARE(headers.count(), 1);
    QCOMPARE(headers.at(0).at(1).toInt(), 3);
    QCOMPARE(grid.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Anzeigename"));
    QCOMPARE(grid.TextMatrix(0, 3), QStringLiteral("Anzeigename"));
    QCOMPARE(errorNumberOf([&] { grid.setHeaderText(QStringLiteral("Nope"), QStringLiteral("x")); }),
             ErrorNumbers::SubscriptOutOfRange);

    QCOMPARE(SubscriberGridModel::twipsToPixels(1440, 96), 96);
    QCOMPARE(SubscriberGridModel::twipsToPixels(2340, 96), 156);
    QCOMPARE(SubscriberGridModel::twipsToPixels(255, 120), 21);
}

void TestSubscriberGrid::emptyGrid()
{
    SubscriberGridModel grid;
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QCOMPARE(grid.Rows(), 1);
    QCOMPARE(grid.rowCount(), 0);
    QCOMPARE(grid.Row(), 0);
    QVERIFY(!grid.isChecked(0));

    SignalCounter signals_(grid);
    grid.setAllChecked(true);
    grid.setAllChecked(false);
    grid.clear();
    QCOMPARE(signals_.structural() + signals_.changed.count(), 0);
    QCOMPARE(grid.Rows(), 1);

    QCOMPARE(errorNumberOf([&] { grid.TextMatrix(1, 2); }), ErrorNumbers::SubscriptOutOfRange);
    QCOMPARE(errorNumberOf([&] { grid.setChecked(1, true); }), ErrorNumbers::SubscriptOutOfRange);
    QCOMPARE(errorNumberOf([&] { grid.TextMatrix(0, 13); }), ErrorNumbers::SubscriptOutOfRange);
    QCOMPARE(errorNumberOf([&] { grid.setRows(0); }), ErrorNumbers::InvalidProcedureCall);
}

void TestSubscriberGrid::appendRefusesIncompleteRows()
{
    ScriptedMessageBoxes boxes;
    SubscriberGridModel grid;
    const QString x = QStringLiteral("x");
    const QString none;

    grid.AddUserToGridFAST(none, x, x, x, x, x, x, x, x, x, x);
    QCOMPARE(boxes.texts(), QStringList{kAliasMessage});
    QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
    QCOMPARE(grid.Rows(), 1);

    // Empty alias and empty class of service: the first failed check is the only one reported.
    boxes.clear();
    grid.AddUserToGridFAST(QString(""), x, x, x, x, x, x, x, none, x, x);
    QCOMPARE(boxes.texts(), QStringList{kAliasMessage});

    boxes.clear();
    grid.AddUserToGridFAST(x, x, x, x, x, x, x, x, none, none, none);
    grid.AddUserToGridFAST(x, x, x, x, x, x, x, x, x, none, none);
    grid.AddUserToGridFAST(x, x, x, x, x, x, x, x, x, x, none);
    QCOMPARE(boxes.texts(), (QStringList{kCosMessage, kObjectIdMessage, kHandlerMessage}));
    QCOMPARE(grid.Rows(), 1);

    // A blank is not empty; the seven unchecked texts may be empty.
    boxes.clear();
    const QString blank = QStringLiteral(" ");
    grid.AddUserToGridFAST(blank, none, none, none, none, none, none, none, blank, blank, blank);
    QVERIFY(boxes.texts().isEmpty());
    QCOMPARE(grid.Rows(), 2);
    QCOMPARE(grid.TextMatrix(1, grid.ColIndex(QStringLiteral("Alias"))), blank);
    QVERIFY(grid.TextMatrix(1, grid.ColIndex(QStringLiteral("DisplayName"))).isEmpty());
    QVERIFY(grid.isChecked(1));
}

void TestSubscriberGrid::appendStoresRowsAsPassed()
{
    SubscriberGridModel grid;
    for (const char* tag : {"a", "b", "c"})
        addUser(grid, QLatin1String(tag));
    QCOMPARE(grid.Rows(), 4);
    QCOMPARE(grid.Row(), 3);
    for (qint32 row = 1; row <= 3; ++row) {
        QCOMPARE(grid.TextMatrix(row, 0), QString::number(row));
        QVERIFY(grid.isChecked(row));
        QCOMPARE(grid.data(grid.index(row - 1, 1), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    }

    // Every argument lands in its own column, texts untouched.
    grid.AddUserToGridFAST(QStringLiteral("  jdoe "), QStringLiteral("Jane"), QStringLiteral("Doe"),
                           QStringLiteral("Doe, Jane"), QStringLiteral("0042"), QStringLiteral("MAIL01"),
                           QStringLiteral("node7"), QStringLiteral("/o=Org/cn=jdoe"), QStringLiteral("Staff"),
                           QStringLiteral("obj-1"), QStringLiteral("ch-1"));
    const QList<QPair<QString, QString>> expected{
        {QStringLiteral("Alias"), QStringLiteral("  jdoe ")},
        {QStringLiteral("FirstName"), QStringLiteral("Jane")},
        {QStringLiteral("LastName"), QStringLiteral("Doe")},
        {QStringLiteral("DisplayName"), QStringLiteral("Doe, Jane")},
        {QStringLiteral("Extension"), QStringLiteral("0042")},
        {QStringLiteral("HomeServer"), QStringLiteral("MAIL01")},
        {QStringLiteral("RemoteNodeID"), QStringLiteral("node7")},
        {QStringLiteral("LegacyMailbox"), QStringLiteral("/o=Org/cn=jdoe")},
        {QStringLiteral("COS"), QStringLiteral("Staff")},
        {QStringLiteral("ObjectID"), QStringLiteral("obj-1")},
        {QStringLiteral("HandlerObjectID"), QStringLiteral("ch-1")},
    };
    for (const auto& [key, text] : expected) {
        QCOMPARE(grid.TextMatrix(4, grid.ColIndex(key)), text);
        QCOMPARE(grid.data(grid.index(3, grid.ColIndex(key))).toString(), text);
    }
    const SubscriberRow& row = grid.subscriberRow(4);
    QCOMPARE(row.Alias, QStringLiteral("  jdoe "));
    QCOMPARE(row.ObjectID, QStringLiteral("obj-1"));
    QVERIFY(row.Selected);
    QCOMPARE(grid.TextMatrix(4, 0), QStringLiteral("4"));
    QVERIFY(grid.TextMatrix(4, 1).isEmpty());
    QVERIFY(!grid.data(grid.index(3, 1), Qt::DisplayRole).isValid());

    // The deletion page's read: checked rows' alias and object id by key.
    grid.setChecked(2, false);
    QStringList picked;
    for (qint32 r = 1; r <= grid.Rows() - 1; ++r) {
        if (grid.isChecked(r))
            picked << grid.TextMatrix(r, grid.ColIndex(QStringLiteral("Alias"))) + QLatin1Char('/') +
                          grid.TextMatrix(r, grid.ColIndex(QStringLiteral("ObjectID")));
    }
    QCOMPARE(picked, (QStringList{QStringLiteral("a-alias/a-object"), QStringLiteral("c-alias/c-object"),
                                  QStringLiteral("  jdoe /obj-1")}));

    // Cell writes by key, and the grid emptied and refilled numbers from 1 again.
    grid.setTextMatrix(1, grid.ColIndex(QStringLiteral("cos")), QStringLiteral("Other"));
    QCOMPARE(grid.subscriberRow(1).COS, QStringLiteral("Other"));
    // A middle cell made longer, emptied and shorter again: every other cell of the row keeps its text.
    const int homeServer = grid.ColIndex(QStringLiteral("HomeServer"));
    for (const QString& text :
         {QStringLiteral("A-MUCH-LONGER-SERVER-NAME"), QString(), QStringLiteral("M")}) {
        grid.setTextMatrix(4, homeServer, text);
        for (const auto& [key, expectedText] : expected) {
            const int col = grid.ColIndex(key);
            QCOMPARE(grid.TextMatrix(4, col), col == homeServer ? text : expectedText);
        }
    }
    grid.setTextMatrix(2, 0, QStringLiteral("mark"));
    QCOMPARE(grid.TextMatrix(2, 0), QStringLiteral("mark"));
    QCOMPARE(grid.data(grid.index(1, 0)).toString(), QStringLiteral("mark"));
    QCOMPARE(grid.TextMatrix(3, 0), QStringLiteral("3"));
    grid.setRows(1);
    QCOMPARE(grid.Rows(), 1);
    QCOMPARE(grid.Row(), 0);
    addUser(grid, QStringLiteral("d"));
    QCOMPARE(grid.TextMatrix(1, 0), QStringLiteral("1"));
    QCOMPARE(grid.TextMatrix(1, 2), QStringLiteral("d-alias"));

    // No duplicate check: the same subscriber twice is two rows.
    addUser(grid, QStringLiteral("d"));
    QCOMPARE(grid.Rows(), 3);
}

void TestSubscriberGrid::modelTesterThroughEveryFlow()
{
    SubscriberGridModel grid;
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    SignalCounter signals_(grid);

    // Drawing on: one ordinary insertion per row.
    addUser(grid, QStringLiteral("a"));
    addUser(grid, QStringLiteral("b"));
    QCOMPARE(signals_.inserted.count(), 2);
    QCOMPARE(signals_.inserted.at(1).at(1).toInt(), 1);
    QCOMPARE(signals_.inserted.at(1).at(2).toInt(), 1);
    QCOMPARE(grid.rowCount(), 2);

    // Suspended: the grid calls see the new rows, the model API only what it announced.
    signals_.clear();
    grid.setRedraw(false);
    for (int i = 0; i < 50; ++i)
        addUser(grid, QStringLiteral("p%1").arg(i));
    grid.setChecked(1, false);                           // an announced row
    grid.setChecked(52, false);                          // a pending row
    grid.setTextMatrix(2, 3, QStringLiteral("changed")); // announced
    QCOMPARE(grid.Rows(), 53);
    QCOMPARE(grid.TextMatrix(52, 0), QStringLiteral("52"));
    QCOMPARE(grid.rowCount(), 2);
    QVERIFY(!grid.index(2, 0).isValid());
    QCOMPARE(signals_.structural() + signals_.changed.count(), 0);
    grid.setRedraw(true);
    QCOMPARE(signals_.inserted.count(), 1);
    QCOMPARE(signals_.inserted.at(0).at(1).toInt(), 2);
    QCOMPARE(signals_.inserted.at(0).at(2).toInt(), 51);
    QCOMPARE(signals_.resets.count(), 0);
    QCOMPARE(signals_.changed.count(), 1); // the two announced rows changed meanwhile
    QCOMPARE(signals_.changed.at(0).at(0).toModelIndex().row(), 0);
    QCOMPARE(signals_.changed.at(0).at(1).toModelIndex().row(), 1);
    QCOMPARE(grid.rowCount(), 52);
    QCOMPARE(grid.data(grid.index(1, 3)).toString(), QStringLiteral("changed"));
    QCOMPARE(grid.data(grid.index(51, 1), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // Select All / deSelect All: one notification over the check column.
    signals_.clear();
    grid.setAllChecked(true);
    QCOMPARE(signals_.changed.count(), 1);
    const QModelIndex topLeft = signals_.changed.at(0).at(0).toModelIndex();
    const QModelIndex bottomRight = signals_.changed.at(0).at(1).toModelIndex();
    QCOMPARE(topLeft, grid.index(0, 1));
    QCOMPARE(bottomRight, grid.index(51, 1));
    for (qint32 r = 1; r < grid.Rows(); ++r)
        QVERIFY(grid.isChecked(r));
    grid.setAllChecked(false);
    QCOMPARE(signals_.changed.count(), 2);
    for (qint32 r = 1; r < grid.Rows(); ++r)
        QVERIFY(!grid.isChecked(r));

    // The view's check editing.
    signals_.clear();
    QVERIFY(grid.setData(grid.index(4, 1), int(Qt::Checked), Qt::CheckStateRole));
    QVERIFY(grid.isChecked(5));
    QCOMPARE(signals_.changed.count(), 1);
    QVERIFY(grid.setData(grid.index(4, 1), QVariant::fromValue(Qt::Unchecked), Qt::CheckStateRole));
    QVERIFY(!grid.isChecked(5));
    QVERIFY(!grid.setData(grid.index(4, 2), QStringLiteral("typed"), Qt::EditRole));
    QVERIFY(!grid.setData(grid.index(4, 2), int(Qt::Checked), Qt::CheckStateRole));
    QCOMPARE(grid.TextMatrix(5, 2), QStringLiteral("p2-alias"));

    // Clearing with drawing on: one reset.
    signals_.clear();
    grid.clear();
    QCOMPARE(signals_.resets.count(), 1);
    QCOMPARE(signals_.structural(), 1);
    QCOMPARE(grid.rowCount(), 0);

    // Growing and truncating through setRows.
    signals_.clear();
    grid.setRows(4);
    QCOMPARE(signals_.inserted.count(), 1);
    QCOMPARE(grid.rowCount(), 3);
    QVERIFY(!grid.isChecked(3));
    QVERIFY(grid.TextMatrix(3, 2).isEmpty());
    QVERIFY(grid.TextMatrix(3, 0).isEmpty());
    grid.setRows(2);
    QCOMPARE(signals_.resets.count(), 1);
    QCOMPARE(grid.rowCount(), 1);
    grid.clear();
}

void TestSubscriberGrid::suspendedBatchAnnouncesOnce()
{
    SubscriberGridModel grid;
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    for (int i = 0; i < 5; ++i)
        addUser(grid, QStringLiteral("old%1").arg(i));

    // The page's fill: suspend, empty, append, resume. The views saw the old rows until the end and get one
    // reset for the whole batch.
    SignalCounter signals_(grid);
    grid.setRedraw(false);
    grid.clear();
    QCOMPARE(grid.Rows(), 1);
    QCOMPARE(grid.rowCount(), 5);
    QCOMPARE(grid.data(grid.index(4, 2)).toString(), QStringLiteral("old4-alias"));
    for (int i = 0; i < 200; ++i)
        addUser(grid, QStringLiteral("new%1").arg(i));
    grid.setAllChecked(false);
    QCOMPARE(grid.rowCount(), 5);
    QCOMPARE(grid.data(grid.index(0, 2)).toString(), QStringLiteral("old0-alias"));
    QCOMPARE(signals_.structural() + signals_.changed.count(), 0);
    grid.setRedraw(true);
    QCOMPARE(signals_.resets.count(), 1);
    QCOMPARE(signals_.structural(), 1);
    QCOMPARE(signals_.changed.count(), 0);
    QCOMPARE(grid.rowCount(), 200);
    QCOMPARE(grid.data(grid.index(199, 0)).toString(), QStringLiteral("200"));
    QCOMPARE(grid.data(grid.index(0, 1), Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // An empty grid filled while suspended: one insertion range, no reset.
    grid.clear();
    signals_.clear();
    grid.setRedraw(false);
    grid.clear();
    for (int i = 0; i < 300; ++i)
        addUser(grid, QStringLiteral("n%1").arg(i));
    grid.setRedraw(true);
    QCOMPARE(signals_.inserted.count(), 1);
    QCOMPARE(signals_.structural(), 1);
    QCOMPARE(signals_.inserted.at(0).at(2).toInt(), 299);

    // Emptied while suspended and left empty: one reset, nothing to insert.
    signals_.clear();
    grid.setRedraw(false);
    grid.clear();
    grid.setRedraw(true);
    QCOMPARE(signals_.resets.count(), 1);
    QCOMPARE(signals_.structural(), 1);
    QCOMPARE(grid.rowCount(), 0);

    // Resuming with nothing pending says nothing; truncating pending rows only needs no reset.
    signals_.clear();
    grid.setRedraw(true);
    addUser(grid, QStringLiteral("kept"));
    signals_.clear();
    grid.setRedraw(false);
    addUser(grid, QStringLiteral("dropped"));
    grid.setRows(2);
    grid.setRedraw(true);
    QCOMPARE(signals_.structural() + signals_.changed.count(), 0);
    QCOMPARE(grid.rowCount(), 1);
}

void TestSubscriberGrid::flagsGuardEditing()
{
    SubscriberGridModel grid;
    addUser(grid, QStringLiteral("a"));
    const Qt::ItemFlags check = grid.flags(grid.index(0, grid.ColIndex(QStringLiteral("Selected"))));
    QCOMPARE(check, Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    for (int col = 0; col < 13; ++col) {
        if (col == 1)
            continue;
        const Qt::ItemFlags text = grid.flags(grid.index(0, col));
        QCOMPARE(text, Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        QVERIFY(!SubscriberGridModel::editAllowed(col));
    }
    QVERIFY(SubscriberGridModel::editAllowed(1));
    QCOMPARE(grid.flags(QModelIndex()), Qt::NoItemFlags);
}

void TestSubscriberGrid::clickToggleRule()
{
    SubscriberGridModel grid;
    addUser(grid, QStringLiteral("a"));
    addUser(grid, QStringLiteral("b"));
    const int display = grid.ColIndex(QStringLiteral("DisplayName"));

    QVERIFY(grid.toggleFromClick(1, display));
    QVERIFY(!grid.isChecked(1));
    QVERIFY(grid.isChecked(2));
    QCOMPARE(grid.Row(), 1);
    QCOMPARE(grid.Col(), display);
    QVERIFY(grid.toggleFromClick(1, display));
    QVERIFY(grid.isChecked(1));

    // Header row, the check box column and the hidden index column do not toggle; the cell still becomes
    // current.
    QVERIFY(!grid.toggleFromClick(0, display));
    QCOMPARE(grid.Row(), 0);
    QVERIFY(!grid.toggleFromClick(2, 1));
    QVERIFY(!grid.toggleFromClick(2, 0));
    QCOMPARE(grid.Row(), 2);
    QCOMPARE(grid.Col(), 0);
    QVERIFY(grid.isChecked(1));
    QVERIFY(grid.isChecked(2));

    // The last column counts; positions outside the grid are ignored.
    QVERIFY(grid.toggleFromClick(2, 12));
    QVERIFY(!grid.isChecked(2));
    QVERIFY(!grid.toggleFromClick(3, 2));
    QVERIFY(!grid.toggleFromClick(1, 13));
    QVERIFY(!grid.toggleFromClick(-1, 2));

    // The view's model row r is grid row r + 1.
    QCOMPARE(SubscriberGridModel::gridRowFromViewRow(0), 1);
    QCOMPARE(SubscriberGridModel::viewRowFromGridRow(1), 0);
    grid.onViewClicked(grid.index(1, display));
    QVERIFY(grid.isChecked(2));
    QVERIFY(grid.isChecked(1));
}

void TestSubscriberGrid::moreRowsThanSixteenBits()
{
    SubscriberGridModel grid;
    SignalCounter signals_(grid);
    const QString x = QStringLiteral("x");
    grid.setRedraw(false);
    for (int i = 1; i <= 40000; ++i)
        grid.AddUserToGridFAST(QString::number(i), x, x, x, x, x, x, x, x, x, x);
    QCOMPARE(grid.Rows(), 40001);
    QCOMPARE(grid.Row(), 40000);
    grid.setRedraw(true);
    QCOMPARE(signals_.structural(), 1);
    QCOMPARE(grid.rowCount(), 40000);
    QCOMPARE(grid.TextMatrix(32768, 0), QStringLiteral("32768"));
    QCOMPARE(grid.TextMatrix(40000, 2), QStringLiteral("40000"));

    grid.setAllChecked(false);
    for (qint32 r : {1, 32767, 32768, 40000})
        QVERIFY(!grid.isChecked(r));
    grid.setAllChecked(true);
    qint32 checked = 0;
    for (qint32 r = 1; r < grid.Rows(); ++r)
        checked += grid.isChecked(r) ? 1 : 0;
    QCOMPARE(checked, 40000);
    QCOMPARE(signals_.changed.count(), 2);
    QVERIFY(grid.toggleFromClick(40000, 2));
    QVERIFY(!grid.isChecked(40000));
}

void TestSubscriberGrid::realViewClicksAndEdits()
{
    SubscriberGridModel grid;
    QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::Fatal);
    grid.setHeaderText(QStringLiteral("DisplayName"), QStringLiteral("Display Name"));
    QTableView view;
    attachSubscriberGrid(view, grid);
    view.resize(900, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    grid.setRedraw(false);
    for (const char* tag : {"a", "b", "c"})
        addUser(grid, QLatin1String(tag));
    grid.setRedraw(true);
    QCOMPARE(view.model()->rowCount(), 3);

    // The designed widths, wider only where a heading needs it.
    int widened = 0;
    for (int col = 0; col < 13; ++col) {
        QCOMPARE(view.isColumnHidden(col), SubscriberGridModel::isColumnHidden(col));
        if (view.isColumnHidden(col))
            continue;
        const int designed = SubscriberGridModel::twipsToPixels(
            SubscriberGridModel::columnInfo(col).widthTwips, view.logicalDpiX());
        const int heading = view.horizontalHeader()->sectionSizeHint(col);
        if (view.columnWidth(col) == designed)
            continue;
        ++widened;
        QVERIFY(view.columnWidth(col) > designed);
        QVERIFY(view.columnWidth(col) >= heading);
        QVERIFY(!view.model()->headerData(col, Qt::Horizontal).toString().isEmpty());
    }
    QVERIFY(widened > 0); // "Legacy Mailbox" at least
    QCOMPARE(view.model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Display Name"));

    // A click on the Display Name cell of grid row 2 toggles that row only, through the real view.
    const QModelIndex display = grid.index(1, grid.ColIndex(QStringLiteral("DisplayName")));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(display).center());
    QVERIFY(!grid.isChecked(2));
    QVERIFY(grid.isChecked(1));
    QVERIFY(grid.isChecked(3));
    QCOMPARE(grid.Row(), 2);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(display).center());
    QVERIFY(grid.isChecked(2));

    // A click on the header row toggles nothing.
    QHeaderView* header = view.horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(3) + 5, header->height() / 2));
    QVERIFY(grid.isChecked(1) && grid.isChecked(2) && grid.isChecked(3));

    // The check box cell toggles through the view's own check editing, once per click (the click path
    // leaves the check column alone).
    const QModelIndex check = grid.index(0, 1);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(check).center());
    QVERIFY(!grid.isChecked(1));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(check).center());
    QVERIFY(grid.isChecked(1));
    view.setCurrentIndex(check);
    QTest::keyClick(view.viewport(), Qt::Key_Space);
    QVERIFY(!grid.isChecked(1));

    // An Alias cell opens no editor, neither with F2 nor with a double click.
    const QModelIndex alias = grid.index(0, grid.ColIndex(QStringLiteral("Alias")));
    view.setCurrentIndex(alias);
    QTest::keyClick(view.viewport(), Qt::Key_F2);
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(alias).center());
    QTest::keyClicks(view.viewport(), QStringLiteral("zz"));
    QVERIFY(!view.indexWidget(alias));
    QVERIFY(view.viewport()->findChildren<QLineEdit*>().isEmpty());
    QCOMPARE(grid.TextMatrix(1, 2), QStringLiteral("a-alias"));

    // A refill through the view: one reset, hidden columns stay hidden, the view shows the new rows.
    SignalCounter signals_(grid);
    grid.setRedraw(false);
    grid.clear();
    for (int i = 0; i < 1000; ++i)
        addUser(grid, QStringLiteral("r%1").arg(i));
    grid.setRedraw(true);
    QCOMPARE(signals_.structural(), 1);
    QCOMPARE(signals_.resets.count(), 1);
    QCOMPARE(view.model()->rowCount(), 1000);
    QVERIFY(view.isColumnHidden(0) && view.isColumnHidden(11) && view.isColumnHidden(12));
    view.scrollToBottom();
    const QModelIndex lastDisplay = grid.index(999, 3);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(lastDisplay).center());
    QVERIFY(!grid.isChecked(1000));
    QVERIFY(grid.isChecked(999));
}

void TestSubscriberGrid::filterFoldsAndFollowsTheGrid()
{
    using Filter = SubscriberFilterModel;
    QCOMPARE(Filter::fold(QStringLiteral("Müller")), QStringLiteral("muller"));
    QCOMPARE(Filter::fold(QStringLiteral("ÉCOLE Ñandú")), QStringLiteral("ecole nandu"));
    QCOMPARE(Filter::fold(QStringLiteral(u"\uFF2D\uFF55\uFF4C")), QStringLiteral("mul")); // full width
    QCOMPARE(Filter::fold(QStringLiteral(u"\u6771\u4EAC")), QStringLiteral(u"\u6771\u4EAC"));

    SubscriberGridModel grid;
    Filter filter(grid);
    QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const auto shownAliases = [&] {
        QStringList aliases;
        for (int row = 0; row < filter.rowCount(); ++row)
            aliases.append(filter.index(row, SubscriberGridModel::ColAlias).data().toString());
        return aliases;
    };
    for (const char* tag : {"a", "b", "c"})
        addUser(grid, QLatin1String(tag));
    grid.setTextMatrix(2, SubscriberGridModel::ColLastName, QStringLiteral("Müller"));
    filter.setFilterText(QStringLiteral("MULLER"));
    QCOMPARE(shownAliases(), QStringList{QStringLiteral("b-alias")});
    // Rows appended and texts changed under an active filter are judged by their own texts.
    addUser(grid, QStringLiteral("müller"));
    grid.setTextMatrix(1, SubscriberGridModel::ColHomeServer, QStringLiteral("MÜLLER-HQ"));
    grid.setTextMatrix(2, SubscriberGridModel::ColLastName, QStringLiteral("Meier"));
    QCOMPARE(shownAliases(), QStringList({QStringLiteral("a-alias"), QStringLiteral(u"müller-alias")}));
    // Hidden columns and the row index do not count; a text across two columns does not match.
    filter.setFilterText(QStringLiteral("c-object"));
    QCOMPARE(filter.rowCount(), 0);
    filter.setFilterText(QStringLiteral("c-alias c-display"));
    QCOMPARE(filter.rowCount(), 0);
    filter.setFilterText(QStringLiteral(" "));
    QCOMPARE(filter.rowCount(), 4);

    // Sorting: numbers by value, equal texts in grid order, the check column not at all.
    const QStringList extensions{QStringLiteral("100"), QStringLiteral("20"), QStringLiteral("x"),
                                 QStringLiteral("020")};
    for (qint32 row = 1; row <= 4; ++row)
        grid.setTextMatrix(row, SubscriberGridModel::ColExtension, extensions.at(row - 1));
    filter.sort(SubscriberGridModel::ColExtension);
    QCOMPARE(shownAliases(), QStringList({QStringLiteral("b-alias"), QStringLiteral(u"müller-alias"),
                                          QStringLiteral("a-alias"), QStringLiteral("c-alias")}));
    filter.sort(SubscriberGridModel::ColSelected);
    QCOMPARE(filter.sortColumn(), int(SubscriberGridModel::ColExtension));
    filter.sort(-1);
    QCOMPARE(shownAliases().constFirst(), QStringLiteral("a-alias"));

    // Checking the shown rows leaves the others alone, with one notification; a refill keeps the filter.
    filter.setFilterText(QStringLiteral("u"));
    grid.setAllChecked(false);
    QSignalSpy changed(&grid, &QAbstractItemModel::dataChanged);
    filter.setShownRowsChecked(true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(QList<bool>({grid.isChecked(1), grid.isChecked(2), grid.isChecked(3), grid.isChecked(4)}),
             QList<bool>({true, false, false, true}));
    grid.setRedraw(false);
    grid.clear();
    addUser(grid, QStringLiteral("zulu"));
    addUser(grid, QStringLiteral("kilo"));
    grid.setRedraw(true);
    QCOMPARE(shownAliases(), QStringList{QStringLiteral("zulu-alias")});
}

QTEST_MAIN(TestSubscriberGrid)
#include "test_subscribergrid.moc"
