#include "zip/zip_archive.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "common/log.h"
#include "platform/resources.h"

namespace websetup_zip {
namespace {

std::string normalise(const std::string& name) {
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  while (n.starts_with("./")) n.erase(0, 2);
  while (n.starts_with("/")) n.erase(0, 1);
  return n;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::shared_ptr<ZipArchive> ZipArchive::fromResource(const std::string& type, int id) {
  platform::Resource res;
  if (!platform::findResource(type, id, &res) || res.size == 0) {
    LOG(INFO) << " skin: no resource " << type << " " << id;
    return nullptr;
  }
  // A resource lives as long as the program: the archive reads it in
  // place instead of copying half a megabyte to the heap.
  std::shared_ptr<ZipArchive> archive(new ZipArchive());
  return archive->open(res.data, res.size) ? archive : nullptr;
}

std::shared_ptr<ZipArchive> ZipArchive::fromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  std::ostringstream ss;
  ss << in.rdbuf();
  return fromBytes(ss.str());
}

std::shared_ptr<ZipArchive> ZipArchive::fromBytes(std::string bytes) {
  std::shared_ptr<ZipArchive> archive(new ZipArchive());
  archive->bytes_ = std::move(bytes);
  return archive->open(archive->bytes_.data(), archive->bytes_.size()) ? archive : nullptr;
}

bool ZipArchive::open(const void* data, size_t size) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_buffer_create(data, size, 0, &error);
  zip_t* z = src == nullptr ? nullptr : zip_open_from_source(src, ZIP_RDONLY, &error);
  if (z == nullptr) {
    LOG(INFO) << " skin: not a zip archive: " << zip_error_strerror(&error);
    if (src != nullptr) zip_source_free(src);
    zip_error_fini(&error);
    return false;
  }
  zip_error_fini(&error);
  zip_ = z;
  return true;
}

ZipArchive::~ZipArchive() {
  if (zip_ != nullptr) zip_discard(static_cast<zip_t*>(zip_));
}

long long ZipArchive::find(const std::string& name) const {
  zip_t* z = static_cast<zip_t*>(zip_);
  std::string n = normalise(name);
  zip_int64_t index = zip_name_locate(z, n.c_str(), ZIP_FL_ENC_GUESS);
  if (index >= 0) return index;
  index = zip_name_locate(z, n.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_GUESS);
  if (index >= 0) return index;
  // Archives written on Windows may hold `\` in their names.
  std::string wanted = lower(n);
  zip_int64_t count = zip_get_num_entries(z, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* entry = zip_get_name(z, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (entry != nullptr && lower(normalise(entry)) == wanted) return i;
  }
  return -1;
}

bool ZipArchive::contains(const std::string& name) const {
  common::MutexLock lock(&mu_);
  return find(name) >= 0;
}

bool ZipArchive::read(const std::string& name, std::string* out) const {
  out->clear();
  common::MutexLock lock(&mu_);
  long long index = find(name);
  if (index < 0) return false;
  zip_t* z = static_cast<zip_t*>(zip_);
  zip_stat_t st;
  if (zip_stat_index(z, static_cast<zip_uint64_t>(index), 0, &st) != 0) return false;
  zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(index), 0);
  if (f == nullptr) return false;
  out->resize(st.size);
  zip_int64_t n = st.size == 0 ? 0 : zip_fread(f, out->data(), st.size);
  zip_fclose(f);
  if (n != static_cast<zip_int64_t>(st.size)) {
    out->clear();
    return false;
  }
  return true;
}

std::shared_ptr<ZipArchive> LinkedSkinArchive() {
  static const std::shared_ptr<ZipArchive> archive =
      ZipArchive::fromResource(kSkinResourceType, kSkinResourceId);
  return archive;
}

}  // namespace websetup_zip
