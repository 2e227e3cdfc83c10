#pragma once

#include <QProxyStyle>

// The application's own style, except that the menu bar's overflow button gets its icon when the button
// is first painted. A menu bar asks for that icon when it is made; loading it loads every image format
// plugin the first time an image is read, which is several milliseconds of start-up spent on a button that
// shows only when the menus do not fit.
class DeferredIconStyle : public QProxyStyle {
public:
    explicit DeferredIconStyle(const QString& baseStyleKey);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};
