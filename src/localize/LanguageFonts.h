#pragma once

#include <QFontDatabase>
#include <QList>
#include <QString>

#include <cstdint>

class QWidget;

// The fonts each language needs, and the caption routines of the loaded windows.
namespace modLocalize {

// One row of the font table: the Windows character set and the font that draws the language. Qt has no
// character sets; the character set is expressed as the writing system whose installed fonts stand behind
// the named font, so that text still draws in a font made for the language where the named one is
// missing. An empty name means the program's default font.
struct LanguageFont {
    int charset = 0;
    QString name;
    QString latinName; // the same font's English name, under which some systems register it
    QFontDatabase::WritingSystem writingSystem = QFontDatabase::Any;
};

constexpr int DEFAULT_CHARSET = 1;
constexpr int SHIFTJIS_CHARSET = 128;
constexpr int HANGEUL_CHARSET = 129;
constexpr int GB2312_CHARSET = 134;
constexpr int CHINESEBIG5_CHARSET = 136;

LanguageFont languageFont(std::int32_t langId);

// The families a control gets for a language, in the order Qt tries them.
QStringList languageFontFamilies(std::int32_t langId);

// Gives the control the current language's font; size, weight and style stay.
void SetControlFont(QWidget* control);

// SetControlFont on the window and every control in it, in the window's control order.
void ApplyLanguageFonts(QWidget* window);

// Every loaded window of the program: the top-level windows that have a caption routine.
QList<QWidget*> loadedWindows();

// Runs the window's caption routine, found by its name: class name + "_Auto_Init". False when the window
// has none.
bool invokeAutoInit(QWidget* window);

// ApplyLanguageFonts on every loaded window.
void ApplyLanguageFontsToLoadedWindows();

} // namespace modLocalize
