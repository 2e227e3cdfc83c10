#include "app/PageFlow.h"

#include "app/frmMain.h"
#include "app/frmSplashScreen.h"
#include "deletion/frmDeleteSubscribers.h"
#include "selection/frmChooseSubscribers.h"

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
    m_chooseSubscribers->move(m_firstPage.pos());
    if (loading)
        m_chooseSubscribers->Form_Load();
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
    m_deleteSubscribers->move(m_chooseSubscribers->pos());
    if (loading)
        m_deleteSubscribers->Form_Load();
    m_deleteSubscribers->show();
    m_chooseSubscribers->hide();
}

void PageFlow::previousFromChooseSubscribers()
{
    // A fill goes on with the page's grid once it lets go of the events it let through.
    if (!m_chooseSubscribers || m_chooseSubscribers->isFilling())
        return;
    m_firstPage.move(m_chooseSubscribers->pos());
    m_chooseSubscribers->hide();
    // The page asks for this from inside its own handler, so it goes once that handler has returned.
    m_chooseSubscribers.release()->deleteLater();
    m_firstPage.show();
}

void PageFlow::previousFromDeleteSubscribers()
{
    if (!m_chooseSubscribers || !m_deleteSubscribers)
        return;
    m_chooseSubscribers->move(m_deleteSubscribers->pos());
    m_chooseSubscribers->show();
    m_deleteSubscribers->hide();
}
