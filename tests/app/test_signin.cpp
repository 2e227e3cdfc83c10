// The sign-in box of a data source without its password, typed into on the offscreen platform.
#include "app/frmSignIn.h"
#include "localize/modLocalize.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestSignIn : public QObject {
    Q_OBJECT

private slots:
    void init() { modLocalize::resetLocalisation(); }
    void typedPasswordIsHiddenAndHandedOver();
    void cancelOrEscapeGivesNothing();
};

namespace {
// Runs `act` on the box once it shows, then lets askPassword finish.
std::optional<QString> answerBox(const std::function<void(frmSignIn&)>& act)
{
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<frmSignIn*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, [act] { answerBox(act); });
            return;
        }
        act(*box);
    });
    return frmSignIn::askPassword(QStringLiteral("OrvaneDb"), QStringLiteral("EXAMPLE\\alice"));
}
} // namespace

void TestSignIn::typedPasswordIsHiddenAndHandedOver()
{
    QString shownText;
    QString label;
    QString title;
    QStringList buttons;
    bool focused = false;
    const std::optional<QString> password = answerBox([&](frmSignIn& box) {
        title = box.windowTitle();
        label = box.findChild<QLabel*>(QStringLiteral("lblSignIn"))->text();
        buttons = {box.findChild<QPushButton*>(QStringLiteral("cmdOK"))->text(),
                   box.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->text()};
        auto* edit = box.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
        focused = box.focusWidget() == edit;
        QTest::keyClicks(edit, QStringLiteral("p"));
        QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_Adiaeresis, QStringLiteral("\u00e4"), Qt::NoModifier);
        QTest::keyClicks(edit, QStringLiteral("ss; w}rd"));
        shownText = edit->displayText();
        // Enter presses OK, the default button.
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QCOMPARE(password, std::optional<QString>(QStringLiteral("p\u00e4ss; w}rd")));
    QVERIFY(focused); // the password can be typed at once
    QCOMPARE(title, QStringLiteral("Culvane"));
    QCOMPARE(label, QStringLiteral(
                        "The ODBC data source OrvaneDb signs in as EXAMPLE\\alice.  Enter the password:"));
    QCOMPARE(buttons, (QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")}));
    // Ten characters typed, none of them shown.
    QCOMPARE(shownText.size(), 10);
    QVERIFY(!shownText.contains(QLatin1Char('p')) && !shownText.contains(QLatin1Char(';')));

    // What was typed is gone from the box as it hands the password over, its edit history too.
    frmSignIn box(QStringLiteral("OrvaneDb"), QStringLiteral("bob"));
    auto* again = box.findChild<QLineEdit*>(QStringLiteral("txtPassword"));
    QTest::keyClicks(again, QStringLiteral("abc"));
    box.accept();
    QCOMPARE(box.password(), std::optional<QString>(QStringLiteral("abc")));
    QCOMPARE(again->text(), QString());
    QVERIFY(!again->isUndoAvailable());
    QCOMPARE(again->contextMenuPolicy(), Qt::NoContextMenu);
}

void TestSignIn::cancelOrEscapeGivesNothing()
{
    const std::optional<QString> cancelled = answerBox([](frmSignIn& box) {
        QTest::keyClicks(box.findChild<QLineEdit*>(QStringLiteral("txtPassword")), QStringLiteral("half"));
        box.findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    });
    QCOMPARE(cancelled, std::nullopt);
    const std::optional<QString> escaped = answerBox([](frmSignIn& box) {
        QTest::keyClicks(box.findChild<QLineEdit*>(QStringLiteral("txtPassword")), QStringLiteral("half"));
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    QCOMPARE(escaped, std::nullopt);
    // An empty password is a password: OK with nothing typed hands over an empty one.
    const std::optional<QString> empty =
        answerBox([](frmSignIn& box) { box.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click(); });
    QCOMPARE(empty, std::optional<QString>(QString()));
}

QTEST_MAIN(TestSignIn)

#include "test_signin.moc"
