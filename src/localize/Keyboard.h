#pragma once

#include <QChar>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

class QPushButton;
class QWidget;

namespace Keyboard {

// The caption as shown: mnemonic markers taken out, "&&" read as one '&'.
QString shownText(const QString& caption);

// The captions of one window (or one menu) with a mnemonic marker each, no letter used twice. A caption
// takes its preferred letter when it has it and it is free, else its first free letter or digit; one
// without any keeps none. A literal '&' is doubled so that it still shows. The shown texts are unchanged.
QStringList withMnemonics(const QStringList& captions, const QString& preferred = QString());

// One control whose caption takes part: a button, label, group box, menu or action. The caption is read
// from the control as it stands, so a caption routine sets its texts first and then calls this.
struct Mnemonic {
    QObject* control;
    QChar preferred = QChar();
};
void applyMnemonics(const std::vector<Mnemonic>& controls);

// The keys a wizard page answers itself: Return presses the focused button, else the page's default
// button of the moment; F1 presses the page's Help button. Escape is taken and does nothing, so that a
// stray key never ends the program or leaves the page.
class PageKeys : public QObject {
    Q_OBJECT

public:
    PageKeys(QWidget& page, std::function<QPushButton*()> defaultButton, QPushButton* help);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& m_page;
    std::function<QPushButton*()> m_defaultButton;
    QPushButton* m_help;
};

} // namespace Keyboard
