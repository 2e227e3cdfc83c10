#include "app/StartupWarmUp.h"

#include "server/OdbcSetup.h"
#include "server/WorkStationInfo.h"
#include "server/modOrvaneDB.h"

#include <QFile>

#include <fontconfig/fontconfig.h>

#include <dlfcn.h>

#include <system_error>

StartupWarmUp::StartupWarmUp()
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // Without a second thread everything is loaded where it is first needed.
        m_fontsReady = true;
    }
}

StartupWarmUp::~StartupWarmUp()
{
    if (m_thread.joinable())
        m_thread.join();
    // The driver manager holds its own reference to a driver it uses.
    if (m_driver)
        dlclose(m_driver);
}

void StartupWarmUp::waitForFonts()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_fontsLoaded.wait(lock, [this] { return m_fontsReady; });
}

void StartupWarmUp::run()
{
    FcInit();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_fontsReady = true;
    }
    m_fontsLoaded.notify_all();
    const QString driver = OdbcSetup::libraryForConnection(modOrvaneDB::ChosenConnectionString());
    if (!driver.isEmpty())
        m_driver = dlopen(QFile::encodeName(driver).constData(), RTLD_NOW | RTLD_LOCAL);
    sharedWorkStationInfo();
}
