// configure/configure.xml: the start-up values, and the labels the
// configuration record is filled from when the server does not answer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/configure.h"
#include "config/label_source.h"
#include "config/product_config.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  config::ProductConfig product;
  config::parseProductConfig(xml, &product);
  const config::ProductLabelSource labels(config::ProductLabels::fromXml(xml));
  config::CConfigure c(product.downloaderId, 0, product.siteId);
  c.fillFromLabels(labels, true);
  c.printContent();
  return 0;
}
