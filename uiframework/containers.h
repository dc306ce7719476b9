#ifndef WEBSETUP_UIFRAMEWORK_CONTAINERS_H_
#define WEBSETUP_UIFRAMEWORK_CONTAINERS_H_

// Controls that hold controls: the plain container, vertical and horizontal
// layouts (optionally scrollable) and the tab layout, which shows one child
// at a time. A container owns its children. Window's thread only.

#include <memory>
#include <vector>

#include "uiframework/control.h"

namespace ui {

class CContainerUI : public CControlUI {
 public:
  std::string_view GetClass() const override { return "Container"; }

  int GetCount() const { return static_cast<int>(items_.size()); }
  CControlUI* GetItemAt(int index) const;
  int GetItemIndex(const CControlUI* control) const;
  // Appends `control`, taking ownership.
  void Add(std::unique_ptr<CControlUI> control);

  void SetAttribute(std::string_view name, std::string_view value) override;
  void SetManager(CPaintManagerUI* manager, CContainerUI* parent) override;
  void SetPos(const UiRect& rect) override;
  void DoPaint(cairo_t* cr) override;
  CControlUI* FindControlAt(int x, int y) override;
  void OnMouse(MouseEvent event, int x, int y, int wheel) override;

  // Whether `child` is shown by this container (tab layouts show one).
  virtual bool IsChildShown(const CControlUI* child) const;

  int GetScrollPos() const { return scroll_; }
  void SetScrollPos(int pos);
  int GetScrollRange() const { return scroll_range_; }

 protected:
  // Places float children relative to this container.
  void PlaceFloat(CControlUI* child);
  // Lays out the non-float children in a column (vertical) or a row.
  void LayoutLinear(bool vertical);
  UiRect Inner() const;

  std::vector<std::unique_ptr<CControlUI>> items_;
  UiRect inset_;
  int childpadding_ = 0;
  bool vscroll_ = false;
  int scroll_ = 0;
  int scroll_range_ = 0;
};

class CVerticalLayoutUI : public CContainerUI {
 public:
  std::string_view GetClass() const override { return "VerticalLayout"; }
  void SetPos(const UiRect& rect) override;
};

class CHorizontalLayoutUI : public CContainerUI {
 public:
  std::string_view GetClass() const override { return "HorizontalLayout"; }
  void SetPos(const UiRect& rect) override;
};

class CTabLayoutUI : public CContainerUI {
 public:
  std::string_view GetClass() const override { return "TabLayout"; }
  int GetCurSel() const { return cur_sel_; }
  // Shows page `index`. Returns false when there is no such page.
  bool SelectItem(int index);
  void SetAttribute(std::string_view name, std::string_view value) override;
  bool IsChildShown(const CControlUI* child) const override;
  void SetPos(const UiRect& rect) override;

 private:
  int cur_sel_ = 0;
};

}  // namespace ui

#endif  // WEBSETUP_UIFRAMEWORK_CONTAINERS_H_
