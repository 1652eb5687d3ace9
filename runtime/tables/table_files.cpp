// table_files.cpp - DROP TABLE and RENAME TABLE.
//
// Both act on the table as a whole: every file is opened exclusively (and, for a rename, every
// target checked) before the first one is touched, so a memo file in use elsewhere cannot leave
// half a table behind, and a rename onto an existing table changes nothing.
#include "tables/table_files.h"

#include <atomic>
#include <memory>
#include <system_error>

#include "platform/file.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

namespace fs = std::filesystem;

// The exclusive opens that hold the files while they are dropped or moved.
class HeldFiles {
 public:
  HeldFiles() = default;
  HeldFiles(const HeldFiles&) = delete;
  HeldFiles& operator=(const HeldFiles&) = delete;
  ~HeldFiles() {
    for (auto& f : files_) {
      try {
        f->close();
      } catch (...) {  // closing a file we only locked: nothing to lose
      }
    }
  }

  // 1705 when the file is in use elsewhere, 1 for any other file error.
  void hold(const fs::path& path) {
    try {
      files_.emplace_back(open_file(String(path), OPEN_WRITE));
    } catch (const file_sharing_violation&) {
      throw RuntimeError(1705);
    } catch (const file_error&) {
      throw RuntimeError(1);
    }
  }

 private:
  std::vector<std::unique_ptr<File>> files_;
};

Runtime* runtime_of(VmStack* stack) {
  Runtime* runtime = stack != nullptr ? stack->get_runtime() : nullptr;
  QZ_ASSERT(runtime != nullptr);
  return runtime;
}

bool is_dbf_extension(const fs::path& path) {
  std::string ext = path.extension().string();
  if (ext.size() != 4) return false;
  for (size_t i = 1; i < 4; ++i) ext[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(ext[i])));
  return ext == ".dbf";
}

}  // namespace

std::vector<fs::path> table_file_set(Runtime* runtime, const String& name) {
  QZ_TRACE;
  fs::path wanted = static_cast<fs::path>(name);
  if (!wanted.has_extension()) wanted += ".dbf";
  fs::path found;
  if (!runtime->find_file(wanted, found, false, false)) throw RuntimeError(1, name);
  if (!is_dbf_extension(found)) throw RuntimeError(11);
  std::vector<fs::path> files{found};
  for (const char* ext : {".fpt", ".cdx"}) {
    fs::path companion = found;
    companion.replace_extension(ext);
    std::error_code error;
    fs::path match;
    if (exists_ci(companion, false, true, error, match)) files.push_back(match);
  }
  return files;
}

void drop_table(VmStack* stack, const String& name) {
  QZ_TRACE;
  std::vector<fs::path> files = table_file_set(runtime_of(stack), name);
  HeldFiles held;
  for (const fs::path& f : files) held.hold(f);
  for (const fs::path& f : files) {
    std::error_code error;
    fs::remove(f, error);
    if (error) throw RuntimeError(1705);
  }
}

namespace {
std::atomic<rename_table_fault_hook> rename_fault_hook{nullptr};
}  // namespace

void set_rename_table_fault_hook(rename_table_fault_hook hook) { rename_fault_hook.store(hook, std::memory_order_release); }

void rename_table(VmStack* stack, const String& from, const String& to) {
  QZ_TRACE;
  std::vector<fs::path> files = table_file_set(runtime_of(stack), from);
  HeldFiles held;
  for (const fs::path& f : files) held.hold(f);
  fs::path base = static_cast<fs::path>(to);
  std::vector<fs::path> targets;
  for (const fs::path& f : files) {
    fs::path target = base;
    target.replace_extension(f.extension());
    std::error_code error;
    const fs::file_status status = fs::symlink_status(target, error);
    if (fs::exists(status)) throw RuntimeError(7, String(target));
    if (error && error != std::errc::no_such_file_or_directory) throw RuntimeError(1705);
    targets.push_back(std::move(target));
  }
  for (size_t i = 0; i < files.size(); ++i) {
    std::error_code error;
    const rename_table_fault_hook hook = rename_fault_hook.load(std::memory_order_acquire);
    if (hook != nullptr && hook(i)) {
      error = std::make_error_code(std::errc::io_error);
    } else {
      fs::rename(files[i], targets[i], error);
    }
    if (!error) continue;
    // Put back what was moved, newest first, so the table stays whole under its old name.
    while (i-- > 0) {
      std::error_code ignored;
      fs::rename(targets[i], files[i], ignored);
    }
    throw RuntimeError(1705);
  }
}

}  // namespace qzbase
