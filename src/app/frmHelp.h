#pragma once

#include <QPointer>
#include <QWidget>

class QTextBrowser;

// The help window: one modeless instance for the whole program, showing the help page of the language
// that was current when it loaded. Closing it unloads it; the next "Help" loads it anew.
class frmHelp : public QWidget {
    Q_OBJECT

public:
    // What every "Help" button and menu item does: loads the window if needed and brings it forward,
    // without blocking the window it was opened from.
    static frmHelp* showHelp();
    // The window while it is loaded, else null.
    static frmHelp* instance();

    Q_INVOKABLE void frmHelp_Auto_Init();

    // The help page for the current language: culvane_<code>.htm beside the program, else Culvane.htm.
    static QUrl helpPage();

    QTextBrowser* browser() const { return browserHelp; }

    // The size the window starts at on a screen whose available area is `available`: the designed size
    // where it fits, else what the area leaves beside the window manager's frame.
    static QSize startSize(const QSize& available);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    frmHelp();
    void Form_Load();
    void Form_Resize();

    QTextBrowser* browserHelp = nullptr;
    static QPointer<frmHelp> s_instance;
};
