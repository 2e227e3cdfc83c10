#pragma once

#include "deletion/DeletionRun.h"
#include "deletion/RunTimeEstimate.h"

#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QTimer;
class QProgressBar;
class QPushButton;
class QSpinBox;
class SubscriberGridModel;

// The third wizard page: deletes the subscribers checked on the selection page, once per page. The page
// flow hands it the two things a run reads: the first page's deletion mode and the selection page's grid.
class frmDeleteSubscribers : public QWidget, private DeletionRunSink {
    Q_OBJECT

public:
    explicit frmDeleteSubscribers(QWidget* parent = nullptr);
    ~frmDeleteSubscribers() override;

    void Form_Load();
    Q_INVOKABLE void frmDeleteSubscribers_Auto_Init();

    struct Sources {
        // Full removal selected on the first page.
        std::function<bool()> deleteAllSelected;
        // The grid of the selection page, or null when that page is not loaded.
        std::function<const SubscriberGridModel*()> grid;
    };
    void setSources(Sources sources) { m_sources = std::move(sources); }

    void cmdDeleteSubscribers_Click();
    // "Stop", shown during a run: the run ends after the subscriber in progress.
    void cmdStop_Click();

    // The program that shows a run log (its path is the one argument).
    static const QString TextViewer;

signals:
    // "<< Previous": the page flow hands the screen back to the selection page.
    void previousRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdPrevious_Click();
    void cmdExit_Click();
    void cmdHelp_Click();
    bool confirmed(bool deleteAll, qint32 checked);
    // What the page says once Stop is pressed: after the subscriber in progress, or those in flight.
    QString stoppingText() const;

    void runStarted(qint32 rows) override;
    void rowsVisited(qint32 visited) override;
    void subscribersProcessed(qint32 processed) override;
    void subscriberStarted(const QString& alias) override;
    void inFlight(const QStringList& aliases) override;
    void showRunLogLine(const QString& line);
    void scheduleRunView();
    // The log lines, the subscriber in progress and the times as they stand.
    void showRunView();
    // The elapsed time and the estimate of the time left, as of now.
    void showTimes();
    bool stopRequested() override { return m_stopRequested; }
    void resultsFileUnavailable(const QString& path, const QString& reason) override;
    Unreachable databaseUnreachable(qint32 inARow, const QString& alias, const QString& reason,
                                    bool retrySame) override;

    Sources m_sources;
    bool m_stopRequested = false;
    bool m_running = false;
    qint32 m_checked = 0;
    RunTimeEstimate m_estimate;
    qint64 m_endedMs = 0;
    QString m_inProgress;
    QStringList m_pendingLines;
    bool m_runViewScheduled = false;
    bool m_runLogFollowsNewest = true;

    QLabel* Label1 = nullptr;
    QLabel* lblRemoveSubscribers = nullptr;
    QPushButton* cmdDeleteSubscribers = nullptr;
    QPushButton* cmdStop = nullptr;
    // How many subscribers' directory syncs are waited for at once; 1, one after the other, by default.
    QLabel* lblInFlight = nullptr;
    QSpinBox* spnInFlight = nullptr;
    QGroupBox* frmProgress = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* lblRecordsDeleted = nullptr;
    QLabel* lblRecordsDeletedCount = nullptr;
    QLabel* lblInProgress = nullptr;
    QLabel* lblElapsed = nullptr;
    QLabel* lblTimeLeft = nullptr;
    // Says, once Stop is pressed, that the run ends after the subscriber in progress.
    QLabel* lblStopping = nullptr;
    QLabel* lblRunLog = nullptr;
    QPlainTextEdit* txtRunLog = nullptr;
    // Keeps the times moving during a subscriber's wait, whose pauses let events through.
    QTimer* m_clock = nullptr;
    QPushButton* cmdPrevious = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdHelp = nullptr;
    QPushButton* cmdExit = nullptr;
};
