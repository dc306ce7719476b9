#include "window/product_rules.h"

#include "common/text.h"
#include "window/languages.h"

namespace window {
namespace {

bool endsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::wstring InstallPathOf(const std::wstring& editText, const std::wstring& softwareName) {
  // Paths here use '/', as Windows paths use '\': either is taken.
  std::wstring path = editText;
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  if (path.find(softwareName) != std::wstring::npos) return path;
  return path + L"/" + softwareName;
}

std::wstring PickedFolderPath(const std::wstring& chosen) {
  if (chosen.find(kDefaultProductFolder) != std::wstring::npos) return chosen;
  return chosen + (endsWith(chosen, L"/") ? L"" : L"/") + kDefaultProductFolder;
}

std::wstring AdviceQuery(const std::wstring& exeName) {
  const size_t underscore = exeName.find(L'_');
  if (underscore == std::wstring::npos) return L"";
  const size_t dot = exeName.find(L'.');
  // A "." before the "_" leaves everything after the "_" as the id.
  const std::wstring id = dot == std::wstring::npos || dot < underscore
                              ? exeName.substr(underscore + 1)
                              : exeName.substr(underscore + 1, dot - underscore - 1);
  return L"?rnclid=" + id + L"&package=" + exeName;
}

std::wstring AdviceAddress(const std::vector<std::wstring>& urls, int32_t downloaderType) {
  for (const std::wstring& url : urls) {
    const bool cdn = url.find(L"//cdn.") != std::wstring::npos ||
                     url.find(L"//dl.") != std::wstring::npos;
    if (((downloaderType == 1 || downloaderType == 3) && !cdn) || (downloaderType == 2 && cdn)) {
      return url;
    }
  }
  return L"";
}

ProductLanguageEntry ProductLanguageOf(int32_t downloaderId, int language,
                                       const std::wstring& softwareName) {
  ProductLanguageEntry entry;
  if (downloaderId == 104) {
    entry.hive = platform::RegistryHive::kCurrentUser;
    entry.key = "Software\\Velmora\\Clipwright";
    entry.name = "kCurrentLanguage";
    entry.text = language == kChineseSimplified ? "Chinese" : "English";
  } else if (downloaderId == 113 || downloaderId == 114 || downloaderId == 115) {
    static const char* const kLang[] = {"en_US", "ja_JP", "zh_CN", "es_ES", "de_DE", "fr_FR",
                                        "ru_RU", "pt_BR", "en_US", "en_US", "zh_TW"};
    entry.hive = platform::RegistryHive::kCurrentUser;
    entry.key = "Software\\Quillmont\\Travento";
    entry.name = "Lang";
    entry.text = language >= 0 && language <= 10 ? kLang[language] : "en_US";
  } else {
    // The product's installer is a 32-bit Inno Setup program, so its
    // uninstall key is in the registry's 32-bit view; a key of the same
    // name in the 64-bit view is one the product never reads (and one
    // without a name in the list of installed programs). The file store
    // has one view, where the step changes nothing.
    entry.hive = platform::RegistryHive::kLocalMachine;
    entry.key = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{" +
                common::wideToUtf8(softwareName) + "}_is1";
    entry.name = "Inno Setup: Language";
    entry.text = common::wideToUtf8(Language(language).productCode);
  }
  return entry;
}

}  // namespace window
