#ifndef WEBSETUP_INSTALL_DOWNLOAD_INFO_QUERY_H_
#define WEBSETUP_INSTALL_DOWNLOAD_INFO_QUERY_H_

// The download-configuration query to the update server and the two
// sequences that run it: the window's asynchronous fetch and the install
// thread's completion of the record. Every request and every write of the
// record happens under the record's fetchMutex(), so the two threads never
// write the record at the same time; the install thread waits at most for
// the request the asynchronous fetch has in flight (5 s).

#include <atomic>
#include <functional>
#include <string>

#include "config/configure.h"
#include "config/label_source.h"

namespace install {

// What the query needs from the deployment and the machine.
struct QueryEnvironment {
  std::string comBase;   // update server, .com host (scheme://host[:port][/prefix])
  std::string cnBase;    // update server, .cn host
  std::string testBase;  // update server, test host
  bool testEnv = false;  // developer setting TestEnv
  // The operating system's name; stores its version number in *version
  // (left alone when unknown).
  std::function<std::string(float* version)> systemName;

  // The process's own: the services file (with its override), TestEnv of
  // qm_downloader.cfg and the system facts.
  static QueryEnvironment FromProcess();
};

// Asks the update server for this build's download configuration. `cn`
// chooses the .cn host over the .com host (with TestEnv both go to the test
// host); `sync` only words the log line and the timing event. Returns 1 when
// a <Downloader> block arrived and was stored in record->rawAnswer; 0 when
// the request failed or the body holds no complete block; 0 at once, with
// no request, when the record already holds a block. Stores the query URL
// in the record either way (except in that last case). Takes the record's
// fetchMutex().
[[nodiscard]] int getDownloadInfoXml(config::CConfigure* record, bool sync, bool cn,
                                     const QueryEnvironment& env);

// The window's asynchronous fetch: .com, then .cn when that gave nothing,
// then the parse, stopping as soon as `abandon` is set (the install thread
// has started). Returns true when it parsed the answer into the record.
[[nodiscard]] bool RunAsyncConfigurationFetch(config::CConfigure* record,
                                              const std::atomic<bool>& abandon,
                                              const QueryEnvironment& env);

// The install thread's step: when the record is not filled, query .com and
// then .cn, parse, and when still unfilled fill it from the embedded
// configuration with the mark. REQUIRES: the caller set the abandon flag
// first, so a concurrent asynchronous fetch stops before parsing.
void CompleteConfiguration(config::CConfigure* record, const config::ILabelSource& labels,
                           const QueryEnvironment& env);

}  // namespace install

#endif  // WEBSETUP_INSTALL_DOWNLOAD_INFO_QUERY_H_
