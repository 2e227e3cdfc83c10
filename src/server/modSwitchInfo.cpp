#include "server/modSwitchInfo.h"

#include "ports/ErrorReport.h"
#include "ports/MsgBox.h"
#include "server/OrvaneVersion.h"
#include "server/RegistryAPI.h"

#include <QVector>

namespace modSwitchInfo {
namespace {
const QString kBaseKey = QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations");
const QString kNoSwitches = QStringLiteral("No switches are configured on the local system.");

struct SwitchTable {
    std::int16_t count = 0;
    QVector<QString> displayNames;
    QVector<std::int16_t> integrationIds;
};

SwitchTable& table()
{
    static SwitchTable switches;
    return switches;
}

ErrorReport reportFor(const char* operation)
{
    return ErrorReport::fixed(
        QStringLiteral("Error "),
        QStringLiteral(") in procedure %1 of Module modSwitchInfo").arg(QLatin1String(operation)));
}

QString displayNameOf(const QString& key)
{
    const RegistryAPI::RegValue value = RegistryAPI::getRegValue(
        RegistryAPI::HKEY_LOCAL_MACHINE, key, QStringLiteral("DisplayName"), RegistryAPI::REG_SZ, QString());
    const QString* text = std::get_if<QString>(&value);
    return text ? *text : QString();
}

std::int32_t integrationIdOf(const QString& key)
{
    const RegistryAPI::RegValue value = RegistryAPI::getRegValue(
        RegistryAPI::HKEY_LOCAL_MACHINE, key, QStringLiteral("IntegrationID"), RegistryAPI::REG_DWORD, 0);
    const std::int32_t* number = std::get_if<std::int32_t>(&value);
    return number ? *number : 0;
}
} // namespace

void InitalizeSwitchInfo()
{
    const ErrorReport report = reportFor("InitalizeSwitchInfo");
    SwitchTable& switches = table();
    switches = SwitchTable{};

    bool currentLayout = true;
    report.step([&] { currentLayout = OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 2, 0, 27); });

    if (currentLayout) {
        QStringList names;
        report.step([&] { names = RegistryAPI::getRegSubkeys(RegistryAPI::HKEY_LOCAL_MACHINE, kBaseKey); });
        report.step([&] { switches.count = toInt16(names.size()); });
        if (names.isEmpty()) {
            MsgBox::show(kNoSwitches);
            switches.count = 0;
            return;
        }
        for (int i = 0; i < names.size(); ++i) {
            switches.displayNames.resize(i + 1);
            switches.integrationIds.resize(i + 1);
            const QString key = kBaseKey + QLatin1Char('\\') + names.at(i);
            report.step([&] { switches.displayNames[i] = displayNameOf(key); });
            report.step([&] { switches.integrationIds[i] = toInt16(integrationIdOf(key)); });
        }
        return;
    }

    switches.count = 1;
    const QString first = kBaseKey + QStringLiteral("\\integration1");
    const QString second = kBaseKey + QStringLiteral("\\integration2");
    bool firstMissing = true;
    report.step([&] { firstMissing = !RegistryAPI::bRegKeyExists(RegistryAPI::HKEY_LOCAL_MACHINE, first); });
    if (firstMissing) {
        MsgBox::show(kNoSwitches);
        switches.count = 0;
        return;
    }
    switches.displayNames.resize(qMax(switches.displayNames.size(), 1));
    switches.integrationIds.resize(qMax(switches.integrationIds.size(), 1));
    report.step([&] { switches.displayNames[0] = displayNameOf(first); });
    switches.integrationIds[0] = 0;

    bool secondMissing = false;
    report.step(
        [&] { secondMissing = !RegistryAPI::bRegKeyExists(RegistryAPI::HKEY_LOCAL_MACHINE, second); });
    if (secondMissing)
        return;
    switches.displayNames.resize(qMax(switches.displayNames.size(), 2));
    switches.integrationIds.resize(qMax(switches.integrationIds.size(), 2));
    report.step([&] { switches.displayNames[1] = displayNameOf(second); });
    switches.integrationIds[1] = 1;
    switches.count = 2;
}

void GetSwitchInfoBySwitchCount(std::int16_t switchNumber, QString& displayName, std::int16_t& integrationId)
{
    displayName = QStringLiteral("Error - bad switch number passed in:") + QString::number(switchNumber);
    integrationId = -1;
    const SwitchTable& switches = table();
    if (switchNumber > switches.count || switchNumber < 1)
        return;
    const int position = switchNumber - 1;
    if (position >= switches.displayNames.size() || position >= switches.integrationIds.size())
        return;
    displayName = switches.displayNames.at(position);
    integrationId = switches.integrationIds.at(position);
}

void PopulateListControlWithSwitchInfo(ListControl& control)
{
    const ErrorReport report = reportFor("PopulateListControlWithSwitchInfo");
    const std::int16_t count = table().count;
    if (count <= 0)
        return;
    for (std::int16_t number = 1; number <= count && number > 0; ++number) {
        QString displayName;
        std::int16_t integrationId = 0;
        report.step([&] { GetSwitchInfoBySwitchCount(number, displayName, integrationId); });
        int newIndex = -1;
        report.step([&] { newIndex = control.AddItem(displayName); });
        if (newIndex >= 0)
            report.step([&] { control.setItemData(newIndex, integrationId); });
    }
}

std::int16_t SwitchCount()
{
    return table().count;
}

} // namespace modSwitchInfo
