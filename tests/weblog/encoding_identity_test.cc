// The pure rules of the web-log library: URL encoders, machine identity,
// location parsing, the analytics document and the services file.

#include <gtest/gtest.h>

#include "config/services.h"
#include "tests/support/temp_dir.h"
#include "weblog/analytics_document.h"
#include "weblog/machine_identity.h"
#include "weblog/proxy_file.h"
#include "weblog/url_encoding.h"
#include "weblog/web_log.h"

namespace weblog {
namespace {

TEST(UrlEncodingTest, FormAndGa4EncodersKeepTheirOwnCharacterSets) {
  EXPECT_EQ(FormEncode("a b&c"), "a+b%26c");
  EXPECT_EQ(FormEncode("x-_.~/\xC3\xA9"), "x-_.~%2F%C3%A9");
  // The query's own & and = survive; values are escaped in lower case.
  EXPECT_EQ(Ga4PercentEncode("&ep.cd7=Windows 10 64bit"), "&ep.cd7=Windows%2010%2064bit");
  EXPECT_EQ(Ga4PercentEncode("100%!*'()~"), "100%25!*'()~");
  EXPECT_EQ(Ga4PercentEncode("\xC3\xA9/"), "%c3%a9%2f");
}

TEST(MachineIdentityTest, AdapterChoiceFollowsRouteThenFilters) {
  const AdapterInfo virt{3, "veth0 Virtual", kAdapterEthernet, {0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};
  const AdapterInfo bt{4, "bnep0 Bluetooth", kAdapterEthernet, {1, 2, 3, 4, 5, 6}};
  const AdapterInfo nic{5, "eth0 PCI", kAdapterEthernet, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  // The best route's adapter is taken even when virtual.
  EXPECT_EQ(ChooseAdapterAddress(3, {virt, nic}), "001A2B3C4D5E");
  // Without a route only a real adapter qualifies.
  EXPECT_EQ(ChooseAdapterAddress(std::nullopt, {virt, bt, nic}), "AABBCCDDEEFF");
  EXPECT_EQ(ChooseAdapterAddress(std::nullopt, {bt, virt}), "");
  EXPECT_EQ(ComposeClientId(0x1A2B00u, ""), "1A2B00");
  EXPECT_EQ(ComposeClientId(std::nullopt, "AABBCCDDEEFF"), "AABBCCDDEEFF");
}

TEST(MachineIdentityTest, AnalyticsUidIsMd5OfVolumeGuid) {
  EXPECT_EQ(AnalyticsUidFromVolumeName("\\\\?\\Volume{abc}\\"), Md5Hex("abc"));
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(AnalyticsUidFromVolumeName("\\\\?\\Volume{3f2b8a1c-0d4e-11ee-9a7b-806e6f6e6963}\\"),
            "eb86791bd47f38ac4e899aa129b318c4");
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  // Longer than one 64-byte block.
  std::string digits;
  for (int i = 0; i < 8; ++i) digits += "1234567890";
  EXPECT_EQ(Md5Hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(AnalyticsUidFromVolumeName("\\\\?\\Volume-abc\\"), "");
  EXPECT_EQ(AnalyticsUidFromVolumeName("}abc{"), "");
  EXPECT_EQ(AnalyticsUid().size() == 32 || AnalyticsUid().empty(), true);
}

TEST(MachineIdentityTest, WindowsNamesByVersion) {
  WindowsVersion v;
  EXPECT_EQ(WindowsName(v), "unknown OperatingSystem.");
  v.known = true;
  v.major = 10;
  v.build = 22000;
  EXPECT_EQ(WindowsName(v), "Windows 11");
  v.build = 19045;
  EXPECT_EQ(WindowsName(v), "Windows 10");
  v.workstation = false;
  EXPECT_EQ(WindowsName(v), "Windows Server 2016 Technical Preview");
  v = WindowsVersion{true, 6, 2, 9200, true, true, false, false, 10};
  EXPECT_EQ(WindowsName(v), "Windows 10");
  v.secondMajor = 6;
  EXPECT_EQ(WindowsName(v), "Windows 8");
  v = WindowsVersion{true, 5, 2, 0, false, true, false, true, 5};
  EXPECT_EQ(WindowsName(v), "Windows Server 2003 R2");
  EXPECT_EQ(ArchitectureSuffix(9), " x64");
  EXPECT_EQ(ArchitectureSuffix(12), " x32");
}

TEST(MachineIdentityTest, LocationFieldsAreSplitWithoutUnquoting) {
  Location where;
  EXPECT_FALSE(ParseLocationCsv("fail,reserved range", &where));
  EXPECT_TRUE(ParseLocationCsv("success,Norway,NO,03,Oslo,Oslo,0150,AS1,192.0.2.7", &where));
  EXPECT_EQ(where.country, "Norway");
  EXPECT_EQ(where.city, "Oslo");
  EXPECT_EQ(where.ip, "192.0.2.7");
  // A quoted comma shifts the fields; they are used as split.
  ASSERT_TRUE(
      ParseLocationCsv("success,\"Korea, Republic of\",KR,11,Seoul,Seoul,x,192.0.2.8", &where));
  EXPECT_EQ(where.country, "\"Korea");
  EXPECT_EQ(where.city, "Seoul");
}

TEST(ProxyFileTest, FirstWordIsTakenAndOverlongWordRefused) {
  testing_support::TempDir dir;
  EXPECT_EQ(ReadProxyFile(dir.path()), "");
  testing_support::writeFile(dir.file("proxy.txt"), "  \n 127.0.0.1:3128 other words\n");
  EXPECT_EQ(ReadProxyFile(dir.path()), "127.0.0.1:3128");
  testing_support::writeFile(dir.file("proxy.txt"), std::string(kMaxProxyLength, 'p'));
  EXPECT_EQ(ReadProxyFile(dir.path()).size(), kMaxProxyLength);
  // One byte more would have overrun the old fixed buffer: refused whole.
  testing_support::writeFile(dir.file("proxy.txt"), std::string(kMaxProxyLength + 1, 'p') + " x");
  EXPECT_EQ(ReadProxyFile(dir.path()), "");
}

TEST(AnalyticsDocumentTest, EmptyInputGivesDefaults) {
  const Json::Value doc = BuildAnalyticsDocument("{}", {"u", "s", "Debian x64", 42});
  const Json::Value& c = doc["common"];
  EXPECT_EQ(c["uid"], "u");
  EXPECT_EQ(c["session_id"], "s");
  EXPECT_EQ(c["pid"], 0);
  EXPECT_EQ(c["is_new"], 0);
  EXPECT_EQ(c["brand"], "");
  EXPECT_EQ(c["os"], "Win");
  EXPECT_EQ(c["os_version"], "Debian x64");
  EXPECT_TRUE(c["is_vip"].isNull());
  EXPECT_TRUE(c["rnclid"].isNull());
  EXPECT_EQ(c["kit_type"], "");
  EXPECT_TRUE(doc["actions"].isNull());
  EXPECT_FALSE(doc.isMember("start"));
  EXPECT_FALSE(doc.isMember("monitor"));
  EXPECT_EQ(doc["ts"].asInt64(), 42);
  // Unparsable or non-object input counts as {}.
  EXPECT_EQ(BuildAnalyticsDocument("[1,2", {"u", "s", "Debian x64", 42}), doc);
  EXPECT_EQ(BuildAnalyticsDocument("[1]", {"u", "s", "Debian x64", 42}), doc);
}

TEST(AnalyticsDocumentTest, MembersKeepTheirTypes) {
  const Json::Value doc = BuildAnalyticsDocument(
      "{ /* comment */ \"is_new\": \"1\", \"kit_type\": 2, \"entry\": \"e\", \"actions\": {\"a\": 1},"
      " \"monitor_type\": \"m\", \"monitor_main_pid\": 7 }",
      {"u", "s", "o", 1});
  EXPECT_EQ(doc["common"]["is_new"], "1");
  EXPECT_EQ(doc["common"]["kit_type"], 2);
  EXPECT_EQ(doc["start"]["entry"], "e");
  EXPECT_EQ(doc["actions"]["a"], 1);
  EXPECT_EQ(doc["monitor"]["param"]["ext"]["parent_pid"], 7);
  EXPECT_EQ(doc["monitor"]["param"]["start_time"].asInt64(), 0);
  EXPECT_EQ(doc["monitor"]["guid"], "");
}

TEST(AnalyticsDocumentTest, TimestampIsLocalWallClockAsIfUtc) {
  platform::LocalTime t;
  t.year = 2025, t.month = 7, t.day = 10, t.hour = 9, t.minute = 30, t.second = 15;
  t.millisecond = 123;
  EXPECT_EQ(LocalWallClockMillis(t), 1752139815123LL);
  EXPECT_EQ(SessionId().size(), 32u);
  EXPECT_EQ(SessionId(), SessionId());
}

TEST(ServicesTest, OverrideKeepsEachServicePath) {
  config::Services s;
  ASSERT_TRUE(config::Services::parse(
      "<Services><Service name='ga4' url='https://ga4.x.example/' />"
      "<Service name='user_log' url='https://log.x.example:8443/svc' />"
      "<Brands><Brand site_id='66' label='Vexmora'/><Brand site_id='x' label='bad'/></Brands>"
      "</Services>",
      &s));
  EXPECT_EQ(s.url("ga4"), "https://ga4.x.example");
  EXPECT_EQ(s.brands().size(), 1u);
  s.overrideBase("http://127.0.0.1:9/");
  EXPECT_EQ(s.url("ga4"), "http://127.0.0.1:9");
  EXPECT_EQ(s.url("user_log"), "http://127.0.0.1:9/svc");
  EXPECT_EQ(s.url("geolocation"), "http://127.0.0.1:9");  // not in the file
  EXPECT_FALSE(config::Services::parse("<Other/>", &s));
  EXPECT_EQ(s.url("ga4"), "");
}

TEST(ServicesTest, ShippedFileNamesEveryService) {
  config::Services s;
  ASSERT_TRUE(config::Services::parse(
      testing_support::readFile(std::string(WEBSETUP_SOURCE_DIR) + "/skin_archive/services.xml"),
      &s));
  for (const std::string& name : config::allServiceNames()) {
    EXPECT_NE(s.url(name).find(".example"), std::string::npos) << name;
  }
  EXPECT_EQ(s.brands().size(), 29u);
  for (int id : {1, 2, 8, 61, 66, 74, 84, 206}) EXPECT_EQ(s.brands().count(id), 1u) << id;
}

}  // namespace
}  // namespace weblog
