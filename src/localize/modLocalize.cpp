#include "localize/modLocalize.h"

#include "localize/LocaleTable.h"
#include "localize/PeStringTable.h"
#include "localize/RcStringTable.h"
#include "localize/StringIds.h"
#include "ports/CulvaneError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <array>
#include <optional>

// The resource file is compiled into this static library; referencing its initialiser keeps it linked.
static void initLocalizeResources()
{
    Q_INIT_RESOURCE(localize);
}

namespace modLocalize {
namespace {

constexpr std::int32_t EnglishTddTty = 33801;
constexpr int ResourceNotFound = 326;
constexpr int PathNotFound = 76;
// LoadStringW is given a buffer of this many characters, the terminating zero included.
constexpr std::size_t LoadStringBufferSize = 1200;

struct State {
    std::int32_t currentLangId = 0;
    std::optional<PeStringTable> languageLibrary;
    QStringList languageCodes;
    std::optional<QString> folder;
    std::optional<QString> fileName;
};

State& state()
{
    static State instance;
    return instance;
}

struct BuiltInTable {
    QHash<int, QString> texts;
    QString problem;
};

BuiltInTable readBuiltInTable()
{
    initLocalizeResources();
    BuiltInTable table;
    QFile file(QStringLiteral(":/localize/strings.rc"));
    if (!file.open(QIODevice::ReadOnly)) {
        table.problem = QStringLiteral("the built-in string table is missing");
        return table;
    }
    const QByteArray script = file.readAll();
    std::string error;
    // Where the script holds an identifier in several languages, the program's own LoadStringW would pick
    // by the user's language; the table is read once, so that is the language at start.
    const auto strings = RcStringTable::parse(std::string_view(script.constData(), script.size()),
                                              LocaleTable::userDefaultLanguage(), &error);
    if (!strings) {
        table.problem =
            QStringLiteral("the built-in string table is damaged: %1").arg(QString::fromStdString(error));
        return table;
    }
    for (const auto& [id, text] : *strings)
        table.texts.insert(id, QString::fromStdU16String(text));
    return table;
}

const BuiltInTable& builtInTable()
{
    static const BuiltInTable table = readBuiltInTable();
    return table;
}

QString builtInText(int id)
{
    const BuiltInTable& table = builtInTable();
    const auto it = table.texts.constFind(id);
    if (it != table.texts.constEnd())
        return *it;
    if (!table.problem.isEmpty())
        raiseError(ResourceNotFound, table.problem);
    raiseError(ResourceNotFound, QStringLiteral("Resource with identifier '%1' not found").arg(id));
}

struct CodeEntry {
    const char* code;
    std::int32_t langId;
};

// The codes the language menu understands, compared exactly.
constexpr CodeEntry codeTable[] = {
    {"ENX", 33801}, {"ENU", 1033},  {"ENG", 2057}, {"ENA", 3081},  {"ENC", 4105},  {"ENZ", 5129},
    {"ENI", 6153},  {"DEU", 1031},  {"DES", 2055}, {"DEA", 3079},  {"DEL", 4103},  {"DEC", 5127},
    {"ESP", 1034},  {"ESM", 2058},  {"ESN", 3082}, {"ESG", 4106},  {"ESC", 5130},  {"ESA", 6154},
    {"ESD", 7178},  {"ESV", 8202},  {"ESO", 9226}, {"ESR", 10250}, {"ESS", 11274}, {"ESH", 18442},
    {"ESI", 19466}, {"ESU", 20490}, {"FRA", 1036}, {"FRB", 2060},  {"FRC", 3084},  {"FRS", 4108},
    {"FRL", 5132},  {"ITA", 1040},  {"ITS", 2064}, {"JPN", 1041},  {"NLD", 1043},  {"NLB", 2067},
    {"NOR", 1044},  {"NON", 2068},  {"PTB", 1046}, {"PTG", 2070},  {"CHT", 1028},  {"ZHT", 3076},
    {"CHS", 2052},  {"ZHI", 4100},
};

// On Windows the library's name matches whatever its letter case; the folder listing accepts any case
// too, so a library that is listed is also found here.
QString existingFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists())
        return path;
    const QDir folder = info.dir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (name.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return folder.filePath(name);
    }
    return QString();
}

// A library that is missing or cannot be read leaves the built-in texts in use without a word to the
// user, who can do nothing about it; an administrator finds the reason on standard error.
std::optional<PeStringTable> loadLanguageLibrary(const QString& path, std::int32_t langId)
{
    const QString file = existingFile(path);
    if (file.isEmpty())
        return std::nullopt;
    std::string reason;
    auto table = PeStringTable::load(QFile::encodeName(file).toStdString(),
                                     static_cast<std::uint16_t>(langId), &reason);
    if (!table) {
        qWarning("The language library %s cannot be loaded (%s).",
                 qUtf8Printable(QDir::toNativeSeparators(file)), reason.c_str());
    }
    return table;
}

QStringList listLanguageCodes()
{
    const QDir folder(programFolder());
    if (!folder.exists() || !folder.isReadable())
        raiseError(PathNotFound, QStringLiteral("Path not found"));
    const QString prefix = programFileName() + QLatin1Char('_');
    QStringList codes;
    // Sorted by name, ignoring case, as the Windows file system lists a folder.
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        // A name too short to hold a code between the prefix and ".dll" does not qualify.
        if (name.size() < prefix.size() + 7)
            continue;
        if (name.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) != 0)
            continue;
        if (name.right(3).compare(QLatin1String("DLL"), Qt::CaseInsensitive) != 0)
            continue;
        codes.append(name.mid(name.size() - 7, 3));
    }
    return codes;
}

} // namespace

QString mymyLoadString(int id)
{
    const State& s = state();
    if (s.languageLibrary && id >= 0) {
        std::array<char16_t, LoadStringBufferSize> buffer{};
        const std::size_t length =
            s.languageLibrary->loadString(static_cast<std::uint32_t>(id), buffer.data(), buffer.size());
        if (length >= 1)
            return QString::fromUtf16(buffer.data(), static_cast<qsizetype>(length));
    }
    QString text;
    ErrorReport::prefixed(QStringLiteral("error in mymyLoadString: ")).step([&] { text = builtInText(id); });
    return text;
}

std::int32_t CurrentLangID()
{
    return state().currentLangId;
}

void setCurrentLangID(std::int32_t langId)
{
    state().currentLangId = langId;
}

const QStringList& LanguageCodes()
{
    return state().languageCodes;
}

bool languageLibraryLoaded()
{
    return state().languageLibrary.has_value();
}

void reloadLanguageLibrary()
{
    const ErrorReport report = ErrorReport::prefixed(QStringLiteral("Error in InitalizeLanguages: "));
    State& s = state();
    report.step([&] {
        if (s.currentLangId == 0)
            s.currentLangId = LocaleTable::userDefaultLanguage();
    });
    report.step([&] { s.languageLibrary.reset(); });
    QString path;
    report.step([&] {
        path = programFolder() + QLatin1Char('/') + programFileName() + QLatin1Char('_') +
               GetLangCode(s.currentLangId) + QStringLiteral(".dll");
    });
    report.step([&] { s.languageLibrary = loadLanguageLibrary(path, s.currentLangId); });
    report.step([&] { s.languageCodes = listLanguageCodes(); });
}

QString GetLangCode(std::int32_t langId)
{
    if (langId == EnglishTddTty)
        return QStringLiteral("ENX");
    // Language 0 asks Windows for the user's default locale.
    const std::int32_t language = langId == 0 ? LocaleTable::userDefaultLanguage() : langId;
    if (language < 0)
        return QStringLiteral("ERR");
    const auto name = LocaleTable::abbreviatedLanguageName(static_cast<std::uint32_t>(language));
    if (!name)
        return QStringLiteral("ERR");
    return QString::fromStdString(*name).left(3).trimmed();
}

std::int32_t GetLangIDFromCode(const QString& code)
{
    for (const CodeEntry& entry : codeTable) {
        if (code == QLatin1String(entry.code))
            return entry.langId;
    }
    return LocaleTable::EnglishUnitedStates;
}

QString GetLangName(std::int32_t langId)
{
    if (langId == EnglishTddTty)
        return QStringLiteral("English (TDD/TTY)");
    if (langId >= 0) {
        if (const auto name = LocaleTable::languageName(static_cast<std::uint32_t>(langId)))
            return QString::fromStdString(*name);
    }
    return QStringLiteral("(error)");
}

QString GetLangNameFromCode(const QString& code)
{
    return GetLangName(GetLangIDFromCode(code));
}

void setProgramLocation(const QString& folder, const QString& fileName)
{
    state().folder = folder.isEmpty() ? std::nullopt : std::optional<QString>(folder);
    state().fileName = fileName.isEmpty() ? std::nullopt : std::optional<QString>(fileName);
}

QString programFolder()
{
    if (state().folder)
        return *state().folder;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

QString programFileName()
{
    if (state().fileName)
        return *state().fileName;
    if (!QCoreApplication::instance())
        return QStringLiteral("Culvane");
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

void resetLocalisation()
{
    State& s = state();
    s.currentLangId = 0;
    s.languageLibrary.reset();
    s.languageCodes.clear();
}

ErrorReport localizedReport(int closingId)
{
    return ErrorReport([] { return mymyLoadString(StringIds::ErrorHead); },
                       [closingId] { return mymyLoadString(closingId); });
}

} // namespace modLocalize
