#include "localize/LanguageFonts.h"
#include "localize/modLocalize.h"

namespace modLocalize {

// Beside the fonts rather than the string loader, so that the loader stays free of widgets.
void InitalizeLanguages()
{
    reloadLanguageLibrary();
    ApplyLanguageFontsToLoadedWindows();
}

} // namespace modLocalize
