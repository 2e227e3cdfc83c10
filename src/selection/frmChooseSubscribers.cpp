#include "selection/frmChooseSubscribers.h"

#include "app/frmHelp.h"
#include "localize/Keyboard.h"
#include "localize/LanguageFonts.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ErrorReport.h"
#include "ports/ExitApplication.h"
#include "ports/MsgBox.h"
#include "ports/ObjectNames.h"
#include "ports/Ports.h"
#include "selection/CsvImport.h"
#include "selection/GridSink.h"
#include "selection/RangeEntryBox.h"
#include "selection/SelectionExport.h"
#include "selection/SubscriberFilterModel.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberGridView.h"
#include "selection/SubscriberQuery.h"
#include "server/OrvaneVersion.h"
#include "server/Recordset.h"
#include "server/Statements.h"
#include "server/modOrvaneDB.h"
#include "server/modSwitchInfo.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

using modLocalize::mymyLoadString;

namespace {
// The switch list as the switch module fills it.
class ComboListControl : public modSwitchInfo::ListControl {
public:
    explicit ComboListControl(QComboBox& combo) : m_combo(combo) {}
    int AddItem(const QString& text) override
    {
        m_combo.addItem(text);
        return m_combo.count() - 1;
    }
    void setItemData(int index, int value) override { m_combo.setItemData(index, value); }

private:
    QComboBox& m_combo;
};

const QString kArchivedMailboxes = QStringLiteral("Archived Mailboxes");

// Runs `row` for every record from the first on, each row a step of its own, so that one unreadable row
// does not end the walk. An empty recordset is no error. A position that cannot be read ends the walk.
template <class Row> void walkRecords(Recordset& records, const ErrorReport& report, Row&& row)
{
    bool empty = true;
    report.step([&] { empty = records.RecordCount() < 1; });
    if (empty || !report.step([&] { records.MoveFirst(); }))
        return;
    const auto atEnd = [&] {
        bool end = true;
        report.step([&] { end = records.EOF_(); });
        return end;
    };
    while (!atEnd()) {
        report.step(row);
        if (!report.step([&] { records.MoveNext(); }))
            break;
    }
}
} // namespace

class frmChooseSubscribers::FillLock {
public:
    explicit FillLock(frmChooseSubscribers& page)
        : m_page(page), m_focus(page.focusWidget()), m_wasActive(page.isActiveWindow())
    {
        m_page.m_filling = true;
        // Help only shows a window of its own, so it stays usable as during a deletion run.
        const QList<QWidget*> controls = {m_page.frameSelectSubscribers,
                                          m_page.txtFilter,
                                          m_page.myGrid,
                                          m_page.cmdSelectAll,
                                          m_page.cmdUnselectAll,
                                          m_page.cmdClearGrid,
                                          m_page.cmdExport,
                                          m_page.cmdPrevious,
                                          m_page.cmdNext,
                                          m_page.cmdExit};
        for (QWidget* control : controls) {
            if (control->isEnabled()) {
                control->setEnabled(false);
                m_locked.append(control);
            }
        }
    }
    ~FillLock()
    {
        for (QWidget* control : std::as_const(m_locked))
            control->setEnabled(true);
        // Locking moved the focus on to whatever stayed enabled; it goes back to where the user left it.
        if (m_focus && m_focus->isEnabled() && m_focus->isVisible())
            m_focus->setFocus(Qt::OtherFocusReason);
        // The "please wait" window or a message box of the fill may have taken the keyboard, and the window
        // system may say so only once the fill has returned: the page takes it back after that.
        if (m_wasActive)
            QMetaObject::invokeMethod(
                &m_page,
                [page = QPointer<QWidget>(&m_page)] {
                    if (page && page->isVisible() && !page->isActiveWindow())
                        page->activateWindow();
                },
                Qt::QueuedConnection);
        m_page.m_filling = false;
    }
    FillLock(const FillLock&) = delete;
    FillLock& operator=(const FillLock&) = delete;

private:
    frmChooseSubscribers& m_page;
    QPointer<QWidget> m_focus;
    bool m_wasActive = false;
    QList<QWidget*> m_locked;
};

frmChooseSubscribers::frmChooseSubscribers(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmChooseSubscribers"));
    m_grid = new SubscriberGridModel(this);
    auto* page = new QVBoxLayout(this);

    Label1 = named(new QLabel(this), "Label1");
    QFont titleFont = Label1->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    page->addWidget(Label1);

    frameSelectSubscribers = named(new QGroupBox(this), "frameSelectSubscribers");
    auto* criteria = new QHBoxLayout(frameSelectSubscribers);
    QWidget* frame = frameSelectSubscribers;
    cmbSubscriberSelectType = named(new QComboBox(frame), "cmbSubscriberSelectType");
    cmbSubscriberSelectType->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    txtSubscriberExtensionRangeLow = named(new QLineEdit(frame), "txtSubscriberExtensionRangeLow");
    lblExtensionRangeTo = named(new QLabel(frame), "lblExtensionRangeTo");
    txtSubscriberExtensionRangeHigh = named(new QLineEdit(frame), "txtSubscriberExtensionRangeHigh");
    for (QLineEdit* box : {txtSubscriberExtensionRangeLow, txtSubscriberExtensionRangeHigh})
        box->setMaxLength(RangeEntry::ExtensionBoxMaxLength);
    comSubscriberSwitch = named(new QComboBox(frame), "comSubscriberSwitch");
    comSubscriberMailServer = named(new QComboBox(frame), "comSubscriberMailServer");
    txtCSVPath = named(new QLineEdit(frame), "txtCSVPath");
    txtCSVPath->setReadOnly(true); // only "Browse..." writes the path
    cmdBrowseForCSV = named(new QPushButton(frame), "cmdBrowseForCSV");
    ComSubscribersCOS = named(new QComboBox(frame), "ComSubscribersCOS");
    comSubscriberLocation = named(new QComboBox(frame), "comSubscriberLocation");
    comSubscriberNodeID = named(new QComboBox(frame), "comSubscriberNodeID");
    // The two lists that only run parallel to visible ones are never shown.
    comHiddenCOS = named(new QComboBox(frame), "comHiddenCOS");
    comSubscriberLocationHidden = named(new QComboBox(frame), "comSubscriberLocationHidden");
    comHiddenCOS->hide();
    comSubscriberLocationHidden->hide();
    cmdView = named(new QPushButton(frame), "cmdView");

    criteria->addWidget(cmbSubscriberSelectType);
    for (QWidget* input : criterionInputs()) {
        input->hide();
        // The range boxes and their label keep their size; lists and the path take the free width.
        const bool fixedWidth = input == txtSubscriberExtensionRangeLow || input == lblExtensionRangeTo ||
                                input == txtSubscriberExtensionRangeHigh || input == cmdBrowseForCSV;
        criteria->addWidget(input, fixedWidth ? 0 : 1);
    }
    lblExtensionRangeTo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    for (QLineEdit* box : {txtSubscriberExtensionRangeLow, txtSubscriberExtensionRangeHigh})
        box->setFixedWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 22);
    criteria->addStretch(0);
    criteria->addWidget(cmdView);
    page->addWidget(frameSelectSubscribers);

    // The filter row above the grid; the view shows the grid through the filter, which also sorts.
    m_filter = new SubscriberFilterModel(*m_grid, this);
    auto* filterRow = new QHBoxLayout;
    lblFilter = named(new QLabel(this), "lblFilter");
    txtFilter = named(new QLineEdit(this), "txtFilter");
    txtFilter->setClearButtonEnabled(true);
    lblFilter->setBuddy(txtFilter);
    lblExtensionRangeTo->setBuddy(txtSubscriberExtensionRangeHigh);
    filterRow->addWidget(lblFilter);
    filterRow->addWidget(txtFilter, 1);
    page->addLayout(filterRow);

    myGrid = named(new SubscriberGridView(*m_filter, this), "myGrid");
    myGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    myGrid->horizontalHeader()->setStretchLastSection(false);
    myGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    mnuGrid = named(new QMenu(myGrid), "mnuGrid");
    mnuCheckVisibleRows = named(mnuGrid->addAction(QString()), "mnuCheckVisibleRows");
    mnuUncheckVisibleRows = named(mnuGrid->addAction(QString()), "mnuUncheckVisibleRows");
    page->addWidget(myGrid, 1);

    auto* buttons = new QHBoxLayout;
    cmdSelectAll = named(new QPushButton(this), "cmdSelectAll");
    cmdUnselectAll = named(new QPushButton(this), "cmdUnselectAll");
    cmdClearGrid = named(new QPushButton(this), "cmdClearGrid");
    cmdExport = named(new QPushButton(this), "cmdExport");
    lblTotalGridRows = named(new QLabel(this), "lblTotalGridRows");
    txtUsersInGrid = named(new QLineEdit(QStringLiteral("0"), this), "txtUsersInGrid");
    txtUsersInGrid->setReadOnly(true);
    txtUsersInGrid->setFocusPolicy(Qt::NoFocus); // a short number: nothing to scroll to
    txtUsersInGrid->setMaximumWidth(80);
    cmdPrevious = named(new QPushButton(this), "cmdPrevious");
    cmdNext = named(new QPushButton(this), "cmdNext");
    cmdHelp = named(new QPushButton(this), "cmdHelp");
    cmdExit = named(new QPushButton(this), "cmdExit");
    for (QWidget* widget : std::initializer_list<QWidget*>{cmdSelectAll, cmdUnselectAll, cmdClearGrid,
                                                           cmdExport, lblTotalGridRows, txtUsersInGrid})
        buttons->addWidget(widget);
    buttons->addStretch(1);
    page->addLayout(buttons);
    // The wizard's buttons on a row of their own, as on the other pages: on one row with the grid's they
    // made the page wider than a small screen.
    auto* wizard = new QHBoxLayout;
    wizard->addStretch(1);
    for (QWidget* widget : std::initializer_list<QWidget*>{cmdPrevious, cmdNext, cmdHelp, cmdExit})
        wizard->addWidget(widget);
    page->addLayout(wizard);

    connect(cmbSubscriberSelectType, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) {
                if (index >= 0)
                    cmbSubscriberSelectType_Click();
            });
    connect(cmdSelectAll, &QPushButton::clicked, this, &frmChooseSubscribers::cmdSelectAll_Click);
    connect(cmdUnselectAll, &QPushButton::clicked, this, &frmChooseSubscribers::cmdUnselectAll_Click);
    connect(cmdClearGrid, &QPushButton::clicked, this, &frmChooseSubscribers::cmdClearGrid_Click);
    connect(cmdExport, &QPushButton::clicked, this, &frmChooseSubscribers::cmdExport_Click);
    connect(cmdNext, &QPushButton::clicked, this, &frmChooseSubscribers::cmdNext_Click);
    connect(cmdPrevious, &QPushButton::clicked, this, &frmChooseSubscribers::cmdPrevious_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmChooseSubscribers::cmdExit_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &frmChooseSubscribers::cmdHelp_Click);
    connect(cmdView, &QPushButton::clicked, this, &frmChooseSubscribers::cmdView_Click);
    connect(cmdBrowseForCSV, &QPushButton::clicked, this, &frmChooseSubscribers::cmdBrowseForCSV_Click);
    connect(txtSubscriberExtensionRangeHigh, &QLineEdit::textChanged, this,
            &frmChooseSubscribers::txtSubscriberExtensionRangeHigh_Change);
    txtSubscriberExtensionRangeLow->installEventFilter(this);
    connect(txtFilter, &QLineEdit::textChanged, this, &frmChooseSubscribers::txtFilter_Change);
    connect(myGrid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { mnuGrid->popup(myGrid->viewport()->mapToGlobal(at)); });
    connect(mnuCheckVisibleRows, &QAction::triggered, this, &frmChooseSubscribers::mnuCheckVisibleRows_Click);
    connect(mnuUncheckVisibleRows, &QAction::triggered, this,
            &frmChooseSubscribers::mnuUncheckVisibleRows_Click);

    // Return runs the criterion while one of its inputs has the focus, else it moves on.
    const auto inCriteria = [this] {
        QWidget* focused = focusWidget();
        return focused && frameSelectSubscribers->isAncestorOf(focused);
    };
    new Keyboard::PageKeys(
        *this, [this, inCriteria] { return inCriteria() ? cmdView : cmdNext; }, cmdHelp);
    cmdNext->setDefault(true);
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this, inCriteria] {
        const bool running = inCriteria();
        cmdView->setDefault(running);
        cmdNext->setDefault(!running);
    });

    resize(1000, 700);
}

frmChooseSubscribers::~frmChooseSubscribers()
{
    // Closing a window moves the focus; by then this page is no longer one to ask about its own.
    disconnect(m_focusWatch);
}

void frmChooseSubscribers::closeEvent(QCloseEvent* event)
{
    // The page's close box means the end, as "Exit" does, even while the help window is still open.
    QWidget::closeEvent(event);
    Module1::ExitApplication();
}

void frmChooseSubscribers::frmChooseSubscribers_Auto_Init()
{
    const ErrorReport report = ErrorReport::fixed(
        mymyLoadString(StringIds::ErrorHead),
        QStringLiteral(") in procedure frmChooseSubscribers_Auto_Init of Form frmChooseSubscribers"));
    modLocalize::ApplyLanguageFonts(this);
    const auto caption = [&](auto* control, int id) {
        report.step([&] { control->setText(mymyLoadString(id)); });
    };
    caption(cmdHelp, StringIds::Help);
    report.step([&] { frameSelectSubscribers->setTitle(mymyLoadString(StringIds::SelectSubscribers)); });
    caption(cmdView, StringIds::AddSubscribersToGrid);
    caption(cmdSelectAll, StringIds::SelectAll);
    caption(cmdUnselectAll, StringIds::DeselectAll);
    caption(cmdBrowseForCSV, StringIds::Browse);
    caption(cmdClearGrid, StringIds::ClearGrid);
    caption(cmdExport, StringIds::Export);
    caption(lblExtensionRangeTo, StringIds::ExtensionRangeTo);
    caption(lblTotalGridRows, StringIds::UsersInGrid);
    caption(cmdPrevious, StringIds::Previous);
    caption(cmdExit, StringIds::Exit);
    caption(cmdNext, StringIds::Next);
    caption(Label1, StringIds::SelectSubscribers);
    caption(lblFilter, StringIds::GridFilter);
    caption(mnuCheckVisibleRows, StringIds::CheckVisibleRows);
    caption(mnuUncheckVisibleRows, StringIds::UncheckVisibleRows);
    report.step([&] { setWindowTitle(mymyLoadString(StringIds::AppTitle)); });
    report.step([&] {
        Keyboard::applyMnemonics({{cmdNext, QLatin1Char('N')},
                                  {cmdPrevious, QLatin1Char('P')},
                                  {lblFilter, QLatin1Char('F')},
                                  {cmdExit, QLatin1Char('x')},
                                  {cmdHelp, QLatin1Char('H')},
                                  {cmdView, QLatin1Char('A')},
                                  {cmdSelectAll, QLatin1Char('S')},
                                  {cmdUnselectAll, QLatin1Char('d')},
                                  {cmdClearGrid, QLatin1Char('C')},
                                  {cmdExport, QLatin1Char('E')},
                                  {cmdBrowseForCSV, QLatin1Char('B')},
                                  {lblExtensionRangeTo, QLatin1Char('T')},
                                  {frameSelectSubscribers}});
        Keyboard::applyMnemonics({{mnuCheckVisibleRows}, {mnuUncheckVisibleRows}});
    });

    const std::pair<const char*, int> headings[] = {{"Alias", StringIds::ColumnAlias},
                                                    {"DisplayName", StringIds::ColumnDisplayName},
                                                    {"Extension", StringIds::ColumnExtension},
                                                    {"FirstName", StringIds::ColumnFirstName},
                                                    {"LastName", StringIds::ColumnLastName},
                                                    {"HomeServer", StringIds::ColumnHomeServer},
                                                    {"COS", StringIds::ColumnCos}};
    for (const auto& [key, id] : headings)
        report.step([&] { m_grid->setHeaderText(QLatin1String(key), mymyLoadString(id)); });
    myGrid->viewport()->update();
}

void frmChooseSubscribers::Form_Load()
{
    frmChooseSubscribers_Auto_Init();
    const ErrorReport report = modLocalize::localizedReport(StringIds::InFrmChooseSubscribersFormLoad);

    {
        const QSignalBlocker quiet(cmbSubscriberSelectType);
        const auto addType = [&](const QString& text, SubscriberQuery::Code code) {
            report.step([&] {
                cmbSubscriberSelectType->addItem(text);
                cmbSubscriberSelectType->setItemData(cmbSubscriberSelectType->count() - 1, int(code));
            });
        };
        report.step([&] { cmbSubscriberSelectType->clear(); });
        addType(mymyLoadString(StringIds::AllSubscribers), SubscriberQuery::AllSubscribers);

        bool newServer = true;
        report.step([&] { newServer = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0); });
        if (newServer && archivedMailboxesPresent())
            addType(kArchivedMailboxes, SubscriberQuery::ArchivedMailboxes);

        addType(mymyLoadString(StringIds::CriterionNode), SubscriberQuery::NetworkNode);
        addType(mymyLoadString(StringIds::CriterionExtensionRange), SubscriberQuery::ExtensionRange);
        addType(mymyLoadString(StringIds::CriterionSwitch), SubscriberQuery::Switch);
        addType(mymyLoadString(StringIds::CriterionCsvFile), SubscriberQuery::CsvFile);
        addType(mymyLoadString(StringIds::CriterionCos), SubscriberQuery::ClassOfService);
        addType(mymyLoadString(StringIds::CriterionMailServer), SubscriberQuery::MailServer);
        addType(mymyLoadString(StringIds::CriterionLocation), SubscriberQuery::Location);
    }
    report.step([&] {
        cmbSubscriberSelectType->setCurrentIndex(0);
        cmbSubscriberSelectType_Click();
    });

    report.step([&] { m_grid->clear(); });

    fillClassesOfService();
    fillFromQuery(Statements::MailServersStatement, comSubscriberMailServer, "HomeServer");
    report.step([&] {
        ComboListControl switches(*comSubscriberSwitch);
        modSwitchInfo::PopulateListControlWithSwitchInfo(switches);
    });
    report.step([&] {
        comSubscriberLocation->clear();
        comSubscriberLocationHidden->clear();
    });
    fillFromQuery(Statements::LocationsStatement, comSubscriberLocation, "TextName",
                  comSubscriberLocationHidden, "LocationObjectID");
    report.step([&] { comSubscriberNodeID->clear(); });
    fillFromQuery(Statements::NetworkNodesStatement, comSubscriberNodeID, "RemoteNodeID");
    // A list takes its first entry as chosen when it is filled; "Add" must not run on a choice nobody made.
    report.step([&] {
        for (QComboBox* list : criterionLists())
            list->setCurrentIndex(-1);
    });

    report.step([&] {
        show();
        cmbSubscriberSelectType->setFocus();
    });
}

bool frmChooseSubscribers::archivedMailboxesPresent()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InFrmChooseSubscribersFormLoad);
    // A count that cannot be read offers no entry: it would only lead to a query that fails the same way.
    bool present = false;
    Recordset count;
    // A count that cannot be opened has been reported once; reading and closing it would only add two
    // reports of a closed recordset.
    if (!report.step([&] {
            count.Open(Statements::ArchivedCountStatement, modOrvaneDB::DbConnectionString(),
                       Recordset::adOpenKeyset);
        }))
        return false;
    report.step([&] { present = count.field(count.fieldNames().value(0)).toLongLong() > 0; });
    report.step([&] { count.Close(); });
    return present;
}

void frmChooseSubscribers::fillClassesOfService()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InFrmChooseSubscribersFormLoad);
    Recordset& classes = modOrvaneDB::CosRecords();
    walkRecords(classes, report, [&] {
        // Each entry's item data is the position of its alias in the hidden list, so two classes of
        // service with one display name still lead to their own alias.
        const QString alias = classes.fieldText(QStringLiteral("Alias"));
        const QString name = classes.fieldText(QStringLiteral("TextName"));
        comHiddenCOS->addItem(alias);
        ComSubscribersCOS->addItem(name);
        ComSubscribersCOS->setItemData(ComSubscribersCOS->count() - 1, comHiddenCOS->count() - 1);
    });
}

void frmChooseSubscribers::fillFromQuery(const QString& statement, QComboBox* visible, const char* field,
                                         QComboBox* hidden, const char* hiddenField)
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InFrmChooseSubscribersFormLoad);
    Recordset records;
    if (!report.step(
            [&] { records.Open(statement, modOrvaneDB::DbConnectionString(), Recordset::adOpenKeyset); }))
        return;
    walkRecords(records, report, [&] {
        // Both lists grow together or not at all, so that positions stay parallel.
        const QString text = records.fieldText(QLatin1String(field));
        const QString parallel = hidden ? records.fieldText(QLatin1String(hiddenField)) : QString();
        visible->addItem(text);
        if (hidden)
            hidden->addItem(parallel);
    });
    report.step([&] { records.Close(); });
}

std::array<QWidget*, 10> frmChooseSubscribers::criterionInputs() const
{
    return {txtSubscriberExtensionRangeLow,
            lblExtensionRangeTo,
            txtSubscriberExtensionRangeHigh,
            comSubscriberSwitch,
            comSubscriberMailServer,
            txtCSVPath,
            cmdBrowseForCSV,
            ComSubscribersCOS,
            comSubscriberLocation,
            comSubscriberNodeID};
}

std::array<QComboBox*, 5> frmChooseSubscribers::criterionLists() const
{
    return {ComSubscribersCOS, comSubscriberSwitch, comSubscriberMailServer, comSubscriberLocation,
            comSubscriberNodeID};
}

void frmChooseSubscribers::cmbSubscriberSelectType_Click()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InCmbSubscriberSelectTypeChange);
    for (QWidget* input : criterionInputs())
        input->hide();

    int code = 0;
    report.step([&] {
        bool ok = false;
        code = cmbSubscriberSelectType->currentData().toInt(&ok);
        if (!ok)
            raiseError(ErrorNumbers::TypeMismatch, QStringLiteral("Type mismatch"));
    });

    // The inputs share the row of the combo box; showing them is all it takes to put them there.
    const auto showInputs = [](std::initializer_list<QWidget*> inputs) {
        for (QWidget* input : inputs)
            input->show();
    };
    switch (code) {
    case SubscriberQuery::AllSubscribers:
    case SubscriberQuery::ArchivedMailboxes:
        break;
    case SubscriberQuery::ExtensionRange:
        showInputs({txtSubscriberExtensionRangeLow, lblExtensionRangeTo, txtSubscriberExtensionRangeHigh});
        break;
    case SubscriberQuery::CsvFile:
        showInputs({txtCSVPath, cmdBrowseForCSV});
        break;
    case SubscriberQuery::Switch:
        showInputs({comSubscriberSwitch});
        break;
    case SubscriberQuery::MailServer:
        showInputs({comSubscriberMailServer});
        break;
    case SubscriberQuery::ClassOfService:
        showInputs({ComSubscribersCOS});
        break;
    case SubscriberQuery::Location:
        showInputs({comSubscriberLocation});
        break;
    case SubscriberQuery::NetworkNode:
        showInputs({comSubscriberNodeID});
        break;
    default:
        MsgBox::show(mymyLoadString(StringIds::InvalidSelectionValue));
        break;
    }
}

void frmChooseSubscribers::cmdSelectAll_Click()
{
    m_grid->setAllChecked(true);
}

void frmChooseSubscribers::cmdUnselectAll_Click()
{
    m_grid->setAllChecked(false);
}

void frmChooseSubscribers::txtFilter_Change()
{
    m_filter->setFilterText(txtFilter->text());
}

void frmChooseSubscribers::mnuCheckVisibleRows_Click()
{
    m_filter->setShownRowsChecked(true);
}

void frmChooseSubscribers::mnuUncheckVisibleRows_Click()
{
    m_filter->setShownRowsChecked(false);
}

void frmChooseSubscribers::cmdClearGrid_Click()
{
    m_grid->clear();
    myGrid->viewport()->update();
    txtUsersInGrid->setText(QStringLiteral("0"));
}

void frmChooseSubscribers::cmdExport_Click()
{
    SelectionExport::exportChecked(*m_grid);
}

void frmChooseSubscribers::cmdNext_Click()
{
    if (m_filling)
        return;
    if (m_grid->Rows() < 2) {
        MsgBox::show(mymyLoadString(StringIds::NoSubscribersInGrid));
        return;
    }
    // Rows are walked with a 32-bit counter, so grids beyond 32,767 rows are covered too.
    const qint32 rows = m_grid->Rows();
    for (qint32 row = 1; row < rows; ++row) {
        if (m_grid->isChecked(row)) {
            // The deletion takes every checked row, shown or not: rows the filter hides are named first.
            const qint32 hidden = m_filter->checkedRowsHidden();
            if (hidden > 0) {
                const QString text =
                    mymyLoadString(StringIds::CheckedRowsHidden).arg(hidden).arg(m_grid->checkedRowCount());
                if (MsgBox::show(text, MsgBox::vbYesNo) != MsgBox::vbYes)
                    return;
            }
            setCursor(Qt::WaitCursor);
            cmdNext->setEnabled(false);
            emit nextRequested();
            unsetCursor();
            cmdNext->setEnabled(true);
            return;
        }
    }
    MsgBox::show(mymyLoadString(StringIds::NoSubscriberChecked));
}

void frmChooseSubscribers::cmdPrevious_Click()
{
    if (m_filling)
        return;
    cmdClearGrid_Click();
    emit previousRequested();
}

void frmChooseSubscribers::cmdExit_Click()
{
    Module1::ExitApplication();
}

void frmChooseSubscribers::cmdHelp_Click()
{
    frmHelp::showHelp();
}

void frmChooseSubscribers::cmdView_Click()
{
    // The fill lets events through (its messages, the run log's lines); a second press, "Next >>" or
    // "<< Previous" meanwhile would work on a grid the fill is still writing, or free the page under it.
    if (m_filling)
        return;
    const FillLock lock(*this);
    setCursor(Qt::WaitCursor);
    if (m_splash) {
        const int right = SubscriberGridModel::twipsToPixels(2200, logicalDpiX());
        const int down = SubscriberGridModel::twipsToPixels(4700, logicalDpiY());
        m_splash->move(pos() + QPoint(right, down));
        m_splash->raise();
        m_splash->show();
    }
    m_grid->setRedraw(false);
    m_grid->clear();

    SubscriberQuery::Criteria criteria;
    criteria.code = cmbSubscriberSelectType->currentData().toInt();
    criteria.rangeLow = txtSubscriberExtensionRangeLow->text();
    criteria.rangeHigh = txtSubscriberExtensionRangeHigh->text();
    criteria.cosText = ComSubscribersCOS->currentText();
    criteria.cosAlias = comHiddenCOS->itemText(ComSubscribersCOS->currentIndex());
    criteria.switchText = comSubscriberSwitch->currentText();
    criteria.switchId = comSubscriberSwitch->currentData().toInt();
    criteria.mailServer = comSubscriberMailServer->currentText();
    criteria.locationText = comSubscriberLocation->currentText();
    criteria.locationObjectId = comSubscriberLocationHidden->itemText(comSubscriberLocation->currentIndex());
    criteria.nodeText = comSubscriberNodeID->currentText();
    if (criteria.code == SubscriberQuery::CsvFile) {
        ParseCSVForSubscribers();
    } else {
        GridSink sink(*m_grid, m_splash);
        SubscriberQuery::run(criteria, modOrvaneDB::DbConnectionString(), sink);
    }

    m_grid->setRedraw(true);
    myGrid->viewport()->repaint();
    const qint32 rows = m_grid->Rows();
    txtUsersInGrid->setText(rows > 1 ? QString::number(rows - 1) : QStringLiteral("0"));
    if (m_splash)
        m_splash->hide();
    unsetCursor();
}

void frmChooseSubscribers::ParseCSVForSubscribers()
{
    GridSink sink(*m_grid, nullptr);
    CsvImport::ParseCSVForSubscribers(txtCSVPath->text(), modOrvaneDB::DbConnectionString(), sink);
}

void frmChooseSubscribers::cmdBrowseForCSV_Click()
{
    const QString remembered = txtCSVPath->text();
    FileDialog::Request request;
    // The home folder is where a user's own files start, as the system drive's root is elsewhere.
    request.initialFolder = QDir::homePath();
    request.title = mymyLoadString(StringIds::SelectCsvFileTitle);
    request.fileName = remembered;
    // Qt reads "All Files | *.*" as four patterns and would hide files without a dot.
    request.filter = QStringLiteral("All Files (*)");
    const std::optional<QString> chosen = FileDialog::getOpenFileName(request);
    txtCSVPath->setText(chosen && chosen->size() >= 4 ? *chosen : remembered);
}

void frmChooseSubscribers::txtSubscriberExtensionRangeHigh_Change()
{
    RangeEntry::validateExtensionBox(*txtSubscriberExtensionRangeHigh);
}

void frmChooseSubscribers::txtSubscriberExtensionRangeLow_Validate()
{
    RangeEntry::validateExtensionBox(*txtSubscriberExtensionRangeLow);
}

bool frmChooseSubscribers::eventFilter(QObject* watched, QEvent* event)
{
    // The lower box is checked when the keyboard focus moves on to another control of the page, not when
    // the window as a whole loses the focus.
    if (watched == txtSubscriberExtensionRangeLow && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtSubscriberExtensionRangeLow_Validate();
    }
    return QWidget::eventFilter(watched, event);
}
