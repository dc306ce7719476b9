#include "window/languages.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/text.h"
#include "platform/os_info.h"
#include "uiframework/containers.h"
#include "uiframework/layout_builder.h"
#include "uiframework/paint_manager.h"
#include "uiframework/window.h"
#include "zip/zip_archive.h"

namespace window {
namespace {

constexpr LanguageInfo kLanguages[] = {
    {"language_english.xml", L"license_english", "English", "en", L"en", "Microsoft YaHei", 1370, "en"},
    {"language_japanese.xml", L"license_japanese", "Japanese", "ja", L"ja", "Meiryo UI", 1320, "ja"},
    {"language_chinese.xml", L"license_chinese", "Chinese", "zh-cn", L"zhcn", "Microsoft YaHei", 0, "zh-CN"},
    {"language_spanish.xml", L"license_spanish", "Spanish", "es", L"es", "Times New Roman", 1440, "es"},
    {"language_german.xml", L"license_german", "German", "de", L"de", "Times New Roman", 1485, "de"},
    {"language_french.xml", L"license_french", "French", "fr", L"fr", "Times New Roman", 1410, "fr"},
    {"language_russian.xml", L"license_russian", "Russian", "ru", L"ru", "Times New Roman", 1445, "ru"},
    {"language_portuguese.xml", L"license_portuguese", "Portuguese", "pt", L"pt", "Times New Roman", 1295, "pt-BR"},
    {"language_arabic.xml", L"license_arabic", "Arabic", "ar", L"ar", "Times New Roman", 1195, "ar"},
    {"language_italiano.xml", L"license_italiano", "Italiano", "it", L"it", "Times New Roman", 1345, "it"},
    {"language_chinesetrad.xml", L"license_chinesetrad", "ChineseTrad", "zh-tw", L"zhtw", "Microsoft YaHei", 1095, "zh-TW"},
    {"language_korean.xml", L"license_korean", "Korean", "ko", L"ko", "batang", 1175, "ko"},
    {"language_nederland.xml", L"license_nederlands", "Nederlands", "nl", L"nl", "Microsoft YaHei", 1485, "nl"},
    {"language_indonesian.xml", L"license_indonesian", "Indonesian", "id", L"id", "Microsoft YaHei", 1370, "id"},
    {"language_turkish.xml", L"license_turkish", "Turkish", "tr", L"tr", "Microsoft YaHei", 1370, "tr"},
    {"language_hindi.xml", L"license_hindi", "Hindi", "hi", L"hi", "Microsoft YaHei", 1370, "hi"},
    {"language_thai.xml", L"license_thai", "Thai", "th", L"th", "Microsoft YaHei", 1175, "th"},
    {"language_malay.xml", L"license_malay", "Malay", "my", L"my", "Microsoft YaHei", 1410, "ms"},
    {"language_swedish.xml", L"license_swedish", "Swedish", "se", L"se", "Microsoft YaHei", 1410, "sv"},
    {"language_czech.xml", L"license_czech", "Czech", "cz", L"cz", "Microsoft YaHei", 1410, "cs"},
};

// Any other value: English files and codes, the default height.
constexpr LanguageInfo kOther = {"language_english.xml", L"license_english", "English", "en",
                                 L"en", "Microsoft YaHei", 1765, "en"};

struct ParsedFile {
  std::shared_ptr<ui::SkinArchive> archive;  // what it was read from
  std::unique_ptr<ui::CControlUI> root;      // null when the file is missing or broken
};

std::mutex& cacheMu() {
  static std::mutex mu;
  return mu;
}

std::map<int, ParsedFile>& cache() {
  static std::map<int, ParsedFile> files;
  return files;
}

}  // namespace

const LanguageInfo& Language(int language) {
  if (language < 0 || language >= kLanguageCount) return kOther;
  return kLanguages[language];
}

int LicenceAreaHeight(int language, int32_t siteId) {
  if (language == kChineseSimplified) {
    switch (siteId) {
      case 54: case 93: case 118: case 127: case 133: case 290: return 1900 + 170;
      case 521: return 1300 + 170;
      default: return 1095 + 170;
    }
  }
  return Language(language).licenceHeight + 170;
}

// The parsed language file of `language` (null when unreadable); callers
// hold cacheMu().
ui::CControlUI* parsedFile(int language) {
  const int index = language < 0 || language >= kLanguageCount ? -1 : language;
  // A developer tool may swap the archive; a file is read again then.
  std::shared_ptr<ui::SkinArchive> archive = ui::GetSkinArchive(websetup_zip::kSkinResourceType, websetup_zip::kSkinResourceId);
  auto it = cache().find(index);
  if (it != cache().end() && it->second.archive != archive) {
    cache().erase(it);
    it = cache().end();
  }
  if (it == cache().end()) {
    ParsedFile parsed;
    parsed.archive = archive;
    if (archive != nullptr) {
      ui::CDialogBuilder builder;
      ui::EnumUiResult result;
      parsed.root = builder.Create(std::string("language/") + Language(language).file, *archive,
                                   nullptr, &result);
      if (parsed.root == nullptr) {
        LOG(INFO) << " language file unreadable: " << Language(language).file;
      }
    }
    it = cache().emplace(index, std::move(parsed)).first;
  }
  return it->second.root.get();
}

std::wstring GetLanguageText(const std::wstring& page, const std::wstring& key, int language) {
  std::lock_guard<std::mutex> lock(cacheMu());
  ui::CControlUI* root = parsedFile(language);
  if (root == nullptr) return L"";
  ui::CControlUI* container = ui::CPaintManagerUI::FindSubControlByName(root, page);
  if (container == nullptr) return L"";
  ui::CControlUI* label = ui::CPaintManagerUI::FindSubControlByName(container, key);
  return label == nullptr ? L"" : label->GetText();
}

void VisitLanguageTexts(const std::wstring& page, int language,
                        const std::function<void(const std::wstring&, const std::wstring&)>& visit) {
  // Copied out first: the visitor may look texts up again.
  std::vector<std::pair<std::wstring, std::wstring>> texts;
  {
    std::lock_guard<std::mutex> lock(cacheMu());
    ui::CControlUI* root = parsedFile(language);
    auto* container = dynamic_cast<ui::CContainerUI*>(
        root == nullptr ? nullptr : ui::CPaintManagerUI::FindSubControlByName(root, page));
    if (container == nullptr) return;
    for (int i = container->GetCount() - 1; i >= 0; --i) {
      ui::CControlUI* label = container->GetItemAt(i);
      texts.emplace_back(label->GetName(), label->GetText());
    }
  }
  for (const auto& [key, text] : texts) visit(key, text);
}

namespace {

// Applies `format` with at most one conversion; `convert` is handed the
// conversion's text (e.g. "%.1f") and returns its output, or nullopt when
// the conversion is not the expected kind (it is then shown as written).
template <typename Convert>
std::wstring formatOne(const std::wstring& format, Convert convert) {
  std::wstring out;
  bool converted = false;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != L'%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == L'%') {
      out += L'%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < format.size() && std::wcschr(L"-+ 0#", format[j]) != nullptr) ++j;
    while (j < format.size() && j - i < 8 && iswdigit(format[j])) ++j;
    if (j < format.size() && format[j] == L'.') {
      ++j;
      while (j < format.size() && j - i < 12 && iswdigit(format[j])) ++j;
    }
    if (j < format.size() && format[j] == L'l') ++j;
    if (!converted && j < format.size()) {
      const std::wstring conversion = format.substr(i, j - i + 1);
      if (auto text = convert(conversion)) {
        out += *text;
        converted = true;
        i = j;
        continue;
      }
    }
    out += L'%';
  }
  return out;
}

}  // namespace

std::wstring FormatLanguageNumber(const std::wstring& format, double value) {
  return formatOne(format, [value](const std::wstring& conversion) -> std::optional<std::wstring> {
    if (std::wcschr(L"fFeEgG", conversion.back()) == nullptr || conversion.find(L'l') != std::wstring::npos) {
      return std::nullopt;
    }
    // The conversion is now flags, a short width and precision and one letter.
    const std::string narrowConversion(conversion.begin(), conversion.end());
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof(buffer), narrowConversion.c_str(), value);
    if (n < 0) return std::nullopt;
    return common::utf8ToWide(std::string(buffer, std::min<size_t>(n, sizeof(buffer) - 1)));
  });
}

std::wstring FormatLanguageString(const std::wstring& format, const std::wstring& value) {
  return formatOne(format, [&value](const std::wstring& conversion) -> std::optional<std::wstring> {
    if (conversion == L"%s" || conversion == L"%ls") return value;
    return std::nullopt;
  });
}

EnumLanguage LanguageOfLanguageId(uint32_t id) {
  switch (id) {
    case 1041: return kJapanese;
    case 2052: return kChineseSimplified;
    case 1049: return kRussian;
    case 1046: case 2070: return kPortuguese;
    case 1025: return kArabic;
    case 1040: case 2064: return kItalian;
    case 1028: case 3076: return kChineseTraditional;
    case 1042: case 2066: return kKorean;
    case 1043: case 2067: return kDutch;
    case 1057: return kIndonesian;
    case 1055: return kTurkish;
    case 1081: return kHindi;
    case 1054: return kThai;
    case 1086: case 2110: return kMalay;
    case 1053: case 2077: return kSwedish;
    case 1029: return kCzech;
    case 1031: case 2055: case 3079: case 4103: case 5127: return kGerman;
    case 1036: case 2060: case 3084: case 4108: case 5132: return kFrench;
    default: break;
  }
  // Spanish: 1034, 2058, ... 20490, every 1024 apart.
  if (id >= 1034 && id <= 20490 && (id - 1034) % 1024 == 0) return kSpanish;
  return kEnglish;
}

EnumLanguage GetLanguageByLocalSystem() {
  const uint32_t id = platform::languageIdOfLocale(platform::uiLocale());
  LOG(INFO) << " GetLanguageByLocalSystem: " << id;
  return LanguageOfLanguageId(id);
}

std::wstring GetSystemRegion() {
  const std::wstring region = common::utf8ToWide(platform::territoryOfLocale(platform::uiLocale()));
  LOG(INFO) << " System Region info is : " << common::wideToUtf8(region);
  return region;
}

}  // namespace window
