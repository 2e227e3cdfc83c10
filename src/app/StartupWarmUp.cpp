#include "app/StartupWarmUp.h"

#include "server/OdbcSetup.h"
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

void StartupWarmUp::run()
{
    // Loading the configuration twice at once is harmless: fontconfig keeps whichever is first.
    FcInit();
    const QString driver = OdbcSetup::libraryForConnection(modOrvaneDB::ChosenConnectionString());
    if (!driver.isEmpty())
        m_driver = dlopen(QFile::encodeName(driver).constData(), RTLD_NOW | RTLD_LOCAL);
}
