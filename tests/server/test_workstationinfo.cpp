#include "server/WorkStationInfo.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <netdb.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>

namespace {

std::string systemHostName()
{
    char buffer[256] = {};
    gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

// The domain this machine's resolver and NIS settings give, or the host name where neither has one.
std::string expectedDomain(const std::string& host)
{
    std::string canonical = host;
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (host.find('.') == std::string::npos && getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0) {
        if (found->ai_canonname)
            canonical = found->ai_canonname;
        freeaddrinfo(found);
    }
    const auto dot = canonical.find('.');
    if (dot != std::string::npos && dot + 1 < canonical.size())
        return canonical.substr(dot + 1);
    char nis[256] = {};
    if (getdomainname(nis, sizeof nis - 1) == 0 && nis[0] && std::string(nis) != "(none)")
        return nis;
    return host;
}

// A resolver that never answers until released, as one waiting for a DNS server that is gone. Shared with
// the lookup's own thread, which may outlive the call that started it.
struct SilentResolver {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int asked = 0;
    int finished = 0;

    CanonicalNameLookup lookup(const std::shared_ptr<SilentResolver>& self)
    {
        return [self](const std::string& host) {
            std::unique_lock<std::mutex> lock(self->mutex);
            ++self->asked;
            self->changed.notify_all();
            self->changed.wait(lock, [&] { return self->released; });
            ++self->finished;
            self->changed.notify_all();
            return host + ".late.example";
        };
    }
    // Lets every blocked lookup end and waits until they have.
    void release()
    {
        std::unique_lock<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return finished == asked; });
    }
};

} // namespace

class TestWorkStationInfo : public QObject {
    Q_OBJECT

private slots:
    void factsOfThisMachine();
    void anUnansweredDomainLookupIsBounded();
};

void TestWorkStationInfo::factsOfThisMachine()
{
    const WorkStationInfo& info = sharedWorkStationInfo();
    QCOMPARE(&sharedWorkStationInfo(), &info);

    const passwd* account = getpwuid(getuid());
    QVERIFY(account);
    QCOMPARE(QString::fromStdString(info.UserName()), QString::fromUtf8(account->pw_name));

    const std::string host = systemHostName();
    QVERIFY(!host.empty());
    QCOMPARE(QString::fromStdString(info.ComputerName()), QString::fromStdString(host));
    QCOMPARE(QString::fromStdString(info.Domain()), QString::fromStdString(expectedDomain(host)));
    QVERIFY(!info.Domain().empty());
    QCOMPARE(info.LogonDomain(), info.Domain());
    QCOMPARE(info.LogonServer(), host);

    utsname system{};
    QCOMPARE(uname(&system), 0);
    const QStringList release = QString::fromUtf8(system.release).split(QLatin1Char('.'));
    QCOMPARE(info.VerMajor(), release.value(0).toInt());
    QCOMPARE(info.VerMinor(), release.value(1).toInt());
    QVERIFY(info.VerMajor() > 0);
    QVERIFY(info.LoggedOnUsers() >= 0);

    // Nothing on Linux answers these.
    QVERIFY(info.LanRoot().empty());
    QVERIFY(info.OtherDomains().empty());
    QCOMPARE(info.PlatformId(), 0);

    // Refresh reads the same facts again.
    WorkStationInfo fresh;
    fresh.Refresh();
    QCOMPARE(fresh.UserName(), info.UserName());
    QCOMPARE(fresh.Domain(), info.Domain());
    QCOMPARE(fresh.ComputerName(), info.ComputerName());
}

void TestWorkStationInfo::anUnansweredDomainLookupIsBounded()
{
    QCOMPARE(WorkStationInfo::DomainLookupBound.count(), 1000);
    const auto resolver = std::make_shared<SilentResolver>();
    const std::chrono::milliseconds bound(300);

    // The lookup on its own: nothing after the bound, the answer when it comes in time.
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(boundedCanonicalName("vm", resolver->lookup(resolver), bound), std::string());
    qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 290 && elapsed < 1500, qPrintable(QString::number(elapsed)));
    QCOMPARE(boundedCanonicalName(
                 "vm", [](const std::string& host) { return host + ".example.com"; }, bound),
             std::string("vm.example.com"));
    QCOMPARE(boundedCanonicalName(
                 "vm", [](const std::string&) -> std::string { throw std::runtime_error("x"); }, bound),
             std::string());

    // The workstation facts: a host name that needs the resolver gets the fallbacks after the bound.
    const std::string host = systemHostName();
    timer.restart();
    const WorkStationInfo info(resolver->lookup(resolver), bound);
    elapsed = timer.elapsed();
    QVERIFY2(elapsed < 1500, qPrintable(QString::number(elapsed)));
    QCOMPARE(info.ComputerName(), host);
    if (host.find('.') == std::string::npos) {
        char nis[256] = {};
        const bool hasNis = getdomainname(nis, sizeof nis - 1) == 0 && nis[0] && std::string(nis) != "(none)";
        QCOMPARE(info.Domain(), hasNis ? std::string(nis) : host);
        QVERIFY(elapsed >= 290);
        std::unique_lock<std::mutex> lock(resolver->mutex);
        resolver->changed.wait_for(lock, std::chrono::seconds(5), [&] { return resolver->asked == 2; });
        QCOMPARE(resolver->asked, 2);
    } else {
        // A fully qualified host name carries its domain: no lookup at all.
        QCOMPARE(info.Domain(), host.substr(host.find('.') + 1));
    }
    QCOMPARE(info.LogonDomain(), info.Domain());
    resolver->release();
    {
        std::lock_guard<std::mutex> lock(resolver->mutex);
        QCOMPARE(resolver->finished, resolver->asked);
    }
    // What the late answers said is heard by nobody: the facts stay as they were.
    QVERIFY(info.Domain().find("late.example") == std::string::npos);
}

QTEST_GUILESS_MAIN(TestWorkStationInfo)
#include "test_workstationinfo.moc"
