#ifndef WEBSETUP_WEBLOG_HTTP_GET_H_
#define WEBSETUP_WEBLOG_HTTP_GET_H_

#include <string>

namespace weblog {

// The GET transport of the user log, the bootstrap file and the location
// lookup: 6-second connect and receive limits, the browser-like request
// headers the user-log server expects, no caching, at most 5 redirects,
// the program's transport policy (verified TLS, the system's proxy). What a
// URL cannot carry (spaces, control bytes) is percent-encoded first. Only a
// 200 answer of at most 1 MiB counts: its body is appended to *body and the
// result is 0; anything else (another status, a transport error, a longer
// body) gives -1 and leaves *body alone. Thread-safe.
int HttpGet(const std::string& url, std::string* body);

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_HTTP_GET_H_
