#pragma once

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

// The sign-in box of a data source that names its user but keeps no password: asks for the password once,
// before the first page shows. The password is never shown; what was typed leaves the box when it closes.
class frmSignIn : public QDialog {
    Q_OBJECT

public:
    frmSignIn(const QString& dataSource, const QString& user, QWidget* parent = nullptr);

    void frmSignIn_Auto_Init();
    // The password typed, or nothing when Cancel (or the window's close box) ended the box.
    std::optional<QString> password();

    // Shows the box modally and answers as password() does.
    static std::optional<QString> askPassword(const QString& dataSource, const QString& user);

private:
    QString m_dataSource;
    QString m_user;
    QLabel* lblSignIn = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
};
