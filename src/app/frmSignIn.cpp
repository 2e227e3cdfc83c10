#include "app/frmSignIn.h"

#include "localize/LanguageFonts.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ObjectNames.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using modLocalize::mymyLoadString;

frmSignIn::frmSignIn(const QString& dataSource, const QString& user, QWidget* parent)
    : QDialog(parent), m_dataSource(dataSource), m_user(user)
{
    setObjectName(QStringLiteral("frmSignIn"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    lblSignIn = named(new QLabel(this), "lblSignIn");
    lblSignIn->setWordWrap(true);
    lblSignIn->setTextFormat(Qt::PlainText); // a user name is shown as it is written
    layout->addWidget(lblSignIn);
    txtPassword = named(new QLineEdit(this), "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    // No input method sees the password, and no context menu offers to copy it.
    txtPassword->setAttribute(Qt::WA_InputMethodEnabled, false);
    txtPassword->setContextMenuPolicy(Qt::NoContextMenu);
    lblSignIn->setBuddy(txtPassword);
    layout->addWidget(txtPassword);
    auto* buttons = new QHBoxLayout;
    cmdOK = named(new QPushButton(this), "cmdOK");
    cmdOK->setDefault(true);
    cmdCancel = named(new QPushButton(this), "cmdCancel");
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    frmSignIn_Auto_Init();
    txtPassword->setFocus();
}

void frmSignIn::frmSignIn_Auto_Init()
{
    modLocalize::ApplyLanguageFonts(this);
    setWindowTitle(mymyLoadString(StringIds::AppTitle));
    lblSignIn->setText(mymyLoadString(StringIds::SignInPassword).arg(m_dataSource, m_user));
    cmdOK->setText(mymyLoadString(StringIds::Ok));
    cmdCancel->setText(mymyLoadString(StringIds::Cancel));
}

std::optional<QString> frmSignIn::password()
{
    std::optional<QString> typed;
    if (result() == QDialog::Accepted)
        typed = txtPassword->text();
    // setText, unlike clear, also forgets the edit history, which holds what was typed.
    txtPassword->setText(QString());
    return typed;
}

std::optional<QString> frmSignIn::askPassword(const QString& dataSource, const QString& user)
{
    frmSignIn box(dataSource, user);
    box.exec();
    return box.password();
}
