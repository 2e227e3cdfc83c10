#include "localize/Keyboard.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

#include <set>

namespace Keyboard {

QString shownText(const QString& caption)
{
    QString shown;
    shown.reserve(caption.size());
    for (int i = 0; i < caption.size(); ++i) {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        shown.append(caption.at(i));
    }
    return shown;
}

QStringList withMnemonics(const QStringList& captions, const QString& preferred)
{
    std::set<QString> taken;
    const auto key = [](QChar c) { return QString(c).toCaseFolded(); };
    QStringList marked;
    for (int i = 0; i < captions.size(); ++i) {
        const QString& caption = captions.at(i);
        int at = -1;
        const QChar wish = i < preferred.size() ? preferred.at(i) : QChar();
        if (!wish.isNull() && !wish.isSpace() && taken.count(key(wish)) == 0)
            at = caption.indexOf(wish, 0, Qt::CaseInsensitive);
        for (int c = 0; at < 0 && c < caption.size(); ++c) {
            if (caption.at(c).isLetterOrNumber() && taken.count(key(caption.at(c))) == 0)
                at = c;
        }
        QString text;
        for (int c = 0; c < caption.size(); ++c) {
            if (c == at)
                text.append(QLatin1Char('&'));
            if (caption.at(c) == QLatin1Char('&'))
                text.append(QLatin1Char('&'));
            text.append(caption.at(c));
        }
        if (at >= 0)
            taken.insert(key(caption.at(at)));
        marked.append(text);
    }
    return marked;
}

namespace {
QString captionOf(QObject* control)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* frame = qobject_cast<QGroupBox*>(control))
        return frame->title();
    if (auto* menu = qobject_cast<QMenu*>(control))
        return menu->title();
    if (auto* action = qobject_cast<QAction*>(control))
        return action->text();
    return QString();
}

void setCaption(QObject* control, const QString& text)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else if (auto* frame = qobject_cast<QGroupBox*>(control))
        frame->setTitle(text);
    else if (auto* menu = qobject_cast<QMenu*>(control))
        menu->setTitle(text);
    else if (auto* action = qobject_cast<QAction*>(control))
        action->setText(text);
}
} // namespace

void applyMnemonics(const std::vector<Mnemonic>& controls)
{
    QStringList captions;
    QString preferred;
    for (const Mnemonic& entry : controls) {
        // Run again on captions that already carry markers, the same letters come out.
        captions.append(shownText(captionOf(entry.control)));
        preferred.append(entry.preferred.isNull() ? QChar(QLatin1Char(' ')) : entry.preferred);
    }
    const QStringList marked = withMnemonics(captions, preferred);
    for (std::size_t i = 0; i < controls.size(); ++i)
        setCaption(controls[i].control, marked.at(static_cast<int>(i)));
}

PageKeys::PageKeys(QWidget& page, std::function<QPushButton*()> defaultButton, QPushButton* help)
    : QObject(&page), m_page(page), m_defaultButton(std::move(defaultButton)), m_help(help)
{
    page.installEventFilter(this);
    if (m_help) {
        auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), &page);
        connect(f1, &QShortcut::activated, this, [this] {
            if (m_help->isEnabled())
                m_help->click();
        });
    }
}

bool PageKeys::eventFilter(QObject* watched, QEvent* event)
{
    // Qt draws the focus only after the first Tab, and forgets that when a window shows; a page worked from
    // the keyboard shows it from the start.
    if (watched == &m_page && (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate))
        m_page.setAttribute(Qt::WA_KeyboardFocusChange);
    // Keys the focused control leaves alone reach the page.
    if (watched != &m_page || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Escape && mods == Qt::NoModifier)
        return true;
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || mods != Qt::NoModifier)
        return QObject::eventFilter(watched, event);
    auto* focused = qobject_cast<QPushButton*>(m_page.focusWidget());
    QPushButton* button = focused ? focused : (m_defaultButton ? m_defaultButton() : nullptr);
    if (button && button->isEnabled() && button->isVisible())
        button->click();
    return true;
}

} // namespace Keyboard
