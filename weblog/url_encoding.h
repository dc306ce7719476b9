#ifndef WEBSETUP_WEBLOG_URL_ENCODING_H_
#define WEBSETUP_WEBLOG_URL_ENCODING_H_

#include <string>
#include <string_view>

namespace weblog {

// Form encoding of the report log: letters, digits and -_.~ stay, a space
// becomes '+', every other byte %XX with upper-case digits.
std::string FormEncode(std::string_view text);

// Encoding of a GA4 event query: letters, digits and -_.!~&=*'() stay, so the
// query's own & and = survive; every other byte (space, %, bytes >= 0x80)
// becomes %xx with lower-case digits.
std::string Ga4PercentEncode(std::string_view text);

}  // namespace weblog

#endif  // WEBSETUP_WEBLOG_URL_ENCODING_H_
