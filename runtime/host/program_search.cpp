// program_search.cpp - finding program files in the current directory and along SET PATH.
//
// The SET PATH list belongs to the shared Runtime, and language threads search it while another
// thread may run SET PATH: it is guarded by a read-write lock. A search copies the list under the
// lock and probes the file system without holding it.
#include "host/program_search.h"

#include <mutex>
#include <shared_mutex>
#include <system_error>

#include "platform/file.h"
#include "host/runtime.h"

namespace qzbase {

namespace {

std::filesystem::path current_directory() {
  std::error_code ec;
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  // Without a current directory a relative candidate is left relative; opening it then fails.
  return ec ? std::filesystem::path() : cwd;
}

// The candidates in search order: the current directory, then each entry (a relative entry
// joined to the current directory now, not when it was added).
std::vector<std::filesystem::path> candidates(const Runtime* runtime, const std::filesystem::path& name) {
  std::filesystem::path cwd = current_directory();
  std::vector<std::filesystem::path> entries = search_path_entries(runtime);
  std::vector<std::filesystem::path> out;
  out.reserve(entries.size() + 1);
  out.push_back(cwd / name);
  for (const std::filesystem::path& entry : entries) {
    out.push_back(entry.has_root_directory() ? entry / name : cwd / entry / name);
  }
  return out;
}

}  // namespace

std::vector<std::filesystem::path> search_path_entries(const Runtime* runtime) {
  QZ_TRACE;
  std::shared_lock lock(runtime->priv->search_path_lock);
  return runtime->priv->search_path;
}

bool Runtime::find_file(std::filesystem::path name, std::filesystem::path& found, bool stem_ci, bool extension_ci) {
  QZ_TRACE;
  for (const std::filesystem::path& probe : candidates(this, name)) {
    std::error_code error;
    std::filesystem::path match;
    if (!exists_ci(probe, stem_ci, extension_ci, error, match) || error) continue;
    std::filesystem::path canonical = std::filesystem::canonical(match, error);
    if (error) continue;  // gone or unreadable since the probe: try the next candidate
    found = canonical;
    return true;
  }
  return false;
}

bool Runtime::find_library(std::filesystem::path name, std::filesystem::path& found) {
  QZ_TRACE;
  for (const std::filesystem::path& probe : candidates(this, name)) {
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(probe, error);
    if (status.type() == std::filesystem::file_type::not_found || status.type() == std::filesystem::file_type::none) {
      continue;
    }
    found = probe;
    return true;
  }
  return false;
}

void Runtime::set_path_to(String dir, bool additive) {
  QZ_TRACE;
  // The name is made before the list changes, so a name that cannot be converted changes nothing.
  try {
    dir.convert(Charset::utf8, CON_NONE, 1);
  } catch (const cstran_chars_lost&) {
    throw RuntimeError(202, dir);
  } catch (const string_buffer_invalid_exception&) {
    throw RuntimeError(202, dir);
  }
  std::filesystem::path entry(std::string(dir.read(), dir.size()));
  if (!entry.has_filename()) entry = entry.parent_path();

  std::unique_lock lock(priv->search_path_lock);
  if (!additive) priv->search_path.clear();
  for (const std::filesystem::path& existing : priv->search_path) {
    if (existing.compare(entry) == 0) return;
  }
  priv->search_path.push_back(std::move(entry));
}

void Runtime::set_path_to_null() {
  QZ_TRACE;
  std::unique_lock lock(priv->search_path_lock);
  priv->search_path.clear();
}

std::vector<String> Runtime::path_entries() const {
  QZ_TRACE;
  std::shared_lock lock(priv->search_path_lock);
  std::vector<String> out;
  out.reserve(priv->search_path.size());
  for (const std::filesystem::path& entry : priv->search_path) out.emplace_back(entry);
  return out;
}

bool FindFile(Runtime* runtime, const String& name, String& found, bool stem_ci, bool extension_ci) {
  QZ_TRACE;
  std::filesystem::path path;
  if (!runtime->find_file(static_cast<std::filesystem::path>(name), path, stem_ci, extension_ci)) return false;
  found = String(path);
  return true;
}

}  // namespace qzbase
