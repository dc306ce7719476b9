#ifndef WEBSETUP_UIFRAMEWORK_LAYOUT_BUILDER_H_
#define WEBSETUP_UIFRAMEWORK_LAYOUT_BUILDER_H_

// CDialogBuilder: parses a layout file of the skin archive into a control
// tree. A <Window> root sets the window attributes, fonts and default
// attributes on the paint manager; <Include source="x.xml"/> inserts the
// controls of another layout file. Without a manager the tree is detached
// (the language files are read that way). One builder per parse.

#include <map>
#include <memory>
#include <string>

#include "uiframework/control.h"
#include "uiframework/skin_archive.h"

namespace tinyxml2 {
class XMLElement;
}

namespace ui {

class CPaintManagerUI;

class CDialogBuilder {
 public:
  // Parses `file` of `archive`. Returns the root control, or null with
  // *result set (kFileMissing, kBadXml, kUnknownTag naming file and line in
  // *error, kBadLayout for a layout without controls).
  std::unique_ptr<CControlUI> Create(const std::string& file, const SkinArchive& archive,
                                     CPaintManagerUI* manager, EnumUiResult* result,
                                     std::string* error = nullptr);
  // Parses `xml` as if it were the file `name` (includes still come from
  // `archive`).
  std::unique_ptr<CControlUI> CreateFromText(const std::string& xml, const std::string& name,
                                             const SkinArchive& archive, CPaintManagerUI* manager,
                                             EnumUiResult* result, std::string* error = nullptr);

 private:
  std::unique_ptr<CControlUI> ParseDocument(const std::string& xml, const std::string& name,
                                            int depth);
  // Builds the control of `element` (an Include gives the included root).
  std::unique_ptr<CControlUI> ParseElement(tinyxml2::XMLElement* element,
                                           const std::string& file, int depth);
  bool ParseChildren(tinyxml2::XMLElement* parent, CControlUI* into, const std::string& file,
                     int depth);
  void ParseWindow(tinyxml2::XMLElement* window);
  std::unique_ptr<CControlUI> CreateControl(const std::string& tag);
  void ApplyAttributes(CControlUI* control, tinyxml2::XMLElement* element);
  bool Fail(EnumUiResult code, const std::string& message);

  const SkinArchive* archive_ = nullptr;
  CPaintManagerUI* manager_ = nullptr;
  std::map<std::string, std::string> defaults_;  // lower-case class → attributes
  EnumUiResult result_ = EnumUiResult::kOk;
  std::string error_;
};

// Applies an attribute list such as `width="30" text="a b"` to `control`.
void ApplyAttributeList(CControlUI* control, const std::string& list);

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_LAYOUT_BUILDER_H_
