#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "server/OrvaneVersion.h"
#include "server/modSwitchInfo.h"

#include <QtTest>

namespace {
const QString kBase = QStringLiteral("Software\\Velcor\\MIU\\1.0\\initialization\\integrations");
const QString kNoSwitches = QStringLiteral("No switches are configured on the local system.");

// A list control that records what it is given, the way a combo box would hold it.
class RecordingList : public modSwitchInfo::ListControl {
public:
    int AddItem(const QString& text) override
    {
        texts.append(text);
        data.append(0);
        return texts.size() - 1;
    }
    void setItemData(int index, int value) override { data[index] = value; }

    QStringList texts;
    QList<int> data;
};

RecordingList populated()
{
    RecordingList list;
    modSwitchInfo::PopulateListControlWithSwitchInfo(list);
    return list;
}
} // namespace

class TestSwitchInfo : public QObject {
    Q_OBJECT

private slots:
    void currentLayoutListsEverySubkeyInOrder();
    void currentLayoutWithoutSwitches();
    void integrationIdOutOfRangeKeepsZero();
    void olderLayoutUsesTheTwoFixedKeys();
    void badSwitchNumbers();
};

void TestSwitchInfo::currentLayoutListsEverySubkeyInOrder()
{
    OrvaneVersion::setInstalledVersion({4, 2, 0, 27});
    RegFile reg;
    reg.key(kBase + QStringLiteral("\\Zulu PBX"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Zulu PBX"))
        .dword(QStringLiteral("IntegrationID"), 3);
    reg.key(kBase + QStringLiteral("\\Alpha"));
    reg.key(kBase + QStringLiteral("\\integration1"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Third"))
        .dword(QStringLiteral("IntegrationID"), 0xFFFFFFFF);
    reg.save();

    ScriptedMessageBoxes boxes;
    modSwitchInfo::InitalizeSwitchInfo();
    QCOMPARE(boxes.texts(), QStringList{});
    QCOMPARE(modSwitchInfo::SwitchCount(), std::int16_t(3));

    const RecordingList list = populated();
    // Registry order, not alphabetical; a subkey without values gives an empty name and identifier 0; a
    // DWORD of 0xFFFFFFFF is -1 as a signed number and fits.
    QCOMPARE(list.texts, (QStringList{QStringLiteral("Zulu PBX"), QString(), QStringLiteral("Third")}));
    QCOMPARE(list.data, (QList<int>{3, 0, -1}));
}

void TestSwitchInfo::currentLayoutWithoutSwitches()
{
    OrvaneVersion::setInstalledVersion({5, 0, 0, 0});
    for (bool baseKeyPresent : {false, true}) {
        RegFile reg;
        if (baseKeyPresent)
            reg.key(kBase);
        // A value beside the base key is no switch.
        reg.key(QStringLiteral("Software\\Velcor\\MIU\\1.0"))
            .sz(QStringLiteral("Other"), QStringLiteral("x"));
        reg.save();
        ScriptedMessageBoxes boxes;
        modSwitchInfo::InitalizeSwitchInfo();
        QCOMPARE(boxes.texts(), QStringList{kNoSwitches});
        QCOMPARE(modSwitchInfo::SwitchCount(), std::int16_t(0));
        QVERIFY(populated().texts.isEmpty());
    }
}

void TestSwitchInfo::integrationIdOutOfRangeKeepsZero()
{
    OrvaneVersion::setInstalledVersion({5, 0, 0, 0});
    RegFile reg;
    reg.key(kBase + QStringLiteral("\\First"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("First"))
        .dword(QStringLiteral("IntegrationID"), 1);
    reg.key(kBase + QStringLiteral("\\Huge"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Huge"))
        .dword(QStringLiteral("IntegrationID"), 70000);
    reg.key(kBase + QStringLiteral("\\Last"))
        .sz(QStringLiteral("DisplayName"), QStringLiteral("Last"))
        .dword(QStringLiteral("IntegrationID"), 2);
    reg.save();

    ScriptedMessageBoxes boxes;
    modSwitchInfo::InitalizeSwitchInfo();
    QCOMPARE(boxes.texts(),
             QStringList{QStringLiteral(
                 "Error 6 (Overflow) in procedure InitalizeSwitchInfo of Module modSwitchInfo")});
    const RecordingList list = populated();
    QCOMPARE(list.texts,
             (QStringList{QStringLiteral("First"), QStringLiteral("Huge"), QStringLiteral("Last")}));
    QCOMPARE(list.data, (QList<int>{1, 0, 2}));
}

void TestSwitchInfo::olderLayoutUsesTheTwoFixedKeys()
{
    OrvaneVersion::setInstalledVersion({4, 2, 0, 26});
    {
        RegFile reg;
        reg.key(kBase + QStringLiteral("\\INTEGRATION1"))
            .sz(QStringLiteral("DisplayName"), QStringLiteral("Legacy"))
            .dword(QStringLiteral("IntegrationID"), 9);
        reg.key(kBase + QStringLiteral("\\integration3"))
            .sz(QStringLiteral("DisplayName"), QStringLiteral("Third"));
        reg.save();
        ScriptedMessageBoxes boxes;
        modSwitchInfo::InitalizeSwitchInfo();
        QCOMPARE(boxes.texts(), QStringList{});
        const RecordingList list = populated();
        QCOMPARE(list.texts, QStringList{QStringLiteral("Legacy")});
        QCOMPARE(list.data, QList<int>{0});
    }
    {
        RegFile reg;
        reg.key(kBase + QStringLiteral("\\integration2"))
            .sz(QStringLiteral("DisplayName"), QStringLiteral("Two"));
        reg.key(kBase + QStringLiteral("\\integration1"))
            .sz(QStringLiteral("DisplayName"), QStringLiteral("One"));
        reg.save();
        ScriptedMessageBoxes boxes;
        modSwitchInfo::InitalizeSwitchInfo();
        const RecordingList list = populated();
        QCOMPARE(list.texts, (QStringList{QStringLiteral("One"), QStringLiteral("Two")}));
        QCOMPARE(list.data, (QList<int>{0, 1}));
    }
    {
        RegFile reg;
        reg.key(kBase + QStringLiteral("\\integration2"))
            .sz(QStringLiteral("DisplayName"), QStringLiteral("Two"));
        reg.save();
        ScriptedMessageBoxes boxes;
        modSwitchInfo::InitalizeSwitchInfo();
        QCOMPARE(boxes.texts(), QStringList{kNoSwitches});
        QCOMPARE(modSwitchInfo::SwitchCount(), std::int16_t(0));
        QVERIFY(populated().texts.isEmpty());
    }
}

void TestSwitchInfo::badSwitchNumbers()
{
    OrvaneVersion::setInstalledVersion({5, 0, 0, 0});
    RegFile reg;
    reg.key(kBase + QStringLiteral("\\A")).sz(QStringLiteral("DisplayName"), QStringLiteral("A"));
    reg.save();
    ScriptedMessageBoxes boxes;
    modSwitchInfo::InitalizeSwitchInfo();

    for (std::int16_t number : {std::int16_t(0), std::int16_t(-4), std::int16_t(2)}) {
        QString name;
        std::int16_t id = 77;
        modSwitchInfo::GetSwitchInfoBySwitchCount(number, name, id);
        QCOMPARE(name, QStringLiteral("Error - bad switch number passed in:") + QString::number(number));
        QCOMPARE(id, std::int16_t(-1));
    }
    QString name;
    std::int16_t id = 77;
    modSwitchInfo::GetSwitchInfoBySwitchCount(1, name, id);
    QCOMPARE(name, QStringLiteral("A"));
    QCOMPARE(id, std::int16_t(0));
}

QTEST_GUILESS_MAIN(TestSwitchInfo)
#include "test_switchinfo.moc"
