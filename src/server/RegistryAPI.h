#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <variant>

// Read-only access to HKEY_LOCAL_MACHINE. On Linux the keys come from a registry export file named by
// CULVANE_REGISTRY (default HKLM.reg in the program folder), loaded on first use.
namespace RegistryAPI {

enum RootKey : std::uint32_t { HKEY_LOCAL_MACHINE = 0x80000002u };
enum ValueType : int { REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 };

// Text, 32-bit number or bytes; std::monostate stands for a caller's "empty" default.
using RegValue = std::variant<std::monostate, QString, std::int32_t, QByteArray>;

bool bRegKeyExists(RootKey root, const QString& subKey);
// Raises error 1001 "Unsupported value type" for a type other than 1, 3 or 4.
RegValue getRegValue(RootKey root, const QString& subKey, const QString& valueName, int type,
                     const RegValue& defaultValue);
QStringList getRegSubkeys(RootKey root, const QString& subKey);

// Where the registry comes from, and why it cannot serve (empty when it can). Reads it if not yet read.
struct RegistrySource {
    QString fileName;
    bool fromEnvironment = false; // named by CULVANE_REGISTRY rather than the default beside the program
    QString problem;
};
RegistrySource registrySource();

// Drops the loaded store so that the next call reads CULVANE_REGISTRY again (tests switch files).
void reloadRegistry();

} // namespace RegistryAPI
