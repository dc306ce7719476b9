// The Windows registry and machine facts against the real system: values
// must read back as other Windows programs wrote them, and be written so
// those programs read them.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/machine_facts.h"
#include "platform/os_info.h"
#include "platform/registry.h"
#include "platform/system_info.h"

namespace {

using platform::PlatformResult;
using platform::RegistryHive;
using platform::RegistryType;
using platform::RegistryValue;

// "Prüfung 中文" and a character outside the BMP (a surrogate pair).
constexpr char kWideText[] =
    "C:\\Programme\\Pr\xc3\xbc"
    "fung \xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x99\x82";

RegistryValue text(const std::string& t) {
  RegistryValue v;
  v.text = t;
  return v;
}

// A key of its own under SOFTWARE in both views, removed with everything in
// it afterwards. HKLM\SOFTWARE is the part of the registry that has two
// views; a run without the rights to write there skips the view cases.
class RegistryWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = L"websetup-registry-test-" + std::to_wstring(GetCurrentProcessId());
    key_ = "SOFTWARE\\" + std::string(name_.begin(), name_.end());
    TearDown();
  }
  void TearDown() override {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      for (const HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        HKEY software = nullptr;
        if (RegOpenKeyExW(hive, L"SOFTWARE", 0,
                          view | DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
                          &software) == ERROR_SUCCESS) {
          RegDeleteTreeW(software, name_.c_str());
          RegDeleteKeyExW(software, name_.c_str(), view, 0);
          RegCloseKey(software);
        }
      }
    }
  }

  // Writes raw bytes the way another program might, bypassing the layer.
  void writeRaw(REGSAM view, const wchar_t* value, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (L"SOFTWARE\\" + name_).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, value, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // The raw type and bytes of a value in one view of HKLM.
  static bool readRaw(REGSAM view, const std::wstring& path, const wchar_t* value, DWORD* type,
                      std::vector<BYTE>* data) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS) {
      return false;
    }
    DWORD size = 0;
    bool ok = RegQueryValueExW(key, value, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    data->resize(size);
    ok = ok && RegQueryValueExW(key, value, nullptr, type, data->data(), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
  }

  bool machineWritable() {
    return platform::registryCreateKey(RegistryHive::kLocalMachine, key_) == PlatformResult::kOk;
  }

  std::wstring name_;
  std::string key_;
};

// Every type survives a round trip, key and value names ignore case, and
// what is stored is what any other Windows program expects to find.
TEST_F(RegistryWinTest, RoundTripsValuesOtherProgramsCanRead) {
  RegistryValue dword;
  dword.type = RegistryType::kDword;
  dword.number = 4294967295u;
  RegistryValue multi;
  multi.type = RegistryType::kMultiString;
  multi.texts = {"\\??\\C:\\a", "", kWideText};
  const std::string sub = key_ + "/Sub\\Deeper";
  ASSERT_EQ(platform::registryWrite(RegistryHive::kCurrentUser, sub, "Path", text(kWideText)),
            PlatformResult::kOk);
  ASSERT_EQ(platform::registryWrite(RegistryHive::kCurrentUser, sub, "Count", dword),
            PlatformResult::kOk);
  ASSERT_EQ(platform::registryWrite(RegistryHive::kCurrentUser, sub, "Moves", multi),
            PlatformResult::kOk);
  EXPECT_TRUE(platform::registryKeyExists(RegistryHive::kCurrentUser, key_ + "\\SUB"));

  RegistryValue got;
  ASSERT_EQ(
      platform::registryRead(RegistryHive::kCurrentUser, key_ + "\\sub\\DEEPER", "PATH", &got),
      PlatformResult::kOk);
  EXPECT_EQ(got.type, RegistryType::kString);
  EXPECT_EQ(got.text, kWideText);
  ASSERT_EQ(platform::registryRead(RegistryHive::kCurrentUser, sub, "count", &got),
            PlatformResult::kOk);
  EXPECT_EQ(got.type, RegistryType::kDword);
  EXPECT_EQ(got.number, 4294967295u);
  ASSERT_EQ(platform::registryRead(RegistryHive::kCurrentUser, sub, "Moves", &got),
            PlatformResult::kOk);
  EXPECT_EQ(got.type, RegistryType::kMultiString);
  EXPECT_EQ(got.texts, multi.texts);

  // RegGetValueW checks a string's terminating NUL and its type.
  wchar_t stored[64] = {};
  DWORD size = sizeof stored;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, (L"SOFTWARE\\" + name_ + L"\\Sub\\Deeper").c_str(),
                         L"Path", RRF_RT_REG_SZ, nullptr, stored, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(stored), L"C:\\Programme\\Pr\u00fcfung \u4e2d\u6587 \U0001F642");

  EXPECT_EQ(platform::registryDeleteValue(RegistryHive::kCurrentUser, sub, "PATH"),
            PlatformResult::kOk);
  EXPECT_EQ(platform::registryRead(RegistryHive::kCurrentUser, sub, "Path", &got),
            PlatformResult::kNotFound);
  EXPECT_EQ(platform::registryDeleteValue(RegistryHive::kCurrentUser, sub, "Path"),
            PlatformResult::kNotFound);
  EXPECT_EQ(platform::registryRead(RegistryHive::kCurrentUser, key_ + "\\Missing", "Path", &got),
            PlatformResult::kNotFound);
  EXPECT_FALSE(platform::registryKeyExists(RegistryHive::kCurrentUser, key_ + "\\Missing"));
  EXPECT_EQ(platform::registryWrite(RegistryHive::kCurrentUser, key_ + "\\..\\x", "v", text("x")),
            PlatformResult::kInvalidArgument);
  EXPECT_EQ(
      platform::registryWrite(RegistryHive::kCurrentUser, sub, "v", text(std::string("a\0b", 3))),
      PlatformResult::kInvalidArgument);
}

// Data other writers left: strings without their NUL or with a stray
// byte, lists without their final NUL, numbers of other widths.
TEST_F(RegistryWinTest, ReadsValuesAsOtherWritersLeftThem) {
  const wchar_t unterminated[] = {L'a', L'b', L'\u00e9'};
  writeRaw(0, L"NoNul", REG_SZ, unterminated, sizeof unterminated);
  writeRaw(0, L"OddSize", REG_EXPAND_SZ, L"%TEMP%x", 6 * sizeof(wchar_t) + 1);
  writeRaw(0, L"EarlyNul", REG_SZ, L"ab\0cd", 6 * sizeof(wchar_t));
  writeRaw(0, L"List", REG_MULTI_SZ, L"one\0\0three", 10 * sizeof(wchar_t));
  const uint64_t small = 7, large = 0x100000000ull;
  writeRaw(0, L"Small", REG_QWORD, &small, sizeof small);
  writeRaw(0, L"Large", REG_QWORD, &large, sizeof large);
  writeRaw(0, L"Short", REG_DWORD, &small, 2);
  writeRaw(0, L"Bytes", REG_BINARY, "xyz", 3);

  RegistryValue got;
  auto read = [&](const char* value) {
    got = RegistryValue{};
    return platform::registryRead(RegistryHive::kCurrentUser, key_, value, &got);
  };
  ASSERT_EQ(read("NoNul"), PlatformResult::kOk);
  EXPECT_EQ(got.text, "ab\xc3\xa9");
  ASSERT_EQ(read("OddSize"), PlatformResult::kOk);
  EXPECT_EQ(got.type, RegistryType::kString);
  EXPECT_EQ(got.text, "%TEMP%");  // left unexpanded, the stray byte dropped
  ASSERT_EQ(read("EarlyNul"), PlatformResult::kOk);
  EXPECT_EQ(got.text, "ab");
  ASSERT_EQ(read("List"), PlatformResult::kOk);
  EXPECT_EQ(got.texts, (std::vector<std::string>{"one", "", "three"}));
  ASSERT_EQ(read("Small"), PlatformResult::kOk);
  EXPECT_EQ(got.type, RegistryType::kDword);
  EXPECT_EQ(got.number, 7u);
  EXPECT_EQ(read("Large"), PlatformResult::kUnsupported);
  EXPECT_EQ(read("Short"), PlatformResult::kNotFound);
  EXPECT_EQ(read("Bytes"), PlatformResult::kUnsupported);
}

// A "WOW6432Node" step picks the 32-bit view and a path without one the
// 64-bit view, the same keys whichever way this program was built.
TEST_F(RegistryWinTest, WowNodeStepPicksThe32BitView) {
  if (!machineWritable()) GTEST_SKIP() << "HKLM\\SOFTWARE is not writable here";
  const std::string wow = "SOFTWARE\\WOW6432Node\\" + key_.substr(9);
  ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, key_, "Bits", text("64")),
            PlatformResult::kOk);
  ASSERT_EQ(platform::registryWrite(RegistryHive::kLocalMachine, wow, "Bits", text("32")),
            PlatformResult::kOk);

  RegistryValue got;
  ASSERT_EQ(platform::registryRead(RegistryHive::kLocalMachine, key_, "Bits", &got),
            PlatformResult::kOk);
  EXPECT_EQ(got.text, "64");
  ASSERT_EQ(platform::registryRead(RegistryHive::kLocalMachine, wow, "Bits", &got),
            PlatformResult::kOk);
  EXPECT_EQ(got.text, "32");

  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_TRUE(readRaw(KEY_WOW64_32KEY, L"SOFTWARE\\" + name_, L"Bits", &type, &data));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"32");
  ASSERT_TRUE(readRaw(KEY_WOW64_64KEY, L"SOFTWARE\\" + name_, L"Bits", &type, &data));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"64");

  EXPECT_EQ(platform::registryDeleteValue(RegistryHive::kLocalMachine, wow, "Bits"),
            PlatformResult::kOk);
  EXPECT_EQ(platform::registryRead(RegistryHive::kLocalMachine, key_, "Bits", &got),
            PlatformResult::kOk);
}

// The facts of the running system agree with each other and with what
// Windows says directly.
TEST(MachineFactsWinTest, FactsArePlausible) {
  const platform::OsRelease release = platform::osRelease();
  EXPECT_EQ(release.prettyName.rfind("Windows", 0), 0u) << release.prettyName;
  unsigned major = 0, minor = 0, build = 0;
  EXPECT_EQ(std::sscanf(release.versionId.c_str(), "%u.%u.%u", &major, &minor, &build), 3)
      << release.versionId;
  EXPECT_GE(major, 6u);
  EXPECT_EQ(platform::osName(), release.prettyName);

  // The locale name the UI language becomes maps back to the same language.
  const LANGID ui = GetUserDefaultUILanguage();
  EXPECT_EQ(PRIMARYLANGID(platform::languageIdOfLocale(platform::uiLocale())), PRIMARYLANGID(ui))
      << platform::uiLocale();

  const int processors = platform::processorCount();
  EXPECT_GE(processors, 1);
  EXPECT_LE(processors, static_cast<int>(GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));

  const int arch = platform::processorArchitecture();
  EXPECT_EQ(platform::is64BitOs(),
            arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_ARM64);
  if (sizeof(void*) == 8) {
    EXPECT_TRUE(platform::is64BitOs());
  }

  EXPECT_TRUE(platform::systemVolumeSerial().has_value());
  const std::string volume = platform::systemVolumeName();
  EXPECT_EQ(volume.rfind("\\\\?\\Volume{", 0), 0u) << volume;
  EXPECT_EQ(volume.substr(volume.size() - 2), "}\\") << volume;

  // The best route leads through one of the listed adapters.
  const std::vector<platform::AdapterInfo> adapters = platform::listAdapters();
  EXPECT_FALSE(adapters.empty());
  if (const auto best = platform::bestInterfaceIndex()) {
    bool listed = false;
    for (const auto& a : adapters) listed = listed || a.index == *best;
    EXPECT_TRUE(listed) << "best interface " << *best;
  }
}

}  // namespace
