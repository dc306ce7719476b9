#ifndef WEBSETUP_TESTS_NET_NET_TEST_ENV_H_
#define WEBSETUP_TESTS_NET_NET_TEST_ENV_H_

// What the program logged during a network test.

#include <string>

namespace net_test {

void ClearLog();
// How many logged lines hold `part`.
int LogCount(const std::string& part);
// Every line so far, one per line (for failure messages).
std::string LogText();

}  // namespace net_test

#endif  // WEBSETUP_TESTS_NET_NET_TEST_ENV_H_
