// The least a Qt Widgets program does to show a window: tells its parent on standard output when the
// window has painted. Started by bench_startup only.

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <cstdio>

namespace {
class Window : public QWidget {
protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_told) {
            m_told = true;
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
        }
        return QWidget::event(event);
    }

private:
    bool m_told = false;
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    Window window;
    window.setWindowTitle(QStringLiteral("bare"));
    window.resize(760, 540);
    window.show();
    return QApplication::exec();
}
