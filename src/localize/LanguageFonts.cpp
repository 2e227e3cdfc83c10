#include "localize/LanguageFonts.h"

#include "localize/modLocalize.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMetaObject>
#include <QWidget>

namespace modLocalize {
namespace {

QByteArray autoInitName(const QByteArray& windowName)
{
    return windowName + "_Auto_Init";
}

// The name under which the window's caption routine is found: its class name, or else its object name
// (a window class derived for a test keeps the routine of the window it derives from).
QByteArray autoInitOf(const QWidget& window)
{
    const QMetaObject* meta = window.metaObject();
    for (const QByteArray& name :
         {autoInitName(meta->className()), autoInitName(window.objectName().toLatin1())}) {
        if (meta->indexOfMethod(name + "()") >= 0)
            return name;
    }
    return QByteArray();
}

QStringList defaultFamilies(const QWidget& control)
{
    const QFont font = QApplication::font(&control);
    return font.families().isEmpty() ? QStringList{font.family()} : font.families();
}

// An installed font made for the writing system, a proportional one where there is one (the table's fonts
// are proportional); none without a running GUI or such a font.
QString installedFamilyFor(QFontDatabase::WritingSystem writingSystem)
{
    if (writingSystem == QFontDatabase::Any || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QString();
    QString first;
    for (const QString& family : QFontDatabase::families(writingSystem)) {
        if (QFontDatabase::isPrivateFamily(family))
            continue;
        // Fonts that give Latin letters one or two fixed widths do not declare themselves fixed-pitch.
        const QFontMetrics metrics{QFont(family)};
        if (metrics.horizontalAdvance(QLatin1Char('i')) != metrics.horizontalAdvance(QLatin1Char('W')))
            return family;
        if (first.isEmpty())
            first = family;
    }
    return first;
}

void setFamilies(QWidget& control, const QStringList& languageFamilies)
{
    // An empty font name is refused as a name; the control goes back to the program's default font.
    const QStringList families = languageFamilies.isEmpty() ? defaultFamilies(control) : languageFamilies;
    QFont font = control.font();
    if (font.families() == families)
        return;
    font.setFamilies(families);
    control.setFont(font);
}

} // namespace

LanguageFont languageFont(std::int32_t langId)
{
    switch (langId) {
    case 1042: // Korean
        return {HANGEUL_CHARSET, QStringLiteral(u"\uAD74\uB9BC"), QStringLiteral("Gulim"),
                QFontDatabase::Korean};
    case 1028: // Chinese, Taiwan
        return {CHINESEBIG5_CHARSET, QStringLiteral(u"\u65B0\u7D30\u660E\u9AD4"), QStringLiteral("PMingLiU"),
                QFontDatabase::TraditionalChinese};
    case 1041: // Japanese
        return {SHIFTJIS_CHARSET, QStringLiteral(u"\uFF2D\uFF33\u0020\uFF30\u30B4\u30B7\u30C3\u30AF"),
                QStringLiteral("MS PGothic"), QFontDatabase::Japanese};
    case 2052: // Chinese, PRC
        return {GB2312_CHARSET, QStringLiteral(u"\u5B8B\u4F53"), QStringLiteral("SimSun"),
                QFontDatabase::SimplifiedChinese};
    default:
        return {DEFAULT_CHARSET, QString(), QString(), QFontDatabase::Any};
    }
}

QStringList languageFontFamilies(std::int32_t langId)
{
    const LanguageFont row = languageFont(langId);
    QStringList families;
    for (const QString& family : {row.name, row.latinName, installedFamilyFor(row.writingSystem)}) {
        if (!family.isEmpty() && !families.contains(family))
            families.append(family);
    }
    return families;
}

void SetControlFont(QWidget* control)
{
    if (control)
        setFamilies(*control, languageFontFamilies(CurrentLangID()));
}

void ApplyLanguageFonts(QWidget* window)
{
    if (!window)
        return;
    const QStringList families = languageFontFamilies(CurrentLangID());
    setFamilies(*window, families);
    for (QWidget* control : window->findChildren<QWidget*>())
        setFamilies(*control, families);
}

QList<QWidget*> loadedWindows()
{
    QList<QWidget*> windows;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return windows;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!autoInitOf(*window).isEmpty())
            windows.append(window);
    }
    return windows;
}

bool invokeAutoInit(QWidget* window)
{
    if (!window)
        return false;
    const QByteArray name = autoInitOf(*window);
    return !name.isEmpty() && QMetaObject::invokeMethod(window, name.constData(), Qt::DirectConnection);
}

void ApplyLanguageFontsToLoadedWindows()
{
    for (QWidget* window : loadedWindows())
        ApplyLanguageFonts(window);
}

} // namespace modLocalize
