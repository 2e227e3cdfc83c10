#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What Windows answers about languages, from a table of our own: the three-letter abbreviated language
// name (GetLocaleInfoA with LOCALE_SABBREVLANGNAME), the language name (VerLanguageNameA) and the user's
// default language (GetUserDefaultLangID, here from the POSIX locale variables). Plain C++, so a Windows
// build can put the real calls behind the same functions.
namespace LocaleTable {

// "DEU" for 1031; nothing for a language the table does not know.
std::optional<std::string> abbreviatedLanguageName(std::uint32_t langId);

// "German (Germany)" for 1031 (UTF-8), "Language Neutral" for 0; nothing for a language the table does not
// know.
std::optional<std::string> languageName(std::uint32_t langId);

// "de_DE" for 1031; nothing for a language the table does not know or that no POSIX locale stands for.
std::optional<std::string> posixLocaleName(std::uint32_t langId);

// The language of a POSIX locale name such as "de_DE.UTF-8" or "fr_CA"; nothing for "C", "POSIX", an
// empty name or a language the table does not know.
std::optional<std::uint16_t> languageOfPosixLocale(std::string_view locale);

// The user's default language: the first non-empty of LC_ALL, LC_MESSAGES and LANG; 1033 (English, United
// States) when none is set or its language is unknown.
std::uint16_t userDefaultLanguage();
std::uint16_t userDefaultLanguage(const char* lcAll, const char* lcMessages, const char* lang);

constexpr std::uint16_t EnglishUnitedStates = 1033;

} // namespace LocaleTable
