// table_rebuild.cpp - Table_Object_QzDbf: ADD and DROP COLUMN, PACK, ZAP, REINDEX and COPY TO.
//
// A table's file is never changed in place when its structure or its record set changes: a new
// file is built beside it under a fresh name (records copied field by field, deleted ones left
// out, tags re-created), and then takes the old file's place while the table object stays open
// in its work area. Until the new file is in place the old one is untouched, and every file the
// operation made is removed again when it fails.
//
// Faults mended (each tested):
// - Renaming the new files over the old ones left the table without a usable file when the
//   re-open failed. The old files now step aside under a fresh name while the old DbfFile stays
//   open on them; only once the new file is open and installed are they closed and removed, and
//   on any failure they are renamed back and the table goes on with them.
// - COPY TO removed an existing target before it started, so onto the table's own name it
//   unlinked the source and emptied the memo and index files it was reading, and a failed copy
//   lost the old target. A target that is the table itself or a file open in the session raises
//   3 with nothing touched; the copy is built under a fresh name in the target's directory and
//   renamed over the target only when it is complete.
// - REINDEX left the last tag it re-created as the order and the table at its end: the order and
//   the record from before come back.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/tempname.h"
#include "tables/data_session.h"
#include "tables/dbf_file.h"
#include "tables/table_dbf.h"
#include "values/session_settings.h"
#include "vm/program.h"
#include "vm/symtable.h"
#include "vm/vm_op.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace fs = std::filesystem;

namespace {

std::atomic<Table_Object_QzDbf::rebuild_fault_hook> fault_hook{nullptr};

void fault_point(const char* stage) {
  if (Table_Object_QzDbf::rebuild_fault_hook hook = fault_hook.load(std::memory_order_acquire)) hook(stage);
}

String utf8_of(const fs::path& p) {
  const std::string& s = p.native();
  return String(s.data(), s.size(), Charset::utf8);
}

fs::path path_of(const String& name) { return fs::path(name.u8str()); }

// The three files of a table: the table file, its memo file and its structural index.
constexpr const char* kCompanions[] = {nullptr, ".fpt", ".cdx"};

fs::path companion(fs::path path, const char* extension) {
  if (extension != nullptr) path.replace_extension(extension);
  return path;
}

void remove_table_files(const fs::path& path) {
  for (const char* extension : kCompanions) {
    std::error_code ignored;
    fs::remove(companion(path, extension), ignored);
  }
}

// A fresh name with the extension of path, in path's directory (or in memory).
String temporary_path(const String& table_name) {
  const fs::path path = path_of(table_name);
  const std::string fresh = tempname().u8str() + path.extension().string();
  if (is_memory_file_name(table_name)) return String("memory:///" + fresh);
  return utf8_of(path.parent_path() / fresh);
}

// Renames, or the file error the catch-all reports: a foreign exception never reaches programs.
void rename_file(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (error) throw file_error(error.value());
}

bool file_exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

// The new file while it is built: on every failure it is closed and its files are removed.
class TemporaryTable {
 public:
  TemporaryTable(String path, bool on_disk) : path_(std::move(path)), on_disk_(on_disk) {}
  ~TemporaryTable() {
    if (!released_) discard();
  }
  TemporaryTable(const TemporaryTable&) = delete;
  TemporaryTable& operator=(const TemporaryTable&) = delete;

  DbfFile* create(OpenMode mode, createopts_st* options, std::vector<fielddef_st>& defs) {
    // Never over an existing file: the name is fresh, and a clash must not destroy anything.
    File* file = create_file(path_, mode | OPEN_NEW);
    made_ = true;
    file_ = DbfFile::create(file, options, defs.data(), defs.size());
    return file_;
  }
  DbfFile* file() const { return file_; }
  const String& path() const { return path_; }
  // The file is the caller's from now on; nothing is removed any more.
  DbfFile* release() {
    released_ = true;
    return file_;
  }

 private:
  void discard() noexcept {
    if (file_ != nullptr) {
      try {
        file_->close();
      } catch (...) {  // the files are removed below whatever close answers
      }
      delete file_;
      file_ = nullptr;
    }
    if (made_ && on_disk_) remove_table_files(path_of(path_));
  }

  String path_;
  bool on_disk_;
  bool made_ = false;
  bool released_ = false;
  DbfFile* file_ = nullptr;
};

}  // namespace

void Table_Object_QzDbf::set_rebuild_fault_hook(rebuild_fault_hook hook) {
  QZ_TRACE;
  fault_hook.store(hook, std::memory_order_release);
}

void Table_Object_QzDbf::check_exclusive_use() {
  QZ_TRACE;
  DbfFile* dbf = live_file();
  if (dbf->is_shared()) throw RuntimeError(110);
  if (!dbf->is_writable()) throw RuntimeError(1718, errors_.table_filename);
}

std::vector<fielddef_st> Table_Object_QzDbf::field_definitions() {
  QZ_TRACE;
  std::vector<fielddef_st> defs(cnt_fields());
  for (size_t i = 0; i < defs.size(); ++i) get_field_info(i, &defs[i]);
  return defs;
}

std::vector<internal_indexdef_st> Table_Object_QzDbf::tag_definitions() {
  QZ_TRACE;
  std::vector<internal_indexdef_st> tags;
  const size_t n = cnt_indizes();
  for (size_t i = 0; i < n; ++i) {
    internal_indexdef_st def;
    if (get_index_info(i, &def)) tags.push_back(std::move(def));
  }
  return tags;
}

void Table_Object_QzDbf::copy(VmStack* stack, const std::vector<column_map_st>& map, DbfFile* source,
                              DbfFile* target) {
  QZ_TRACE;
  // Copied auto-increment values are kept; the new file moves its next value past them.
  target->set_autoinc_fields_readwrite();
  source->index_hooks()->unselect_index();
  source->go_top();
  Variant value;
  while (!source->eof) {
    if (!source->deleted()) {
      target->begin_append();
      for (const column_map_st& pair : map) {
        source->get_variant(pair.source, &value);
        try {
          target->set_variant(pair.target, &value);
        } catch (...) {
          value.release(stack);
          throw;
        }
        value.release(stack);
      }
      target->update(stack);
    }
    source->go_next();
  }
  target->set_autoinc_fields_readonly();
}

void Table_Object_QzDbf::index(VmStack* stack, const std::vector<internal_indexdef_st>& tags, DbfFile* target) {
  QZ_TRACE;
  if (tags.empty()) return;
  // The key and FOR expressions are compiled against the new file's fields, through a table
  // object over it that gives the file back when it ends.
  auto* builder = new Table_Object_QzDbf(get_class(), target);
  ObjectPointer holder(builder);
  struct Detach {
    Table_Object_QzDbf* builder;
    ObjectPointer& holder;
    VmStack* stack;
    ~Detach() {
      (void)builder->file_.release();
      holder.release(stack);
    }
  } detach{builder, holder, stack};
  builder->internal_open(stack->get_symtable());
  createopts_st options{};
  for (const internal_indexdef_st& def : tags) builder->create_index(stack, &options, &def);
}

std::unique_ptr<DbfFile> Table_Object_QzDbf::swap_file(std::unique_ptr<DbfFile> file, Symtable* symtable) {
  QZ_TRACE;
  std::swap(file_, file);
  errors_.revert_file = file_.get();
  errors_.table_filename = file_->file()->name;
  internal_open(symtable);
  return file;
}

void Table_Object_QzDbf::takeover(VmStack* stack, DataSession_Object* session, DbfFile* rebuilt_file) {
  QZ_TRACE;
  std::unique_ptr<DbfFile> rebuilt(rebuilt_file);
  Symtable* symtable = stack->get_symtable();
  const String old_name = errors_.table_filename;
  std::unique_ptr<DbfFile> old;
  if ((rebuilt->file()->mode & OPEN_UNLINK_ON_CREATE) != 0) {
    // In memory the rebuilt file is the table from now on, under its own name.
    old = swap_file(std::move(rebuilt), symtable);
  } else {
    const OpenMode mode = file_->file()->mode & (OPEN_SHARED | OPEN_WRITE);
    const fs::path table = path_of(old_name);
    const fs::path built = path_of(rebuilt->file()->name);
    const fs::path aside = path_of(temporary_path(old_name));
    rebuilt->close();
    rebuilt.reset();
    std::vector<std::pair<fs::path, fs::path>> moves;  // done renames, undone in reverse
    bool installed = false;
    try {
      for (const char* extension : kCompanions) {
        const fs::path from = companion(table, extension);
        if (!file_exists(from)) continue;
        rename_file(from, companion(aside, extension));
        moves.emplace_back(from, companion(aside, extension));
      }
      for (const char* extension : kCompanions) {
        const fs::path from = companion(built, extension);
        if (extension != nullptr && !file_exists(from)) continue;
        rename_file(from, companion(table, extension));
        moves.emplace_back(from, companion(table, extension));
      }
      fault_point("takeover");
      std::unique_ptr<DbfFile> fresh(DbfFile::open(open_file(utf8_of(table), mode), stack, false));
      old = swap_file(std::move(fresh), symtable);
      installed = true;
      if (file_->has_structural_index) {
        Current_Table_Guard guard(stack, this);
        file_->index_hooks()->open_structural_index(stack);
      }
    } catch (...) {
      // The old DbfFile is still open on the old files: back under their names, it goes on.
      if (installed) {
        std::unique_ptr<DbfFile> fresh = std::move(file_);
        file_ = std::move(old);
        errors_.revert_file = file_.get();
        errors_.table_filename = old_name;
        try {
          internal_open(symtable);
        } catch (...) {  // the same fields as before: the maps it had stay usable
        }
        fresh.reset();
      }
      for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
        std::error_code ignored;
        fs::rename(it->second, it->first, ignored);
      }
      remove_table_files(built);
      throw;
    }
    old.reset();  // closes the old files, which are aside now
    remove_table_files(aside);
  }
  if (session != nullptr) {
    int32_t count = 1;
    auto it = session->open_files.find(old_name.u8str());
    if (it != session->open_files.end()) {
      count = it->second;
      session->open_files.erase(it);
    }
    session->open_files[filename().u8str()] = count;
  }
}

void Table_Object_QzDbf::rebuild(VmStack* stack, DataSession_Object* session, std::vector<fielddef_st>& defs,
                                 const std::vector<column_map_st>& map, bool copy_records) {
  QZ_TRACE;
  DbfFile* old = live_file();
  const std::vector<internal_indexdef_st> tags = tag_definitions();
  createopts_st options{};
  options.codepage = static_cast<uint64_t>(codepage());
  options.blocksize = session != nullptr ? session->settings.blocksize : current_settings(stack).blocksize;
  const OpenMode mode = old->file()->mode & (OPEN_SHARED | OPEN_WRITE | OPEN_UNLINK_ON_CREATE);
  dbf_error_context_st context = errors_;
  context.target_path = temporary_path(errors_.table_filename);
  try {
    TemporaryTable temp(context.target_path, (mode & OPEN_UNLINK_ON_CREATE) == 0);
    temp.create(mode, &options, defs);
    fault_point("create");
    if (copy_records) copy(stack, map, old, temp.file());
    fault_point("copy");
    index(stack, tags, temp.file());
    fault_point("index");
    takeover(stack, session, temp.release());
  } catch (...) {
    raise_dbf_error(dbf_errors::restructure, context);
  }
  movefirst(stack);
}

void Table_Object_QzDbf::add_column(VmStack* stack, DataSession_Object* session, const fielddef_st* field) {
  QZ_TRACE;
  check_exclusive_use();
  std::vector<fielddef_st> defs = field_definitions();
  std::vector<column_map_st> map;
  for (size_t i = 0; i < defs.size(); ++i) map.push_back({i, i});
  defs.push_back(*field);
  rebuild(stack, session, defs, map, true);
}

namespace {

// Whether the compiled expression reads the field (by its number in the table it was compiled
// against).
bool reads_field(const Program* program, size_t field) {
  for (size_t i = 0; i < program->code_length(); ++i) {
    const VmOp* op = program->op(i);
    if (op != nullptr && stored_opcode(op) == OP_READ_FIELD_BY_FIELD_NUM &&
        static_cast<const VmOpReadFieldByFieldNum*>(op)->field == field) {
      return true;
    }
  }
  return false;
}

}  // namespace

void Table_Object_QzDbf::drop_column(VmStack* stack, DataSession_Object* session, const String& name) {
  QZ_TRACE;
  const symbol_id_type symbol = stack->get_symtable()->symbolize(name);
  check_exclusive_use();
  std::vector<fielddef_st> defs;
  std::vector<column_map_st> map;
  bool named = false;
  const size_t n = cnt_fields();
  const std::vector<internal_indexdef_st> tags = tag_definitions();
  for (size_t i = 0; i < n; ++i) {
    if (get_symbol_id_by_field(i) != symbol) {
      map.push_back({i, defs.size()});
      defs.emplace_back();
      get_field_info(i, &defs.back());
      continue;
    }
    named = true;
    // A tag whose key or FOR expression reads the field could not be built on the new file.
    for (const internal_indexdef_st& tag : tags) {
      for (const String* text : {&tag.key_expression, &tag.for_expression}) {
        if (text->size() == 0) continue;
        const Program* program = nullptr;
        compile_expression(stack, *text, &program);
        std::unique_ptr<const Program> owner(program);
        if (reads_field(program, i)) throw RuntimeError(1531, tag.tag_name);
      }
    }
  }
  if (!named) throw RuntimeError(12, name);
  if (defs.empty()) throw RuntimeError(1871);
  rebuild(stack, session, defs, map, true);
}

void Table_Object_QzDbf::pack(VmStack* stack, DataSession_Object* session) {
  QZ_TRACE;
  check_exclusive_use();
  std::vector<fielddef_st> defs = field_definitions();
  std::vector<column_map_st> map;
  for (size_t i = 0; i < defs.size(); ++i) map.push_back({i, i});
  rebuild(stack, session, defs, map, true);
}

void Table_Object_QzDbf::zap(VmStack* stack, DataSession_Object* session) {
  QZ_TRACE;
  check_exclusive_use();
  std::vector<fielddef_st> defs = field_definitions();
  rebuild(stack, session, defs, {}, false);
}

void Table_Object_QzDbf::reindex(VmStack* stack) {
  QZ_TRACE;
  check_exclusive_use();
  const std::vector<internal_indexdef_st> tags = tag_definitions();
  // A table without tags has nothing to delete or make.
  if (tags.empty()) return;
  // Making a tag selects it: the order and the record the program had come back afterwards.
  internal_indexdef_st order;
  const bool ordered = get_current_index_info(&order);
  const SeekDir dir = get_index_dir();
  const bool at_end = eof_lowlevel() || bof_lowlevel();
  const size_t record = recno();
  drop_all_indizes(stack);
  createopts_st options{};
  for (const internal_indexdef_st& def : tags) create_index(stack, &options, &def);
  if (ordered) {
    select_index_tag(stack, order.tag_name, dir);
  } else {
    unselect_index();
  }
  if (at_end || record == 0) {
    movetoeof();
  } else {
    go(stack, static_cast<int64_t>(record));
  }
}

void Table_Object_QzDbf::copyto(VmStack* stack, const String& name, bool with_tags) {
  QZ_TRACE;
  DbfFile* source = live_file();
  std::vector<fielddef_st> defs = field_definitions();
  std::vector<column_map_st> map;
  for (size_t i = 0; i < defs.size(); ++i) map.push_back({i, i});
  std::vector<internal_indexdef_st> tags;
  if (with_tags) tags = tag_definitions();
  const fs::path target = makeDbfPath(name, false);

  // The target must not be one of the files being read: not the table itself, nor a table open
  // in the session, nor a file beside one that would take its memo or index name.
  std::error_code ignored;
  const fs::path target_stem = companion(fs::weakly_canonical(target, ignored), "");
  auto clashes = [&](const String& open_name) {
    if (is_memory_file_name(open_name)) return false;
    std::error_code error;
    const fs::path open_path = fs::weakly_canonical(path_of(open_name), error);
    return !error && companion(open_path, "") == target_stem;
  };
  if (clashes(errors_.table_filename)) throw RuntimeError(3);
  if (DataSession_Object* session = stack->current_data_session) {
    for (const auto& entry : session->open_files) {
      if (clashes(String(entry.first.data(), entry.first.size(), Charset::utf8))) throw RuntimeError(3);
    }
  }

  createopts_st options{};
  options.codepage = static_cast<uint64_t>(codepage());
  options.blocksize = current_settings(stack).blocksize;
  options.accept_altered_names = 1;
  dbf_error_context_st context = errors_;
  context.target_path = utf8_of(target);
  const fs::path built = target.parent_path() / (tempname().u8str() + target.extension().string());
  try {
    TemporaryTable temp(utf8_of(built), true);
    temp.create(0, &options, defs);
    fault_point("create");
    copy(stack, map, source, temp.file());
    fault_point("copy");
    index(stack, tags, temp.file());
    fault_point("index");
    temp.file()->close();
    // Complete: the copy takes the target's names; companions the old target had and the copy
    // has not go, so no stale memo or index file is left beside the new table.
    for (const char* extension : {".fpt", ".cdx"}) {
      const fs::path from = companion(built, extension);
      const fs::path to = companion(target, extension);
      std::error_code error;
      if (file_exists(from)) {
        fs::rename(from, to, error);
      } else {
        fs::remove(to, error);
      }
      if (error) throw RuntimeError(1102);
    }
    std::error_code error;
    fs::rename(built, target, error);
    if (error) throw RuntimeError(1102);
    delete temp.release();
  } catch (...) {
    raise_dbf_error(dbf_errors::copyto, context);
  }
}

}  // namespace qzbase
