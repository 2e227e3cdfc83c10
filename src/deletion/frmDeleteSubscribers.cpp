#include "deletion/frmDeleteSubscribers.h"

#include "app/frmHelp.h"
#include "deletion/Logging.h"
#include "localize/Keyboard.h"
#include "localize/LanguageFonts.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ErrorReport.h"
#include "ports/ExitApplication.h"
#include "ports/MsgBox.h"
#include "ports/ObjectNames.h"
#include "ports/Ports.h"
#include "selection/SubscriberGridModel.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

using modLocalize::mymyLoadString;

const QString frmDeleteSubscribers::TextViewer = QStringLiteral("xdg-open");

frmDeleteSubscribers::frmDeleteSubscribers(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmDeleteSubscribers"));
    auto* page = new QVBoxLayout(this);

    Label1 = named(new QLabel(this), "Label1");
    QFont titleFont = Label1->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    page->addWidget(Label1);

    lblRemoveSubscribers = named(new QLabel(this), "lblRemoveSubscribers");
    lblRemoveSubscribers->setWordWrap(true);
    page->addWidget(lblRemoveSubscribers);

    auto* action = new QHBoxLayout;
    cmdDeleteSubscribers = named(new QPushButton(this), "cmdDeleteSubscribers");
    cmdStop = named(new QPushButton(this), "cmdStop");
    cmdStop->setVisible(false); // only during a run
    lblInFlight = named(new QLabel(this), "lblInFlight");
    spnInFlight = named(new QSpinBox(this), "spnInFlight");
    spnInFlight->setRange(1, DeletionRun::MaxInFlight);
    spnInFlight->setValue(1);
    lblInFlight->setBuddy(spnInFlight);
    action->addStretch(1);
    action->addWidget(cmdDeleteSubscribers);
    action->addWidget(cmdStop);
    action->addSpacing(16);
    action->addWidget(lblInFlight);
    action->addWidget(spnInFlight);
    action->addStretch(1);
    page->addLayout(action);

    frmProgress = named(new QGroupBox(this), "frmProgress");
    auto* progress = new QVBoxLayout(frmProgress);
    ProgressBar = named(new QProgressBar(frmProgress), "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    progress->addWidget(ProgressBar);
    auto* counter = new QHBoxLayout;
    lblRecordsDeleted = named(new QLabel(frmProgress), "lblRecordsDeleted");
    lblRecordsDeletedCount = named(new QLabel(QStringLiteral("0"), frmProgress), "lblRecordsDeletedCount");
    counter->addWidget(lblRecordsDeleted);
    counter->addWidget(lblRecordsDeletedCount);
    counter->addStretch(1);
    progress->addLayout(counter);
    auto* times = new QHBoxLayout;
    lblInProgress = named(new QLabel(frmProgress), "lblInProgress");
    lblInProgress->setTextFormat(Qt::PlainText);
    lblElapsed = named(new QLabel(frmProgress), "lblElapsed");
    lblTimeLeft = named(new QLabel(frmProgress), "lblTimeLeft");
    times->addWidget(lblInProgress, 1);
    times->addWidget(lblElapsed);
    times->addSpacing(24);
    times->addWidget(lblTimeLeft);
    progress->addLayout(times);
    lblStopping = named(new QLabel(frmProgress), "lblStopping");
    lblStopping->setVisible(false);
    progress->addWidget(lblStopping);
    lblRunLog = named(new QLabel(frmProgress), "lblRunLog");
    txtRunLog = named(new QPlainTextEdit(frmProgress), "txtRunLog");
    txtRunLog->setReadOnly(true);
    txtRunLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The file has every line; the view keeps the latest ones, so a run of thousands stays light.
    txtRunLog->setMaximumBlockCount(5000);
    // A Tab stop for scrolling the log by keys; Tab itself moves on.
    txtRunLog->setTabChangesFocus(true);
    lblRunLog->setBuddy(txtRunLog);
    // The view follows the newest line unless the person has scrolled back, and keeps doing so when the
    // page is resized, which moves the bottom line away.
    QScrollBar* runLogBar = txtRunLog->verticalScrollBar();
    connect(runLogBar, &QScrollBar::valueChanged, this,
            [this, runLogBar](int value) { m_runLogFollowsNewest = value == runLogBar->maximum(); });
    connect(runLogBar, &QScrollBar::rangeChanged, this, [this, runLogBar](int, int maximum) {
        if (m_runLogFollowsNewest)
            runLogBar->setValue(maximum);
    });
    progress->addWidget(lblRunLog);
    progress->addWidget(txtRunLog, 1);
    page->addWidget(frmProgress, 1);

    auto* buttons = new QHBoxLayout;
    cmdPrevious = named(new QPushButton(this), "cmdPrevious");
    cmdNext = named(new QPushButton(this), "cmdNext");
    cmdNext->setEnabled(false); // the last page has nothing after it
    cmdHelp = named(new QPushButton(this), "cmdHelp");
    cmdExit = named(new QPushButton(this), "cmdExit");
    buttons->addStretch(1);
    for (QPushButton* button : {cmdPrevious, cmdNext, cmdHelp, cmdExit})
        buttons->addWidget(button);
    page->addLayout(buttons);

    connect(cmdDeleteSubscribers, &QPushButton::clicked, this,
            &frmDeleteSubscribers::cmdDeleteSubscribers_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmDeleteSubscribers::cmdStop_Click);
    connect(cmdPrevious, &QPushButton::clicked, this, &frmDeleteSubscribers::cmdPrevious_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmDeleteSubscribers::cmdExit_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &frmDeleteSubscribers::cmdHelp_Click);
    connect(&Logging::channel(), &Logging::RunLogChannel::lineWritten, this,
            &frmDeleteSubscribers::showRunLogLine);
    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, &frmDeleteSubscribers::showTimes);

    new Keyboard::PageKeys(
        *this, [this] { return cmdDeleteSubscribers; }, cmdHelp);
    cmdDeleteSubscribers->setDefault(true);
    cmdDeleteSubscribers->setFocus();

    resize(760, 560);
}

frmDeleteSubscribers::~frmDeleteSubscribers() = default;

void frmDeleteSubscribers::Form_Load()
{
    frmDeleteSubscribers_Auto_Init();
}

void frmDeleteSubscribers::frmDeleteSubscribers_Auto_Init()
{
    modLocalize::ApplyLanguageFonts(this);
    setWindowTitle(mymyLoadString(StringIds::AppTitle));
    Label1->setText(mymyLoadString(StringIds::DeleteSubscribers));
    lblRemoveSubscribers->setText(mymyLoadString(StringIds::DeletePageExplanation));
    cmdDeleteSubscribers->setText(mymyLoadString(StringIds::DeleteSubscribers));
    cmdStop->setText(mymyLoadString(StringIds::Stop));
    lblInFlight->setText(mymyLoadString(StringIds::SubscribersAtATime));
    frmProgress->setTitle(mymyLoadString(StringIds::Progress));
    lblRecordsDeleted->setText(mymyLoadString(StringIds::SubscribersDeleted));
    lblRunLog->setText(mymyLoadString(StringIds::RunLogView));
    lblStopping->setText(stoppingText());
    if (m_running || m_estimate.total() > 0)
        showTimes();
    cmdPrevious->setText(mymyLoadString(StringIds::Previous));
    cmdNext->setText(mymyLoadString(StringIds::Next));
    cmdHelp->setText(mymyLoadString(StringIds::Help));
    cmdExit->setText(mymyLoadString(StringIds::Exit));
    Keyboard::applyMnemonics({{cmdNext, QLatin1Char('N')},
                              {cmdPrevious, QLatin1Char('P')},
                              {cmdDeleteSubscribers, QLatin1Char('D')},
                              {cmdStop, QLatin1Char('S')},
                              {lblInFlight, QLatin1Char('a')},
                              {cmdExit, QLatin1Char('x')},
                              {cmdHelp, QLatin1Char('H')},
                              {lblRunLog, QLatin1Char('L')}});
}

bool frmDeleteSubscribers::confirmed(bool deleteAll, qint32 checked)
{
    // Every question names how many subscribers it is about: the grid's filter may hide some of them.
    const QString count =
        QStringLiteral("\n\n") + mymyLoadString(StringIds::SubscribersToDelete).arg(checked);
    if (deleteAll) {
        if (MsgBox::show(mymyLoadString(StringIds::ConfirmFullRemoval) + count, MsgBox::vbYesNo) ==
            MsgBox::vbNo)
            return false;
        return MsgBox::show(mymyLoadString(StringIds::ConfirmFullRemovalAgain) + count, MsgBox::vbOKCancel) !=
               MsgBox::vbCancel;
    }
    return MsgBox::show(mymyLoadString(StringIds::ConfirmOrvaneDataRemoval) + count, MsgBox::vbYesNo) !=
           MsgBox::vbNo;
}

void frmDeleteSubscribers::cmdDeleteSubscribers_Click()
{
    const bool deleteAll = m_sources.deleteAllSelected && m_sources.deleteAllSelected();
    const SubscriberGridModel* grid = m_sources.grid ? m_sources.grid() : nullptr;
    if (!grid || !confirmed(deleteAll, grid->checkedRowCount()))
        return;

    setCursor(Qt::WaitCursor);
    const bool previousWasEnabled = cmdPrevious->isEnabled();
    const bool deleteWasEnabled = cmdDeleteSubscribers->isEnabled();
    const bool exitWasEnabled = cmdExit->isEnabled();
    cmdPrevious->setEnabled(false);
    cmdDeleteSubscribers->setEnabled(false);
    cmdExit->setEnabled(false);
    // A run's pace is set once: a page allows one run.
    spnInFlight->setEnabled(false);

    m_checked = grid->checkedRowCount();
    txtRunLog->clear();
    m_pendingLines.clear();
    m_running = true;
    const DeletionRun::Outcome outcome =
        DeletionRun::run(*grid, deleteAll, *this, QString(), spnInFlight->value());
    m_running = false;
    m_endedMs = Clock::monotonicMs();
    m_clock->stop();
    m_inProgress.clear();
    if (!outcome.logFailed)
        showRunView();
    cmdStop->setVisible(false);
    lblStopping->setVisible(false);
    unsetCursor();

    if (outcome.logFailed) {
        MsgBox::show(mymyLoadString(StringIds::RunLogNotCreated)
                         .arg(outcome.logPath, outcome.logFailure.isEmpty()
                                                   ? mymyLoadString(StringIds::UnknownReason)
                                                   : outcome.logFailure));
        cmdPrevious->setEnabled(previousWasEnabled);
        cmdDeleteSubscribers->setEnabled(deleteWasEnabled);
        cmdExit->setEnabled(exitWasEnabled);
        spnInFlight->setEnabled(true);
        cmdDeleteSubscribers->setFocus();
        return;
    }

    // The counts below are right even so; the file lacks the lines from the failure on.
    if (!Logging::RunLogWriteFailure().isEmpty())
        MsgBox::show(mymyLoadString(StringIds::RunLogIncomplete)
                         .arg(Logging::RunLogPath(), Logging::RunLogWriteFailure()));

    if (!outcome.resultsWriteFailure.isEmpty())
        MsgBox::show(mymyLoadString(StringIds::ResultsFileIncomplete)
                         .arg(outcome.resultsPath, outcome.resultsWriteFailure));

    QString closing =
        mymyLoadString(StringIds::DeletionCompleteRemoved) + QString::number(outcome.processed) +
        mymyLoadString(StringIds::DeletionCompleteSubscribers) +
        QString::number(Logging::RunLogErrorCount()) + mymyLoadString(StringIds::DeletionCompleteErrors);
    // The counts alone read like a finished run; a stopped one says what it left undone.
    if (outcome.stopped && outcome.notAttempted > 0)
        closing = mymyLoadString(outcome.unreachable ? StringIds::RunStoppedUnreachable
                                                     : StringIds::RunStoppedClosing)
                      .arg(outcome.notAttempted) +
                  QStringLiteral("\n\n") + closing;
    if (MsgBox::show(closing, MsgBox::vbOKCancel) == MsgBox::vbOK &&
        !Launcher::start(TextViewer, {Logging::RunLogPath()}))
        MsgBox::show(mymyLoadString(StringIds::NoTextViewer).arg(Logging::RunLogPath()));
    cmdExit->setEnabled(true);
    // The run's buttons stay disabled: Exit is what is left to do.
    cmdExit->setFocus();
}

void frmDeleteSubscribers::closeEvent(QCloseEvent* event)
{
    // Clicks reach the page during the run's pauses; closing it then would end the program part-way
    // through a subscriber. "Stop" is the way out of a run, and the box says so.
    if (m_running) {
        event->ignore();
        MsgBox::show(mymyLoadString(StringIds::CloseDuringRun));
        return;
    }
    // Otherwise the close box means the end, as "Exit" does, even while the help window is still open.
    QWidget::closeEvent(event);
    Module1::ExitApplication();
}

QString frmDeleteSubscribers::stoppingText() const
{
    return mymyLoadString(spnInFlight->value() > 1 ? StringIds::RunStoppingInFlight : StringIds::RunStopping);
}

void frmDeleteSubscribers::cmdStop_Click()
{
    // Taken at once and for good: the run sees it before its next subscriber, whose wait may take 40 s.
    m_stopRequested = true;
    cmdStop->setEnabled(false);
    lblStopping->setText(stoppingText());
    lblStopping->setVisible(true);
}

DeletionRunSink::Unreachable frmDeleteSubscribers::databaseUnreachable(qint32 inARow, const QString& alias,
                                                                       const QString& reason, bool retrySame)
{
    const QString text = retrySame
                             ? mymyLoadString(StringIds::UnreachableRetrySame).arg(inARow).arg(reason, alias)
                             : mymyLoadString(StringIds::UnreachableRetryNext).arg(inARow).arg(reason);
    // Stop pressed before the question: the answer is already given.
    if (m_stopRequested)
        return Unreachable::Stop;
    return MsgBox::show(text, MsgBox::vbRetryCancel) == MsgBox::vbRetry ? Unreachable::Retry
                                                                        : Unreachable::Stop;
}

void frmDeleteSubscribers::cmdPrevious_Click()
{
    const ErrorReport report = modLocalize::localizedReport(StringIds::InCmdPreviousClick);
    report.step([&] { emit previousRequested(); });
}

void frmDeleteSubscribers::cmdExit_Click()
{
    Module1::ExitApplication();
}

void frmDeleteSubscribers::runStarted(qint32 rows)
{
    m_estimate.start(m_checked, Clock::monotonicMs());
    showTimes();
    m_clock->start();
    ProgressBar->setMaximum(rows);
    ProgressBar->setValue(0);
    lblRecordsDeletedCount->setText(QStringLiteral("0"));
    m_stopRequested = false;
    cmdStop->setEnabled(true);
    cmdStop->setVisible(true);
}

void frmDeleteSubscribers::resultsFileUnavailable(const QString& path, const QString& reason)
{
    MsgBox::show(mymyLoadString(StringIds::ResultsFileUnavailable).arg(path, reason));
}

void frmDeleteSubscribers::rowsVisited(qint32 visited)
{
    // Drawn when the run next lets events through, as the counter is: a progress bar otherwise paints
    // itself at once on every visible change, a tenth of a long run's time.
    ProgressBar->setUpdatesEnabled(false);
    ProgressBar->setValue(visited);
    ProgressBar->setUpdatesEnabled(true);
}

void frmDeleteSubscribers::subscribersProcessed(qint32 processed)
{
    lblRecordsDeletedCount->setText(QString::number(processed));
    m_estimate.subscriberDone(Clock::monotonicMs());
    scheduleRunView();
}

void frmDeleteSubscribers::subscriberStarted(const QString& alias)
{
    m_inProgress = alias;
    scheduleRunView();
}

void frmDeleteSubscribers::inFlight(const QStringList& aliases)
{
    // Between two subscribers the one before stays named until the next is sent.
    if (aliases.isEmpty())
        return;
    m_inProgress = aliases.join(QStringLiteral(", "));
    scheduleRunView();
}

void frmDeleteSubscribers::showRunLogLine(const QString& line)
{
    // The log's lines reach this view only while this page runs; a line may hold its own line break.
    if (!m_running)
        return;
    m_pendingLines.append(QString(line).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    scheduleRunView();
}

void frmDeleteSubscribers::scheduleRunView()
{
    // Drawn when the run next lets events through, in one go: a view and labels that lay themselves out
    // for every line would cost a fast run as much again as its database work.
    if (m_runViewScheduled)
        return;
    m_runViewScheduled = true;
    QMetaObject::invokeMethod(this, &frmDeleteSubscribers::showRunView, Qt::QueuedConnection);
}

void frmDeleteSubscribers::showRunView()
{
    m_runViewScheduled = false;
    if (!m_pendingLines.isEmpty()) {
        txtRunLog->appendPlainText(m_pendingLines.join(QLatin1Char('\n')));
        m_pendingLines.clear();
    }
    lblInProgress->setText(
        m_inProgress.isEmpty() ? QString() : mymyLoadString(StringIds::RunInProgress).arg(m_inProgress));
    showTimes();
}

void frmDeleteSubscribers::showTimes()
{
    // A finished run's times stand still.
    const qint64 now = m_running ? Clock::monotonicMs() : m_endedMs;
    lblElapsed->setText(
        mymyLoadString(StringIds::RunElapsed).arg(RunTimeEstimate::format(m_estimate.elapsedMs(now))));
    // Nothing is left once a run has ended, whether it got through or was stopped.
    if (!m_running) {
        lblTimeLeft->clear();
        return;
    }
    const std::optional<qint64> left = m_estimate.remainingMs(now);
    lblTimeLeft->setText(left ? mymyLoadString(StringIds::RunTimeLeft).arg(RunTimeEstimate::format(*left))
                              : mymyLoadString(StringIds::RunTimeLeftUnknown));
}

void frmDeleteSubscribers::cmdHelp_Click()
{
    // Usable before, during and after a run.
    frmHelp::showHelp();
}
