#include "common/RegFile.h"

#include "common/FuzzSeeds.h"
#include "server/RegistryAPI.h"

#include <QDebug>
#include <QFile>

namespace {

constexpr char EnvironmentName[] = "CULVANE_REGISTRY";
// regedit breaks a hex line once it reaches this many characters, before the trailing backslash.
constexpr int HexLineLimit = 77;

QString escaped(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    out.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return out;
}

QString nameToken(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("@") : QLatin1Char('"') + escaped(name) + QLatin1Char('"');
}

QByteArray utf16le(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() * 2);
    for (const QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

} // namespace

RegFile::RegFile(Format format) : m_format(format)
{
    m_lines.append(format == Format::Unicode5 ? QStringLiteral("Windows Registry Editor Version 5.00")
                                              : QStringLiteral("REGEDIT4"));
    m_hadPrevious = qEnvironmentVariableIsSet(EnvironmentName);
    m_previous = qgetenv(EnvironmentName);
    qputenv(EnvironmentName, QFile::encodeName(path()));
    RegistryAPI::reloadRegistry();
}

RegFile::~RegFile()
{
    if (m_hadPrevious)
        qputenv(EnvironmentName, m_previous);
    else
        qunsetenv(EnvironmentName);
    RegistryAPI::reloadRegistry();
}

RegFile& RegFile::key(const QString& path)
{
    m_lines.append(QString());
    m_lines.append(path.isEmpty() ? QStringLiteral("[HKEY_LOCAL_MACHINE]")
                                  : QStringLiteral("[HKEY_LOCAL_MACHINE\\%1]").arg(path));
    return *this;
}

RegFile& RegFile::sz(const QString& name, const QString& text)
{
    m_lines.append(nameToken(name) + QStringLiteral("=\"") + escaped(text) + QLatin1Char('"'));
    return *this;
}

RegFile& RegFile::dword(const QString& name, quint32 value)
{
    m_lines.append(nameToken(name) + QStringLiteral("=dword:") +
                   QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')));
    return *this;
}

RegFile& RegFile::hex(const QString& name, int type, const QByteArray& bytes)
{
    QString line = nameToken(name) + QLatin1Char('=') +
                   (type == RegistryAPI::REG_BINARY ? QStringLiteral("hex:")
                                                    : QStringLiteral("hex(%1):").arg(type, 0, 16));
    int length = static_cast<int>(line.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        line += QStringLiteral("%1").arg(static_cast<quint8>(bytes[i]), 2, 16, QLatin1Char('0'));
        if (i == bytes.size() - 1)
            break;
        line += QLatin1Char(',');
        length += 3;
        if (length >= HexLineLimit) {
            m_lines.append(line + QLatin1Char('\\'));
            line = QStringLiteral("  ");
            length = 2;
        }
    }
    m_lines.append(line);
    return *this;
}

RegFile& RegFile::raw(const QString& line)
{
    m_lines.append(line);
    return *this;
}

QByteArray RegFile::stringBytes(const QString& text) const
{
    if (m_format == Format::Unicode5)
        return utf16le(text) + QByteArray(2, '\0');
    return text.toUtf8() + QByteArray(1, '\0');
}

RegFile& RegFile::expandSz(const QString& name, const QString& text)
{
    return hex(name, RegistryAPI::REG_EXPAND_SZ, stringBytes(text));
}

RegFile& RegFile::multiSz(const QString& name, const QStringList& texts)
{
    QByteArray data;
    for (const QString& text : texts)
        data += stringBytes(text);
    data += stringBytes(QString());
    return hex(name, 7, data);
}

RegFile& RegFile::currentVersion(int major, int minor, int release, int build)
{
    key(QStringLiteral("SOFTWARE\\Marvok Systems\\Marvok Orvane"));
    dword(QStringLiteral("MajorVersion"), static_cast<quint32>(major));
    dword(QStringLiteral("MinorVersion"), static_cast<quint32>(minor));
    dword(QStringLiteral("BuildVersion"), static_cast<quint32>(build));
    dword(QStringLiteral("ReleaseVersion"), static_cast<quint32>(release));
    return *this;
}

QString RegFile::path() const
{
    return m_dir.filePath(QStringLiteral("HKLM.reg"));
}

QByteArray RegFile::bytes() const
{
    // Every line ends with CR LF, and regedit closes the file with one more empty line.
    const QString text = m_lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n\r\n");
    if (m_format == Format::Unicode5)
        return QByteArray("\xFF\xFE", 2) + utf16le(text);
    return text.toUtf8();
}

void RegFile::save()
{
    saveBytes(bytes());
}

void RegFile::saveBytes(const QByteArray& content)
{
    FuzzSeeds::keep("reg", content);
    QFile file(path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qWarning() << "cannot write the registry file" << path() << file.errorString();
    file.close();
    RegistryAPI::reloadRegistry();
}
