#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// The canonical name the resolver gives for a host name ("host" -> "host.example.com"), empty when it
// gives none. The system's asks getaddrinfo, which may wait for a DNS server that never answers.
using CanonicalNameLookup = std::function<std::string(const std::string& host)>;
std::string systemCanonicalName(const std::string& host);

// lookup(host), or the empty text when it has not answered within `bound`. The lookup runs on a thread of
// its own that owns everything it touches, so one still blocked when the wait ends finishes later unheard.
std::string boundedCanonicalName(const std::string& host, const CanonicalNameLookup& lookup,
                                 std::chrono::milliseconds bound);

// Facts about this computer and the user the program runs as, read from the system. Plain C++ with
// standard types, so a Windows build can put the workstation service behind the same class. Texts are
// UTF-8. Which value comes from where on Linux, and which stay empty or 0, is listed in the README.
class WorkStationInfo {
public:
    // How long the DNS domain may take before the fallbacks stand in for it.
    static constexpr std::chrono::milliseconds DomainLookupBound{1000};

    WorkStationInfo();
    // The same with another way of finding the host's canonical name, waited for at most `bound`.
    explicit WorkStationInfo(CanonicalNameLookup lookup, std::chrono::milliseconds bound = DomainLookupBound);

    const std::string& ComputerName() const { return m_computerName; }
    const std::string& Domain() const { return m_domain; }
    const std::string& LanRoot() const { return m_lanRoot; }
    std::int32_t LoggedOnUsers() const { return m_loggedOnUsers; }
    std::int32_t PlatformId() const { return m_platformId; }
    std::int32_t VerMajor() const { return m_verMajor; }
    std::int32_t VerMinor() const { return m_verMinor; }
    const std::string& LogonDomain() const { return m_logonDomain; }
    const std::string& LogonServer() const { return m_logonServer; }
    const std::string& OtherDomains() const { return m_otherDomains; }
    const std::string& UserName() const { return m_userName; }

    // Re-reads every value. The computer facts and the user facts are read independently; a part the
    // system cannot answer keeps what it held.
    void Refresh();

private:
    // A C string from the system to text; no pointer gives the empty text.
    static std::string StrFromPtr(const char* text);

    void readComputerFacts();
    void readUserFacts();

    // Set once at creation: whether the system answered who it is (uname). Without it the object stays empty.
    bool m_systemKnown = false;
    CanonicalNameLookup m_lookup;
    std::chrono::milliseconds m_bound;

    std::string m_computerName;
    std::string m_domain;
    std::string m_lanRoot;
    std::int32_t m_loggedOnUsers = 0;
    std::int32_t m_platformId = 0;
    std::int32_t m_verMajor = 0;
    std::int32_t m_verMinor = 0;
    std::string m_logonDomain;
    std::string m_logonServer;
    std::string m_otherDomains;
    std::string m_userName;
};

// The one instance of the process, created on first use and kept until the process ends. Start-up makes it
// on a thread of its own, so that the first run log finds it made.
WorkStationInfo& sharedWorkStationInfo();
