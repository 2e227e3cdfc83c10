#pragma once

#include <thread>

// Start-up work whose results are process-wide and that the first page would otherwise wait for, done
// on a second core while Qt starts: fontconfig reads its configuration once per process (about 8 ms of
// XML), and the first caption that measures its text needs it.
class StartupWarmUp {
public:
    StartupWarmUp();
    ~StartupWarmUp();
    StartupWarmUp(const StartupWarmUp&) = delete;
    StartupWarmUp& operator=(const StartupWarmUp&) = delete;

private:
    std::thread m_thread;
};
