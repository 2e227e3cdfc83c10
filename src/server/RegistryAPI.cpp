#include "server/RegistryAPI.h"

#include "ports/CulvaneError.h"
#include "server/RegistryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <iostream>
#include <optional>

namespace RegistryAPI {

namespace {

constexpr std::uint32_t TextBufferSize = 1024;
constexpr std::uint32_t BinaryBufferSize = 4096;
constexpr std::uint32_t NumberSize = 4;
constexpr std::uint32_t NameBufferSize = 260;
constexpr std::uint32_t LastEnumIndex = 999999;

struct Loaded {
    RegistryStore store;
    RegistrySource source;
};

// The machine's registry for this process, read on first use.
std::optional<Loaded>& loaded()
{
    static std::optional<Loaded> instance;
    return instance;
}

RegistrySource namedSource()
{
    RegistrySource source;
    source.fileName = qEnvironmentVariable("CULVANE_REGISTRY");
    source.fromEnvironment = !source.fileName.isEmpty();
    if (!source.fromEnvironment) {
        const QString folder =
            QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
        source.fileName = QDir(folder).filePath(QStringLiteral("HKLM.reg"));
    }
    return source;
}

const Loaded& load()
{
    std::optional<Loaded>& current = loaded();
    if (!current) {
        RegistrySource source = namedSource();
        std::string problem;
        RegistryStore store =
            RegistryStore::load(QFile::encodeName(source.fileName).toStdString(), std::cerr, &problem);
        source.problem = QString::fromStdString(problem);
        current = Loaded{std::move(store), std::move(source)};
    }
    return *current;
}

const RegistryStore& store()
{
    return load().store;
}

// RegOpenKeyExA with KEY_READ. Names reach the registry in the narrow form.
const RegistryStore::Key* openKey(RootKey root, const QString& subKey)
{
    if (root != HKEY_LOCAL_MACHINE)
        return nullptr;
    return store().openKey(subKey.toUtf8().toStdString());
}

QByteArray toByteArray(const std::vector<std::uint8_t>& data, std::uint32_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(size));
}

} // namespace

bool bRegKeyExists(RootKey root, const QString& subKey)
{
    return openKey(root, subKey) != nullptr;
}

RegValue getRegValue(RootKey root, const QString& subKey, const QString& valueName, int type,
                     const RegValue& defaultValue)
{
    RegValue result = defaultValue;
    const RegistryStore::Key* key = openKey(root, subKey);
    if (!key)
        return result;
    const std::string name = valueName.toUtf8().toStdString();
    switch (type) {
    case REG_SZ: {
        const auto query = RegistryStore::queryValueA(*key, name, TextBufferSize);
        if (query.status == RegistryStore::ErrorSuccess) {
            // The reported size counts the terminating zero; a size of 0 leaves nothing to cut off.
            const std::uint32_t length = query.size == 0 ? 0 : query.size - 1;
            result = QString::fromUtf8(toByteArray(query.data, length));
        }
        break;
    }
    case REG_BINARY: {
        const auto query = RegistryStore::queryValueA(*key, name, BinaryBufferSize);
        if (query.status == RegistryStore::ErrorSuccess)
            result = toByteArray(query.data, query.size);
        break;
    }
    case REG_DWORD: {
        const auto query = RegistryStore::queryValueA(*key, name, NumberSize);
        if (query.status == RegistryStore::ErrorSuccess) {
            // A shorter value fills the low bytes of the integer, the rest stays zero.
            std::uint32_t number = 0;
            for (std::uint32_t i = 0; i < query.size; ++i)
                number |= static_cast<std::uint32_t>(query.data[i]) << (8 * i);
            result = static_cast<std::int32_t>(number);
        }
        break;
    }
    default:
        raiseError(ErrorNumbers::UnsupportedValueType, QStringLiteral("Unsupported value type"));
    }
    return result;
}

QStringList getRegSubkeys(RootKey root, const QString& subKey)
{
    QStringList names;
    const RegistryStore::Key* key = openKey(root, subKey);
    if (!key)
        return names;
    std::string name;
    for (std::uint32_t index = 0; index <= LastEnumIndex; ++index) {
        if (RegistryStore::enumKeyA(*key, index, NameBufferSize, name) != RegistryStore::ErrorSuccess)
            break;
        const std::size_t zero = name.find('\0');
        if (zero != std::string::npos)
            name.resize(zero);
        names.append(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }
    return names;
}

RegistrySource registrySource()
{
    return load().source;
}

void reloadRegistry()
{
    loaded().reset();
}

} // namespace RegistryAPI
