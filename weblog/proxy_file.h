#ifndef WEBSETUP_WEBLOG_PROXY_FILE_H_
#define WEBSETUP_WEBLOG_PROXY_FILE_H_

#include <string>

namespace weblog {

// Longest proxy text accepted from proxy.txt, in bytes.
constexpr size_t kMaxProxyLength = 254;

// The first word of `dir`/proxy.txt (leading white space skipped, up to the
// next white space): the proxy a user or support puts beside the program.
// Empty when the file cannot be opened, holds no word, or its first word is
// longer than kMaxProxyLength (such a word is no proxy address, and it is
// refused rather than cut). Thread-safe.
std::string ReadProxyFile(const std::string& dir);

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_PROXY_FILE_H_
