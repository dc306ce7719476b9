#include "weblog/proxy_file.h"

#include <fstream>

namespace weblog {

std::string ReadProxyFile(const std::string& dir) {
  std::ifstream in(dir.empty() ? std::string("proxy.txt") : dir + "/proxy.txt");
  if (!in) return std::string();
  std::string word;
  in >> word;
  if (word.size() > kMaxProxyLength) return std::string();
  return word;
}

}  // namespace weblog
