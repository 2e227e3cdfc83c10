#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Start-up work whose results are process-wide and that the first page would otherwise wait for, done on
// a second core while Qt starts and the page is built:
// - fontconfig reads its configuration once per process (about 8 ms of XML); the first caption that
//   measures its text needs it.
// - the ODBC driver of the connection the page will open is loaded (mapped and bound, about 1.5 ms for
//   SQLite's); the driver manager then finds it loaded.
// - the workstation facts the first run log's header names, whose DNS domain may wait for a name server
//   (up to WorkStationInfo::DomainLookupBound); the window never waits for them.
// Nothing here reports anything: what fails here fails again where the program meets it, and says so there.
class StartupWarmUp {
public:
    StartupWarmUp();
    ~StartupWarmUp();
    StartupWarmUp(const StartupWarmUp&) = delete;
    StartupWarmUp& operator=(const StartupWarmUp&) = delete;

    // Waits until fontconfig's configuration is loaded: the first text measured before then would load it
    // a second time, from the start, meanwhile.
    void waitForFonts();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_fontsLoaded;
    bool m_fontsReady = false;

    std::thread m_thread;
    void* m_driver = nullptr; // dlopen's handle, closed again once the thread has ended
};
