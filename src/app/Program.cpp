#include "app/Program.h"

#include "app/DeferredIconStyle.h"
#include "app/StartupWarmUp.h"
#include "app/WidgetPorts.h"
#include "app/frmMain.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QIcon>

namespace {
// Tells once that the watched window has painted.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(std::function<void()> shown) : m_shown(std::move(shown)) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_shown) {
            watched->removeEventFilter(this);
            const std::function<void()> shown = std::move(m_shown);
            m_shown = nullptr;
            shown();
        }
        return false;
    }

private:
    std::function<void()> m_shown;
};
} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/culvane/culvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

void setUpApplication()
{
    QApplication::setApplicationName(QStringLiteral("Culvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Culvane"));
    QApplication::setWindowIcon(programIcon());
    QApplication::setStyle(new DeferredIconStyle(QApplication::style()->name())); // the application owns it
    // Captions, messages and grid cells are Latin or Japanese text, which reads the same without shaping
    // (kerning and ligatures aside); without it a page lays its texts out in a fraction of the time, which
    // the first page's start-up notices. Scripts that need shaping still get it.
    QFont font = QApplication::font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    QApplication::setFont(font);
    installWidgetPorts();
}

int runCulvane(int& argc, char** argv, const std::function<void()>& firstPageShown)
{
    StartupWarmUp warmUp;
    QApplication application(argc, argv);
    setUpApplication();

    frmMain page;
    FirstPaint painted(firstPageShown);
    if (firstPageShown)
        page.installEventFilter(&painted);
    // The page's captions measure their texts.
    warmUp.waitForFonts();
    page.Form_Load();
    page.show();
    return QApplication::exec();
}
