#ifndef WEBSETUP_WINDOW_PRODUCT_RULES_H_
#define WEBSETUP_WINDOW_PRODUCT_RULES_H_

// The product's rules the window applies: where the product goes, which
// address the advice link opens, and where the installed product finds the
// language the setup ran in. Pure functions; any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace window {

// The folder below Program Files (and below a folder the picker chose)
// that holds the product.
inline constexpr wchar_t kDefaultProductFolder[] = L"OrlaStudio";

// The install folder for the path box's text: `softwareName` is added
// unless the text names it already.
std::wstring InstallPathOf(const std::wstring& editText, const std::wstring& softwareName);
// The path box's text for a folder the picker chose.
std::wstring PickedFolderPath(const std::wstring& chosen);

// The advice link's query for the executable's file name
// ("setup_12345.exe" -> "?rnclid=12345&package=setup_12345.exe"); empty
// when the name carries no id.
std::wstring AdviceQuery(const std::wstring& exeName);
// The address the advice link offers when no download used one yet: the
// first of `urls` that suits the downloader type (1 and 3: not a CDN, 2: a
// CDN); empty when none does.
std::wstring AdviceAddress(const std::vector<std::wstring>& urls, int32_t downloaderType);

// Where the installed product reads the setup's language.
struct ProductLanguageEntry {
  platform::RegistryHive hive = platform::RegistryHive::kLocalMachine;
  std::string key;
  std::string name;
  std::string text;  // the value
};
// The entry for the downloader `downloaderId` and the setup language
// `language` (an EnumLanguage value); `softwareName` is the record's.
ProductLanguageEntry ProductLanguageOf(int32_t downloaderId, int language,
                                       const std::wstring& softwareName);

}  // namespace window

#endif  // WEBSETUP_WINDOW_PRODUCT_RULES_H_
