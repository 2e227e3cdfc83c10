#include "app/PageFlow.h"

#include "app/frmMain.h"
#include "app/frmSplashScreen.h"
#include "deletion/frmDeleteSubscribers.h"
#include "selection/frmChooseSubscribers.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {
// Puts `next` where `current` stands, moved and if need be shrunk so that the whole window, frame
// included, lies on the screen's available area: a page handed on from a corner, or one larger than a
// small screen, would otherwise hide part of itself, its buttons perhaps.
void takePlaceOf(QWidget& next, const QWidget& current)
{
    const QScreen* screen = current.screen();
    if (!screen) {
        next.move(current.pos());
        return;
    }
    const QRect area = screen->availableGeometry();
    // The frame of a window never shown is not known yet; the current page's is the same window manager's.
    const QRect outer = current.frameGeometry();
    const QRect inner = current.geometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const QSize room = area.size().shrunkBy(frame);
    const QSize smallest = next.minimumSize().expandedTo(next.minimumSizeHint());
    next.resize(next.size().boundedTo(room).expandedTo(smallest));
    const QSize whole = next.size().grownBy(frame);
    // A window larger than the area even at its smallest keeps its top-left corner (and title bar) on it.
    const int x = std::max(area.left(), std::min(outer.left(), area.right() + 1 - whole.width()));
    const int y = std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - whole.height()));
    next.move(x, y);
}
} // namespace

PageFlow::PageFlow(frmMain& firstPage) : QObject(&firstPage), m_firstPage(firstPage) {}

PageFlow::~PageFlow() = default;

void PageFlow::nextFromFirstPage()
{
    const bool loading = !m_chooseSubscribers;
    if (loading) {
        m_chooseSubscribers = std::make_unique<frmChooseSubscribers>();
        connect(m_chooseSubscribers.get(), &frmChooseSubscribers::nextRequested, this,
                &PageFlow::nextFromChooseSubscribers);
        connect(m_chooseSubscribers.get(), &frmChooseSubscribers::previousRequested, this,
                &PageFlow::previousFromChooseSubscribers);
        if (!m_splash)
            m_splash = std::make_unique<frmSplashScreen>();
        m_chooseSubscribers->setSplashScreen(m_splash.get());
    }
    // Placed once its texts are in, which set how small it can be.
    if (loading)
        m_chooseSubscribers->Form_Load();
    takePlaceOf(*m_chooseSubscribers, m_firstPage);
    m_chooseSubscribers->show();
    m_firstPage.hide();
}

void PageFlow::nextFromChooseSubscribers()
{
    if (!m_chooseSubscribers)
        return;
    const bool loading = !m_deleteSubscribers;
    if (loading) {
        m_deleteSubscribers = std::make_unique<frmDeleteSubscribers>();
        // The run reads both afresh each time: the mode stays on the first page, and the selection page
        // may have been rebuilt since this page was loaded.
        m_deleteSubscribers->setSources({[this] { return m_firstPage.deleteAllSelected(); },
                                         [this]() -> const SubscriberGridModel* {
                                             return m_chooseSubscribers ? &m_chooseSubscribers->grid()
                                                                        : nullptr;
                                         }});
        connect(m_deleteSubscribers.get(), &frmDeleteSubscribers::previousRequested, this,
                &PageFlow::previousFromDeleteSubscribers);
    }
    // Placed once its texts are in, which set how small it can be.
    if (loading)
        m_deleteSubscribers->Form_Load();
    takePlaceOf(*m_deleteSubscribers, *m_chooseSubscribers);
    m_deleteSubscribers->show();
    m_chooseSubscribers->hide();
}

void PageFlow::previousFromChooseSubscribers()
{
    // A fill goes on with the page's grid once it lets go of the events it let through.
    if (!m_chooseSubscribers || m_chooseSubscribers->isFilling())
        return;
    takePlaceOf(m_firstPage, *m_chooseSubscribers);
    m_chooseSubscribers->hide();
    // The page asks for this from inside its own handler, so it goes once that handler has returned.
    m_chooseSubscribers.release()->deleteLater();
    m_firstPage.show();
}

void PageFlow::previousFromDeleteSubscribers()
{
    if (!m_chooseSubscribers || !m_deleteSubscribers)
        return;
    takePlaceOf(*m_chooseSubscribers, *m_deleteSubscribers);
    m_chooseSubscribers->show();
    m_deleteSubscribers->hide();
}
