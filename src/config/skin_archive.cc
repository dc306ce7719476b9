#include "config/skin_archive.h"

#include <zip.h>

#include "platform/resources.h"

namespace config {

namespace {

bool readFromBuffer(const void* data, size_t size, const std::string& name, std::string* out) {
  out->clear();
  if (data == nullptr || size == 0) return false;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
  if (source == nullptr) {
    zip_error_fini(&error);
    return false;
  }
  zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  zip_error_fini(&error);
  if (archive == nullptr) {
    zip_source_free(source);
    return false;
  }
  bool ok = false;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat(archive, name.c_str(), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
    if (zip_file_t* file = zip_fopen(archive, name.c_str(), 0)) {
      out->resize(st.size);
      ok = zip_fread(file, out->data(), st.size) == static_cast<zip_int64_t>(st.size);
      zip_fclose(file);
    }
  }
  zip_discard(archive);  // also frees the source
  if (!ok) out->clear();
  return ok;
}

}  // namespace

bool ReadSkinFile(const std::string& nameInArchive, std::string* out) {
  platform::Resource res;
  if (!platform::findResource(kSkinResourceType, kSkinResourceId, &res)) {
    out->clear();
    return false;
  }
  return readFromBuffer(res.data, res.size, nameInArchive, out);
}

bool ReadZipFile(const std::string& zipBytes, const std::string& nameInArchive, std::string* out) {
  return readFromBuffer(zipBytes.data(), zipBytes.size(), nameInArchive, out);
}

}  // namespace config
