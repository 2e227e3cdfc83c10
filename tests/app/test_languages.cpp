#include "app/WidgetPorts.h"
#include "app/frmAbout.h"
#include "app/frmHelp.h"
#include "app/frmMain.h"
#include "app/frmSplashScreen.h"
#include "common/NamedChild.h"
#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "common/StandinFixture.h"
#include "deletion/frmDeleteSubscribers.h"
#include "localize/Keyboard.h"
#include "localize/modLocalize.h"
#include "ports/ExitApplication.h"
#include "selection/SubscriberGridModel.h"
#include "selection/SubscriberQuery.h"
#include "selection/frmChooseSubscribers.h"
#include "server/modOrvaneDB.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

using namespace modLocalize;

namespace {
const QString kMsPGothic = QStringLiteral(u"\uFF2D\uFF33\u0020\uFF30\u30B4\u30B7\u30C3\u30AF");

struct Entry {
    QString caption;
    QString tag;
    bool operator==(const Entry& other) const { return caption == other.caption && tag == other.tag; }
};

QList<Entry> entriesOf(const frmAbout& about)
{
    QList<Entry> entries;
    for (const QAction* action : about.languageEntries())
        entries.append({action->text(), action->data().toString()});
    return entries;
}

} // namespace

namespace QTest {
template <> char* toString(const Entry& entry)
{
    return qstrdup(qPrintable(entry.caption + QStringLiteral(" / ") + entry.tag));
}
} // namespace QTest

class TestLanguages : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void menuOffersTheLibrariesBesideTheProgram();
    void aboutShowsTheVersionAndKeepsItsListUntilClosed();
    void switchingLanguagesWithEveryWindowOpen();

private:
    void placeLibrary(const QString& code) const;
    // Opens About from the first page's menu and runs `inside` while it shows modally.
    template <class Inside> void withAbout(frmMain& page, Inside&& inside);

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
    int m_exits = 0;
    Module1::ExitHandler m_previousExit;
};

void TestLanguages::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_boxes = std::make_unique<ScriptedMessageBoxes>();
    m_exits = 0;
    m_previousExit = Module1::setExitHandler([this] { ++m_exits; });
    resetLocalisation();
    setProgramLocation(m_folder->path(), QStringLiteral("Culvane"));
}

void TestLanguages::cleanup()
{
    delete frmHelp::instance();
    resetLocalisation();
    setProgramLocation({}, {});
    Module1::setExitHandler(std::move(m_previousExit));
    m_boxes.reset();
    m_folder.reset();
}

void TestLanguages::placeLibrary(const QString& code) const
{
    const QString name = QStringLiteral("Culvane_") + code + QStringLiteral(".dll");
    QVERIFY(QFile::copy(QStringLiteral(CULVANE_BIN_DIR "/") + name, m_folder->filePath(name)));
}

template <class Inside> void TestLanguages::withAbout(frmMain& page, Inside&& inside)
{
    bool ran = false;
    QTimer::singleShot(0, this, [&] {
        frmAbout* about = page.aboutWindow();
        // Whatever happens inside, the modal window must not stay open.
        const auto hideAtEnd = qScopeGuard([&] {
            if (about && about->isVisible())
                about->hide();
        });
        QVERIFY(about && about->isVisible() && about->isModal());
        ran = true;
        inside(*about);
    });
    namedChild<QAction>(page, "About")->trigger();
    QVERIFY(ran);
}

void TestLanguages::menuOffersTheLibrariesBesideTheProgram()
{
    const Entry none{QStringLiteral("no languages loaded"), QStringLiteral("1033")};
    {
        frmAbout about;
        about.Form_Load();
        QCOMPARE(entriesOf(about), QList<Entry>{none});
        // Picking it switches to language 1033, which has no library here: the built-in texts.
        about.languageEntries().first()->trigger();
        QCOMPARE(CurrentLangID(), 1033);
        QVERIFY(!languageLibraryLoaded());
        QCOMPARE(namedChild<QLabel>(about, "lblChangeLanguage")->text(), QStringLiteral("Change Language"));
    }

    resetLocalisation();
    placeLibrary(QStringLiteral("DEU"));
    {
        frmAbout about;
        about.Form_Load();
        QCOMPARE(entriesOf(about), QList<Entry>{none});
    }

    resetLocalisation();
    placeLibrary(QStringLiteral("ENX"));
    placeLibrary(QStringLiteral("FRA"));
    {
        frmAbout about;
        about.Form_Load();
        const QList<Entry> expected{{QStringLiteral("German (Germany)"), QStringLiteral("1031")},
                                    {QStringLiteral("English (TDD/TTY)"), QStringLiteral("33801")},
                                    {QStringLiteral("French (France)"), QStringLiteral("1036")}};
        QCOMPARE(entriesOf(about), expected);
        QCOMPARE(about.languageMenu()->title(), QStringLiteral("Select Language"));

        // The link opens the menu where it was clicked.
        QLabel* link = namedChild<QLabel>(about, "lblChangeLanguage");
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QPoint clickAt(4, 4);
        QTest::mouseClick(link, Qt::LeftButton, {}, clickAt);
        QTRY_VERIFY(about.languageMenu()->isVisible());
        QCOMPARE(about.languageMenu()->pos(), link->mapToGlobal(clickAt));

        QMenu* menu = about.languageMenu();
        QAction* german = about.languageEntries().at(0);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(german).center());
        QTRY_COMPARE(CurrentLangID(), 1031);
        QVERIFY(languageLibraryLoaded());
        QCOMPARE(link->text(), QStringLiteral("Sprache ändern"));
        QCOMPARE(about.languageMenu()->title(), QStringLiteral("Sprache auswählen"));

        about.languageEntries().at(1)->trigger();
        QCOMPARE(CurrentLangID(), 33801);
        QVERIFY(languageLibraryLoaded()); // Culvane_ENX.dll
        QCOMPARE(LanguageCodes(),
                 QStringList({QStringLiteral("DEU"), QStringLiteral("ENX"), QStringLiteral("FRA")}));
        QCOMPARE(link->text(), QStringLiteral("Change Language"));
        about.languageEntries().at(2)->trigger();
        QCOMPARE(link->text(), QStringLiteral("Changer de langue"));
    }

    QVERIFY(m_boxes->texts().isEmpty());
}

void TestLanguages::aboutShowsTheVersionAndKeepsItsListUntilClosed()
{
    QCOMPARE(frmAbout::versionCaption(4, 0, 23), QStringLiteral(" 4.0 Build 23"));
    QCOMPARE(frmAbout::versionCaption(-1, 2, -3), QStringLiteral("-1.2 Build-3"));

    placeLibrary(QStringLiteral("DEU"));
    placeLibrary(QStringLiteral("JPN"));
    frmMain page;
    page.frmMain_Auto_Init();
    page.show();
    QCOMPARE(Keyboard::shownText(namedChild<QAction>(page, "About")->text()), QStringLiteral("About"));
    QVERIFY(namedChild<QAction>(page, "About")->isEnabled());

    withAbout(page, [&](frmAbout& about) {
        QCOMPARE(about.windowTitle(), QStringLiteral("Orvane Culvane"));
        QCOMPARE(namedChild<QLabel>(about, "lblVersion")->text(), QStringLiteral(" 4.0 Build 23"));
        QCOMPARE(namedChild<QLabel>(about, "lblVersionTitle_1")->text(), QStringLiteral("Version:"));
        QCOMPARE(namedChild<QLabel>(about, "lblMarvokAddress1")->text(), QStringLiteral("Marvok Systems"));
        QVERIFY(!namedChild<QLabel>(about, "lblCopyright")->text().isEmpty());
        QCOMPARE(about.languageEntries().size(), 2);
        namedChild<QPushButton>(about, "cmdOK")->click();
        QVERIFY(!about.isVisible());
    });
    QPointer<frmAbout> first = page.aboutWindow();
    QVERIFY(first); // hidden, still loaded

    // A library added meanwhile is not listed: the list is built when the window loads.
    placeLibrary(QStringLiteral("FRA"));
    withAbout(page, [&](frmAbout& about) {
        QCOMPARE(&about, first.data());
        QCOMPARE(about.languageEntries().size(), 2);
        about.close(); // the close box unloads the window
    });
    QTRY_VERIFY(!first);
    QVERIFY(!page.aboutWindow());

    withAbout(page, [&](frmAbout& about) {
        QCOMPARE(about.languageEntries().size(), 3);
        namedChild<QPushButton>(about, "cmdOK")->click();
    });
    QVERIFY(m_boxes->texts().isEmpty());
}

void TestLanguages::switchingLanguagesWithEveryWindowOpen()
{
    for (const char* code : {"DEU", "ENX", "JPN"})
        placeLibrary(QString::fromLatin1(code));
    StandinFixture standin(3);
    QVERIFY(standin.isValid());
    RegFile reg;
    reg.currentVersion(5, 0, 1, 33);
    reg.key(QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"))
        .sz(QStringLiteral("IDCProgID"), QStringLiteral("VCDsExchange.VcIDCExchange.1"));
    reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations\\Main PBX"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Main PBX"))
        .dword(QStringLiteral("IntegrationID"), 1);
    reg.save();

    modOrvaneDB::CloseSharedLists();
    frmMain page;
    page.Form_Load();
    QCOMPARE(m_exits, 0);
    page.show();
    namedChild<QRadioButton>(page, "optSubscriberDeleteAll")->setChecked(true);
    namedChild<QPushButton>(page, "cmdNext")->click();
    frmChooseSubscribers* selection = page.chooseSubscribersPage();
    QVERIFY(selection && selection->isVisible());

    // What the administrator has done on the selection page so far.
    SubscriberGridModel& grid = selection->grid();
    for (const char* alias : {"anna", "bert", "carl"})
        grid.AddUserToGridFAST(QString::fromLatin1(alias), {}, {}, {}, QStringLiteral("100"), {}, {}, {},
                               QStringLiteral("Staff"), QStringLiteral("{S}"), QStringLiteral("{H}"));
    grid.setChecked(2, false);
    auto* types = namedChild<QComboBox>(*selection, "cmbSubscriberSelectType");
    types->setCurrentIndex(types->findText(QStringLiteral("Subscribers with extension numbers from:")));
    namedChild<QLineEdit>(*selection, "txtSubscriberExtensionRangeLow")->setText(QStringLiteral("4711"));
    namedChild<QLineEdit>(*selection, "txtSubscriberExtensionRangeHigh")->setText(QStringLiteral("4799"));
    // On to the deletion page; the selection page stays loaded behind it.
    namedChild<QPushButton>(*selection, "cmdNext")->click();
    frmDeleteSubscribers* deletion = page.deleteSubscribersPage();
    QVERIFY(deletion && deletion->isVisible());
    frmSplashScreen splash;
    splash.show();
    frmHelp* help = frmHelp::showHelp();

    const auto pick = [&](const QString& language) {
        withAbout(page, [&](frmAbout& about) {
            for (QAction* entry : about.languageEntries()) {
                if (entry->text() == language)
                    entry->trigger();
            }
            namedChild<QPushButton>(about, "cmdOK")->click();
        });
    };
    const auto captionsAre = [&](const QString& next, const QString& view, const QString& displayName,
                                 const QString& loading, const QString& changeLanguage) {
        QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(page, "cmdNext")->text()), next);
        QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(*selection, "cmdNext")->text()), next);
        QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(*deletion, "cmdNext")->text()), next);
        QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(*selection, "cmdView")->text()), view);
        QCOMPARE(grid.headerText(QStringLiteral("DisplayName")), displayName);
        QCOMPARE(namedChild<QLabel>(splash, "Label1")->text(), loading);
        QCOMPARE(namedChild<QLabel>(*page.aboutWindow(), "lblChangeLanguage")->text(), changeLanguage);
    };

    // Qt's own texts: the buttons a message names, "Show Details...", a text box's context menu.
    const auto qtTexts = [] {
        const auto box =
            makeMessageBox(QString(), QStringLiteral("?"), MsgBox::vbYesNo, QStringLiteral("detail"));
        QStringList texts{box->button(QMessageBox::Yes)->text(), box->button(QMessageBox::No)->text()};
        for (QAbstractButton* button : box->buttons()) {
            if (box->buttonRole(button) == QMessageBox::ActionRole)
                texts.append(button->text());
        }
        QLineEdit edit;
        const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
        texts.append(menu->actions().constFirst()->text().section(QLatin1Char('\t'), 0, 0));
        return texts;
    };
    QCOMPARE(qtTexts(), (QStringList{QStringLiteral("&Yes"), QStringLiteral("&No"),
                                     QStringLiteral("Show Details..."), QStringLiteral("&Undo")}));

    pick(QStringLiteral("German (Germany)"));
    QCOMPARE(CurrentLangID(), 1031);
    QCOMPARE(qtTexts(),
             (QStringList{QStringLiteral("&Ja"), QStringLiteral("&Nein"),
                          QStringLiteral("Details einblenden..."), QStringLiteral(u"&Rückgängig")}));
    captionsAre(QStringLiteral("Weiter >>"), QStringLiteral("Teilnehmer zum Raster hinzufügen"),
                QStringLiteral("Anzeigename"), QStringLiteral("Daten werden geladen, bitte warten...."),
                QStringLiteral("Sprache ändern"));
    QCOMPARE(namedChild<QGroupBox>(page, "frmDeletionType")->title(),
             QStringLiteral("Art der Teilnehmerlöschung"));
    QCOMPARE(Keyboard::shownText(namedChild<QMenu>(page, "MainHelp")->title()), QStringLiteral("Hilfe"));
    QCOMPARE(Keyboard::shownText(namedChild<QAction>(page, "About")->text()), QStringLiteral("Info"));
    QCOMPARE(Keyboard::shownText(namedChild<QAction>(page, "mnuCheckForUpdatedVersion")->text()),
             QStringLiteral("Nach neuer Version suchen"));
    QCOMPARE(namedChild<QLabel>(*selection, "lblTotalGridRows")->text(),
             QStringLiteral("Benutzer im Raster"));
    QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(*selection, "cmdUnselectAll")->text()),
             QStringLiteral("Auswahl aufheben"));
    QCOMPARE(Keyboard::shownText(namedChild<QPushButton>(*deletion, "cmdDeleteSubscribers")->text()),
             QStringLiteral("Teilnehmer löschen"));

    pick(QStringLiteral("Japanese (Japan)"));
    QCOMPARE(CurrentLangID(), 1041);
    captionsAre(QStringLiteral(u"\u6B21\u3078 >>"),
                QStringLiteral(u"\u52A0\u5165\u8005\u3092\u30B0\u30EA\u30C3\u30C9\u306B\u8FFD\u52A0"),
                QStringLiteral(u"\u8868\u793A\u540D"), mymyLoadString(172),
                QStringLiteral(u"\u8A00\u8A9E\u306E\u5909\u66F4"));
    // Every loaded window, the main page and the help window included, draws in the Japanese font.
    for (QWidget* window :
         std::initializer_list<QWidget*>{&page, selection, deletion, &splash, help, page.aboutWindow()}) {
        for (QWidget* control : window->findChildren<QWidget*>())
            QVERIFY2(control->font().family() == kMsPGothic, qPrintable(control->objectName()));
    }
    QCOMPARE(help->browser()->font().family(), kMsPGothic);

    pick(QStringLiteral("English (TDD/TTY)"));
    QCOMPARE(CurrentLangID(), 33801);
    QCOMPARE(qtTexts(), (QStringList{QStringLiteral("&Yes"), QStringLiteral("&No"),
                                     QStringLiteral("Show Details..."), QStringLiteral("&Undo")}));
    captionsAre(QStringLiteral("Next >>"), QStringLiteral("Add Subscribers To Grid"),
                QStringLiteral("Display Name"), QStringLiteral("Loading data, please wait...."),
                QStringLiteral("Change Language"));
    QCOMPARE(Keyboard::shownText(namedChild<QAction>(page, "About")->text()), QStringLiteral("About"));
    QCOMPARE(namedChild<QPushButton>(*selection, "cmdNext")->font().family(), QApplication::font().family());

    // Nothing the administrator did was lost on the way.
    QCOMPARE(grid.Rows(), 4);
    for (qint32 row = 1; row <= 3; ++row)
        QCOMPARE(grid.isChecked(row), row != 2);
    QCOMPARE(grid.subscriberRow(3).Alias, QStringLiteral("carl"));
    QCOMPARE(namedChild<QLineEdit>(*selection, "txtSubscriberExtensionRangeLow")->text(),
             QStringLiteral("4711"));
    QCOMPARE(namedChild<QLineEdit>(*selection, "txtSubscriberExtensionRangeHigh")->text(),
             QStringLiteral("4799"));
    QCOMPARE(types->currentData().toInt(), int(SubscriberQuery::ExtensionRange));
    QVERIFY(namedChild<QLineEdit>(*selection, "txtSubscriberExtensionRangeLow")->isVisibleTo(selection));
    QVERIFY(namedChild<QRadioButton>(page, "optSubscriberDeleteAll")->isChecked());
    QVERIFY(deletion->isVisible());
    QVERIFY(!selection->isVisible());
    QVERIFY(!page.isVisible());
    QVERIFY(m_boxes->texts().isEmpty());
    modOrvaneDB::CloseSharedLists();
}

QTEST_MAIN(TestLanguages)
#include "test_languages.moc"
