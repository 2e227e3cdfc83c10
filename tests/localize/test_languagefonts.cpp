#include "common/ScriptedPorts.h"
#include "localize/LanguageFonts.h"
#include "localize/modLocalize.h"

#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

using namespace modLocalize;

namespace {
const QString kMsPGothic = QStringLiteral(u"\uFF2D\uFF33\u0020\uFF30\u30B4\u30B7\u30C3\u30AF");

// A window of the program's kind: it has a caption routine, found by its name.
class frmProbe : public QWidget {
    Q_OBJECT
public:
    frmProbe()
    {
        setObjectName(QStringLiteral("frmProbe"));
        auto* layout = new QVBoxLayout(this);
        title = new QLabel(QStringLiteral("Title"), this);
        QFont big = title->font();
        big.setPointSize(19);
        big.setBold(true);
        title->setFont(big);
        button = new QPushButton(QStringLiteral("OK"), this);
        box = new QLineEdit(this);
        menu = new QMenu(this);
        for (QWidget* control : std::initializer_list<QWidget*>{title, button, box})
            layout->addWidget(control);
    }
    Q_INVOKABLE void frmProbe_Auto_Init() { ++autoInits; }

    QLabel* title;
    QPushButton* button;
    QLineEdit* box;
    QMenu* menu;
    int autoInits = 0;
};

QList<QWidget*> controlsOf(QWidget& window)
{
    QList<QWidget*> controls{&window};
    controls.append(window.findChildren<QWidget*>());
    return controls;
}
} // namespace

class TestLanguageFonts : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void japaneseGetsMsPGothicAndDrawsInAJapaneseFont();
    void initalizeLanguagesReachesEveryLoadedWindow();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedMessageBoxes> m_boxes;
};

void TestLanguageFonts::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_boxes = std::make_unique<ScriptedMessageBoxes>();
    resetLocalisation();
    setProgramLocation(m_folder->path(), QStringLiteral("Culvane"));
}

void TestLanguageFonts::cleanup()
{
    resetLocalisation();
    setProgramLocation({}, {});
    m_boxes.reset();
    m_folder.reset();
}

void TestLanguageFonts::japaneseGetsMsPGothicAndDrawsInAJapaneseFont()
{
    QCOMPARE(languageFont(1041).charset, SHIFTJIS_CHARSET);
    QCOMPARE(languageFont(1041).name, kMsPGothic);
    QCOMPARE(languageFont(1033).charset, DEFAULT_CHARSET);
    QVERIFY(languageFont(1033).name.isEmpty());

    frmProbe window;
    const QString programFamily = window.button->font().family();
    setCurrentLangID(1041);
    ApplyLanguageFonts(&window);
    for (QWidget* control : controlsOf(window)) {
        const QStringList families = control->font().families();
        QVERIFY2(families.value(0) == kMsPGothic && families.contains(QStringLiteral("MS PGothic")),
                 qPrintable(control->metaObject()->className()));
    }
    // Size and weight are the control's own; only the face changes.
    QCOMPARE(window.title->font().pointSize(), 19);
    QVERIFY(window.title->font().bold());

    // Where MS PGothic is missing, Qt's matching lands on an installed font made for Japanese.
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    QVERIFY2(!japanese.isEmpty(), "no Japanese font installed (scripts/install-deps installs one)");
    const QString drawnWith = QFontInfo(window.button->font()).family();
    QVERIFY2(japanese.contains(drawnWith), qPrintable(drawnWith));
    QVERIFY(QFontMetrics(QFont(drawnWith)).inFontUcs4(0x30D8));

    // The empty name of the other languages takes the controls back to the program's font.
    for (const int language : {1033, 0}) {
        setCurrentLangID(language);
        ApplyLanguageFonts(&window);
        for (QWidget* control : controlsOf(window))
            QCOMPARE(control->font().family(), QApplication::font(control).family());
        QCOMPARE(window.button->font().family(), programFamily);
        QCOMPARE(window.title->font().pointSize(), 19);
    }
    QVERIFY(m_boxes->texts().isEmpty());
}

void TestLanguageFonts::initalizeLanguagesReachesEveryLoadedWindow()
{
    frmProbe loaded;
    QWidget plain; // not one of the program's windows
    QLabel plainLabel(QStringLiteral("x"), &plain);
    const QString plainFamily = plainLabel.font().family();

    QVERIFY(loadedWindows().contains(&loaded));
    QVERIFY(!loadedWindows().contains(&plain));
    QVERIFY(!loadedWindows().contains(loaded.menu)); // a pop-up menu is part of its window, not one itself

    setCurrentLangID(2052);
    InitalizeLanguages();
    QCOMPARE(loaded.box->font().family(), QStringLiteral(u"\u5B8B\u4F53"));
    QCOMPARE(plainLabel.font().family(), plainFamily);
    QVERIFY(m_boxes->texts().isEmpty());

    QVERIFY(invokeAutoInit(&loaded));
    QVERIFY(invokeAutoInit(&loaded));
    QCOMPARE(loaded.autoInits, 2);
    QVERIFY(!invokeAutoInit(&plain));
    QVERIFY(!invokeAutoInit(nullptr));
}

QTEST_MAIN(TestLanguageFonts)
#include "test_languagefonts.moc"
