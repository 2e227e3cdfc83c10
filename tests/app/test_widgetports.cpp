#include "app/DeferredIconStyle.h"
#include "app/Program.h"
#include "app/WidgetPorts.h"
#include "app/frmHelp.h"
#include "deletion/frmDeleteSubscribers.h"
#include "ports/MsgBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

// The real message box behind the port: its title, buttons and details, and which answer each way of
// closing it gives. And the program's style, whose one change must not show.
class TestWidgetPorts : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void boxesCarryTheirButtonsAndDetails();
    void eachWayOfClosingGivesItsAnswer();
    void deferredIconsLookLikeTheStylesOwn();
    void messagesShowOverTheirPageAndWindowsCarryTheProgramsIcon();
};

namespace {
// Runs `act` on the modal box once it shows, from inside its own event loop.
void whenBoxShows(std::function<void(QMessageBox&)> act)
{
    QTimer::singleShot(0, [act = std::move(act)] {
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr);
        act(*box);
    });
}
} // namespace

void TestWidgetPorts::initTestCase()
{
    QApplication::setApplicationDisplayName(QStringLiteral("Culvane"));
    installWidgetPorts();
}

void TestWidgetPorts::boxesCarryTheirButtonsAndDetails()
{
    const auto plain = makeMessageBox(QString(), QStringLiteral("Text"), MsgBox::vbOKOnly, QString());
    QCOMPARE(plain->windowTitle(), QStringLiteral("Culvane"));
    QCOMPARE(plain->text(), QStringLiteral("Text"));
    QCOMPARE(plain->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(plain->detailedText().isEmpty());

    const auto question = makeMessageBox(QStringLiteral("Own title"), QStringLiteral("Sure?"),
                                         MsgBox::vbYesNo, QStringLiteral("Driver error 5: locked"));
    QCOMPARE(question->windowTitle(), QStringLiteral("Own title"));
    QCOMPARE(question->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question->defaultButton(), question->button(QMessageBox::Yes));
    QCOMPARE(question->detailedText(), QStringLiteral("Driver error 5: locked"));

    const auto choice = makeMessageBox(QString(), QStringLiteral("Go on?"), MsgBox::vbOKCancel, QString());
    QCOMPARE(choice->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(choice->defaultButton(), choice->button(QMessageBox::Ok));

    // The question of a run whose database is out of reach: Stop is its second button, and the default.
    const auto retry =
        makeMessageBox(QString(), QStringLiteral("Unreachable"), MsgBox::vbRetryCancel, QString());
    QCOMPARE(retry->standardButtons(), QMessageBox::Retry | QMessageBox::Cancel);
    QCOMPARE(retry->button(QMessageBox::Cancel)->text(), QStringLiteral("Stop"));
    QCOMPARE(retry->defaultButton(), retry->button(QMessageBox::Cancel));
}

void TestWidgetPorts::eachWayOfClosingGivesItsAnswer()
{
    const auto click = [](QMessageBox::StandardButton which) {
        whenBoxShows([which](QMessageBox& box) { box.button(which)->click(); });
    };
    const auto escape = [] { whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }); };
    const auto enter = [] { whenBoxShows([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }); };

    click(QMessageBox::No);
    QCOMPARE(MsgBox::show(QStringLiteral("Delete?"), MsgBox::vbYesNo), MsgBox::vbNo);
    enter();
    QCOMPARE(MsgBox::show(QStringLiteral("Delete?"), MsgBox::vbYesNo), MsgBox::vbYes);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Delete?"), MsgBox::vbYesNo), MsgBox::vbNo);
    click(QMessageBox::Cancel);
    QCOMPARE(MsgBox::show(QStringLiteral("Open the log?"), MsgBox::vbOKCancel), MsgBox::vbCancel);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Open the log?"), MsgBox::vbOKCancel), MsgBox::vbCancel);
    enter();
    QCOMPARE(MsgBox::show(QStringLiteral("Open the log?"), MsgBox::vbOKCancel), MsgBox::vbOK);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Done."), MsgBox::vbOKOnly), MsgBox::vbOK);
    // A run goes on only when Retry is pressed: Return and Escape stop it.
    click(QMessageBox::Retry);
    QCOMPARE(MsgBox::show(QStringLiteral("Unreachable"), MsgBox::vbRetryCancel), MsgBox::vbRetry);
    enter();
    QCOMPARE(MsgBox::show(QStringLiteral("Unreachable"), MsgBox::vbRetryCancel), MsgBox::vbCancel);
    escape();
    QCOMPARE(MsgBox::show(QStringLiteral("Unreachable"), MsgBox::vbRetryCancel), MsgBox::vbCancel);
    // A titled box goes through the same real box.
    click(QMessageBox::Yes);
    QCOMPARE(MsgBox::showTitled(QStringLiteral("Update"), QStringLiteral("Open?"), MsgBox::vbYesNo),
             MsgBox::vbYes);
}

void TestWidgetPorts::deferredIconsLookLikeTheStylesOwn()
{
    const QString key = QApplication::style()->name();
    DeferredIconStyle style(key);
    const std::unique_ptr<QStyle> own(QStyleFactory::create(key));
    QVERIFY(own);
    // Else the comparisons below would hold for an icon that draws nothing.
    QVERIFY(!own->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16).isNull());
    for (const QStyle::StandardPixmap which : {QStyle::SP_ToolBarHorizontalExtensionButton,
                                               QStyle::SP_MessageBoxWarning, QStyle::SP_DialogOkButton}) {
        const QIcon expected = own->standardIcon(which);
        const QIcon icon = style.standardIcon(which);
        QCOMPARE(icon.isNull(), expected.isNull());
        for (const int side : {8, 16, 32}) {
            QCOMPARE(icon.actualSize(QSize(side, side)), expected.actualSize(QSize(side, side)));
            QCOMPARE(icon.pixmap(side).toImage(), expected.pixmap(side).toImage());
            QCOMPARE(icon.pixmap(side, QIcon::Disabled).toImage(),
                     expected.pixmap(side, QIcon::Disabled).toImage());
        }
        // A copy, as a button keeps one, draws the same.
        const QIcon copy = icon; // NOLINT(performance-unnecessary-copy-initialization)
        QImage drawn(24, 24, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        QImage reference = drawn;
        {
            QPainter painter(&drawn);
            copy.paint(&painter, drawn.rect());
        }
        {
            QPainter painter(&reference);
            expected.paint(&painter, reference.rect());
        }
        QCOMPARE(drawn, reference);
    }
}

void TestWidgetPorts::messagesShowOverTheirPageAndWindowsCarryTheProgramsIcon()
{
    setUpApplication();
    frmDeleteSubscribers page;
    page.Form_Load();
    const QRect area = page.screen()->availableGeometry();
    page.setGeometry(area.left() + 10, area.top() + 10, area.width() / 2, area.height() / 2);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    // The help window in front, as when the person reads it while a run ends.
    QPointer<frmHelp> help = frmHelp::showHelp();
    help->setGeometry(area.right() - 300, area.bottom() - 250, 280, 230);
    help->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(help));

    QPoint boxCentre;
    QWidget* boxOwner = nullptr;
    whenBoxShows([&](QMessageBox& box) {
        boxOwner = box.parentWidget();
        boxCentre = box.frameGeometry().center();
        box.button(QMessageBox::Ok)->click();
    });
    QCOMPARE(MsgBox::show(QStringLiteral("Done.")), MsgBox::vbOK);
    QCOMPARE(boxOwner, &page);
    const QPoint pageCentre = page.frameGeometry().center();
    QVERIFY2((boxCentre - pageCentre).manhattanLength() <= 4, qPrintable(QStringLiteral("%1,%2 / %3,%4")
                                                                             .arg(boxCentre.x())
                                                                             .arg(boxCentre.y())
                                                                             .arg(pageCentre.x())
                                                                             .arg(pageCentre.y())));

    // The desktop entry's drawing, not the window system's default, at every size a desktop asks for.
    for (QWidget* window : std::initializer_list<QWidget*>{&page, help.data()}) {
        const QIcon icon = window->windowIcon();
        QVERIFY(!icon.isNull());
        for (const int side : {16, 32, 48, 256}) {
            const QImage drawn = icon.pixmap(side).toImage();
            QCOMPARE(drawn.size(), QSize(side, side));
            // The tile's blue at the left edge, halfway down; the corners are left clear.
            const QColor tile = drawn.pixelColor(side / 10, side / 2);
            QVERIFY2(tile.alpha() == 255 && tile.blue() > tile.red() + 60, qPrintable(tile.name()));
            QCOMPARE(drawn.pixelColor(0, 0).alpha(), 0);
        }
    }
    delete help;
}

QTEST_MAIN(TestWidgetPorts)
#include "test_widgetports.moc"
