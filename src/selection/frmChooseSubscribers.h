#pragma once

#include <QWidget>

#include <array>

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableView;
class SubscriberFilterModel;
class SubscriberGridModel;

// The selection page: one criterion at a time fills the subscriber grid, whose checked rows the deletion
// page deletes. Where "Next >>" and "<< Previous" lead is the page flow's business: the page asks for it.
class frmChooseSubscribers : public QWidget {
    Q_OBJECT

public:
    // A window of its own; a parent only bounds its life.
    explicit frmChooseSubscribers(QWidget* parent = nullptr);
    ~frmChooseSubscribers() override;

    void Form_Load();
    Q_INVOKABLE void frmChooseSubscribers_Auto_Init();

    SubscriberGridModel& grid() const { return *m_grid; }

    // A fill (a criterion query or a CSV import) is running: the page's controls are locked and the page
    // must not be unloaded, since the fill lets events through and goes on with the grid afterwards.
    bool isFilling() const { return m_filling; }

    // The "please wait" window the queries show over the page; its label "Label1" shows the row count.
    // The page does not own it.
    void setSplashScreen(QWidget* splash) { m_splash = splash; }

signals:
    // "Next >>" found a checked row: the deletion page takes this page's place.
    void nextRequested();
    // "<< Previous" emptied the grid: the first page takes this page's place and this page is unloaded.
    void previousRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The application's focus changes move the default button; watched only while the page is whole.
    QMetaObject::Connection m_focusWatch;
    void cmbSubscriberSelectType_Click();
    void cmdSelectAll_Click();
    void cmdUnselectAll_Click();
    void cmdClearGrid_Click();
    void cmdExport_Click();
    void cmdNext_Click();
    void cmdPrevious_Click();
    void cmdExit_Click();
    void cmdHelp_Click();
    void cmdView_Click();
    void cmdBrowseForCSV_Click();
    void ParseCSVForSubscribers();
    void txtSubscriberExtensionRangeHigh_Change();
    void txtSubscriberExtensionRangeLow_Validate();
    void txtFilter_Change();
    void mnuCheckVisibleRows_Click();
    void mnuUncheckVisibleRows_Click();

    // The inputs that share the criteria row, in the row's order; one shows per selection type.
    std::array<QWidget*, 10> criterionInputs() const;
    void fillClassesOfService();
    void fillFromQuery(const QString& statement, QComboBox* visible, const char* field,
                       QComboBox* hidden = nullptr, const char* hiddenField = nullptr);
    bool archivedMailboxesPresent();
    // The lists a user picks a criterion from, which start with nothing chosen.
    std::array<QComboBox*, 5> criterionLists() const;
    // Locks the page's controls for the life of a fill and unlocks them as they were.
    class FillLock;

    QWidget* m_splash = nullptr;
    SubscriberGridModel* m_grid = nullptr;
    SubscriberFilterModel* m_filter = nullptr;
    bool m_filling = false;

    QLabel* Label1 = nullptr;
    QGroupBox* frameSelectSubscribers = nullptr;
    QComboBox* cmbSubscriberSelectType = nullptr;
    QLineEdit* txtSubscriberExtensionRangeLow = nullptr;
    QLabel* lblExtensionRangeTo = nullptr;
    QLineEdit* txtSubscriberExtensionRangeHigh = nullptr;
    QComboBox* comSubscriberSwitch = nullptr;
    QComboBox* comSubscriberMailServer = nullptr;
    QLineEdit* txtCSVPath = nullptr;
    QPushButton* cmdBrowseForCSV = nullptr;
    QComboBox* ComSubscribersCOS = nullptr;
    QComboBox* comHiddenCOS = nullptr;
    QComboBox* comSubscriberLocation = nullptr;
    QComboBox* comSubscriberLocationHidden = nullptr;
    QComboBox* comSubscriberNodeID = nullptr;
    QPushButton* cmdView = nullptr;
    QLabel* lblFilter = nullptr;
    QLineEdit* txtFilter = nullptr;
    QTableView* myGrid = nullptr;
    QMenu* mnuGrid = nullptr;
    QAction* mnuCheckVisibleRows = nullptr;
    QAction* mnuUncheckVisibleRows = nullptr;
    QLabel* lblTotalGridRows = nullptr;
    QLineEdit* txtUsersInGrid = nullptr;
    QPushButton* cmdSelectAll = nullptr;
    QPushButton* cmdUnselectAll = nullptr;
    QPushButton* cmdClearGrid = nullptr;
    QPushButton* cmdExport = nullptr;
    QPushButton* cmdPrevious = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdHelp = nullptr;
    QPushButton* cmdExit = nullptr;
};
