#include "app/frmHelp.h"

#include "app/Twips.h"
#include "localize/LanguageFonts.h"
#include "localize/StringIds.h"
#include "localize/modLocalize.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>

#include <algorithm>

namespace {
constexpr int DesignedWidth = 720;
constexpr int DesignedHeight = 640;
constexpr int MinimumWidth = 2500;
constexpr int MinimumHeight = 2400;
constexpr int BrowserLeft = 100;
constexpr int BrowserTop = 1;
constexpr int BrowserWidthAllowance = 200;
constexpr int BrowserHeightAllowance = 400;
} // namespace

QPointer<frmHelp> frmHelp::s_instance;

frmHelp::frmHelp() : QWidget(nullptr)
{
    setObjectName(QStringLiteral("frmHelp"));
    setAttribute(Qt::WA_DeleteOnClose);
    browserHelp = new QTextBrowser(this);
    browserHelp->setObjectName(QStringLiteral("browserHelp"));
    // Addresses of other sites leave the program's own pages to the desktop's browser.
    browserHelp->setOpenExternalLinks(true);
    // The page can be scrolled by keys as soon as the window shows.
    browserHelp->setFocus();
    const QScreen* shownOn = screen();
    resize(shownOn ? startSize(shownOn->availableGeometry().size()) : QSize(DesignedWidth, DesignedHeight));
}

QSize frmHelp::startSize(const QSize& available)
{
    // Room for a title bar and borders, which are not known before the window first shows.
    const QSize frame(16, 48);
    return QSize(DesignedWidth, DesignedHeight).boundedTo(available - frame);
}

frmHelp* frmHelp::showHelp()
{
    if (!s_instance) {
        s_instance = new frmHelp;
        s_instance->Form_Load();
    }
    s_instance->show();
    s_instance->raise();
    s_instance->activateWindow();
    return s_instance;
}

frmHelp* frmHelp::instance()
{
    return s_instance;
}

void frmHelp::frmHelp_Auto_Init()
{
    modLocalize::ApplyLanguageFonts(this);
    setWindowTitle(modLocalize::mymyLoadString(StringIds::AppTitle));
}

QUrl frmHelp::helpPage()
{
    const QString folder = modLocalize::programFolder();
    const QString languagePage = folder + QStringLiteral("/culvane_") +
                                 modLocalize::GetLangCode(modLocalize::CurrentLangID()).trimmed() +
                                 QStringLiteral(".htm");
    if (QFileInfo(languagePage).isFile())
        return QUrl::fromLocalFile(languagePage);
    // The default page's existence is not checked: a missing page shows an empty window, not an error.
    // Built from the path rather than pasted into a "file://" text, so that a folder name holding '#' or
    // '%' still names the file.
    return QUrl::fromLocalFile(folder + QStringLiteral("/Culvane.htm"));
}

void frmHelp::Form_Load()
{
    frmHelp_Auto_Init();
    browserHelp->setSource(helpPage());
}

void frmHelp::keyPressEvent(QKeyEvent* event)
{
    // Escape does what the close box does.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmHelp::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmHelp::Form_Resize()
{
    if (isMinimized())
        return;
    // Sizes are those of the whole window, frame included; the browser is placed inside it.
    const Twips twips(*this);
    const QSize decoration = frameGeometry().size() - size();
    int width = twips.fromPixelsX(frameGeometry().width());
    int height = twips.fromPixelsY(frameGeometry().height());
    if (width < MinimumWidth || height < MinimumHeight) {
        width = std::max(width, MinimumWidth);
        height = std::max(height, MinimumHeight);
        resize(twips.toPixelsX(width) - decoration.width(), twips.toPixelsY(height) - decoration.height());
    }
    const int top = twips.toPixelsY(BrowserTop);
    const int insideHeight = twips.toPixelsY(height) - decoration.height();
    // A window manager's frame taller than the allowance would push the browser's bottom out of sight.
    browserHelp->setGeometry(twips.toPixelsX(BrowserLeft), top,
                             twips.toPixelsX(width - BrowserWidthAllowance),
                             std::min(twips.toPixelsY(height - BrowserHeightAllowance), insideHeight - top));
}
