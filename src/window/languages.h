#ifndef WEBSETUP_WINDOW_LANGUAGES_H_
#define WEBSETUP_WINDOW_LANGUAGES_H_

// The twenty setup languages: their tables, the lookup of one text in a
// language file of the skin archive, and the choice of the start language
// from the system's UI language. Thread-safe (the lookup may run on any
// window's thread).

#include <cstdint>
#include <functional>
#include <string>

namespace window {

enum EnumLanguage : int32_t {
  kEnglish = 0,
  kJapanese,
  kChineseSimplified,
  kSpanish,
  kGerman,
  kFrench,
  kRussian,
  kPortuguese,
  kArabic,
  kItalian,
  kChineseTraditional,
  kKorean,
  kDutch,
  kIndonesian,
  kTurkish,
  kHindi,
  kThai,
  kMalay,
  kSwedish,
  kCzech,
  kLanguageCount
};

// What one language is called in each place. Values outside 0-19 read as
// English everywhere.
struct LanguageInfo {
  const char* file;           // "language_english.xml" in the archive's language/
  const wchar_t* licence;     // the rich-edit control of License.xml
  const char* eventName;      // label of the "SetLanguage" event
  const char* webCode;        // banner query and funnel records
  const wchar_t* productCode; // the installed product's language value
  const char* carouselFont;
  int licenceHeight;          // before the +170 of the layout
  const char* textTag;        // BCP 47, for the fonts of the script
};
const LanguageInfo& Language(int language);

// The licence area's fixed height for `language` (Simplified Chinese by
// the record's site id).
int LicenceAreaHeight(int language, int32_t siteId);

// The text of label `key` in container `page` ("install_page",
// "message_page") of the language file; empty when any of them is missing.
// Files are parsed once and kept.
std::wstring GetLanguageText(const std::wstring& page, const std::wstring& key, int language);

// Calls `visit(key, text)` for every label of container `page` of the
// language file, from the last to the first; nothing when the file or the
// container is missing. Empty texts are visited too.
void VisitLanguageTexts(const std::wstring& page, int language,
                        const std::function<void(const std::wstring& key, const std::wstring& text)>& visit);

// A language text used as a format with one conversion, applied without
// trusting the text: a floating-point conversion (`%.1f`, `%0.f`, `%e`,
// `%g`, with flags and a width) takes `value`, `%%` prints a percent
// sign, and anything else (a second conversion, `%s`, `%n`, a stray `%`)
// is shown as written. A translation can get a format wrong; it can
// never make the window read memory it was not given.
std::wstring FormatLanguageNumber(const std::wstring& format, double value);
// The same for one string conversion (`%s` or `%ls`) taking `value`.
std::wstring FormatLanguageString(const std::wstring& format, const std::wstring& value);

// The setup language for a Windows UI language id.
EnumLanguage LanguageOfLanguageId(uint32_t languageId);
// ... for the user's locale (logged as " GetLanguageByLocalSystem: ").
EnumLanguage GetLanguageByLocalSystem();
// The two-letter territory of the user's locale (logged).
std::wstring GetSystemRegion();

}  // namespace window

#endif  // WEBSETUP_WINDOW_LANGUAGES_H_
