#include "app/frmAbout.h"

#include "localize/LanguageFonts.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/ErrorReport.h"
#include "ports/ObjectNames.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

using modLocalize::mymyLoadString;

namespace {
QString numberWithSignPlace(int number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}
} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setModal(true);
    auto* page = new QVBoxLayout(this);

    lblVersionTitle = named(new QLabel(this), "lblVersionTitle_1");
    lblVersion = named(new QLabel(this), "lblVersion");
    lblMarvokAddress1 = named(new QLabel(this), "lblMarvokAddress1");
    lblMarvokAddress2 = named(new QLabel(this), "lblMarvokAddress2");
    lblMarvokAddress3 = named(new QLabel(this), "lblMarvokAddress3");
    lblTrademark = named(new QLabel(this), "lblTrademark");
    lblCopyright = named(new QLabel(this), "lblCopyright");
    for (QLabel* notice : {lblTrademark, lblCopyright})
        notice->setWordWrap(true);
    QFont makerFont = lblMarvokAddress1->font();
    makerFont.setBold(true);
    lblMarvokAddress1->setFont(makerFont);

    // A label that acts as a link: it opens the language menu where it is clicked.
    lblChangeLanguage = named(new QLabel(this), "lblChangeLanguage");
    lblChangeLanguage->setCursor(Qt::PointingHandCursor);
    lblChangeLanguage->setFocusPolicy(Qt::TabFocus);
    lblChangeLanguage->setStyleSheet(QStringLiteral("color: palette(link); text-decoration: underline;"));
    lblChangeLanguage->installEventFilter(this);

    cmdOK = named(new QPushButton(this), "cmdOK");
    cmdOK->setDefault(true);

    mnuSelectLanguage = named(new QMenu(this), "mnuSelectLanguage");
    languageEntry(0); // designed with one entry

    auto* version = new QHBoxLayout;
    version->addWidget(lblVersionTitle);
    version->addWidget(lblVersion, 1);
    page->addLayout(version);
    page->addSpacing(10);
    auto* maker = new QVBoxLayout;
    maker->setSpacing(2);
    for (QLabel* line : {lblMarvokAddress1, lblMarvokAddress2, lblMarvokAddress3})
        maker->addWidget(line);
    page->addLayout(maker);
    page->addSpacing(10);
    page->addWidget(lblTrademark);
    page->addWidget(lblCopyright);
    page->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblChangeLanguage);
    bottom->addStretch(1);
    bottom->addWidget(cmdOK);
    page->addLayout(bottom);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    resize(440, 240);
}

QAction* frmAbout::languageEntry(int index)
{
    while (mnuLanguageList.size() <= index) {
        const int element = mnuLanguageList.size();
        QAction* entry = mnuSelectLanguage->addAction(QString());
        entry->setObjectName(QStringLiteral("mnuLanguageList_%1").arg(element));
        connect(entry, &QAction::triggered, this, [this, element] { mnuLanguageList_Click(element); });
        mnuLanguageList.append(entry);
    }
    return mnuLanguageList.at(index);
}

QString frmAbout::versionCaption(int major, int minor, int revision)
{
    return numberWithSignPlace(major) + QLatin1Char('.') + QString::number(minor) + QStringLiteral(" Build") +
           numberWithSignPlace(revision);
}

void frmAbout::frmAbout_Auto_Init()
{
    const ErrorReport report =
        ErrorReport::fixed(mymyLoadString(StringIds::ErrorHead),
                           QStringLiteral(") in procedure frmAbout_Auto_Init of Form frmAbout"));
    modLocalize::ApplyLanguageFonts(this);
    const auto caption = [&](QLabel* control, int id) {
        report.step([&] { control->setText(mymyLoadString(id)); });
    };
    report.step([&] { setWindowTitle(mymyLoadString(StringIds::AboutCaption)); });
    report.step([&] { cmdOK->setText(mymyLoadString(StringIds::Ok)); });
    caption(lblMarvokAddress2, StringIds::MakerCity);
    caption(lblMarvokAddress3, StringIds::MakerCountry);
    caption(lblChangeLanguage, StringIds::ChangeLanguage);
    caption(lblTrademark, StringIds::TrademarkNotice);
    caption(lblCopyright, StringIds::CopyrightNotice);
    caption(lblMarvokAddress1, StringIds::MakerName);
    caption(lblVersionTitle, StringIds::VersionTitle);
    report.step([&] { mnuSelectLanguage->setTitle(mymyLoadString(StringIds::SelectLanguage)); });
}

void frmAbout::Form_Load()
{
    const ErrorReport report = ErrorReport::prefixed(QStringLiteral("Error in FormLoad routine:"));
    report.step([&] { frmAbout_Auto_Init(); });
    report.step([&] {
        lblVersion->setText(
            versionCaption(CULVANE_VERSION_MAJOR, CULVANE_VERSION_MINOR, CULVANE_VERSION_REVISION));
    });
    report.step([] { modLocalize::InitalizeLanguages(); });

    const QStringList codes = modLocalize::LanguageCodes();
    if (codes.size() < 2) {
        report.step([&] {
            languageEntry(0)->setText(mymyLoadString(StringIds::NoLanguagesLoaded));
            languageEntry(0)->setData(QStringLiteral("1033"));
        });
        return;
    }
    for (int i = 0; i < codes.size(); ++i) {
        report.step([&] {
            QAction* entry = languageEntry(i);
            entry->setText(modLocalize::GetLangNameFromCode(codes.at(i)));
            entry->setData(QString::number(modLocalize::GetLangIDFromCode(codes.at(i))));
        });
    }
}

void frmAbout::cmdOK_Click()
{
    // Hidden, not unloaded: the next "About" shows the window as it is.
    hide();
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    // The close box unloads the window; the next "About" loads it anew.
    QDialog::closeEvent(event);
    if (event->isAccepted())
        deleteLater();
}

void frmAbout::lblChangeLanguage_Click(const QPoint& at)
{
    mnuSelectLanguage->popup(at);
}

void frmAbout::mnuLanguageList_Click(int index)
{
    const ErrorReport quiet = ErrorReport::silent();
    setCursor(Qt::WaitCursor);
    quiet.step([&] {
        const QString tag = mnuLanguageList.at(index)->data().toString().trimmed();
        modLocalize::setCurrentLangID(tag.toInt());
    });
    quiet.step([] { modLocalize::InitalizeLanguages(); });
    for (QWidget* window : modLocalize::loadedWindows()) {
        quiet.step([&] { modLocalize::ApplyLanguageFonts(window); });
        quiet.step([&] { modLocalize::invokeAutoInit(window); });
        window->update();
        for (QWidget* control : window->findChildren<QWidget*>())
            control->update();
    }
    unsetCursor();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblChangeLanguage) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            lblChangeLanguage_Click(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
                lblChangeLanguage_Click(
                    lblChangeLanguage->mapToGlobal(lblChangeLanguage->rect().bottomLeft()));
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}
