#pragma once

#include <QObject>

#include <memory>

class frmChooseSubscribers;
class frmDeleteSubscribers;
class frmMain;
class frmSplashScreen;

// The wizard's three pages share one place on the screen. This object knows them and does what "Next >>"
// and "<< Previous" do on each: the page that is left hands its position to the page that is shown, which
// shows without blocking, and the page that is left hides. The selection page is loaded on its first
// showing and unloaded on the way back to the first page; the deletion page, once loaded, stays loaded.
class PageFlow : public QObject {
    Q_OBJECT

public:
    explicit PageFlow(frmMain& firstPage);
    ~PageFlow() override;

    // The later pages while they are loaded, else null.
    frmChooseSubscribers* chooseSubscribersPage() const { return m_chooseSubscribers.get(); }
    frmDeleteSubscribers* deleteSubscribersPage() const { return m_deleteSubscribers.get(); }

    void nextFromFirstPage();
    void nextFromChooseSubscribers();
    void previousFromChooseSubscribers();
    void previousFromDeleteSubscribers();

private:
    frmMain& m_firstPage;
    std::unique_ptr<frmChooseSubscribers> m_chooseSubscribers;
    std::unique_ptr<frmDeleteSubscribers> m_deleteSubscribers;
    // The "please wait" window of the subscriber queries, made with the selection page's first loading.
    std::unique_ptr<frmSplashScreen> m_splash;
};
