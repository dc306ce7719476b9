// sample-payload-pack: joins the installer program and the product's files
// into one unsigned installer (layout in payload.h).
//
//   sample-payload-pack --stub PROGRAM --out FILE [--size BYTES] NAME=PATH...
//
// NAME is where the file lands under the install folder; the entry named
// "manifest" is read by the installer and not installed. --size pads the
// result to that many bytes, so downloads of it take as long as a real
// product's would.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "payload.h"

int main(int argc, char** argv) {
  std::string stub, out;
  uint64_t size = 0;
  std::vector<sample_installer::PayloadSource> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--stub" || arg == "--out" || arg == "--size") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (arg == "--stub") stub = value;
      if (arg == "--out") out = value;
      if (arg == "--size") size = std::strtoull(value.c_str(), nullptr, 10);
      continue;
    }
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size()) {
      std::cerr << "sample-payload-pack: expected NAME=PATH, got " << arg << "\n";
      return 2;
    }
    files.push_back({arg.substr(0, eq), arg.substr(eq + 1)});
  }
  if (stub.empty() || out.empty() || files.empty()) {
    std::cerr << "usage: sample-payload-pack --stub PROGRAM --out FILE [--size BYTES] NAME=PATH...\n";
    return 2;
  }
  std::string error;
  const auto r = sample_installer::writeInstaller(stub, files, size, out, &error);
  if (r != sample_installer::PayloadResult::kOk) {
    std::cerr << "sample-payload-pack: " << sample_installer::payloadResultName(r) << ": " << error
              << "\n";
    return 1;
  }
  return 0;
}
