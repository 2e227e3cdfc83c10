#include "common/RegFile.h"
#include "common/ScriptedPorts.h"
#include "server/OrvaneVersion.h"

#include <QtTest>

namespace {

const QString OlderKey = QStringLiteral("Software\\Velcor");
const QString RightsKey = QStringLiteral("Software\\Velcor\\PermissionsWizard\\1.0");
const QString OverflowText =
    QStringLiteral("(error):6 (Overflow) in procedure getVersion of Module OrvaneVersion");

QString written(const OrvaneServerVersion& v)
{
    return QStringLiteral("%1.%2(%3.%4)").arg(v.Major).arg(v.Minor).arg(v.Release).arg(v.Build);
}

OrvaneServerVersion version(std::int16_t major, std::int16_t minor, std::int16_t release, std::int16_t build)
{
    OrvaneServerVersion v;
    v.Major = major;
    v.Minor = minor;
    v.Release = release;
    v.Build = build;
    return v;
}

RegFile& olderVersion(RegFile& reg, quint32 versionNumber, quint32 buildNumber)
{
    return reg.key(OlderKey)
        .dword(QStringLiteral("Version Number"), versionNumber)
        .dword(QStringLiteral("Build Number"), buildNumber);
}

} // namespace

class TestOrvaneVersion : public QObject {
    Q_OBJECT

private slots:
    void noVersionKeys();
    void currentLayout();
    void olderLayoutReplacesAMissingOrZeroMajor();
    void olderLayoutDigitRules();
    void minimumVersionComparisons();
    void overflowIsReportedAndLeavesTheFieldZero();
    void restrictedRights();
};

void TestOrvaneVersion::noVersionKeys()
{
    // Before start-up stores a version, the installed one is all zero.
    QCOMPARE(written(OrvaneVersion::installedVersion()), QStringLiteral("0.0(0.0)"));

    ScriptedMessageBoxes boxes;
    RegFile reg;
    reg.key(QStringLiteral("SOFTWARE\\Other")).dword(QStringLiteral("MajorVersion"), 5);
    reg.save();
    const OrvaneServerVersion v = OrvaneVersion::getVersion();
    QCOMPARE(written(v), QStringLiteral("0.0(0.0)"));
    OrvaneVersion::setInstalledVersion(v);
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 100));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 2, 0, 27));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0));
    QVERIFY(boxes.texts().isEmpty());
}

void TestOrvaneVersion::currentLayout()
{
    ScriptedMessageBoxes boxes;
    RegFile reg;
    reg.currentVersion(5, 0, 1, 33);
    olderVersion(reg, 0x40000, 0x20064);
    reg.save();
    QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("5.0(1.33)"));

    // Key and value names as another installer might spell them.
    RegFile spelled(RegFile::Format::Regedit4);
    spelled.key(QStringLiteral("software\\marvok systems\\MARVOK ORVANE"))
        .dword(QStringLiteral("majorversion"), 4)
        .dword(QStringLiteral("MINORVERSION"), 2)
        .dword(QStringLiteral("ReleaseVersion"), 0)
        .dword(QStringLiteral("BuildVersion"), 27);
    spelled.save();
    QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("4.2(0.27)"));
    QVERIFY(boxes.texts().isEmpty());
}

void TestOrvaneVersion::olderLayoutReplacesAMissingOrZeroMajor()
{
    ScriptedMessageBoxes boxes;
    {
        RegFile reg;
        reg.currentVersion(0, 7, 7, 7);
        olderVersion(reg, 0x40000, 0x20064);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("4.0(2.100)"));
    }
    {
        RegFile reg;
        reg.key(QStringLiteral("SOFTWARE\\Marvok Systems\\Marvok Orvane"))
            .dword(QStringLiteral("MinorVersion"), 9)
            .dword(QStringLiteral("ReleaseVersion"), 9)
            .dword(QStringLiteral("BuildVersion"), 9);
        olderVersion(reg, 0x40000, 0x20064);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("4.0(2.100)"));
    }
    {
        // The older key without its values: everything reads as 0, also what the current key held.
        RegFile reg;
        reg.currentVersion(0, 7, 7, 7).key(OlderKey);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("0.0(0.0)"));
    }
    QVERIFY(boxes.texts().isEmpty());
}

void TestOrvaneVersion::olderLayoutDigitRules()
{
    struct Case {
        quint32 versionNumber;
        quint32 buildNumber;
        const char* expected;
    };
    const Case cases[] = {
        {0x40000, 0x20064, "4.0(2.100)"},
        {0x40000, 0x3FFFF, "4.0(3.-1)"},
        {0x000A0010, 0x00100000, "0.10(10.0)"}, // 000A reads 0, 0010 reads 10
        {0x1A2B0099, 0x9F00FFFE, "1.99(9.-2)"}, // the first letter ends the number
        {0xFFFFFFFF, 0x12347FFF, "0.0(1234.32767)"},
        {0x99999999, 0x99998000, "9999.9999(9999.-32768)"},
    };
    for (const Case& c : cases) {
        RegFile reg;
        olderVersion(reg, c.versionNumber, c.buildNumber);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QString::fromLatin1(c.expected));
    }
}

void TestOrvaneVersion::minimumVersionComparisons()
{
    ScriptedMessageBoxes boxes;
    OrvaneVersion::setInstalledVersion(version(4, 0, 2, 100));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 100));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 101));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(3, 9, 9, 999));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 2, 0, 27));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 1, 30000));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 3, 0));

    OrvaneVersion::setInstalledVersion(version(5, 0, 0, 0));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 2, 0, 27));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 0));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(5, 0, 0, 1));

    // Signed 16-bit fields: a build of -1 is below 0.
    OrvaneVersion::setInstalledVersion(version(4, 0, 3, -1));
    QVERIFY(!OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 3, 0));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 100));

    // The version read at start-up is the one every later test compares with.
    RegFile reg;
    olderVersion(reg, 0x40000, 0x20064);
    reg.save();
    OrvaneVersion::setInstalledVersion(OrvaneVersion::getVersion());
    QCOMPARE(written(OrvaneVersion::installedVersion()), QStringLiteral("4.0(2.100)"));
    QVERIFY(OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 100));
    QVERIFY(boxes.texts().isEmpty());
    OrvaneVersion::setInstalledVersion(OrvaneServerVersion());
}

void TestOrvaneVersion::overflowIsReportedAndLeavesTheFieldZero()
{
    ScriptedMessageBoxes boxes;
    {
        // Minor out of range: reported, left 0, and the remaining values are still read.
        RegFile reg;
        reg.currentVersion(5, 40000, 1, 33);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("5.0(1.33)"));
        QCOMPARE(boxes.texts(), QStringList{OverflowText});
        QCOMPARE(boxes.buttons(), QList<MsgBox::Buttons>{MsgBox::vbOKOnly});
    }
    boxes.clear();
    {
        // Major out of range leaves Major 0, so the older layout is read after the report.
        RegFile reg;
        reg.currentVersion(40000, 1, 2, 3);
        olderVersion(reg, 0x40000, 0x20064);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("4.0(2.100)"));
        QCOMPARE(boxes.texts(), QStringList{OverflowText});
    }
    boxes.clear();
    {
        // Every value too large or too small: one report each, in the order they are read.
        RegFile reg;
        reg.currentVersion(32768, -32769, 70000, 0x7FFFFFFF);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("0.0(0.0)"));
        QCOMPARE(boxes.texts(), (QStringList{OverflowText, OverflowText, OverflowText, OverflowText}));
    }
    boxes.clear();
    {
        // The limits themselves fit.
        RegFile reg;
        reg.currentVersion(32767, -32768, -1, 0);
        reg.save();
        QCOMPARE(written(OrvaneVersion::getVersion()), QStringLiteral("32767.-32768(-1.0)"));
        QVERIFY(boxes.texts().isEmpty());
    }
}

void TestOrvaneVersion::restrictedRights()
{
    ScriptedMessageBoxes boxes;
    struct Case {
        bool key;
        int value; // -1: no value
        bool expected;
    };
    const Case cases[] = {
        {true, 1, true}, {true, 2, false}, {true, 0, false}, {true, -1, false}, {false, -1, false}};
    for (const Case& c : cases) {
        RegFile reg;
        reg.key(QStringLiteral("Software\\Velcor\\PermissionsWizard"));
        if (c.key) {
            reg.key(RightsKey);
            if (c.value >= 0)
                reg.dword(QStringLiteral("Restricted Rights"), static_cast<quint32>(c.value));
        } else {
            reg.dword(QStringLiteral("Restricted Rights"), 1); // in the parent key: not the one read
        }
        reg.save();
        QCOMPARE(OrvaneVersion::bRestrictedRightsActive(), c.expected);
    }
    // Only the number 1 counts: a binary value whose bytes read as 1 does too, a text "1" does not.
    RegFile reg;
    reg.key(RightsKey).hex(QStringLiteral("Restricted Rights"), 3, QByteArray("\x01", 1));
    reg.save();
    QVERIFY(OrvaneVersion::bRestrictedRightsActive());
    reg.sz(QStringLiteral("Restricted Rights"), QStringLiteral("1"));
    reg.save();
    QVERIFY(!OrvaneVersion::bRestrictedRightsActive());
    QVERIFY(boxes.texts().isEmpty());
}

QTEST_GUILESS_MAIN(TestOrvaneVersion)
#include "test_orvaneversion.moc"
