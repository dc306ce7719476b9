#ifndef WEBSETUP_CONFIG_LABEL_SOURCE_H_
#define WEBSETUP_CONFIG_LABEL_SOURCE_H_

// "Labels by name": the entries of the product configuration as the setup
// window holds them, one invisible label per entry. The record and the
// install flow read the embedded values through this interface, so they do
// not care whether a window or the skin archive serves them.

#include <map>
#include <string>
#include <utility>

#include "config/product_config.h"

namespace config {

class ILabelSource {
 public:
  virtual ~ILabelSource() = default;
  // The text of the label named `name`; empty when there is none.
  virtual std::wstring getLabelText(const std::wstring& name) const = 0;
};

// Labels read once from wherever a host keeps them (the window's layout),
// then only read: thread-safe once the last set() has returned, which must
// happen before another thread reads.
class LabelTable : public ILabelSource {
 public:
  void set(const std::wstring& name, std::wstring text) { texts_[name] = std::move(text); }
  std::wstring getLabelText(const std::wstring& name) const override {
    const auto it = texts_.find(name);
    return it == texts_.end() ? std::wstring() : it->second;
  }

 private:
  std::map<std::wstring, std::wstring> texts_;
};

// Serves the labels straight from configure/configure.xml (of the linked-in
// skin archive, or of any text), for runs without a window. Immutable once
// built; thread-safe.
class ProductLabelSource : public ILabelSource {
 public:
  explicit ProductLabelSource(ProductLabels labels) : labels_(std::move(labels)) {}
  // The labels of the linked-in skin archive.
  static ProductLabelSource fromSkinArchive() {
    return ProductLabelSource(ProductLabels::fromSkinArchive());
  }

  std::wstring getLabelText(const std::wstring& name) const override {
    return labels_.getText(name);
  }

 private:
  ProductLabels labels_;
};

}  // namespace config

#endif  // WEBSETUP_CONFIG_LABEL_SOURCE_H_
