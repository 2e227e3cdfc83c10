#pragma once

#include "ports/ErrorReport.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Texts by string identifier in the current language, the language libraries beside the program, and the
// conversions between Windows language identifiers, three-letter codes and language names.
namespace modLocalize {

QString mymyLoadString(int id);

// The process-wide localisation state.
std::int32_t CurrentLangID();
void setCurrentLangID(std::int32_t langId);
const QStringList& LanguageCodes();
bool languageLibraryLoaded();

// Loads the current language's library and lists the codes beside the program, then gives every loaded
// window the language's fonts. Defined with the fonts, in the widget part of the library.
void InitalizeLanguages();
// InitalizeLanguages without the fonts: what a program without windows needs.
void reloadLanguageLibrary();

QString GetLangCode(std::int32_t langId);
std::int32_t GetLangIDFromCode(const QString& code);
QString GetLangName(std::int32_t langId);
QString GetLangNameFromCode(const QString& code);

// The program folder and file name (without extension) the language libraries are named after
// (Culvane_DEU.dll beside Culvane). Default: the running executable's; tests point it elsewhere. An empty
// text restores the default.
void setProgramLocation(const QString& folder, const QString& fileName);
QString programFolder();
QString programFileName();

// Frees the library and forgets the language and the codes, as at process start (tests). The program
// location stays as set.
void resetLocalisation();

// The program's error report with "(error):" (string 15) and a closing string from the table.
ErrorReport localizedReport(int closingId);

} // namespace modLocalize
