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
// - A field whose layout changes goes through its value, which turned a blank logical into F
//   and a blank number into 0. A blank stays blank where the new field keeps blanks as spaces.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "platform/tempname.h"
#include "tables/data_session.h"
#include "tables/dbf_file.h"
#include "tables/fpt_file.h"
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

// --- the record copy ---
//
// The new file is fresh and held by this process alone: records go out in large runs with no
// lock, its header and the auto-increment descriptors are written once at the end, and memo
// values are appended to its memo file in runs too. A field of the same layout on both sides is
// copied byte for byte, a memo field block by block; only a changed field goes through a Variant
// (a blank logical or number staying blank).

// Bytes gathered before a write, and read at once.
constexpr size_t kCopyRun = size_t{1} << 20;

uint32_t get_be32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) << 24 | static_cast<uint32_t>(u[1]) << 16 | static_cast<uint32_t>(u[2]) << 8 |
         static_cast<uint32_t>(u[3]);
}

void put_be32(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

// The character set a memo value is read in, and the one it is stored in.
const Charset* memo_read_charset(const DbfFile* d, const DbfField* f) {
  if (f->type == 'M') return f->binary ? d->binary_charset() : d->charset();
  if (f->type == 'G' && f->binary && d->version() == 0x32) return d->charset();
  return Charset::binary;
}
const Charset* memo_store_charset(const DbfFile* d, const DbfField* f) {
  return f->type == 'M' && !f->binary ? d->charset() : Charset::binary;
}

bool bit_set(const char* record, int32_t byte, uint8_t mask) {
  return byte >= 0 && (static_cast<unsigned char>(record[byte]) & mask) != 0;
}
void put_bit(char* record, int32_t byte, uint8_t mask, bool on) {
  if (byte < 0) return;
  record[byte] = static_cast<char>(on ? record[byte] | mask : record[byte] & ~mask);
}

// The source's records in physical order, read in runs: as far as moving to the next record
// would go, that is also past the header's count over records another process has appended.
class RecordReader {
 public:
  explicit RecordReader(DbfFile* dbf)
      : dbf_(dbf),
        length_(dbf->record_length),
        capacity_(std::max<size_t>(1, kCopyRun / dbf->record_length)),
        buffer_(std::make_unique<char[]>(capacity_ * length_)) {}

  // The next record, or null after the last.
  const char* next() {
    if (at_ == count_ && !fill()) return nullptr;
    return buffer_.get() + length_ * at_++;
  }
  size_t records_seen() const { return next_recno_ - 1; }

 private:
  bool fill() {
    if (done_) return false;
    const size_t first = next_recno_;
    const size_t got = dbf_->file()->readex(static_cast<std::streamoff>(dbf_->record_offset(first)), buffer_.get(),
                                            capacity_ * length_);
    size_t n = got / length_;
    for (size_t i = 0; i < n; ++i) {
      // Behind the count a record starting with a zero byte is no record: blocks taken ahead.
      if (first + i > dbf_->record_count && buffer_[length_ * i] == 0) {
        n = i;
        done_ = true;
        break;
      }
    }
    if (!done_ && n < capacity_) {
      // A short record the header counts is damage; beyond the count it is an append in progress.
      if (got - n * length_ >= 2 && first + n <= dbf_->record_count) throw dbf_error_file_corruption();
      done_ = true;
    }
    at_ = 0;
    count_ = n;
    next_recno_ = first + n;
    if (next_recno_ - 1 > dbf_->record_count) dbf_->record_count = static_cast<uint32_t>(next_recno_ - 1);
    return n != 0;
  }

  DbfFile* dbf_;
  size_t length_;
  size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t at_ = 0;
  size_t count_ = 0;
  size_t next_recno_ = 1;
  bool done_ = false;
};

// Stored memo values of the source, read through a window: values written one after the other
// are read together.
class MemoReader {
 public:
  explicit MemoReader(FptFile* fpt) : fpt_(fpt), window_(std::make_unique<char[]>(kCopyRun)) {}

  // The value at block: its block type, and its bytes (valid until the next read).
  std::pair<const char*, uint32_t> read(uint32_t block, uint32_t* type) {
    const uint64_t offset = static_cast<uint64_t>(block) * fpt_->block_size;
    if (block == 0 || offset < kFptHeaderSize) throw dbf_error_file_corruption();
    if (offset < window_offset_ || offset + 8 > window_offset_ + window_size_) fill(offset);
    if (offset + 8 > window_offset_ + window_size_) throw dbf_error_file_corruption();
    const char* head = window_.get() + (offset - window_offset_);
    *type = get_be32(head);
    const uint32_t length = get_be32(head + 4);
    const uint64_t end = offset + 8 + length;
    if (end <= window_offset_ + window_size_) return {head + 8, length};
    if (end > fpt_->file()->get_size()) throw dbf_error_file_corruption();
    if (8 + static_cast<uint64_t>(length) <= kCopyRun) {
      fill(offset);
      if (end > window_offset_ + window_size_) throw dbf_error_file_corruption();
      return {window_.get() + 8, length};
    }
    large_.resize(length);
    if (fpt_->file()->readex(static_cast<std::streamoff>(offset + 8), large_.data(), length) < length) {
      throw dbf_error_file_corruption();
    }
    return {large_.data(), length};
  }

 private:
  void fill(uint64_t offset) {
    window_offset_ = offset;
    window_size_ = fpt_->file()->readex(static_cast<std::streamoff>(offset), window_.get(), kCopyRun);
  }

  FptFile* fpt_;
  std::unique_ptr<char[]> window_;
  uint64_t window_offset_ = 0;
  size_t window_size_ = 0;
  std::string large_;
};

// Appends values to the new memo file, in runs; its header is written when the copy ends (and
// whenever a value is stored the ordinary way in between).
class MemoWriter {
 public:
  explicit MemoWriter(FptFile* fpt) : fpt_(fpt) { take_back(); }

  // Appends the value; its first block.
  uint32_t append(uint32_t type, const char* data, size_t length) {
    const uint64_t size = fpt_->block_size;
    const uint32_t first = next_;
    const uint64_t next = fpt_get_aligned_pointer(static_cast<uint64_t>(first) * size + 8 + length, size);
    if (next > UINT32_MAX) throw dbf_error_file_corruption();
    char head[8];
    put_be32(head, type);
    put_be32(head + 4, static_cast<uint32_t>(length));
    const size_t padding = static_cast<size_t>((next - first) * size - 8 - length);
    if (length > kCopyRun) {
      // A large value goes out on its own, past what was gathered.
      flush();
      const uint64_t offset = static_cast<uint64_t>(first) * size;
      fpt_->file()->writeex(static_cast<std::streamoff>(offset), head, sizeof head);
      fpt_->file()->writeex(static_cast<std::streamoff>(offset + 8), data, length);
      const std::string zeros(padding, '\0');
      fpt_->file()->writeex(static_cast<std::streamoff>(offset + 8 + length), zeros.data(), zeros.size());
      next_ = static_cast<uint32_t>(next);
      run_first_ = next_;
      return first;
    }
    run_.append(head, sizeof head);
    run_.append(data, length);
    run_.append(padding, '\0');
    next_ = static_cast<uint32_t>(next);
    if (run_.size() >= kCopyRun) flush();
    return first;
  }

  // Everything appended is in the file and counted by its header.
  void finish() {
    flush();
    if (fpt_->next_free != next_) {
      fpt_->next_free = next_;
      fpt_->write_fpt_header();
    }
  }
  // After a value was stored the ordinary way.
  void take_back() {
    fpt_->read_fpt_header();
    next_ = fpt_->next_free;
    run_first_ = next_;
  }

 private:
  void flush() {
    if (!run_.empty()) {
      fpt_->file()->writeex(static_cast<std::streamoff>(static_cast<uint64_t>(run_first_) * fpt_->block_size),
                            run_.data(), run_.size());
      run_.clear();
    }
    run_first_ = next_;
  }

  FptFile* fpt_;
  std::string run_;
  uint32_t run_first_ = 0;
  uint32_t next_ = 0;
};

// How a field of the new file takes its value.
struct FieldCopy {
  enum class Kind { bytes, memo, variant };
  Kind kind;
  size_t source_number;
  size_t target_number;
  DbfField* from;
  DbfField* to;
};

FieldCopy::Kind copy_kind(const DbfFile* source, const DbfField* from, const DbfFile* target, const DbfField* to) {
  if (from->is_memo() && to->is_memo() && source->memo_file() != nullptr && target->memo_file() != nullptr &&
      from->nullable == to->nullable) {
    return FieldCopy::Kind::memo;
  }
  const bool same = from->type == to->type && from->width == to->width && from->decimals == to->decimals &&
                    from->binary == to->binary && from->nullable == to->nullable &&
                    (from->varlen_byte >= 0) == (to->varlen_byte >= 0) && !from->is_memo() &&
                    source->charset() == target->charset() && source->binary_charset() == target->binary_charset();
  return same ? FieldCopy::Kind::bytes : FieldCopy::Kind::variant;
}

// Whether a changed field is left blank in the new record: a blank logical or number (spaces;
// a logical of other writers may hold '?', not set) read as a value is false or 0, so where the
// new field keeps its blank as spaces too, the blank record's bytes stay. A null field is not
// blank: it goes through its value.
bool stays_blank(const DbfField* from, const DbfField* to, const char* from_record) {
  const auto numeric = [](const DbfField* f) { return f->type == 'N' || f->type == 'F'; };
  const bool logical = from->type == 'L' && to->type == 'L';
  if (!logical && !(numeric(from) && numeric(to))) return false;
  if (from->is_null(from_record)) return false;
  const char* p = from_record + from->displacement;
  if (logical && from->width == 1 && *p == '?') return true;
  return std::all_of(p, p + from->width, [](char c) { return c == ' '; });
}

// Copies the memo value the source record refers to into the new memo file.
void copy_memo(const DbfFile* source, MemoReader& reader, const FieldCopy& c, const char* from_record,
               DbfFile* target, MemoWriter& writer, char* record) {
  const uint32_t block = c.from->read_block(c.from, from_record);
  if (block == 0) return;  // no value: the blank pointer stays
  uint32_t type = 0;
  auto [data, length] = reader.read(block, &type);
  const Charset* read_as = memo_read_charset(source, c.from);
  const Charset* store_as = memo_store_charset(target, c.to);
  uint32_t stored;
  if (read_as == store_as || read_as == Charset::binary || store_as == Charset::binary) {
    stored = writer.append(type, data, length);
  } else {
    String value(data, length, read_as);
    try {
      value.convert(store_as, CON_NONE, 1);
    } catch (const cstran_chars_lost&) {
      throw dbf_error_cptrans_char_lost();
    }
    stored = writer.append(type, value.read(), value.size());
  }
  c.to->write_block(c.to, record, stored);
}

// A new record's auto-increment values, as an append gives them: a value kept moves the next one
// past it, a field left 0 or null takes the next one.
void assign_autoinc(DbfFile* target, char* record) {
  for (DbfField* f : target->autoinc_fields) {
    Variant value;
    f->get_variant(target, f, record, &value);
    if (value.tag == VT_INTEGER && value.integer.value != 0) {
      if (value.integer.value >= static_cast<int64_t>(f->autoinc_next)) {
        f->autoinc_next = static_cast<uint32_t>(value.integer.value + 1);
      }
      continue;
    }
    f->configured.set_integer(target, f, record, integer_type_st{f->autoinc_next});
    f->autoinc_next += f->autoinc_step;
  }
}

// map: (source field, target field) numbers.
void copy_records(VmStack* stack, const std::vector<std::pair<size_t, size_t>>& map, DbfFile* source,
                  DbfFile* target) {
  std::vector<FieldCopy> fields;
  bool with_memos = false;
  for (const auto& [source_number, target_number] : map) {
    DbfField* from = source->fields.at(source_number);
    DbfField* to = target->fields.at(target_number);
    fields.push_back({copy_kind(source, from, target, to), source_number, target_number, from, to});
    with_memos = with_memos || fields.back().kind == FieldCopy::Kind::memo;
  }
  std::optional<MemoReader> memo_reader;
  std::optional<MemoWriter> memo_writer;
  if (with_memos) {
    memo_reader.emplace(source->memo_file());
    memo_writer.emplace(target->memo_file());
  }

  const size_t length = target->record_length;
  const size_t capacity = std::max<size_t>(1, kCopyRun / length);
  auto run = std::make_unique<char[]>(capacity * length);
  size_t gathered = 0;
  size_t written = target->record_count;  // records in the file
  auto flush = [&] {
    if (gathered == 0) return;
    target->file()->writeex(static_cast<std::streamoff>(target->record_offset(written + 1)), run.get(),
                            gathered * length);
    written += gathered;
    gathered = 0;
  };

  // Each record is made in the new file's current record, where a changed field's writer puts it.
  char* record = target->current_record.get();
  RecordReader reader(source);
  size_t count = target->record_count;
  while (const char* from_record = reader.next()) {
    if (from_record[0] != kDbfLiveMark) continue;
    if (count == UINT32_MAX) throw dbf_error_record_out_of_range();
    std::memcpy(record, target->blank_record.get(), length);
    for (const FieldCopy& c : fields) {
      if (c.kind != FieldCopy::Kind::variant && c.from->is_null(from_record)) {
        put_bit(record, c.to->null_byte, c.to->null_mask, true);
        continue;
      }
      switch (c.kind) {
        case FieldCopy::Kind::bytes:
          std::memcpy(record + c.to->displacement, from_record + c.from->displacement, c.to->width);
          put_bit(record, c.to->varlen_byte, c.to->varlen_mask,
                  bit_set(from_record, c.from->varlen_byte, c.from->varlen_mask));
          break;
        case FieldCopy::Kind::memo:
          copy_memo(source, *memo_reader, c, from_record, target, *memo_writer, record);
          break;
        case FieldCopy::Kind::variant: {
          if (stays_blank(c.from, c.to, from_record)) break;
          Variant value;
          c.from->get_variant(source, c.from, from_record, &value);
          try {
            // A memo stored the ordinary way goes behind what the copy appended so far.
            if (memo_writer && c.to->is_memo()) memo_writer->finish();
            target->set_variant(c.target_number, &value);
            if (memo_writer && c.to->is_memo()) memo_writer->take_back();
          } catch (...) {
            value.release(stack);
            throw;
          }
          value.release(stack);
          break;
        }
      }
    }
    assign_autoinc(target, record);
    std::memcpy(run.get() + gathered * length, record, length);
    ++count;
    if (++gathered == capacity) flush();
  }
  flush();
  if (memo_writer) memo_writer->finish();
  for (DbfField* f : target->autoinc_fields) target->write_dbf_field_header(f);
  if (count != target->record_count) {
    target->record_count = static_cast<uint32_t>(count);
    target->touch();
    target->write_header_date();
    target->update_dbf_header();
    // Where the last append leaves a file: on its last record.
    target->go_to_in_file(count);
  }
  // The source stands where moving through it ends: behind its last record.
  if (reader.records_seen() == 0) {
    source->go_top();
  } else {
    source->go_eof();
  }
}

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
  std::vector<std::pair<size_t, size_t>> pairs;
  for (const column_map_st& pair : map) pairs.emplace_back(pair.source, pair.target);
  copy_records(stack, pairs, source, target);
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
