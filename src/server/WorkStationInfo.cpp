#include "server/WorkStationInfo.h"

#include <netdb.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utmpx.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string hostName()
{
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return std::string();
    return buffer;
}

std::string afterFirstDot(const std::string& name)
{
    const auto dot = name.find('.');
    if (dot == std::string::npos || dot + 1 >= name.size())
        return std::string();
    return name.substr(dot + 1);
}

// The DNS domain: from the host name itself when it is fully qualified, else from the canonical name the
// resolver gives for it (normally from /etc/hosts, so no network is asked; when it does ask, the wait is
// bounded).
std::string dnsDomain(const std::string& host, const CanonicalNameLookup& lookup,
                      std::chrono::milliseconds bound)
{
    if (host.empty())
        return std::string();
    std::string domain = afterFirstDot(host);
    if (!domain.empty() || !lookup)
        return domain;
    return afterFirstDot(boundedCanonicalName(host, lookup, bound));
}

std::string nisDomain()
{
    char buffer[256] = {};
    if (getdomainname(buffer, sizeof buffer - 1) != 0)
        return std::string();
    const std::string name = buffer;
    return name == "(none)" ? std::string() : name;
}

// "6.1.0-18-amd64" gives 6 and 1.
void kernelVersion(const char* release, std::int32_t& major, std::int32_t& minor)
{
    char* end = nullptr;
    const long first = std::strtol(release, &end, 10);
    if (end == release)
        return;
    major = static_cast<std::int32_t>(first);
    minor = 0;
    if (*end == '.') {
        const char* next = end + 1;
        const long second = std::strtol(next, &end, 10);
        if (end != next)
            minor = static_cast<std::int32_t>(second);
    }
}

std::int32_t countLoggedOnUsers()
{
    std::int32_t count = 0;
    setutxent();
    while (const utmpx* entry = getutxent()) {
        if (entry->ut_type == USER_PROCESS)
            ++count;
    }
    endutxent();
    return count;
}

} // namespace

std::string systemCanonicalName(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return std::string();
    std::string name = found->ai_canonname ? found->ai_canonname : std::string();
    freeaddrinfo(found);
    return name;
}

std::string boundedCanonicalName(const std::string& host, const CanonicalNameLookup& lookup,
                                 std::chrono::milliseconds bound)
{
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool done = false;
        std::string name;
    };
    const auto answer = std::make_shared<Answer>();
    try {
        // Everything the thread touches is its own copy or shared with it; nothing here waits for it.
        std::thread([answer, lookup, host] {
            std::string name;
            try {
                name = lookup(host);
            } catch (...) {
            }
            {
                const std::lock_guard<std::mutex> lock(answer->mutex);
                answer->name = std::move(name);
                answer->done = true;
            }
            answer->given.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to bound it with: the fallbacks serve.
        return std::string();
    }
    std::unique_lock<std::mutex> lock(answer->mutex);
    if (!answer->given.wait_for(lock, bound, [&] { return answer->done; }))
        return std::string();
    return answer->name;
}

WorkStationInfo::WorkStationInfo() : WorkStationInfo(&systemCanonicalName) {}

WorkStationInfo::WorkStationInfo(CanonicalNameLookup lookup, std::chrono::milliseconds bound)
    : m_lookup(std::move(lookup)), m_bound(bound)
{
    utsname system{};
    if (uname(&system) == 0) {
        m_systemKnown = true;
        Refresh();
    }
}

std::string WorkStationInfo::StrFromPtr(const char* text)
{
    return text ? std::string(text) : std::string();
}

void WorkStationInfo::Refresh()
{
    if (!m_systemKnown)
        return;
    readComputerFacts();
    readUserFacts();
}

void WorkStationInfo::readComputerFacts()
{
    utsname system{};
    if (uname(&system) != 0)
        return;
    const std::string host = hostName();
    if (host.empty())
        return;
    m_computerName = host;
    m_domain = dnsDomain(host, m_lookup, m_bound);
    if (m_domain.empty())
        m_domain = nisDomain();
    // A computer in no domain shows its own name, as a local account does.
    if (m_domain.empty())
        m_domain = host;
    kernelVersion(system.release, m_verMajor, m_verMinor);
    m_loggedOnUsers = countLoggedOnUsers();
    // No LAN root and no platform identifier of the workstation service exist here.
    m_lanRoot.clear();
    m_platformId = 0;
}

void WorkStationInfo::readUserFacts()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384u);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return;
    m_userName = StrFromPtr(found->pw_name);
    // Accounts are checked by this computer: its domain and its own name stand for the logon domain and
    // server. Linux keeps no list of other domains browsed.
    const std::string host = hostName();
    m_logonDomain = m_domain.empty() ? host : m_domain;
    m_logonServer = host;
    m_otherDomains.clear();
}

WorkStationInfo& sharedWorkStationInfo()
{
    static WorkStationInfo info;
    return info;
}
