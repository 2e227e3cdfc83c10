#include "server/OrvaneVersion.h"

#include "ports/CulvaneError.h"
#include "ports/ErrorReport.h"
#include "server/RegistryAPI.h"

#include <QString>

#include <tuple>

namespace OrvaneVersion {

namespace {

const QString CurrentVersionKey = QStringLiteral("SOFTWARE\\Marvok Systems\\Marvok Orvane");
const QString OlderVersionKey = QStringLiteral("Software\\Velcor\\");
const QString RestrictedRightsKey = QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0");

OrvaneServerVersion& installed()
{
    static OrvaneServerVersion version;
    return version;
}

std::int32_t readDword(const QString& key, const QString& name)
{
    const RegistryAPI::RegValue value = RegistryAPI::getRegValue(RegistryAPI::HKEY_LOCAL_MACHINE, key, name,
                                                                 RegistryAPI::REG_DWORD, std::int32_t(0));
    const auto* number = std::get_if<std::int32_t>(&value);
    return number ? *number : 0;
}

// The older layout writes each part as hexadecimal digits that are then read the decimal way: the leading
// decimal digits count, the first letter ends the number ("0010" is 10, "000A" is 0).
std::int16_t leadingDecimal(const QString& digits)
{
    int number = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        number = number * 10 + (c.unicode() - '0');
    }
    return static_cast<std::int16_t>(number);
}

} // namespace

OrvaneServerVersion getVersion()
{
    const ErrorReport report = ErrorReport::fixed(
        QStringLiteral("(error):"), QStringLiteral(") in procedure getVersion of Module OrvaneVersion"));
    OrvaneServerVersion version;

    bool currentExists = true; // a failed test counts as passed
    report.step([&] {
        currentExists = RegistryAPI::bRegKeyExists(RegistryAPI::HKEY_LOCAL_MACHINE, CurrentVersionKey);
    });
    if (currentExists) {
        report.step(
            [&] { version.Major = toInt16(readDword(CurrentVersionKey, QStringLiteral("MajorVersion"))); });
        report.step(
            [&] { version.Minor = toInt16(readDword(CurrentVersionKey, QStringLiteral("MinorVersion"))); });
        report.step(
            [&] { version.Build = toInt16(readDword(CurrentVersionKey, QStringLiteral("BuildVersion"))); });
        report.step([&] {
            version.Release = toInt16(readDword(CurrentVersionKey, QStringLiteral("ReleaseVersion")));
        });
    }

    if (version.Major == 0) {
        std::uint32_t versionNumber = 0;
        std::uint32_t buildNumber = 0;
        report.step([&] {
            versionNumber =
                static_cast<std::uint32_t>(readDword(OlderVersionKey, QStringLiteral("Version Number")));
        });
        report.step([&] {
            buildNumber =
                static_cast<std::uint32_t>(readDword(OlderVersionKey, QStringLiteral("Build Number")));
        });
        const QString versionDigits =
            QString::number(versionNumber, 16).toUpper().rightJustified(8, QLatin1Char('0'));
        const QString buildDigits =
            QString::number(buildNumber, 16).toUpper().rightJustified(8, QLatin1Char('0'));
        version.Major = leadingDecimal(versionDigits.left(4));
        version.Minor = leadingDecimal(versionDigits.right(4));
        version.Release = leadingDecimal(buildDigits.left(4));
        version.Build = static_cast<std::int16_t>(static_cast<std::uint16_t>(buildNumber & 0xFFFFu));
    }
    return version;
}

void setInstalledVersion(const OrvaneServerVersion& version)
{
    installed() = version;
}

OrvaneServerVersion installedVersion()
{
    return installed();
}

bool bIsVersionGreaterThanOrEqualTo(std::int16_t major, std::int16_t minor, std::int16_t release,
                                    std::int16_t build)
{
    const ErrorReport report = ErrorReport::fixed(
        QStringLiteral("(error):"),
        QStringLiteral(") in procedure bIsVersionGreaterThanOrEqualTo of Module OrvaneVersion"));
    bool answer = false;
    report.step([&] {
        const OrvaneServerVersion& v = installed();
        answer = std::make_tuple(v.Major, v.Minor, v.Release, v.Build) >=
                 std::make_tuple(major, minor, release, build);
    });
    return answer;
}

bool bRestrictedRightsActive()
{
    const ErrorReport report =
        ErrorReport::fixed(QStringLiteral("Error "),
                           QStringLiteral(") in procedure bRestrictedRightsActive of Module OrvaneVersion"));
    bool keyExists = false;
    if (!report.step([&] {
            keyExists = RegistryAPI::bRegKeyExists(RegistryAPI::HKEY_LOCAL_MACHINE, RestrictedRightsKey);
        }))
        return false;
    if (!keyExists)
        return false;
    bool active = true; // an error while reading or comparing counts as active
    report.step([&] { active = readDword(RestrictedRightsKey, QStringLiteral("Restricted Rights")) == 1; });
    return active;
}

} // namespace OrvaneVersion
