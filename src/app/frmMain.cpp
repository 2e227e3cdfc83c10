#include "app/frmMain.h"

#include "app/OptionCaption.h"
#include "app/PageFlow.h"
#include "app/StartupChecks.h"
#include "app/frmAbout.h"
#include "app/frmHelp.h"
#include "app/frmSignIn.h"
#include "localize/Keyboard.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "ports/ObjectNames.h"
#include "update/modUpdateCheck.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

using modLocalize::mymyLoadString;

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* page = new QVBoxLayout(central);

    Label1 = named(new QLabel(central), "Label1");
    QFont titleFont = Label1->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    page->addWidget(Label1);

    for (std::size_t i = 0; i < lblMain.size(); ++i) {
        lblMain[i] = new QLabel(central);
        lblMain[i]->setObjectName(QStringLiteral("lblMain_%1").arg(i));
        lblMain[i]->setWordWrap(true);
        page->addWidget(lblMain[i]);
    }

    frmDeletionType = named(new QGroupBox(central), "frmDeletionType");
    auto* options = new QGridLayout(frmDeletionType);
    optSubscriberDeleteOnlyOrvaneInfo =
        named(new QRadioButton(frmDeletionType), "optSubscriberDeleteOnlyOrvaneInfo");
    optSubscriberDeleteAll = named(new QRadioButton(frmDeletionType), "optSubscriberDeleteAll");
    optSubscriberDeleteOnlyOrvaneInfoCaption =
        named(new OptionCaption(optSubscriberDeleteOnlyOrvaneInfo, frmDeletionType),
              "optSubscriberDeleteOnlyOrvaneInfoCaption");
    optSubscriberDeleteAllCaption =
        named(new OptionCaption(optSubscriberDeleteAll, frmDeletionType), "optSubscriberDeleteAllCaption");
    options->addWidget(optSubscriberDeleteOnlyOrvaneInfo, 0, 0, Qt::AlignTop);
    options->addWidget(optSubscriberDeleteOnlyOrvaneInfoCaption, 0, 1);
    options->addWidget(optSubscriberDeleteAll, 1, 0, Qt::AlignTop);
    options->addWidget(optSubscriberDeleteAllCaption, 1, 1);
    options->setColumnStretch(1, 1);
    optSubscriberDeleteOnlyOrvaneInfoCaption->setBuddy(optSubscriberDeleteOnlyOrvaneInfo);
    optSubscriberDeleteAllCaption->setBuddy(optSubscriberDeleteAll);
    optSubscriberDeleteOnlyOrvaneInfo->setChecked(true);
    page->addWidget(frmDeletionType);
    page->addStretch(1);

    auto* buttons = new QHBoxLayout;
    cmdPrevious = named(new QPushButton(central), "cmdPrevious");
    cmdPrevious->setEnabled(false); // the first page has nothing before it
    cmdNext = named(new QPushButton(central), "cmdNext");
    cmdHelp = named(new QPushButton(central), "cmdHelp");
    cmdExit = named(new QPushButton(central), "cmdExit");
    buttons->addStretch(1);
    for (QPushButton* button : {cmdPrevious, cmdNext, cmdHelp, cmdExit})
        buttons->addWidget(button);
    page->addLayout(buttons);

    MainHelp = named(menuBar()->addMenu(QString()), "MainHelp");
    mnuHelp = named(MainHelp->addAction(QString()), "mnuHelp");
    seperator = named(MainHelp->addSeparator(), "seperator");
    About = named(MainHelp->addAction(QString()), "About");
    mnuCheckForUpdatedVersion = named(MainHelp->addAction(QString()), "mnuCheckForUpdatedVersion");

    // F10 opens the menu bar, as Alt does.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(MainHelp->menuAction()); });
    new Keyboard::PageKeys(
        *this, [this] { return cmdNext; }, cmdHelp);
    cmdNext->setDefault(true);
    optSubscriberDeleteOnlyOrvaneInfo->setFocus();

    m_flow = new PageFlow(*this);
    connect(cmdNext, &QPushButton::clicked, this, &frmMain::cmdNext_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &frmMain::cmdHelp_Click);
    connect(mnuHelp, &QAction::triggered, this, &frmMain::mnuHelp_Click);
    connect(About, &QAction::triggered, this, &frmMain::About_Click);
    connect(mnuCheckForUpdatedVersion, &QAction::triggered, this, &frmMain::mnuCheckForUpdatedVersion_Click);

    resize(DesignedWidth, DesignedHeight);
}

frmMain::~frmMain() = default;

void frmMain::frmMain_Auto_Init()
{
    setWindowTitle(mymyLoadString(StringIds::AppTitle));
    frmDeletionType->setTitle(mymyLoadString(StringIds::DeletionType));
    optSubscriberDeleteAllCaption->setText(mymyLoadString(StringIds::DeleteAll));
    optSubscriberDeleteOnlyOrvaneInfoCaption->setText(mymyLoadString(StringIds::DeleteOnlyOrvaneInfo));
    cmdNext->setText(mymyLoadString(StringIds::Next));
    cmdPrevious->setText(mymyLoadString(StringIds::Previous));
    cmdHelp->setText(mymyLoadString(StringIds::Help));
    cmdExit->setText(mymyLoadString(StringIds::Exit));
    lblMain[2]->setText(mymyLoadString(StringIds::MainExplainFullRemoval));
    lblMain[1]->setText(mymyLoadString(StringIds::MainExplainOrvaneOnly));
    Label1->setText(mymyLoadString(StringIds::AppTitle));
    lblMain[0]->setText(mymyLoadString(StringIds::MainExplainTool));
    MainHelp->setTitle(mymyLoadString(StringIds::Help));
    mnuHelp->setText(mymyLoadString(StringIds::Help));
    About->setText(mymyLoadString(StringIds::About));
    mnuCheckForUpdatedVersion->setText(mymyLoadString(StringIds::CheckForUpdatedVersion));

    // The menu's title shares the page's Alt letters; its entries have their own.
    Keyboard::applyMnemonics({{MainHelp, QLatin1Char('H')},
                              {cmdNext, QLatin1Char('N')},
                              {cmdPrevious, QLatin1Char('P')},
                              {cmdExit, QLatin1Char('x')},
                              {cmdHelp},
                              {optSubscriberDeleteOnlyOrvaneInfoCaption},
                              {optSubscriberDeleteAllCaption}});
    Keyboard::applyMnemonics({{mnuHelp, QLatin1Char('H')},
                              {About, QLatin1Char('A')},
                              {mnuCheckForUpdatedVersion, QLatin1Char('C')}});
    fitMinimumHeightToTexts();
}

int frmMain::heightForTextsAt(int width) const
{
    // What the window adds around its central part (the menu bar, margins), from the minimum sizes, which
    // hold before the window was ever shown and laid out.
    const QLayout* page = centralWidget()->layout();
    const QSize around = layout()->totalMinimumSize() - page->totalMinimumSize();
    const int inside = width - std::max(0, around.width());
    const int central =
        page->hasHeightForWidth() ? page->totalHeightForWidth(inside) : page->totalMinimumSize().height();
    return central + std::max(0, around.height());
}

void frmMain::fitMinimumHeightToTexts()
{
    // The wrapped texts grow taller as the page narrows, which the window's own minimum does not know:
    // without this they would overlap one another.
    centralWidget()->layout()->activate();
    const int needed = heightForTextsAt(width());
    if (needed != minimumHeight())
        setMinimumHeight(needed);
}

void frmMain::fitStartSizeTo(const QRect& available)
{
    centralWidget()->layout()->activate();
    // The window manager's frame is not known before the window first shows: room for a title bar of two
    // lines' height and a border.
    const int frame =
        std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight), 2 * fontMetrics().height()) + 8;
    const int roomWidth = std::max(0, available.width() - 8);
    const int roomHeight = std::max(0, available.height() - frame);
    int width = std::max(DesignedWidth, minimumSizeHint().width());
    // Texts that wrap taller than the screen at the designed width (a large font, a small or scaled
    // screen) are given the screen's width, a step at a time, until they fit its height.
    const int step = std::max(1, fontMetrics().averageCharWidth() * 4);
    while (heightForTextsAt(width) > roomHeight && width < roomWidth)
        width = std::min(roomWidth, width + step);
    const int height = std::max(std::min(DesignedHeight, roomHeight), heightForTextsAt(width));
    // A shown page keeps the minimum of its old width until told otherwise.
    setMinimumHeight(heightForTextsAt(width));
    resize(width, height);
    fitMinimumHeightToTexts();
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (event->size().width() != event->oldSize().width())
        fitMinimumHeightToTexts();
}

void frmMain::Form_Load()
{
    frmMain_Auto_Init();
    const QScreen* shownOn = screen();
    fitStartSizeTo(shownOn ? shownOn->availableGeometry()
                           : QRect(0, 0, 4 * DesignedWidth, 4 * DesignedHeight));
    const ErrorReport report = modLocalize::localizedReport(StringIds::InFrmMainFormLoad);

    StartupChecks::Steps steps;
    // A data source that names its user but keeps no password asks for it in a box before the page shows.
    steps.askPassword = &frmSignIn::askPassword;
    steps.afterConnectorCheck = [&] {
        report.step(
            [] { modUpdateCheck::checkForUpdatedVersion_Background(modUpdateCheck::ApplicationHomePage()); });
    };
    const StartupChecks::Outcome outcome = StartupChecks::run(report, steps);
    if (outcome.refused) {
        Module1::ExitApplication(Module1::ExitStartupRefused);
        return;
    }
    optSubscriberDeleteAll->setEnabled(!outcome.restrictedRights);
}

bool frmMain::deleteAllSelected() const
{
    return optSubscriberDeleteAll->isChecked();
}

frmChooseSubscribers* frmMain::chooseSubscribersPage() const
{
    return m_flow->chooseSubscribersPage();
}

frmDeleteSubscribers* frmMain::deleteSubscribersPage() const
{
    return m_flow->deleteSubscribersPage();
}

void frmMain::cmdNext_Click()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InFrmMainCmdNextClick);
    report.step([&] { m_flow->nextFromFirstPage(); });
}

void frmMain::mnuCheckForUpdatedVersion_Click()
{
    setCursor(Qt::WaitCursor);
    modUpdateCheck::checkForUpdatedVersion_Foreground(modUpdateCheck::ApplicationHomePage());
    unsetCursor();
}

void frmMain::cmdExit_Click()
{
    Module1::ExitApplication();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // The page's close box means the end, as "Exit" does, even while the help window is still open.
    QMainWindow::closeEvent(event);
    Module1::ExitApplication();
}

frmAbout* frmMain::aboutWindow() const
{
    return m_about;
}

void frmMain::cmdHelp_Click()
{
    frmHelp::showHelp();
}

void frmMain::mnuHelp_Click()
{
    frmHelp::showHelp();
}

void frmMain::About_Click()
{
    // The first opening loads the window (and with it the language libraries); OK only hides it.
    if (!m_about) {
        m_about = new frmAbout(this);
        m_about->Form_Load();
    }
    m_about->exec();
}
