#include "common/StandinFixture.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

// The tour of scripts/demo --tour, each part a start of its own as there, against a fresh stand-in. The
// stand-in's marks give the synchronisation outcomes the demo's service gives by count (the first run's
// third subscriber fails, its fifth never finishes), and the 2-second pauses are cut short, so the tour's
// own checks run in seconds: a page whose controls the tour cannot find, or whose outcome changed, fails
// here before CI's real tour.
class TestTour : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyPartPasses();
    void aFailedStepIsNamed();

private:
    // Runs one part in the stand-in's folder; the exit status, or -1 when it did not end in time.
    int runPart(const QString& part, const QStringList& extra = {});

    QTemporaryDir m_work;
    QByteArray m_previousRegistry;
    QString m_output;
};

void TestTour::initTestCase()
{
    QVERIFY(m_work.isValid());
    m_previousRegistry = qgetenv("CULVANE_REGISTRY");
    qputenv("CULVANE_REGISTRY", CULVANE_SOURCE_DIR "/standin/HKLM-sample.reg");
}

void TestTour::cleanupTestCase()
{
    qputenv("CULVANE_REGISTRY", m_previousRegistry);
}

int TestTour::runPart(const QString& part, const QStringList& extra)
{
    QProcess tour;
    tour.setProcessChannelMode(QProcess::MergedChannels);
    // The fixture has put ODBCSYSINI into this process's environment and made the database's folder the
    // working folder; the tour inherits both.
    tour.setWorkingDirectory(QDir::currentPath());
    tour.start(QStringLiteral(CULVANE_TOUR),
               QStringList{QStringLiteral("--part"), part, QStringLiteral("--work"),
                           m_work.filePath(QStringLiteral("demo")), QStringLiteral("--log-folder"),
                           m_work.filePath(QStringLiteral("logs")), QStringLiteral("--pause-divisor"),
                           QStringLiteral("50")} +
                   extra);
    const bool ended = tour.waitForFinished(180000);
    m_output = QString::fromLocal8Bit(tour.readAll());
    if (!ended) {
        tour.kill();
        tour.waitForFinished();
        return -1;
    }
    return tour.exitStatus() == QProcess::NormalExit ? tour.exitCode() : -1;
}

void TestTour::everyPartPasses()
{
    StandinFixture standin(2000);
    QVERIFY(standin.isValid());
    QVERIFY(standin.exec(QStringLiteral("UPDATE subscriber SET SyncResult = 5 WHERE Alias = ?"),
                         {QStringLiteral("o'brien38")}));
    QVERIFY(standin.exec(QStringLiteral("UPDATE subscriber SET SyncNeverFinishes = 1 WHERE Alias = ?"),
                         {QStringLiteral("user00022")}));

    for (const QString& part : {QStringLiteral("run"), QStringLiteral("stop"), QStringLiteral("about")}) {
        const int status = runPart(part);
        // The whole output, as a failure message would cut it short.
        if (status != 0)
            qWarning().noquote() << m_output;
        QVERIFY2(status == 0,
                 qPrintable(QStringLiteral("the part \"%1\" ended with %2").arg(part).arg(status)));
        QVERIFY(m_output.contains(QStringLiteral("Tour (%1): every step passed.").arg(part)));
    }

    // Every step left a picture that reads back as one; the parts number theirs in ranges of their own.
    const QDir screens(m_work.filePath(QStringLiteral("demo/screens")));
    const QStringList pictures = screens.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    const auto pictured = [&](const QString& step) {
        return std::any_of(pictures.cbegin(), pictures.cend(), [&](const QString& name) {
            return name.endsWith(QLatin1Char('-') + step + QStringLiteral(".png"));
        });
    };
    for (const char* step : {"first-page", "extension-range", "csv-import-message", "two-rows-unchecked",
                             "export", "confirmation", "deletion-running", "closing-message", "run-log",
                             "results-file", "filtered-grid", "grid-context-menu", "stop-pressed",
                             "stopped-run-results", "language-menu", "about-german", "help"})
        QVERIFY2(pictured(QLatin1String(step)), step);
    QVERIFY(pictures.contains(QStringLiteral("01-first-page.png")));
    QVERIFY(pictures.contains(QStringLiteral("21-first-page.png")));
    QVERIFY(pictures.contains(QStringLiteral("41-first-page.png")));
    for (const QString& name : pictures) {
        const QImage image(screens.filePath(name));
        QVERIFY2(image.width() > 200 && image.height() > 100, qPrintable(name));
    }
    // Both runs' logs and results files lie in the work folder beside the CSV file.
    const QDir work(m_work.filePath(QStringLiteral("demo")));
    QCOMPARE(work.entryList({QStringLiteral("Culvane_Log_*.TXT")}, QDir::Files).size(), 2);
    QCOMPARE(work.entryList({QStringLiteral("Culvane_Results_*.csv")}, QDir::Files).size(), 2);
    QVERIFY(work.exists(QStringLiteral("tour-subscribers.csv")));
}

void TestTour::aFailedStepIsNamed()
{
    // Without a database the first step fails, named, and the tour says why.
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(empty.path()));
    const int status = runPart(QStringLiteral("run"));
    QDir::setCurrent(previous);
    QCOMPARE(status, 1);
    QVERIFY2(m_output.contains(QStringLiteral("The tour (run) failed at step 1, \"start the program\"")),
             qPrintable(m_output));
    QCOMPARE(runPart(QStringLiteral("nowhere")), 1);
    QVERIFY2(m_output.contains(QStringLiteral("no part \"nowhere\"")), qPrintable(m_output));
}

QTEST_MAIN(TestTour)
#include "test_tour.moc"
