// websetup-get: downloads one URL with the setup's download engine, as the
// setup itself would, and reports the outcome. For benchmarks and debugging.
//
//   websetup-get [--threads N] [--report] [--md5 HEX [--md5-extra HEX]
//                [--label TEXT]] URL FILE
//
// Exits 0 only when the download returns 1 (and, with --md5, the file's
// digest matches).

#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/log.h"
#include "common/text.h"
#include "engine/download_impl.h"
#include "engine/error_code.h"

namespace {

struct Args {
  int threads = 0;
  bool report = false;
  std::string md5;
  std::string md5Extra;
  std::string label;
  std::string url;
  std::string file;
};

void usage() {
  std::fprintf(stderr,
               "usage: websetup-get [--threads N] [--report] [--md5 HEX [--md5-extra HEX] "
               "[--label TEXT]] URL FILE\n");
}

bool parseArgs(int argc, char** argv, Args* a) {
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--threads") {
      if (!value(&v)) return false;
      a->threads = std::atoi(v.c_str());
      if (a->threads <= 0) return false;
    } else if (arg == "--report") {
      a->report = true;
    } else if (arg == "--md5") {
      if (!value(&a->md5)) return false;
    } else if (arg == "--md5-extra") {
      if (!value(&a->md5Extra)) return false;
    } else if (arg == "--label") {
      if (!value(&a->label)) return false;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return false;
    } else if (positional == 0) {
      a->url = arg;
      ++positional;
    } else if (positional == 1) {
      a->file = arg;
      ++positional;
    } else {
      return false;
    }
  }
  return positional == 2 && (a->md5.empty() ? a->md5Extra.empty() && a->label.empty() : true);
}

// The log goes to standard error only, so standard output holds the report.
void configureLog() {
  el::Configurations conf;
  conf.setToDefault();
  conf.setGlobally(el::ConfigurationType::Format, "%datetime--[Thread](%thread) %msg");
  conf.setGlobally(el::ConfigurationType::ToFile, "false");
  const char* quiet = std::getenv("WEBSETUP_GET_QUIET");
  conf.setGlobally(el::ConfigurationType::ToStandardOutput, quiet && *quiet == '1' ? "false" : "true");
  el::Loggers::reconfigureLogger("default", conf);
  el::Loggers::addFlag(el::LoggingFlag::ColoredTerminalOutput);
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (!parseArgs(argc, argv, &args)) {
    usage();
    return 2;
  }
  configureLog();
  curl_global_init(CURL_GLOBAL_ALL);

  engine::DownloadOptions options;
  options.threadCount = args.threads;
  // --report downloads as the setup does for its installer; the progress
  // itself has no window to go to here.
  if (args.report) options.onProgress = [](int64_t, int64_t) {};
  engine::DownloadStats stats;
  std::string cdn;
  const int32_t result = engine::CDownLoadImpl::SuperDownloadFile(
      common::utf8ToWide(args.url), common::utf8ToWide(args.file), &cdn, options,
      &stats);
  std::printf("result: %d %s\n", result, engine::errorCodeName(result));
  std::printf("average speed: %.2f MB/s\n", stats.averageMBps);
  std::printf("speed range: %.1f - %.1f MB/s\n", stats.slowestMBps, stats.fastestMBps);
  std::printf("cdn: %s\n", cdn.c_str());
  bool ok = result == engine::kErrSuccess;
  if (!args.md5.empty()) {
    const int match = engine::CDownLoadImpl::checkMD5(
        common::utf8ToWide(args.file), common::utf8ToWide(args.md5),
        common::utf8ToWide(args.md5Extra), common::utf8ToWide(args.label));
    std::printf("md5: %s\n", match ? "match" : "mismatch");
    ok = ok && match == 1;
  }
  std::fflush(stdout);
  curl_global_cleanup();
  return ok ? 0 : 1;
}
