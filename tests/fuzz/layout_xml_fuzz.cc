// Layout and language XML of the skin archive. The first byte picks the
// mode: a window layout onto a paint manager (fonts, defaults, window
// attributes), or a detached tree as the language files are read. Includes
// come from an archive of the project's own layouts plus one that includes
// itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "uiframework/layout_builder.h"
#include "uiframework/paint_manager.h"
#include "uiframework/skin_archive.h"
#include "zip/zip_writer.h"

namespace {

std::shared_ptr<ui::SkinArchive> g_archive;

std::shared_ptr<ui::SkinArchive> makeArchive() {
  const std::string dir = fuzz::scratchDir();
  const std::string loop = dir + "/loop.xml";
  const std::string text = "<VerticalLayout><Include source=\"loop.xml\"/></VerticalLayout>";
  if (!fuzz::writeBytes(loop, reinterpret_cast<const uint8_t*>(text.data()), text.size())) abort();
  auto zip = websetup_zip::ZipWriter::create(dir + "/skin.zip");
  if (!zip) abort();
  (void)zip->addFile(L"loop.xml", loop);
  for (const auto& e : std::filesystem::directory_iterator(WEBSETUP_SOURCE_DIR "/skin_archive")) {
    if (e.path().extension() != ".xml") continue;
    const std::string name = e.path().filename().string();
    (void)zip->addFile(std::wstring(name.begin(), name.end()), e.path().string());
  }
  if (zip->close() != websetup_zip::EnumZipResult::kOk) abort();
  ui::EnumUiResult result;
  auto archive = ui::SkinArchive::FromFile(dir + "/skin.zip", &result);
  if (!archive) abort();
  return archive;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietLogs();
  g_archive = makeArchive();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string xml(reinterpret_cast<const char*>(data) + 1, size - 1);
  ui::EnumUiResult result = ui::EnumUiResult::kOk;
  std::string error;
  ui::CDialogBuilder builder;
  if (data[0] & 1) {
    ui::CPaintManagerUI manager;
    manager.SetArchive(g_archive);
    auto root = builder.CreateFromText(xml, "fuzz.xml", *g_archive, &manager, &result, &error);
  } else {
    auto root = builder.CreateFromText(xml, "language_fuzz.xml", *g_archive, nullptr, &result, &error);
  }
  return 0;
}
