// Where the setup leaves its language for the installed product, in the
// real registry. The product's installer is a 32-bit program: from a
// 64-bit process its uninstall key is in the 32-bit view, and only there
// does the product read the language back.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "platform/registry.h"
#include "window/languages.h"
#include "window/product_rules.h"

namespace window_test {
namespace {

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The installer's key of a product of this test's own, removed from both
// views afterwards.
class ProductLanguageWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    product_ = L"websetup-language-test-" + std::to_wstring(GetCurrentProcessId());
    key_ = std::wstring(kUninstall) + L"\\{" + product_ + L"}_is1";
    TearDown();
  }
  void TearDown() override {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY parent = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, view | KEY_ALL_ACCESS, &parent) ==
          ERROR_SUCCESS) {
        RegDeleteKeyExW(parent, (L"{" + product_ + L"}_is1").c_str(), view, 0);
        RegCloseKey(parent);
      }
    }
  }

  // A string value of the key in one view; "<no key>" or "<no value>".
  std::wstring read(REGSAM view, const wchar_t* name) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, view | KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
      return L"<no key>";
    }
    wchar_t text[260] = {};
    DWORD size = sizeof text - sizeof text[0];
    const LSTATUS status =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::wstring(text) : L"<no value>";
  }

  std::wstring product_;
  std::wstring key_;
};

// Catches the language written to a key of the 64-bit view, beside the
// installer's own, where the product never looks.
TEST_F(ProductLanguageWinTest, InnoLanguageLandsInTheInstallersKey) {
  HKEY key = nullptr;
  const LSTATUS made = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0,
                                       KEY_WOW64_32KEY | KEY_SET_VALUE, nullptr, &key, nullptr);
  if (made == ERROR_ACCESS_DENIED) GTEST_SKIP() << "needs the right to write HKLM";
  ASSERT_EQ(made, ERROR_SUCCESS);
  const std::wstring shown = L"Orlastra";
  RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(shown.c_str()),
                 static_cast<DWORD>((shown.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);

  const window::ProductLanguageEntry entry =
      window::ProductLanguageOf(7, window::kJapanese, product_);
  platform::RegistryValue value;
  value.text = entry.text;
  ASSERT_EQ(platform::registryWrite(entry.hive, entry.key, entry.name, value),
            platform::PlatformResult::kOk);

  EXPECT_EQ(read(KEY_WOW64_32KEY, L"Inno Setup: Language"), common::utf8ToWide(entry.text));
  EXPECT_EQ(read(KEY_WOW64_32KEY, L"DisplayName"), shown);
  EXPECT_EQ(read(KEY_WOW64_64KEY, L"Inno Setup: Language"), L"<no key>");
}

}  // namespace
}  // namespace window_test
