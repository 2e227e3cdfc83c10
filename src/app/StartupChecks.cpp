#include "app/StartupChecks.h"

#include "localize/StringIds.h"
#include "localize/modLocalize.h"
#include "ports/MsgBox.h"
#include "server/OrvaneVersion.h"
#include "server/RegistryAPI.h"
#include "server/SignInReport.h"
#include "server/modOrvaneDB.h"
#include "server/modSwitchInfo.h"

#include <QDir>

#include <cstdio>
#include <variant>

using modLocalize::mymyLoadString;

namespace {
const QString kDominoConnector = QStringLiteral("VCDsDomino.VcIDCDomino.1");

void tell(const modOrvaneDB::ConnectionNote& note, const QString& text)
{
    if (note) {
        note(text);
        return;
    }
    std::fprintf(stderr, "Culvane: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}
} // namespace

namespace StartupChecks {

Outcome run(const ErrorReport& report, const Steps& steps)
{
    Outcome outcome;
    outcome.refused = true;

    // Without a usable registry export file every check below would blame the server (the version first).
    const RegistryAPI::RegistrySource registry = RegistryAPI::registrySource();
    if (!registry.problem.isEmpty()) {
        const int message = registry.fromEnvironment ? StringIds::RegistryFileNamedUnusable
                                                     : StringIds::RegistryFileDefaultUnusable;
        MsgBox::show(
            mymyLoadString(message).arg(QDir::toNativeSeparators(registry.fileName), registry.problem));
        return outcome;
    }

    report.step([] { OrvaneVersion::setInstalledVersion(OrvaneVersion::getVersion()); });

    // A check whose evaluation fails counts as met, so doubt always ends on the safe side.
    bool tooOld = true;
    report.step([&] { tooOld = !OrvaneVersion::bIsVersionGreaterThanOrEqualTo(4, 0, 2, 100); });
    if (tooOld) {
        MsgBox::show(mymyLoadString(StringIds::VersionTooOld));
        return outcome;
    }

    bool domino = true;
    report.step([&] {
        const RegistryAPI::RegValue connector = RegistryAPI::getRegValue(
            RegistryAPI::HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Velcor\\SystemParameters\\1.0"),
            QStringLiteral("IDCProgID"), RegistryAPI::REG_SZ, QString());
        const QString* text = std::get_if<QString>(&connector);
        domino = text && text->compare(kDominoConnector, Qt::CaseInsensitive) == 0;
    });
    if (domino) {
        MsgBox::show(mymyLoadString(StringIds::DominoNotSupported));
        return outcome;
    }

    if (steps.afterConnectorCheck)
        steps.afterConnectorCheck();

    bool signInDeclined = false;
    report.step([&] {
        const std::optional<QString> text =
            modOrvaneDB::ChooseConnectionString(steps.askPassword, steps.connectionNote);
        signInDeclined = !text;
        if (text)
            modOrvaneDB::DbConnectionString() = *text;
    });
    if (signInDeclined)
        return outcome;

    bool sharedListsOpen = false;
    QString failure;
    report.step(
        [&] { sharedListsOpen = modOrvaneDB::OpenSharedLists(modOrvaneDB::DbConnectionString(), &failure); });
    if (!sharedListsOpen) {
        MsgBox::show(mymyLoadString(StringIds::CannotOpenDatabase), MsgBox::vbOKOnly, failure);
        return outcome;
    }

    // The administrator learns which account and which protection the server sees, never in a box: the
    // program goes on whatever the answer.
    if (const std::optional<SignInReport::Facts> signIn =
            SignInReport::ask(modOrvaneDB::DbConnectionString())) {
        tell(steps.connectionNote, SignInReport::line(*signIn));
        const QString warning = SignInReport::warning(*signIn);
        if (!warning.isEmpty())
            tell(steps.connectionWarning, warning);
    }

    report.step([] { modSwitchInfo::InitalizeSwitchInfo(); });

    bool restricted = true;
    report.step([&] { restricted = OrvaneVersion::bRestrictedRightsActive(); });
    if (restricted) {
        if (steps.restrictedRightsNote)
            steps.restrictedRightsNote(mymyLoadString(StringIds::RestrictedRights));
        else
            MsgBox::show(mymyLoadString(StringIds::RestrictedRights));
    }
    outcome.restrictedRights = restricted;
    outcome.refused = false;
    return outcome;
}

} // namespace StartupChecks
