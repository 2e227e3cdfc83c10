#include "localize/LocaleTable.h"

#include <cctype>
#include <cstdlib>

namespace LocaleTable {
namespace {

struct Locale {
    std::uint16_t id;
    const char* abbreviation; // LOCALE_SABBREVLANGNAME
    const char* name;         // VerLanguageNameA, UTF-8
    const char* posix;        // language_TERRITORY, empty when no POSIX locale stands for it
};

// Grouped by language; the first entry of a language is the one a bare language name ("de") means.
// 3076 answers ZHT, the code the program's own code table gives that language, so that a ZHT library
// picked from the language menu is also the one that gets loaded.
constexpr Locale locales[] = {
    {1033, "ENU", "English (United States)", "en_US"},
    {2057, "ENG", "English (United Kingdom)", "en_GB"},
    {3081, "ENA", "English (Australia)", "en_AU"},
    {4105, "ENC", "English (Canada)", "en_CA"},
    {5129, "ENZ", "English (New Zealand)", "en_NZ"},
    {6153, "ENI", "English (Ireland)", "en_IE"},
    {7177, "ENS", "English (South Africa)", "en_ZA"},
    {8201, "ENJ", "English (Jamaica)", "en_JM"},
    {10249, "ENL", "English (Belize)", "en_BZ"},
    {11273, "ENT", "English (Trinidad and Tobago)", "en_TT"},
    {13321, "ENP", "English (Republic of the Philippines)", "en_PH"},
    {16393, "ENN", "English (India)", "en_IN"},
    {1031, "DEU", "German (Germany)", "de_DE"},
    {2055, "DES", "German (Switzerland)", "de_CH"},
    {3079, "DEA", "German (Austria)", "de_AT"},
    {4103, "DEL", "German (Luxembourg)", "de_LU"},
    {5127, "DEC", "German (Liechtenstein)", "de_LI"},
    {1036, "FRA", "French (France)", "fr_FR"},
    {2060, "FRB", "French (Belgium)", "fr_BE"},
    {3084, "FRC", "French (Canada)", "fr_CA"},
    {4108, "FRS", "French (Switzerland)", "fr_CH"},
    {5132, "FRL", "French (Luxembourg)", "fr_LU"},
    {6156, "FRM", "French (Principality of Monaco)", "fr_MC"},
    {3082, "ESN", "Spanish (Spain, International Sort)", "es_ES"},
    {1034, "ESP", "Spanish (Spain, Traditional Sort)", ""},
    {2058, "ESM", "Spanish (Mexico)", "es_MX"},
    {4106, "ESG", "Spanish (Guatemala)", "es_GT"},
    {5130, "ESC", "Spanish (Costa Rica)", "es_CR"},
    {6154, "ESA", "Spanish (Panama)", "es_PA"},
    {7178, "ESD", "Spanish (Dominican Republic)", "es_DO"},
    {8202, "ESV", "Spanish (Venezuela)", "es_VE"},
    {9226, "ESO", "Spanish (Colombia)", "es_CO"},
    {10250, "ESR", "Spanish (Peru)", "es_PE"},
    {11274, "ESS", "Spanish (Argentina)", "es_AR"},
    {12298, "ESF", "Spanish (Ecuador)", "es_EC"},
    {13322, "ESL", "Spanish (Chile)", "es_CL"},
    {14346, "ESY", "Spanish (Uruguay)", "es_UY"},
    {15370, "ESZ", "Spanish (Paraguay)", "es_PY"},
    {16394, "ESB", "Spanish (Bolivia)", "es_BO"},
    {17418, "ESE", "Spanish (El Salvador)", "es_SV"},
    {18442, "ESH", "Spanish (Honduras)", "es_HN"},
    {19466, "ESI", "Spanish (Nicaragua)", "es_NI"},
    {20490, "ESU", "Spanish (Puerto Rico)", "es_PR"},
    {1040, "ITA", "Italian (Italy)", "it_IT"},
    {2064, "ITS", "Italian (Switzerland)", "it_CH"},
    {1041, "JPN", "Japanese (Japan)", "ja_JP"},
    {1042, "KOR", "Korean (Korea)", "ko_KR"},
    {1043, "NLD", "Dutch (Netherlands)", "nl_NL"},
    {2067, "NLB", "Dutch (Belgium)", "nl_BE"},
    {1044, "NOR", "Norwegian, Bokm\xC3\xA5l (Norway)", "nb_NO"},
    {2068, "NON", "Norwegian, Nynorsk (Norway)", "nn_NO"},
    {1046, "PTB", "Portuguese (Brazil)", "pt_BR"},
    {2070, "PTG", "Portuguese (Portugal)", "pt_PT"},
    {2052, "CHS", "Chinese (Simplified, PRC)", "zh_CN"},
    {1028, "CHT", "Chinese (Traditional, Taiwan)", "zh_TW"},
    {3076, "ZHT", "Chinese (Traditional, Hong Kong S.A.R.)", "zh_HK"},
    {4100, "ZHI", "Chinese (Simplified, Singapore)", "zh_SG"},
    {5124, "ZHM", "Chinese (Traditional, Macao S.A.R.)", "zh_MO"},
    {1025, "ARA", "Arabic (Saudi Arabia)", "ar_SA"},
    {1026, "BGR", "Bulgarian (Bulgaria)", "bg_BG"},
    {1027, "CAT", "Catalan (Catalan)", "ca_ES"},
    {1029, "CSY", "Czech (Czech Republic)", "cs_CZ"},
    {1030, "DAN", "Danish (Denmark)", "da_DK"},
    {1032, "ELL", "Greek (Greece)", "el_GR"},
    {1035, "FIN", "Finnish (Finland)", "fi_FI"},
    {1037, "HEB", "Hebrew (Israel)", "he_IL"},
    {1038, "HUN", "Hungarian (Hungary)", "hu_HU"},
    {1039, "ISL", "Icelandic (Iceland)", "is_IS"},
    {1045, "PLK", "Polish (Poland)", "pl_PL"},
    {1048, "ROM", "Romanian (Romania)", "ro_RO"},
    {1049, "RUS", "Russian (Russia)", "ru_RU"},
    {1050, "HRV", "Croatian (Croatia)", "hr_HR"},
    {1051, "SKY", "Slovak (Slovakia)", "sk_SK"},
    {1053, "SVE", "Swedish (Sweden)", "sv_SE"},
    {2077, "SVF", "Swedish (Finland)", "sv_FI"},
    {1054, "THA", "Thai (Thailand)", "th_TH"},
    {1055, "TRK", "Turkish (Turkey)", "tr_TR"},
    {1057, "IND", "Indonesian (Indonesia)", "id_ID"},
    {1058, "UKR", "Ukrainian (Ukraine)", "uk_UA"},
    {1060, "SLV", "Slovenian (Slovenia)", "sl_SI"},
    {1061, "ETI", "Estonian (Estonia)", "et_EE"},
    {1062, "LVI", "Latvian (Latvia)", "lv_LV"},
    {1063, "LTH", "Lithuanian (Lithuania)", "lt_LT"},
    {1066, "VIT", "Vietnamese (Vietnam)", "vi_VN"},
    {1081, "HIN", "Hindi (India)", "hi_IN"},
    {1086, "MSL", "Malay (Malaysia)", "ms_MY"},
};

const Locale* find(std::uint32_t langId)
{
    for (const Locale& locale : locales) {
        if (locale.id == langId)
            return &locale;
    }
    return nullptr;
}

std::string lower(std::string_view text)
{
    std::string result;
    for (char c : text)
        result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string upper(std::string_view text)
{
    std::string result;
    for (char c : text)
        result += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

} // namespace

std::optional<std::string> abbreviatedLanguageName(std::uint32_t langId)
{
    if (const Locale* locale = find(langId))
        return std::string(locale->abbreviation);
    return std::nullopt;
}

std::optional<std::string> languageName(std::uint32_t langId)
{
    if (langId == 0)
        return std::string("Language Neutral");
    if (const Locale* locale = find(langId))
        return std::string(locale->name);
    return std::nullopt;
}

std::optional<std::string> posixLocaleName(std::uint32_t langId)
{
    const Locale* locale = find(langId);
    if (!locale || std::string_view(locale->posix).empty())
        return std::nullopt;
    return std::string(locale->posix);
}

std::optional<std::uint16_t> languageOfPosixLocale(std::string_view locale)
{
    // language[_TERRITORY][.codeset][@modifier]
    const std::size_t end = locale.find_first_of(".@");
    if (end != std::string_view::npos)
        locale = locale.substr(0, end);
    const std::size_t separator = locale.find_first_of("_-");
    std::string language = lower(locale.substr(0, separator));
    const std::string territory =
        separator == std::string_view::npos ? std::string() : upper(locale.substr(separator + 1));
    if (language.empty() || language == "c" || language == "posix")
        return std::nullopt;
    if (language == "no")
        language = "nb"; // the older name of Norwegian Bokmål

    const std::string wanted = language + "_" + territory;
    for (const Locale& entry : locales) {
        if (wanted == entry.posix)
            return entry.id;
    }
    const std::string prefix = language + "_";
    for (const Locale& entry : locales) {
        if (std::string_view(entry.posix).substr(0, prefix.size()) == prefix)
            return entry.id;
    }
    return std::nullopt;
}

std::uint16_t userDefaultLanguage(const char* lcAll, const char* lcMessages, const char* lang)
{
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && *value != '\0')
            return languageOfPosixLocale(value).value_or(EnglishUnitedStates);
    }
    return EnglishUnitedStates;
}

std::uint16_t userDefaultLanguage()
{
    return userDefaultLanguage(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

} // namespace LocaleTable
