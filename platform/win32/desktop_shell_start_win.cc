// The desktop's shell starts the program for us. An elevated process
// cannot simply lower the token its children get, but Explorer already
// runs with the person's own token, at the person's integrity level; a
// program the desktop window's Shell object starts is Explorer's child and
// gets that token, as if the person had double-clicked it.
//
// The calls cross into the Explorer process, so a hung Explorer would hold
// them; nothing here bounds that wait, since a second start after a late
// answer would run the product twice.

#include "platform/win32/desktop_shell_start_win.h"

#include <objbase.h>
#include <windows.h>
// After windows.h, whose types they use; shellapi.h first, so that the
// ShellExecute method of IShellDispatch2 is named as the calls below name it.
#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <memory>

namespace platform::win {
namespace {

using Microsoft::WRL::ComPtr;

// A VARIANT that frees what it holds.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  // Holds a copy of `text`. False when it could not be allocated.
  bool setText(const std::wstring& text) {
    VariantClear(&v_);
    v_.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (v_.bstrVal == nullptr) return false;
    v_.vt = VT_BSTR;
    return true;
  }
  void setInt(LONG value) {
    VariantClear(&v_);
    v_.vt = VT_I4;
    v_.lVal = value;
  }
  VARIANT* get() { return &v_; }
  const VARIANT& value() const { return v_; }

 private:
  VARIANT v_;
};

struct BstrFree {
  void operator()(BSTR text) const { SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

// The folder view of the desktop window, which Explorer shows.
HRESULT desktopFolderView(ComPtr<IShellFolderViewDual>* out, const char** step) {
  ComPtr<IShellWindows> windows;
  *step = "CoCreateInstance(ShellWindows)";
  HRESULT hr =
      CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows));
  if (FAILED(hr)) return hr;
  // The desktop is named by its folder id; the root must be empty.
  Variant location, root;
  location.setInt(CSIDL_DESKTOP);
  long window = 0;
  ComPtr<IDispatch> desktop;
  *step = "FindWindowSW";
  hr = windows->FindWindowSW(location.get(), root.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                             &desktop);
  // S_FALSE: the collection holds no desktop window.
  if (hr != S_OK || !desktop) return FAILED(hr) ? hr : E_FAIL;
  ComPtr<IServiceProvider> services;
  *step = "IServiceProvider";
  if (FAILED(hr = desktop.As(&services))) return hr;
  ComPtr<IShellBrowser> browser;
  *step = "QueryService(STopLevelBrowser)";
  if (FAILED(hr = services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser)))) return hr;
  ComPtr<IShellView> view;
  *step = "QueryActiveShellView";
  if (FAILED(hr = browser->QueryActiveShellView(&view))) return hr;
  ComPtr<IDispatch> background;
  *step = "GetItemObject(SVGIO_BACKGROUND)";
  if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background)))) return hr;
  *step = "IShellFolderViewDual";
  return background.As(out);
}

// Everything COM hands out is released before the caller leaves COM.
HRESULT openWithDesktopShell(const std::wstring& program, const std::wstring& arguments,
                             const std::wstring& folder, const char** step) {
  ComPtr<IShellFolderViewDual> view;
  HRESULT hr = desktopFolderView(&view, step);
  if (FAILED(hr)) return hr;
  ComPtr<IDispatch> application;
  *step = "get_Application";
  if (FAILED(hr = view->get_Application(&application))) return hr;
  ComPtr<IShellDispatch2> shell;
  *step = "IShellDispatch2";
  if (FAILED(hr = application.As(&shell))) return hr;

  *step = "ShellExecute";
  UniqueBstr file(SysAllocStringLen(program.data(), static_cast<UINT>(program.size())));
  Variant args, dir, verb, show;
  if (!file || !args.setText(arguments) || !dir.setText(folder) || !verb.setText(L"open")) {
    return E_OUTOFMEMORY;
  }
  show.setInt(SW_SHOWNORMAL);
  return shell->ShellExecute(file.get(), args.value(), dir.value(), verb.value(), show.value());
}

}  // namespace

bool startThroughDesktopShell(const std::wstring& program, const std::wstring& arguments,
                              const std::wstring& folder, DesktopShellFailure* failure) {
  // The shell's objects want a single-threaded apartment, as the folder
  // picker's and "show in folder"'s do. A thread already in the
  // multithreaded one keeps it: the calls go to another process, which COM
  // marshals from either kind.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (FAILED(com) && com != RPC_E_CHANGED_MODE) {
    *failure = {"CoInitializeEx", com};
    return false;
  }
  const char* step = "";
  const HRESULT hr = openWithDesktopShell(program, arguments, folder, &step);
  if (SUCCEEDED(com)) CoUninitialize();
  if (FAILED(hr)) {
    *failure = {step, hr};
    return false;
  }
  return true;
}

}  // namespace platform::win
