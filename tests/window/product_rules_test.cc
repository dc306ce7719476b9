// The product's rules the window applies: the install folder, the folder
// picker's answer, the advice link and where the installed product finds
// the setup's language.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/languages.h"
#include "window/product_rules.h"

namespace window_test {
namespace {

using platform::RegistryHive;

TEST(ProductRulesTest, InstallPathsAndPickedFolders) {
  struct Row {
    const wchar_t* text;
    const wchar_t* path;
  };
  // The product's name is added unless the box names it; '\' reads as '/'.
  for (const Row& row : {Row{L"F:/Apps/OrlaStudio", L"F:/Apps/OrlaStudio/Orlastra"},
                         Row{L"C:\\Tools\\Orlastra", L"C:/Tools/Orlastra"},
                         Row{L"/opt/Orlastra-old", L"/opt/Orlastra-old"}}) {
    EXPECT_EQ(window::InstallPathOf(row.text, L"Orlastra"), row.path);
  }
  for (const Row& row :
       {Row{L"/media/e/", L"/media/e/OrlaStudio"}, Row{L"/srv/Apps", L"/srv/Apps/OrlaStudio"},
        Row{L"/x/OrlaStudio2/y", L"/x/OrlaStudio2/y"}}) {
    EXPECT_EQ(window::PickedFolderPath(row.text), row.path);
  }
}

TEST(ProductRulesTest, AdviceQueryAndAddress) {
  struct Query {
    const wchar_t* exe;
    const wchar_t* query;
  };
  for (const Query& row :
       {Query{L"setup_12345.exe", L"?rnclid=12345&package=setup_12345.exe"},
        Query{L"setup.exe", L""}, Query{L"set.up_99", L"?rnclid=99&package=set.up_99"}}) {
    EXPECT_EQ(window::AdviceQuery(row.exe), row.query) << row.exe;
  }
  const std::vector<std::wstring> urls = {
      L"https://cdn.example/a.exe", L"https://www.example/b.exe", L"https://dl.example/c.exe"};
  struct Address {
    int type;
    const wchar_t* address;
  };
  // Types 1 and 3 want the maker's own host, 2 a CDN, others none.
  for (const Address& row :
       {Address{1, L"https://www.example/b.exe"}, Address{3, L"https://www.example/b.exe"},
        Address{2, L"https://cdn.example/a.exe"}, Address{0, L""}, Address{4, L""}}) {
    EXPECT_EQ(window::AdviceAddress(urls, row.type), row.address) << row.type;
  }
  EXPECT_EQ(window::AdviceAddress({L"https://dl.example/c.exe"}, 1), L"");
}

TEST(ProductRulesTest, ProductLanguageEntries) {
  struct Row {
    int32_t downloaderId;
    int language;
    RegistryHive hive;
    const char* key;
    const char* name;
    const char* text;
  };
  const Row rows[] = {
      {104, window::kChineseSimplified, RegistryHive::kCurrentUser, "Software\\Velmora\\Clipwright",
       "kCurrentLanguage", "Chinese"},
      {104, window::kJapanese, RegistryHive::kCurrentUser, "Software\\Velmora\\Clipwright",
       "kCurrentLanguage", "English"},
      {113, window::kJapanese, RegistryHive::kCurrentUser, "Software\\Quillmont\\Travento", "Lang",
       "ja_JP"},
      {114, window::kChineseTraditional, RegistryHive::kCurrentUser,
       "Software\\Quillmont\\Travento", "Lang", "zh_TW"},
      // Arabic and Italian have no value of their own there, nor do the
      // languages past Traditional Chinese.
      {115, window::kArabic, RegistryHive::kCurrentUser, "Software\\Quillmont\\Travento", "Lang",
       "en_US"},
      {115, window::kKorean, RegistryHive::kCurrentUser, "Software\\Quillmont\\Travento", "Lang",
       "en_US"},
      {115, -1, RegistryHive::kCurrentUser, "Software\\Quillmont\\Travento", "Lang", "en_US"},
      {7, window::kEnglish, RegistryHive::kLocalMachine,
       "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Orlastra}_is1",
       "Inno Setup: Language", "en"},
      {7, window::kChineseSimplified, RegistryHive::kLocalMachine,
       "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{Orlastra}_is1",
       "Inno Setup: Language", "zhcn"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.downloaderId << "/" << row.language);
    const window::ProductLanguageEntry entry =
        window::ProductLanguageOf(row.downloaderId, row.language, L"Orlastra");
    EXPECT_EQ(entry.hive, row.hive);
    EXPECT_EQ(entry.key, row.key);
    EXPECT_EQ(entry.name, row.name);
    EXPECT_EQ(entry.text, row.text);
  }
}

}  // namespace
}  // namespace window_test
