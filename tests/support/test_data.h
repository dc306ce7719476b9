#ifndef WEBSETUP_TESTS_SUPPORT_TEST_DATA_H_
#define WEBSETUP_TESTS_SUPPORT_TEST_DATA_H_

// Content for files the tests serve and download.

#include <cstddef>
#include <string>

namespace testing_support {

// `n` bytes that look random and are the same for the same `seed`, so a
// misplaced byte is told from a right one.
std::string randomBytes(size_t n, unsigned seed);

}  // namespace testing_support

#endif  // WEBSETUP_TESTS_SUPPORT_TEST_DATA_H_
