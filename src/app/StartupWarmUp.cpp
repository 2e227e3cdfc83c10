#include "app/StartupWarmUp.h"

#include <fontconfig/fontconfig.h>

#include <system_error>

StartupWarmUp::StartupWarmUp()
{
    try {
        // Loading the configuration twice at once is harmless: fontconfig keeps whichever is first.
        m_thread = std::thread([] { FcInit(); });
    } catch (const std::system_error&) {
        // Without a second thread Qt loads the configuration itself when it first needs it.
    }
}

StartupWarmUp::~StartupWarmUp()
{
    if (m_thread.joinable())
        m_thread.join();
}
