#include "server/WorkStationInfo.h"

#include <QtTest>

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

} // namespace

class TestWorkStationInfo : public QObject {
    Q_OBJECT

private slots:
    void factsOfThisMachine();
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

QTEST_GUILESS_MAIN(TestWorkStationInfo)
#include "test_workstationinfo.moc"
