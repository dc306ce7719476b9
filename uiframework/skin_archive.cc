#include "uiframework/skin_archive.h"

namespace ui {

std::shared_ptr<SkinArchive> SkinArchive::Wrap(std::shared_ptr<websetup_zip::ZipArchive> zip,
                                               EnumUiResult* result) {
  if (zip == nullptr) {
    *result = EnumUiResult::kNoArchive;
    return nullptr;
  }
  *result = EnumUiResult::kOk;
  return std::shared_ptr<SkinArchive>(new SkinArchive(std::move(zip)));
}

std::shared_ptr<SkinArchive> SkinArchive::FromResource(const std::string& type, int id,
                                                       EnumUiResult* result) {
  if (type == websetup_zip::kSkinResourceType && id == websetup_zip::kSkinResourceId) {
    return Wrap(websetup_zip::LinkedSkinArchive(), result);
  }
  return Wrap(websetup_zip::ZipArchive::fromResource(type, id), result);
}

std::shared_ptr<SkinArchive> SkinArchive::FromBytes(std::string bytes, EnumUiResult* result) {
  return Wrap(websetup_zip::ZipArchive::fromBytes(std::move(bytes)), result);
}

std::shared_ptr<SkinArchive> SkinArchive::FromFile(const std::string& path, EnumUiResult* result) {
  return Wrap(websetup_zip::ZipArchive::fromFile(path), result);
}

}  // namespace ui
