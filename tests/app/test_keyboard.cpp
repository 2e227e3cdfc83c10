#include "app/frmHelp.h"
#include "app/frmMain.h"
#include "common/NamedChild.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/Logging.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/Keyboard.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "selection/SubscriberGridModel.h"
#include "selection/frmChooseSubscribers.h"
#include "server/OrvaneVersion.h"
#include "server/modOrvaneDB.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The wizard driven by the keyboard alone: every key goes to the control that has the focus, as a
// person's would; no mouse call anywhere.
class TestKeyboard : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void mnemonicsLeaveTheTextAndNeverCollide();
    void wholeDeletionByKeysAlone();
    void helpMenuF10AndF1();
    void returnPressesThePagesDefaultAndEscapeKeepsThePage();
    void gridKeys();
    void focusIsNeverLost();

private:
    // Starts the first page on a stand-in of `subscribers` and shows it active.
    frmMain& startFirstPage(int subscribers);
    // The next key goes to whatever has the focus.
    static void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key(key), modifiers);
    }
    static QWidget* focused() { return QApplication::focusWidget(); }
    // Return on the first page; null when no selection page shows.
    frmChooseSubscribers* selectionPageByKeys();

    std::unique_ptr<StandinFixture> m_standin;
    std::unique_ptr<RegFile> m_reg;
    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<frmMain> m_first;
    int m_exits = 0;
    Module1::ExitHandler m_previousExit;
};

namespace {
// The letter after the one marker of a caption, or a null character.
QChar mnemonicOf(const QString& caption)
{
    for (int i = 0; i + 1 < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&')) {
            if (caption.at(i + 1) != QLatin1Char('&'))
                return caption.at(i + 1).toLower();
            ++i;
        }
    }
    return QChar();
}

// Whether the control looks different with the focus than without: the focus can be seen.
bool focusShows(QWidget* control)
{
    if (!control)
        return false;
    const QImage focused = control->grab().toImage();
    control->clearFocus();
    const QImage unfocused = control->grab().toImage();
    control->setFocus(Qt::OtherFocusReason);
    return focused != unfocused;
}

// Every letter taken on a window by its buttons, labels, group boxes and menu titles; fails on a repeat.
QString lettersOf(const QWidget& window)
{
    QStringList captions;
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>())
        captions.append(button->text());
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->buddy())
            captions.append(label->text());
    for (const QGroupBox* frame : window.findChildren<QGroupBox*>())
        captions.append(frame->title());
    if (const auto* main = qobject_cast<const QMainWindow*>(&window))
        for (const QAction* menu : main->menuBar()->actions())
            captions.append(menu->text());
    QString letters;
    for (const QString& caption : captions) {
        const QChar letter = mnemonicOf(caption);
        if (letter.isNull())
            continue;
        if (letters.contains(letter))
            return QStringLiteral("repeated: ") + letter + QLatin1Char(' ') + caption;
        letters.append(letter);
    }
    return letters;
}
} // namespace

void TestKeyboard::init()
{
    m_exits = 0;
    m_previousExit = Module1::setExitHandler([this] { ++m_exits; });
    modLocalize::resetLocalisation();
    OrvaneVersion::setInstalledVersion({});
    modOrvaneDB::DbConnectionString().clear();
    m_program = std::make_unique<QTemporaryDir>();
    modLocalize::setProgramLocation(m_program->path(), QStringLiteral("Culvane"));
    Logging::setLogFolder(m_program->filePath(QStringLiteral("logs")));
}

void TestKeyboard::cleanup()
{
    if (frmHelp* help = frmHelp::instance())
        delete help;
    m_first.reset();
    modOrvaneDB::CloseSharedLists();
    Logging::CloseRunLog();
    Logging::setLogFolder(QString());
    modLocalize::setProgramLocation(QString(), QString());
    m_reg.reset();
    m_standin.reset();
    m_program.reset();
    Module1::setExitHandler(std::move(m_previousExit));
}

frmMain& TestKeyboard::startFirstPage(int subscribers)
{
    m_standin = std::make_unique<StandinFixture>(subscribers);
    m_reg = std::make_unique<RegFile>();
    m_reg->currentVersion(5, 0, 1, 33);
    m_reg->save();
    m_first = std::make_unique<frmMain>();
    m_first->Form_Load();
    m_first->show();
    m_first->activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(m_first.get())); }();
    return *m_first;
}

frmChooseSubscribers* TestKeyboard::selectionPageByKeys()
{
    key(Qt::Key_Return);
    frmChooseSubscribers* page = m_first->chooseSubscribersPage();
    if (!page || !page->isVisible())
        return nullptr;
    page->activateWindow();
    return QTest::qWaitForWindowActive(page) ? page : nullptr;
}

void TestKeyboard::mnemonicsLeaveTheTextAndNeverCollide()
{
    using Keyboard::withMnemonics;
    // Preferred letters first, then the first free one; a literal '&' stays visible.
    QCOMPARE(
        withMnemonics({QStringLiteral("Next >>"), QStringLiteral("<< Previous"), QStringLiteral("Exit")},
                      QStringLiteral("NPx")),
        QStringList({QStringLiteral("&Next >>"), QStringLiteral("<< &Previous"), QStringLiteral("E&xit")}));
    QCOMPARE(withMnemonics({QStringLiteral("Help"), QStringLiteral("Help"), QStringLiteral("Q & A")}),
             QStringList({QStringLiteral("&Help"), QStringLiteral("H&elp"), QStringLiteral("&Q && A")}));
    // Nothing left to take: no marker at all.
    QCOMPARE(withMnemonics(
                 {QStringLiteral("ab"), QStringLiteral("ba"), QStringLiteral("ab"), QStringLiteral(">>")}),
             QStringList(
                 {QStringLiteral("&ab"), QStringLiteral("&ba"), QStringLiteral("ab"), QStringLiteral(">>")}));
    QCOMPARE(Keyboard::shownText(QStringLiteral("&Q && A")), QStringLiteral("Q & A"));

    frmMain& first = startFirstPage(2);
    frmChooseSubscribers* shown = selectionPageByKeys();
    QVERIFY(shown);
    frmChooseSubscribers& selection = *shown;
    QVERIFY2(!lettersOf(first).startsWith(QStringLiteral("repeated")), qPrintable(lettersOf(first)));
    QVERIFY2(!lettersOf(selection).startsWith(QStringLiteral("repeated")), qPrintable(lettersOf(selection)));
    // German captions choose their own letters, again without a repeat, and keep their wording.
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_BIN_DIR "/Culvane_DEU.dll"),
                        m_program->filePath(QStringLiteral("Culvane_DEU.dll"))));
    modLocalize::setCurrentLangID(1031);
    modLocalize::InitalizeLanguages();
    first.frmMain_Auto_Init();
    selection.frmChooseSubscribers_Auto_Init();
    QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(selection, "cmdNext")->text()),
             QStringLiteral("Weiter >>"));
    QVERIFY2(!lettersOf(first).startsWith(QStringLiteral("repeated")), qPrintable(lettersOf(first)));
    QVERIFY2(!lettersOf(selection).startsWith(QStringLiteral("repeated")), qPrintable(lettersOf(selection)));
    QVERIFY(lettersOf(selection).size() >= 10);
    modLocalize::setCurrentLangID(1033);
    modLocalize::InitalizeLanguages();
    first.frmMain_Auto_Init();
    selection.frmChooseSubscribers_Auto_Init();
    QCOMPARE(namedChild<QPushButton>(selection, "cmdNext")->text(), QStringLiteral("&Next >>"));
    QCOMPARE(namedChild<QPushButton>(selection, "cmdPrevious")->text(), QStringLiteral("<< &Previous"));
    QCOMPARE(namedChild<QLabel>(selection, "lblFilter")->text().count(QLatin1Char('&')), 1);
    QCOMPARE(mnemonicOf(namedChild<QLabel>(selection, "lblFilter")->text()), QLatin1Char('f'));
    // Alt+F goes to the filter, Alt+P back to the first page.
    key(Qt::Key_F, Qt::AltModifier);
    QCOMPARE(focused(), namedChild<QLineEdit>(selection, "txtFilter"));
    key(Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY(first.isVisible());
    QVERIFY(!lettersOf(first).isEmpty());
    // A second caption run gives the same captions, not markers upon markers.
    first.frmMain_Auto_Init();
    QCOMPARE(namedChild<QPushButton>(first, "cmdNext")->text(), QStringLiteral("&Next >>"));
    QCOMPARE(Keyboard::shownText(namedChild<QMenu>(first, "MainHelp")->title()), QStringLiteral("Help"));
}

void TestKeyboard::wholeDeletionByKeysAlone()
{
    ScriptedMessageBoxes boxes;
    CountingSleeper sleeper;
    RecordingLauncher launcher;
    frmMain& first = startFirstPage(3);
    // Each page shows its first control's focus before any key was pressed (the deletion page's first
    // control is its default button, outlined either way).
    QCOMPARE(focused(), namedChild<QWidget>(first, "optSubscriberDeleteOnlyOrvaneInfo"));
    QVERIFY(focusShows(focused()));
    frmChooseSubscribers* shown = selectionPageByKeys();
    QVERIFY(shown);
    frmChooseSubscribers& selection = *shown;
    QCOMPARE(focused(), namedChild<QComboBox>(selection, "cmbSubscriberSelectType"));
    QVERIFY(focusShows(focused()));
    boxes.clear(); // what the page's loading said

    // "All subscribers" is chosen; Return in the criterion row fills the grid.
    key(Qt::Key_Return);
    QCOMPARE(selection.grid().Rows(), 4);
    // The "please wait" window has gone; the keyboard is back on the page.
    QTRY_VERIFY(selection.isActiveWindow());
    // Into the grid: filter, then Tab. The second row is unchecked by Space on its alias.
    key(Qt::Key_F, Qt::AltModifier);
    key(Qt::Key_Tab);
    auto* grid = namedChild<QTableView>(selection, "myGrid");
    QCOMPARE(focused(), grid);
    key(Qt::Key_Down);
    key(Qt::Key_Right);
    key(Qt::Key_Space);
    QVERIFY(selection.grid().isChecked(1));
    QVERIFY(!selection.grid().isChecked(2));
    QVERIFY(selection.grid().isChecked(3));
    key(Qt::Key_N, Qt::AltModifier);
    // A mnemonic presses its button as a click does, after the button has shown itself pressed.
    QTRY_VERIFY(m_first->deleteSubscribersPage() && m_first->deleteSubscribersPage()->isVisible());

    frmDeleteSubscribers* deletion = m_first->deleteSubscribersPage();
    QVERIFY(deletion && deletion->isVisible());
    deletion->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(deletion));
    QCOMPARE(focused(), namedChild<QPushButton>(*deletion, "cmdDeleteSubscribers"));
    boxes.setNextAnswer(MsgBox::vbYes);    // the question
    boxes.setNextAnswer(MsgBox::vbCancel); // the closing message: no editor
    key(Qt::Key_Return);
    QCOMPARE(boxes.texts().size(), 2);
    QVERIFY(
        boxes.texts().at(1).startsWith(QStringLiteral("Subscriber deletion process complete, removed 2")));
    const SubscriberGridModel& rows = selection.grid();
    const int alias = rows.ColIndex(QStringLiteral("Alias"));
    QCOMPARE(
        m_standin->scalar(QStringLiteral("SELECT group_concat(Alias) FROM standin_deletions")).toString(),
        rows.TextMatrix(1, alias) + QLatin1Char(',') + rows.TextMatrix(3, alias));
    QCOMPARE(focused(), namedChild<QPushButton>(*deletion, "cmdExit"));
    QCOMPARE(m_exits, 0);
    QVERIFY(launcher.started().isEmpty());
}

void TestKeyboard::helpMenuF10AndF1()
{
    frmMain& first = startFirstPage(1);
    auto* menu = namedChild<QMenu>(first, "MainHelp");
    QCOMPARE(mnemonicOf(menu->title()), QLatin1Char('h'));
    for (const char* entry : {"mnuHelp", "About", "mnuCheckForUpdatedVersion"})
        QVERIFY2(!mnemonicOf(namedChild<QAction>(first, entry)->text()).isNull(), entry);

    key(Qt::Key_F10);
    QTRY_VERIFY(menu->isVisible());
    key(Qt::Key_Escape);
    QTRY_VERIFY(!menu->isVisible());

    // Alt pressed and released alone selects the menu bar; Down opens the menu, Escape twice leaves both.
    QMenuBar* bar = first.menuBar();
    key(Qt::Key_Escape);
    QTRY_VERIFY(!bar->activeAction());
    QTest::keyPress(static_cast<QWidget*>(nullptr), Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(static_cast<QWidget*>(nullptr), Qt::Key_Alt);
    QTRY_COMPARE(bar->activeAction(), menu->menuAction());
    key(Qt::Key_Down);
    QTRY_VERIFY(menu->isVisible());
    key(Qt::Key_Escape);
    QTRY_VERIFY(!menu->isVisible());
    key(Qt::Key_Escape);
    QTRY_VERIFY(!bar->activeAction());

    key(Qt::Key_F1);
    frmHelp* help = frmHelp::instance();
    QVERIFY(help && help->isVisible());
    QVERIFY(QTest::qWaitForWindowActive(help));
    QPointer<frmHelp> watch(help);
    key(Qt::Key_Escape);
    QVERIFY(watch.isNull() || !watch->isVisible());
    QVERIFY(first.isVisible());
    QCOMPARE(m_exits, 0);
}

void TestKeyboard::returnPressesThePagesDefaultAndEscapeKeepsThePage()
{
    ScriptedMessageBoxes boxes;
    frmMain& first = startFirstPage(2);
    key(Qt::Key_Escape);
    QVERIFY(first.isVisible());
    frmChooseSubscribers* shown = selectionPageByKeys();
    QVERIFY(shown);
    frmChooseSubscribers& selection = *shown;
    QVERIFY(!first.isVisible());
    boxes.clear(); // what the page's loading said
    key(Qt::Key_Escape);
    QVERIFY(selection.isVisible());

    // From the filter, Return is "Next >>": an empty grid says so.
    key(Qt::Key_F, Qt::AltModifier);
    key(Qt::Key_Return);
    QCOMPARE(boxes.texts().join(QLatin1Char('|')),
             QStringLiteral("You must first select subscribers to delete"));
    // From the criterion row it is "Add Subscribers To Grid".
    namedChild<QComboBox>(selection, "cmbSubscriberSelectType")->setFocus();
    key(Qt::Key_Return);
    QCOMPARE(selection.grid().Rows(), 3);
    QTRY_VERIFY(selection.isActiveWindow());
    QVERIFY(namedChild<QPushButton>(selection, "cmdView")->isDefault());
    key(Qt::Key_F, Qt::AltModifier);
    QVERIFY(namedChild<QPushButton>(selection, "cmdNext")->isDefault());
    key(Qt::Key_Return);
    frmDeleteSubscribers* deletion = m_first->deleteSubscribersPage();
    QVERIFY(deletion && deletion->isVisible());
    deletion->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(deletion));
    key(Qt::Key_Escape);
    QVERIFY(deletion->isVisible());
    boxes.clear();
    boxes.setNextAnswer(MsgBox::vbNo);
    key(Qt::Key_Return);
    QCOMPARE(boxes.texts().size(), 1);
    QVERIFY(boxes.texts().at(0).startsWith(QStringLiteral("Are you sure you want to remove")));
    QCOMPARE(m_exits, 0);
}

void TestKeyboard::gridKeys()
{
    startFirstPage(3);
    frmChooseSubscribers* shown = selectionPageByKeys();
    QVERIFY(shown);
    frmChooseSubscribers& selection = *shown;
    key(Qt::Key_Return);
    QCOMPARE(selection.grid().Rows(), 4);
    // The "please wait" window has gone; the keyboard is back on the page.
    QTRY_VERIFY(selection.isActiveWindow());
    auto* grid = namedChild<QTableView>(selection, "myGrid");
    key(Qt::Key_F, Qt::AltModifier);
    key(Qt::Key_Tab);
    QCOMPARE(focused(), grid);
    // The current row stands out as the selected one.
    QVERIFY(grid->currentIndex().isValid());
    QVERIFY(grid->selectionModel()->isRowSelected(grid->currentIndex().row(), QModelIndex()));
    key(Qt::Key_Down);
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    QCOMPARE(grid->currentIndex().row(), 1);
    QVERIFY(grid->selectionModel()->isRowSelected(1, QModelIndex()));
    QVERIFY(!grid->selectionModel()->isRowSelected(0, QModelIndex()));
    key(Qt::Key_Space);
    QVERIFY(!selection.grid().isChecked(2));
    key(Qt::Key_Space);
    QVERIFY(selection.grid().isChecked(2));
    // One Tab leaves the grid, one Shift+Tab returns and one more leaves it backwards.
    key(Qt::Key_Tab);
    QVERIFY(focused() != grid);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(focused(), grid);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(focused(), namedChild<QLineEdit>(selection, "txtFilter"));
}

void TestKeyboard::focusIsNeverLost()
{
    ScriptedMessageBoxes boxes;
    frmMain& first = startFirstPage(2);
    QCOMPARE(focused(), namedChild<QAbstractButton>(first, "optSubscriberDeleteOnlyOrvaneInfo"));
    frmChooseSubscribers* shown = selectionPageByKeys();
    QVERIFY(shown);
    frmChooseSubscribers& selection = *shown;
    auto* type = namedChild<QComboBox>(selection, "cmbSubscriberSelectType");
    QCOMPARE(focused(), type);
    key(Qt::Key_Return);
    QCOMPARE(selection.grid().Rows(), 3);
    QTRY_VERIFY(selection.isActiveWindow());
    // The fill locked the row and let go: the focus is back where it was.
    QVERIFY(namedChild<QPushButton>(selection, "cmdView")->isEnabled());
    QCOMPARE(focused(), type);
    // The count is read, not entered: no Tab stop. The run log can be scrolled: a Tab stop.
    QCOMPARE(namedChild<QLineEdit>(selection, "txtUsersInGrid")->focusPolicy(), Qt::NoFocus);
    key(Qt::Key_N, Qt::AltModifier);
    // A mnemonic presses its button as a click does, after the button has shown itself pressed.
    QTRY_VERIFY(m_first->deleteSubscribersPage() && m_first->deleteSubscribersPage()->isVisible());
    frmDeleteSubscribers* deletion = m_first->deleteSubscribersPage();
    QVERIFY(deletion && deletion->isVisible());
    QVERIFY(namedChild<QPlainTextEdit>(*deletion, "txtRunLog")->focusPolicy() & Qt::TabFocus);
    QCOMPARE(deletion->focusWidget(), namedChild<QPushButton>(*deletion, "cmdDeleteSubscribers"));
}

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
