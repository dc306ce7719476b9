// skin-viewer: shows one layout of the skin archive, as the setup would.
//
//   skin-viewer [options] LAYOUT.xml
//     --archive PATH       read the skin from a zip file instead of the
//                          archive linked into this program
//     --headless           render in memory (no display needed)
//     --screenshot OUT.png write a screenshot, then exit
//     --language NAME      apply language/language_NAME.xml (english,
//                          chinese, ...) and its licence text
//     --tab NAME=N         select page N of tab layout NAME
//     --show NAME / --hide NAME
//     --height N           resize the window to N pixels high
//     --set NAME=TEXT      set the text of control NAME
//     --progress N         set every progress bar to N
//
// In a real window, clicks on tab-like controls are not wired to any logic;
// close the window with its close button or the window manager.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "uiframework/containers.h"
#include "uiframework/controls.h"
#include "uiframework/layout_builder.h"
#include "uiframework/window.h"

namespace {

struct Options {
  std::string archive;
  std::string layout;
  std::string screenshot;
  std::string language;
  bool headless = false;
  int height = 0;
  int progress = -1;
  std::vector<std::pair<std::string, int>> tabs;
  std::vector<std::string> show, hide;
  std::vector<std::pair<std::string, std::string>> texts;
};

class ViewerWindow : public ui::WindowImplBase {
 public:
  explicit ViewerWindow(std::string file) : file_(std::move(file)) {}
  std::string GetWindowClassName() const override { return "SKIN_VIEWER_Frame"; }
  std::string GetSkinFile() const override { return file_; }

 protected:
  void OnClick(ui::TNotifyUI& msg) override {
    const std::wstring& name = msg.pSender->GetName();
    std::printf("click %s\n", common::wideToUtf8(name).c_str());
    if (name == L"closebtn" || name == L"btn_yes" || name == L"btn_no") Close(0);
    if (name == L"minbtn" || name == L"install_minbtn") Minimize();
  }
  void OnLink(ui::TNotifyUI& msg) override {
    std::printf("link %s %zu\n", common::wideToUtf8(msg.pSender->GetName()).c_str(), msg.wParam);
  }
  void OnItemSelect(ui::TNotifyUI& msg) override {
    std::printf("itemselect %s %zu\n", common::wideToUtf8(msg.pSender->GetName()).c_str(),
                msg.wParam);
  }
  void OnFinalMessage(ui::WindowHandle) override { ui::MessageLoop::Get()->PostQuit(0); }

 private:
  std::string file_;
};

// Copies the texts of the language file onto the controls of the same names.
void applyLanguage(ViewerWindow* window, const std::string& language) {
  auto archive = window->GetPaintManager().GetArchive();
  if (archive == nullptr) return;
  ui::CDialogBuilder builder;
  ui::EnumUiResult result;
  auto root = builder.Create("language/language_" + language + ".xml", *archive, nullptr, &result);
  if (root == nullptr) {
    std::fprintf(stderr, "no language file for %s\n", language.c_str());
    return;
  }
  for (const wchar_t* page : {L"install_page", L"message_page"}) {
    auto* container =
        dynamic_cast<ui::CContainerUI*>(ui::CPaintManagerUI::FindSubControlByName(root.get(), page));
    for (int i = 0; container != nullptr && i < container->GetCount(); ++i) {
      ui::CControlUI* label = container->GetItemAt(i);
      ui::CControlUI* target = window->FindControl(label->GetName());
      if (target != nullptr) target->SetText(label->GetText());
    }
  }
  std::wstring licence = language == "chinese" ? L"license_chinese" : L"license_" +
                                                      common::utf8ToWide(language);
  ui::CControlUI* source = window->FindControl(licence);
  ui::CControlUI* text = window->FindControl(L"license_text");
  if (source != nullptr && text != nullptr) text->SetText(source->GetText());
}

void applyOptions(ViewerWindow* window, const Options& o) {
  if (!o.language.empty()) applyLanguage(window, o.language);
  for (const auto& [name, page] : o.tabs) {
    auto* tab = window->FindControl<ui::CTabLayoutUI>(common::utf8ToWide(name));
    if (tab != nullptr) tab->SelectItem(page);
  }
  for (const auto& name : o.show) {
    if (auto* c = window->FindControl(common::utf8ToWide(name))) c->SetVisible(true);
  }
  for (const auto& name : o.hide) {
    if (auto* c = window->FindControl(common::utf8ToWide(name))) c->SetVisible(false);
  }
  for (const auto& [name, text] : o.texts) {
    if (auto* c = window->FindControl(common::utf8ToWide(name))) c->SetText(common::utf8ToWide(text));
  }
  if (o.progress >= 0) {
    for (const wchar_t* name : {L"install_progress"}) {
      if (auto* p = window->FindControl<ui::CProgressUI>(name)) p->SetValue(o.progress);
    }
  }
  if (o.height > 0) window->ResizeClient(window->GetPaintManager().GetClientSize().cx, o.height);
}

bool parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    auto split = [](const std::string& s) {
      size_t eq = s.find('=');
      return eq == std::string::npos ? std::make_pair(s, std::string())
                                     : std::make_pair(s.substr(0, eq), s.substr(eq + 1));
    };
    if (a == "--archive") o->archive = next();
    else if (a == "--headless") o->headless = true;
    else if (a == "--screenshot") o->screenshot = next();
    else if (a == "--language") o->language = next();
    else if (a == "--height") o->height = std::atoi(next().c_str());
    else if (a == "--progress") o->progress = std::atoi(next().c_str());
    else if (a == "--show") o->show.push_back(next());
    else if (a == "--hide") o->hide.push_back(next());
    else if (a == "--tab") {
      auto [name, page] = split(next());
      o->tabs.emplace_back(name, std::atoi(page.c_str()));
    } else if (a == "--set") o->texts.push_back(split(next()));
    else if (!a.empty() && a[0] != '-') o->layout = a;
    else return false;
  }
  return !o->layout.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr, "usage: skin-viewer [--archive zip] [--headless] [--screenshot out.png] "
                         "[--language english] [--tab name=N] [--show name] [--hide name] "
                         "[--height N] [--set name=text] [--progress N] LAYOUT.xml\n");
    return 2;
  }
  if (!o.archive.empty()) {
    ui::EnumUiResult result;
    auto archive = ui::SkinArchive::FromFile(o.archive, &result);
    if (archive == nullptr) {
      std::fprintf(stderr, "cannot open %s\n", o.archive.c_str());
      return 1;
    }
    ui::SetSkinArchiveOverride(archive);
  }
  if (o.headless) ui::SetHostKind(ui::HostKind::kHeadless);
  auto* window = new ViewerWindow(o.layout);
  if (!window->Create(0, L"skin-viewer", 0, 0, 600, 400) || !window->GetLoadError().empty()) {
    std::fprintf(stderr, "cannot load %s: %s\n", o.layout.c_str(), window->GetLoadError().c_str());
    return 1;
  }
  applyOptions(window, o);
  window->CenterWindow();
  window->ShowWindow(true);
  bool headless = window->GetHost()->IsHeadless();
  if (!o.screenshot.empty()) {
    // In a real window let the window manager map it before the picture.
    if (!headless) {
      window->SetTimer(1, 600);
      auto* loop = ui::MessageLoop::Get();
      auto start = std::chrono::steady_clock::now();
      loop->RunUntil([&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(600); });
    }
    bool ok = window->SaveScreenshot(o.screenshot);
    std::printf("%s %s\n", ok ? "wrote" : "cannot write", o.screenshot.c_str());
    return ok ? 0 : 1;
  }
  if (headless) {
    std::fprintf(stderr, "no display: use --screenshot with --headless\n");
    return 1;
  }
  return ui::MessageLoop::Get()->Run();
}
