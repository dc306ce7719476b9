#include "uiframework/layout_builder.h"

#include <tinyxml2.h>

#include <cctype>

#include "common/log.h"
#include "common/text.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/paint_manager.h"

namespace ui {

namespace {

constexpr int kMaxIncludeDepth = 8;

std::string lower(const std::string& s) {
  std::string out;
  for (char c : s) out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

}  // namespace

void ApplyAttributeList(CControlUI* control, const std::string& list) {
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && std::isspace(static_cast<unsigned char>(list[i]))) ++i;
    size_t eq = list.find('=', i);
    if (eq == std::string::npos) break;
    std::string name = list.substr(i, eq - i);
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    size_t open = list.find_first_of("\"'", eq);
    if (open == std::string::npos) break;
    size_t close = list.find(list[open], open + 1);
    if (close == std::string::npos) break;
    control->SetAttribute(name, list.substr(open + 1, close - open - 1));
    i = close + 1;
  }
}

std::unique_ptr<CControlUI> CDialogBuilder::Create(const std::string& file,
                                                   const SkinArchive& archive,
                                                   CPaintManagerUI* manager, EnumUiResult* result,
                                                   std::string* error) {
  std::string xml;
  if (!archive.Read(file, &xml)) {
    *result = EnumUiResult::kFileMissing;
    if (error != nullptr) *error = "no layout " + file + " in the skin archive";
    return nullptr;
  }
  return CreateFromText(xml, file, archive, manager, result, error);
}

std::unique_ptr<CControlUI> CDialogBuilder::CreateFromText(const std::string& xml,
                                                           const std::string& name,
                                                           const SkinArchive& archive,
                                                           CPaintManagerUI* manager,
                                                           EnumUiResult* result,
                                                           std::string* error) {
  archive_ = &archive;
  manager_ = manager;
  result_ = EnumUiResult::kOk;
  error_.clear();
  std::unique_ptr<CControlUI> root = ParseDocument(xml, name, 0);
  if (root == nullptr && result_ == EnumUiResult::kOk) {
    Fail(EnumUiResult::kBadLayout, name + ": no control in the layout");
  }
  if (result_ != EnumUiResult::kOk) {
    LOG(INFO) << " layout: " << error_;
    root.reset();
  }
  *result = result_;
  if (error != nullptr) *error = error_;
  return root;
}

bool CDialogBuilder::Fail(EnumUiResult code, const std::string& message) {
  if (result_ == EnumUiResult::kOk) {
    result_ = code;
    error_ = message;
  }
  return false;
}

std::unique_ptr<CControlUI> CDialogBuilder::ParseDocument(const std::string& xml,
                                                          const std::string& name, int depth) {
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.data(), xml.size()) != tinyxml2::XML_SUCCESS) {
    Fail(EnumUiResult::kBadXml, name + ":" + std::to_string(doc.ErrorLineNum()) + ": " +
                                    (doc.ErrorStr() != nullptr ? doc.ErrorStr() : "bad XML"));
    return nullptr;
  }
  tinyxml2::XMLElement* root = doc.RootElement();
  if (root == nullptr) return nullptr;
  if (lower(root->Name()) != "window") return ParseElement(root, name, depth);
  // A <Window> root carries window attributes; its first control is the tree.
  ParseWindow(root);
  for (auto* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
    std::string tag = lower(e->Name());
    if (tag == "font" || tag == "default" || tag == "image") continue;
    return ParseElement(e, name, depth);
  }
  return nullptr;
}

void CDialogBuilder::ParseWindow(tinyxml2::XMLElement* window) {
  for (auto* e = window->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
    std::string tag = lower(e->Name());
    if (tag == "font") {
      FontSpec font;
      font.family = e->Attribute("name") != nullptr ? e->Attribute("name") : "Noto Sans";
      font.size_px = e->IntAttribute("size", 12);
      font.bold = e->Attribute("bold") != nullptr && parseBool(e->Attribute("bold"));
      font.italic = e->Attribute("italic") != nullptr && parseBool(e->Attribute("italic"));
      font.underline = e->Attribute("underline") != nullptr && parseBool(e->Attribute("underline"));
      int id = e->IntAttribute("id", -1);
      if (manager_ != nullptr && id >= 0) {
        manager_->SetFont(id, font);
        if (e->Attribute("default") != nullptr && parseBool(e->Attribute("default"))) {
          manager_->SetDefaultFont(id);
        }
      }
    } else if (tag == "default") {
      const char* cls = e->Attribute("name");
      const char* value = e->Attribute("value");
      if (cls != nullptr && value != nullptr) {
        defaults_[lower(cls)] = value;
        if (manager_ != nullptr) manager_->AddDefaultAttributes(cls, value);
      }
    }
  }
  if (manager_ == nullptr) return;
  for (const tinyxml2::XMLAttribute* a = window->FirstAttribute(); a != nullptr; a = a->Next()) {
    std::string n = a->Name();
    UiSize size;
    UiRect rect;
    UiColor color;
    if (n == "size" && parseSize(a->Value(), &size)) {
      manager_->SetInitSize(size);
    } else if (n == "caption" && parseRect(a->Value(), &rect)) {
      manager_->SetCaptionRect(rect);
    } else if (n == "roundcorner" && parseSize(a->Value(), &size)) {
      manager_->SetRoundCorner(size.cx);
    } else if (n == "bktrans") {
      manager_->SetTransparent(parseBool(a->Value()));
    } else if (n == "linkcolor" && parseColor(a->Value(), &color)) {
      manager_->SetLinkColors(color, manager_->GetLinkHoverColor());
    } else if (n == "linkhovercolor" && parseColor(a->Value(), &color)) {
      manager_->SetLinkColors(manager_->GetLinkColor(), color);
    } else if (n == "defaultfontcolor" && parseColor(a->Value(), &color)) {
      manager_->SetDefaultTextColor(color);
    }
  }
}

std::unique_ptr<CControlUI> CDialogBuilder::CreateControl(const std::string& tag) {
  std::string t = lower(tag);
  if (t == "control") return std::make_unique<CControlUI>();
  if (t == "container") return std::make_unique<CContainerUI>();
  if (t == "verticallayout") return std::make_unique<CVerticalLayoutUI>();
  if (t == "horizontallayout") return std::make_unique<CHorizontalLayoutUI>();
  if (t == "tablayout") return std::make_unique<CTabLayoutUI>();
  if (t == "label") return std::make_unique<CLabelUI>();
  if (t == "text") return std::make_unique<CTextUI>();
  if (t == "button") return std::make_unique<CButtonUI>();
  if (t == "option") return std::make_unique<COptionUI>();
  if (t == "checkbox") return std::make_unique<CCheckBoxUI>();
  if (t == "progress") return std::make_unique<CProgressUI>();
  if (t == "combo") return std::make_unique<CComboUI>();
  if (t == "listlabelelement") return std::make_unique<CListLabelElementUI>();
  if (t == "edit") return std::make_unique<CEditUI>();
  if (t == "richedit") return std::make_unique<CRichEditUI>();
  return nullptr;
}

void CDialogBuilder::ApplyAttributes(CControlUI* control, tinyxml2::XMLElement* element) {
  auto it = defaults_.find(lower(std::string(control->GetClass())));
  if (it != defaults_.end()) {
    ApplyAttributeList(control, it->second);
  } else if (manager_ != nullptr) {
    const std::string* list = manager_->GetDefaultAttributes(std::string(control->GetClass()));
    if (list != nullptr) ApplyAttributeList(control, *list);
  }
  for (const tinyxml2::XMLAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
    control->SetAttribute(a->Name(), a->Value());
  }
}

std::unique_ptr<CControlUI> CDialogBuilder::ParseElement(tinyxml2::XMLElement* element,
                                                         const std::string& file, int depth) {
  std::string tag = element->Name();
  if (lower(tag) == "include") {
    const char* source = element->Attribute("source");
    std::string xml;
    if (source == nullptr || depth >= kMaxIncludeDepth || !archive_->Read(source, &xml)) {
      Fail(EnumUiResult::kFileMissing,
           file + ":" + std::to_string(element->GetLineNum()) + ": cannot include " +
               (source != nullptr ? source : "(no source)"));
      return nullptr;
    }
    return ParseDocument(xml, source, depth + 1);
  }
  std::unique_ptr<CControlUI> control = CreateControl(tag);
  if (control == nullptr) {
    Fail(EnumUiResult::kUnknownTag,
         file + ":" + std::to_string(element->GetLineNum()) + ": unknown element <" + tag + ">");
    return nullptr;
  }
  ApplyAttributes(control.get(), element);
  if (element->FirstChildElement() != nullptr &&
      !ParseChildren(element, control.get(), file, depth)) {
    return nullptr;
  }
  return control;
}

bool CDialogBuilder::ParseChildren(tinyxml2::XMLElement* parent, CControlUI* into,
                                   const std::string& file, int depth) {
  auto* container = dynamic_cast<CContainerUI*>(into);
  if (container == nullptr) {
    return Fail(EnumUiResult::kBadLayout, file + ":" + std::to_string(parent->GetLineNum()) +
                                              ": <" + parent->Name() + "> cannot hold controls");
  }
  for (auto* e = parent->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
    std::unique_ptr<CControlUI> child = ParseElement(e, file, depth);
    if (child == nullptr) {
      if (result_ == EnumUiResult::kOk) continue;  // an included file without controls
      return false;
    }
    container->Add(std::move(child));
  }
  return true;
}

}  // namespace ui
