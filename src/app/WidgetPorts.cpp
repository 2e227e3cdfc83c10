#include "app/WidgetPorts.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/MsgBox.h"
#include "ports/Ports.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

std::unique_ptr<QMessageBox> makeMessageBox(const QString& title, const QString& text,
                                            MsgBox::Buttons buttons, const QString& detail, QWidget* parent)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon,
                                             title.isEmpty() ? QApplication::applicationDisplayName() : title,
                                             text, QMessageBox::NoButton, parent);
    if (!detail.isEmpty())
        box->setDetailedText(detail);
    switch (buttons) {
    case MsgBox::vbOKOnly:
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case MsgBox::vbOKCancel:
        box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box->setDefaultButton(QMessageBox::Ok);
        break;
    case MsgBox::vbYesNo:
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        break;
    case MsgBox::vbRetryCancel:
        box->setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        box->button(QMessageBox::Cancel)->setText(modLocalize::mymyLoadString(StringIds::Stop));
        // Nothing is lost by stopping; a Return pressed by chance must not keep a failing run going.
        box->setDefaultButton(QMessageBox::Cancel);
        break;
    }
    return box;
}

namespace {
// A message belongs to the wizard page that asked for it and shows centred over it. The active window
// may be another: the help window, or none at all while the person works elsewhere during a run.
QWidget* ownerOfMessages()
{
    QWidget* active = QApplication::activeWindow();
    // A dialog of a page (About) keeps its messages over itself.
    if (active && active->parentWidget())
        return active;
    const auto isPage = [](const QWidget* window) {
        const QString name = window->objectName();
        return name == QLatin1String("frmMain") || name == QLatin1String("frmChooseSubscribers") ||
               name == QLatin1String("frmDeleteSubscribers");
    };
    if (active && isPage(active))
        return active;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && isPage(window))
            return window;
    }
    return active;
}

MsgBox::Answer showBox(const QString& title, const QString& text, MsgBox::Buttons buttons,
                       const QString& detail)
{
    switch (makeMessageBox(title, text, buttons, detail, ownerOfMessages())->exec()) {
    case QMessageBox::Ok:
        return MsgBox::vbOK;
    case QMessageBox::Cancel:
        return MsgBox::vbCancel;
    case QMessageBox::Yes:
        return MsgBox::vbYes;
    case QMessageBox::No:
        return MsgBox::vbNo;
    case QMessageBox::Retry:
        return MsgBox::vbRetry;
    default:
        // Closing an OK/Cancel box with Escape counts as Cancel; an OK-only box has nothing else to say.
        return buttons == MsgBox::vbOKOnly ? MsgBox::vbOK
                                           : (buttons == MsgBox::vbYesNo ? MsgBox::vbNo : MsgBox::vbCancel);
    }
}

MsgBox::Answer showMessage(const QString& text, MsgBox::Buttons buttons, const QString& detail)
{
    return showBox(QString(), text, buttons, detail);
}

MsgBox::Answer showTitledMessage(const QString& title, const QString& text, MsgBox::Buttons buttons)
{
    return showBox(title, text, buttons, QString());
}

std::optional<QString> chooseFile(const FileDialog::Request& request)
{
    QFileDialog dialog(QApplication::activeWindow(), request.title, request.initialFolder, request.filter);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (request.mode == FileDialog::Request::Mode::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(request.defaultSuffix);
    } else {
        dialog.setOption(QFileDialog::ReadOnly, true);
    }
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}
} // namespace

void installWidgetPorts()
{
    MsgBox::setHandler(showMessage);
    MsgBox::setTitledHandler(showTitledMessage);
    FileDialog::setHandler(chooseFile);
}
