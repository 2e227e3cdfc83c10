#include "app/Program.h"

#include "app/DeferredIconStyle.h"
#include "app/StartupWarmUp.h"
#include "app/WidgetPorts.h"
#include "app/frmMain.h"

#include <QApplication>
#include <QEvent>

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

int runCulvane(int& argc, char** argv, const std::function<void()>& firstPageShown)
{
    const StartupWarmUp warmUp;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Culvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Culvane"));
    QApplication::setStyle(new DeferredIconStyle(QApplication::style()->name())); // the application owns it
    installWidgetPorts();

    frmMain page;
    FirstPaint painted(firstPageShown);
    if (firstPageShown)
        page.installEventFilter(&painted);
    page.Form_Load();
    page.show();
    return QApplication::exec();
}
