#pragma once

#include <QMainWindow>
#include <QPointer>

#include <array>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;
class OptionCaption;
class frmAbout;
class frmChooseSubscribers;
class frmDeleteSubscribers;
class PageFlow;

// The first wizard page: loading it runs every start-up check; the page lets the administrator choose the
// deletion mode, which the later pages read from here (the page is hidden, never unloaded).
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up sequence. A failed check ends the program through ExitApplication before the page shows.
    void Form_Load();
    Q_INVOKABLE void frmMain_Auto_Init();

    // Full removal (directory account and mailbox too) rather than Orvane data only.
    bool deleteAllSelected() const;

    // The later pages while they are loaded, else null.
    frmChooseSubscribers* chooseSubscribersPage() const;
    frmDeleteSubscribers* deleteSubscribersPage() const;
    // The About window while it is loaded, else null.
    frmAbout* aboutWindow() const;

    // The start size: the designed one where the texts fit in it, else wider or taller as they need, within
    // `available` (a screen's available area) where the texts allow. Form_Load fits the page to its screen.
    void fitStartSizeTo(const QRect& available);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    static constexpr int DesignedWidth = 760;
    static constexpr int DesignedHeight = 540;

    int heightForTextsAt(int width) const;
    void fitMinimumHeightToTexts();
    void cmdNext_Click();
    void cmdExit_Click();
    void cmdHelp_Click();
    void mnuHelp_Click();
    void About_Click();
    void mnuCheckForUpdatedVersion_Click();

    QLabel* Label1 = nullptr;
    std::array<QLabel*, 3> lblMain{};
    QGroupBox* frmDeletionType = nullptr;
    QRadioButton* optSubscriberDeleteOnlyOrvaneInfo = nullptr;
    QRadioButton* optSubscriberDeleteAll = nullptr;
    OptionCaption* optSubscriberDeleteOnlyOrvaneInfoCaption = nullptr;
    OptionCaption* optSubscriberDeleteAllCaption = nullptr;
    QPushButton* cmdPrevious = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdHelp = nullptr;
    QPushButton* cmdExit = nullptr;
    QMenu* MainHelp = nullptr;
    QAction* mnuHelp = nullptr;
    QAction* seperator = nullptr;
    QAction* About = nullptr;
    QAction* mnuCheckForUpdatedVersion = nullptr;

    PageFlow* m_flow = nullptr;
    QPointer<frmAbout> m_about;
};
