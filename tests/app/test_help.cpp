#include "app/Twips.h"
#include "app/frmHelp.h"
#include "app/frmMain.h"
#include "common/ScriptedPorts.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/modLocalize.h"
#include "selection/frmChooseSubscribers.h"

#include <QAction>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

using namespace modLocalize;

namespace {
const QString kEnglishPage = QStringLiteral(CULVANE_BIN_DIR "/Culvane.htm");
const QString kGermanPage = QStringLiteral(CULVANE_BIN_DIR "/culvane_DEU.htm");

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Compares a pixel size with one given in twips, allowing the pixel rounding of the conversion.
bool closeTo(int pixels, int twips, const Twips& scale, bool horizontal)
{
    const int expected = horizontal ? scale.toPixelsX(twips) : scale.toPixelsY(twips);
    return std::abs(pixels - expected) <= 1;
}
} // namespace

class TestHelp : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pageFollowsTheLanguageWhenTheWindowLoads();
    void oneModelessWindowForEveryHelpButton();
    void resizingClampsAndPlacesTheBrowser();
    void shippedPagesCoverWhatTheAdministratorNeeds();

private:
    QString place(const QString& source, const QString& name) const;
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
};

void TestHelp::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_boxes = std::make_unique<ScriptedMessageBoxes>();
    resetLocalisation();
    setProgramLocation(m_folder->path(), QStringLiteral("Culvane"));
}

void TestHelp::cleanup()
{
    delete frmHelp::instance();
    resetLocalisation();
    setProgramLocation({}, {});
    QVERIFY(m_boxes->texts().isEmpty());
    m_boxes.reset();
    m_folder.reset();
}

QString TestHelp::place(const QString& source, const QString& name) const
{
    const QString target = m_folder->filePath(name);
    return QFile::copy(source, target) ? target : QString();
}

void TestHelp::pageFollowsTheLanguageWhenTheWindowLoads()
{
    const QString english = place(kEnglishPage, QStringLiteral("Culvane.htm"));
    const QString german = place(kGermanPage, QStringLiteral("culvane_DEU.htm"));
    QVERIFY(!english.isEmpty() && !german.isEmpty());

    setCurrentLangID(1031);
    frmHelp* window = frmHelp::showHelp();
    QCOMPARE(window->browser()->source(), QUrl::fromLocalFile(german));
    QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Teilnehmer auswählen")));
    QCOMPARE(window->windowTitle(), QStringLiteral("Culvane"));

    // The page is chosen when the window loads: showing it again keeps it.
    setCurrentLangID(1041);
    QCOMPARE(frmHelp::showHelp(), window);
    QCOMPARE(window->browser()->source(), QUrl::fromLocalFile(german));

    // Closed, it is unloaded; the next Help loads it in the language of the moment, which has no page of
    // its own: the default page through a file address.
    QVERIFY(window->close());
    QTRY_VERIFY(!frmHelp::instance());
    window = frmHelp::showHelp();
    QCOMPARE(window->browser()->source().scheme(), QStringLiteral("file"));
    QCOMPARE(window->browser()->source().toLocalFile(), english);
    QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Select Subscribers")));
    delete window;

    // German without its page beside the program: the default page too.
    QVERIFY(QFile::remove(german));
    setCurrentLangID(1031);
    QCOMPARE(frmHelp::showHelp()->browser()->source().toLocalFile(), english);
    delete frmHelp::instance();

    // A program folder whose name holds characters with a meaning in addresses still finds its page.
    const QString odd = m_folder->filePath(QStringLiteral("tools #1 100%"));
    QVERIFY(QDir().mkpath(odd));
    QVERIFY(QFile::copy(kEnglishPage, odd + QStringLiteral("/Culvane.htm")));
    setProgramLocation(odd, QStringLiteral("Culvane"));
    QCOMPARE(frmHelp::helpPage().toLocalFile(), odd + QStringLiteral("/Culvane.htm"));
    QVERIFY(frmHelp::showHelp()->browser()->toPlainText().contains(QStringLiteral("Select Subscribers")));
}

void TestHelp::oneModelessWindowForEveryHelpButton()
{
    QVERIFY(!place(kEnglishPage, QStringLiteral("Culvane.htm")).isEmpty());
    frmMain first;
    first.frmMain_Auto_Init();
    first.show();

    first.findChild<QPushButton*>(QStringLiteral("cmdHelp"))->click();
    frmHelp* window = frmHelp::instance();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(!window->isModal());
    QVERIFY(first.isEnabled() && first.isVisible());

    window->hide();
    first.findChild<QAction*>(QStringLiteral("mnuHelp"))->trigger();
    QCOMPARE(frmHelp::instance(), window);
    QVERIFY(window->isVisible());

    frmChooseSubscribers selection(&first);
    selection.frmChooseSubscribers_Auto_Init();
    auto* selectionHelp = selection.findChild<QPushButton*>(QStringLiteral("cmdHelp"));
    QVERIFY(selectionHelp->isEnabled());
    window->hide();
    selectionHelp->click();
    QCOMPARE(frmHelp::instance(), window);
    QVERIFY(window->isVisible());
    frmDeleteSubscribers deletion;
    deletion.Form_Load();
    window->hide();
    deletion.findChild<QPushButton*>(QStringLiteral("cmdHelp"))->click();
    QCOMPARE(frmHelp::instance(), window);
    QVERIFY(window->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(),
                           [](QWidget* widget) { return qobject_cast<frmHelp*>(widget) != nullptr; }),
             1);
}

void TestHelp::resizingClampsAndPlacesTheBrowser()
{
    // It starts at its designed size where the screen has room, else within the screen: 1366x768 at 1.5
    // times the pixels is 911x512.
    QCOMPARE(frmHelp::startSize(QSize(1280, 984)), QSize(720, 640));
    const QSize small = frmHelp::startSize(QSize(911, 512));
    QVERIFY2(small.width() == 720 && small.height() + 40 <= 512,
             qPrintable(QStringLiteral("%1x%2").arg(small.width()).arg(small.height())));

    frmHelp* window = frmHelp::showHelp();
    const Twips twips(*window);
    QTextBrowser* browser = window->browser();
    // Sizes in twips are those of the whole window, its frame included.
    const QSize frame = window->frameGeometry().size() - window->size();
    const auto resizeFrame = [&](int width, int height) {
        window->resize(twips.toPixelsX(width) - frame.width(), twips.toPixelsY(height) - frame.height());
    };

    resizeFrame(1000, 1000);
    QTRY_VERIFY(closeTo(window->frameGeometry().width(), 2500, twips, true));
    QVERIFY(closeTo(window->frameGeometry().height(), 2400, twips, false));
    QVERIFY(closeTo(browser->x(), 100, twips, true));
    QVERIFY(closeTo(browser->y(), 1, twips, false));
    QVERIFY(closeTo(browser->width(), 2300, twips, true));
    QVERIFY(closeTo(browser->height(), 2000, twips, false));

    // Narrow but tall: only the width snaps.
    resizeFrame(2000, 6000);
    QTRY_VERIFY(closeTo(window->frameGeometry().width(), 2500, twips, true));
    QVERIFY(closeTo(window->frameGeometry().height(), 6000, twips, false));
    QVERIFY(closeTo(browser->height(), 5600, twips, false));

    resizeFrame(9000, 7000);
    QTRY_VERIFY(closeTo(browser->width(), 8800, twips, true));
    QVERIFY(closeTo(browser->height(), 6600, twips, false));

    // Minimised, nothing moves, whatever size the window reports meanwhile.
    const QRect placed = browser->geometry();
    window->setWindowState(Qt::WindowMinimized);
    QVERIFY(window->isMinimized());
    window->resize(twips.toPixelsX(1000), twips.toPixelsY(1000));
    QCoreApplication::processEvents();
    QCOMPARE(browser->geometry(), placed);
}

void TestHelp::shippedPagesCoverWhatTheAdministratorNeeds()
{
    const QString english = readText(kEnglishPage);
    const QString german = readText(kGermanPage);
    QVERIFY(!english.isEmpty());
    QVERIFY(!german.isEmpty());

    // The nine selections in the words the selection page shows in each language.
    const QList<int> criteria = {383, 387, 418, 414, 417, 413, 416, 408};
    for (const int id : criteria)
        QVERIFY2(english.contains(mymyLoadString(id)), qPrintable(mymyLoadString(id)));
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll"),
                        m_folder->filePath("Culvane_DEU.dll")));
    setCurrentLangID(1031);
    InitalizeLanguages();
    for (const int id : criteria)
        QVERIFY2(german.contains(mymyLoadString(id)), qPrintable(mymyLoadString(id)));
    for (const QString& page : {english, german}) {
        QVERIFY(page.contains(QStringLiteral("Archived Mailboxes")));
        // The extension heading of the CSV file in the page's language, and where the run log lies.
        QVERIFY(page.contains(QStringLiteral("$XDG_STATE_HOME/culvane/logs")));
        QVERIFY(page.contains(QStringLiteral("<code>logs</code>")));
        QVERIFY(page.contains(QStringLiteral("(error)")));
        QVERIFY(page.contains(QStringLiteral("<pre>")));
    }
    QVERIFY(english.contains(QStringLiteral("<code>extension</code>")));
    QVERIFY(german.contains(QStringLiteral("<code>") + mymyLoadString(300) + QStringLiteral("</code>")));
}

QTEST_MAIN(TestHelp)
#include "test_help.moc"
