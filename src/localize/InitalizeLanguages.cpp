#include "localize/LanguageFonts.h"
#include "localize/LocaleTable.h"
#include "localize/modLocalize.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace modLocalize {
namespace {

const QString QtTranslatorName = QStringLiteral("culvaneQtTranslations");

// Qt's own texts (standard buttons, "Show Details...", file dialogs, context menus) in the language of the
// library in use, so that a message that names a button names the one on the screen. The translator
// belongs to the application, which finds it again by name at the next change.
void loadQtTranslations()
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    if (auto* previous = application->findChild<QTranslator*>(QtTranslatorName, Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(previous);
        delete previous;
    }
    if (!languageLibraryLoaded() || CurrentLangID() < 0)
        return;
    const auto locale = LocaleTable::posixLocaleName(static_cast<std::uint32_t>(CurrentLangID()));
    if (!locale)
        return;
    auto translator = std::make_unique<QTranslator>(application);
    translator->setObjectName(QtTranslatorName);
    // "qt_de" gathers Qt's catalogues of that language; an English variant finds none, as it needs none.
    if (translator->load(QStringLiteral("qt_") + QString::fromStdString(*locale),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator.release());
}

} // namespace

// Beside the fonts rather than the string loader, so that the loader stays free of widgets.
void InitalizeLanguages()
{
    reloadLanguageLibrary();
    loadQtTranslations();
    ApplyLanguageFontsToLoadedWindows();
}

} // namespace modLocalize
