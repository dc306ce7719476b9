#include <gtest/gtest.h>

#include <regex>

#include "file_host_fixture.h"

namespace maker_services_test {
namespace {

using FaultModesTest = FileHostTest;

TEST_F(FaultModesTest, RangeFaultsShowInStatusAndContentRange) {
  Fetched ignored = fetch(url("/faults/ignore-range/data.bin"), withRange("100-119"));
  EXPECT_EQ(ignored.status, 200);
  EXPECT_EQ(ignored.header("Content-Range"), "");
  EXPECT_TRUE(ignored.body == content_);

  Fetched bad = fetch(url("/faults/bad-total/data.bin"), withRange("100-119"));
  EXPECT_EQ(bad.status, 206);
  std::string range = bad.header("Content-Range");
  EXPECT_EQ(range.rfind("bytes 100-119/", 0), 0u);
  EXPECT_NE(range, "bytes 100-119/1048576");
  EXPECT_TRUE(bad.body == content_.substr(100, 20));

  Fetched star = fetch(url("/faults/star-total/data.bin"), withRange("100-119"));
  EXPECT_EQ(star.header("Content-Range"), "bytes 100-119/*");
}

TEST_F(FaultModesTest, DropAfterDeliversExactlyThatManyBytesThenCloses) {
  Fetched whole = fetch(url("/faults/drop-after=70000/data.bin"));
  EXPECT_EQ(whole.code, CURLE_PARTIAL_FILE);
  EXPECT_EQ(whole.header("Content-Length"), "1048576");
  ASSERT_EQ(whole.body.size(), 70000u);
  EXPECT_TRUE(whole.body == content_.substr(0, 70000));

  Fetched ranged = fetch(url("/faults/drop-after=10/data.bin"), withRange("1000-1999"));
  EXPECT_EQ(ranged.code, CURLE_PARTIAL_FILE);
  EXPECT_TRUE(ranged.body == content_.substr(1000, 10));

  std::vector<Json::Value> lines = linesFor("/faults/drop-after=70000/data.bin", 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["bytes_sent"].asUInt64(), 70000u);
}

TEST_F(FaultModesTest, StallHoldsTheConnectionUntilTheClientGivesUp) {
  Fetched stalled = fetch(url("/faults/stall-after=3000/data.bin"), withTimeoutMs(400));
  EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_TRUE(stalled.body == content_.substr(0, 3000));
  // The response ends, and is journaled, once the client has left.
  std::vector<Json::Value> lines = linesFor("/faults/stall-after=3000/data.bin", 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["bytes_sent"].asUInt64(), 3000u);
}

TEST_F(FaultModesTest, StatusAndUnknownModes) {
  Fetched missing = fetch(url("/faults/status=404/data.bin"));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(fetch(url("/faults/status=500/data.bin"), withRange("0-9")).status, 500);
  Fetched unknown = fetch(url("/faults/no-such-mode/data.bin"));
  EXPECT_EQ(unknown.status, 400);
  EXPECT_NE(unknown.body.find("no-such-mode"), std::string::npos);
}

TEST_F(FaultModesTest, RedirectChainsCountTheirHopsAndLoopsNeverEnd) {
  Fetched chain = fetch(url("/faults/redirect=3,star-total/data.bin"),
                        following(5, "0-9"));
  EXPECT_EQ(chain.redirects, 3);
  EXPECT_EQ(chain.status, 206);
  EXPECT_EQ(chain.header("Content-Range"), "bytes 0-9/*");  // other modes survive the hops
  EXPECT_TRUE(chain.body == content_.substr(0, 10));
  EXPECT_EQ(linesFor("/faults/redirect=1,star-total/data.bin", 1).size(), 1u);

  Fetched plain = fetch(url("/faults/redirect=1/data.bin"), following());
  EXPECT_EQ(plain.redirects, 1);
  EXPECT_EQ(linesFor("/files/data.bin", 1).size(), 1u);

  Fetched loop = fetch(url("/faults/redirect-loop/data.bin"), following(5));
  EXPECT_EQ(loop.code, CURLE_TOO_MANY_REDIRECTS);
  EXPECT_EQ(linesFor("/faults/redirect-loop/data.bin", 6).size(), 6u);
}

TEST_F(FaultModesTest, LocationOnA200PointsAtItself) {
  Fetched got = fetch(url("/faults/location-on-200/data.bin"), withRange("0-9"));
  EXPECT_EQ(got.status, 206);
  EXPECT_EQ(got.header("Location"), "");  // only a 200 carries it
  Fetched whole = fetch(url("/faults/location-on-200/data.bin"));
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.header("Location"), url("/faults/location-on-200/data.bin"));
}

TEST_F(FaultModesTest, CdnHeadersOnFilesAndRedirects) {
  Fetched got = fetch(url("/faults/cf=LAX/HIT,xcache=HIT%20from%20edge,redirect=1/data.bin"),
                      following(5, "0-9"));
  EXPECT_EQ(got.status, 206);
  EXPECT_TRUE(std::regex_match(got.header("CF-RAY"), std::regex("[0-9a-f]{16}-LAX")));
  EXPECT_EQ(got.header("CF-Cache-Status"), "HIT");
  EXPECT_EQ(got.header("X-Cache"), "HIT from edge");
  // Both the 302 and the final answer carry them.
  size_t rays = 0;
  for (size_t p = 0; (p = got.headers.find("CF-RAY: ", p)) != std::string::npos; ++p) ++rays;
  EXPECT_EQ(rays, 2u);
}

TEST_F(FaultModesTest, LowercaseHeadersSpellEveryNameInLowerCase) {
  Fetched got = fetch(url("/faults/lowercase-headers,cf=AMS/MISS/data.bin"), withRange("5-14"));
  EXPECT_EQ(got.code, CURLE_OK);
  EXPECT_EQ(got.status, 206);
  EXPECT_TRUE(got.body == content_.substr(5, 10));
  EXPECT_NE(got.headers.find("\r\ncontent-range: bytes 5-14/1048576\r\n"), std::string::npos);
  EXPECT_NE(got.headers.find("\r\ncontent-length: 10\r\n"), std::string::npos);
  EXPECT_NE(got.headers.find("\r\ncf-cache-status: MISS\r\n"), std::string::npos);
  // No header name (the text before a line's colon) has a capital letter.
  std::regex capital_name("\r\n[^:\r\n]*[A-Z][^:\r\n]*:");
  EXPECT_FALSE(std::regex_search(got.headers, capital_name)) << got.headers;

  std::vector<Json::Value> lines = linesFor("/faults/lowercase-headers,cf=AMS/MISS/data.bin", 1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["status"].asInt(), 206);
  EXPECT_EQ(lines[0]["bytes_sent"].asUInt64(), 10u);
}

TEST_F(FaultModesTest, RateSpreadsTheBodyOverTime) {
  // 100 000 bytes at 400 000 bytes/s cannot arrive in less than 0.2 s.
  Fetched got = fetch(url("/faults/rate=400000/data.bin"), withRange("0-99999"));
  EXPECT_TRUE(got.body == content_.substr(0, 100000));
  EXPECT_GE(got.seconds, 0.2);
}

}  // namespace
}  // namespace maker_services_test
