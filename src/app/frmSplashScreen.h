#pragma once

#include <QWidget>

class QLabel;

// The "please wait" window the subscriber queries show over the selection page.
class frmSplashScreen : public QWidget {
    Q_OBJECT

public:
    explicit frmSplashScreen(QWidget* parent = nullptr);

    Q_INVOKABLE void frmSplashScreen_Auto_Init();
    QLabel* label() const { return Label1; }

private:
    QLabel* Label1 = nullptr;
};
