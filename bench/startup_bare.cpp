// The least a Qt Widgets program does to show a window: tells its parent on standard output when the
// window has painted. With the argument "label" the window shows one line of text in a QLabel, as every
// real window shows text: it pays for finding and loading a font. Started by bench_startup only.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstring>

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
    const bool label = argc > 1 && std::strcmp(argv[1], "label") == 0;
    QApplication application(argc, argv);
    Window window;
    window.setWindowTitle(QStringLiteral("bare"));
    if (label)
        (new QVBoxLayout(&window))->addWidget(new QLabel(QStringLiteral("One line of text"), &window));
    window.resize(760, 540);
    window.show();
    return QApplication::exec();
}
