// dbf_index_hooks.cpp - a table's structural index file, its tags and the cursor over one tag.
#include "indexes/dbf_index_hooks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "indexes/index_keys.h"
#include "platform/file.h"
#include "tables/dbf_exceptions.h"
#include "tables/dbf_file.h"
#include "tables/table_object.h"
#include "tables/uniqify.h"

namespace qzbase {

namespace {

// Directory keys: the tag name padded with blanks.
constexpr size_t kTagNameKeyLength = 10;

DbfIndexHooks* make_cursor_hooks(DbfFile* file) { return new IndexCursorHooks(file); }

std::string ascii_lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A tag opened without its programs, or a write without a stack to run them on, cannot follow a
// record change.
void require_expressions(const DbfIndex* tag, bool have_stack = true) {
  if (!tag->has_expressions() || !have_stack) throw RuntimeError(1001, String("keys of index tags"));
}

// An index file held for exclusive writing takes its writes through a mapping, as its table
// does: a key change is a copy, not a system call per node and header.
void map_exclusive_writes(File* f) {
  if ((f->mode & OPEN_WRITE) == 0 || (f->mode & OPEN_SHARED) != 0) return;
  if (auto* unix_file = dynamic_cast<FileUnix*>(f)) unix_file->map_writes();
}

void link_dependents(DbfFile* dbf, DbfIndex* tag) {
  for (uint16_t f : tag->key_info.fields) {
    if (f < dbf->fields.size()) dbf->fields[f]->dependent_tags.push_back(tag);
  }
}

void unlink_dependents(DbfFile* dbf, DbfIndex* tag) {
  for (DbfField* field : dbf->fields) {
    auto& list = field->dependent_tags;
    list.erase(std::remove(list.begin(), list.end(), tag), list.end());
  }
}

// Swaps the current and the old-record buffer for a scope: expressions then read the old values.
class OldRecordScope {
 public:
  explicit OldRecordScope(DbfFile* dbf) : dbf_(dbf) { std::swap(dbf_->current_record, dbf_->old_record); }
  ~OldRecordScope() { std::swap(dbf_->current_record, dbf_->old_record); }
  OldRecordScope(const OldRecordScope&) = delete;
  OldRecordScope& operator=(const OldRecordScope&) = delete;

 private:
  DbfFile* dbf_;
};

}  // namespace

void install_dbf_index_hooks() {
  QZ_TRACE;
  set_dbf_index_hooks_factory(&make_cursor_hooks);
}

IndexCursorHooks* table_cursor(DbfFile* file) {
  QZ_TRACE;
  return dynamic_cast<IndexCursorHooks*>(file->index_hooks());
}

String structural_index_name(const String& table_name) {
  QZ_TRACE;
  std::filesystem::path p = table_name;
  const std::string ext = ascii_lower(p.extension().string());
  if (ext == ".dbf") {
    p.replace_extension("cdx");
  } else if (ext == ".dbc") {
    p.replace_extension("dcx");
  } else {
    throw dbf_cdx_file_missing();
  }
  return String::create_from_path(p, table_name.get_charset());
}

IndexCursorHooks::~IndexCursorHooks() {
  QZ_TRACE;
  for (IndexLockSet& frame : lock_frames_) frame.release();
}

void DbfIndex::get_indexdef(internal_indexdef_st* out) const {
  QZ_TRACE;
  out->tag_name = name;
  out->tag_number = number;
  out->key_expression = header.key_expression;
  out->key_flag = key_is_expression() ? 1 : 0;
  out->for_expression = header.option(IDX_OPT_FOR) ? header.for_expression : String();
  out->collation_name = header.collation_name;
  out->unique = header.option(IDX_OPT_UNIQUE) ? 1 : 0;
  out->candidate = header.option(IDX_OPT_ENFORCED_UNIQUE) ? 1 : 0;
  out->descending = header.descending ? 1 : 0;
  out->binary = binary() ? 1 : 0;
}

void IndexCursorHooks::open_structural_index(VmStack* stack) {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  open_unguarded(stack);
}

bool IndexCursorHooks::adopt_structural_index(VmStack* stack) {
  QZ_TRACE;
  if (cdx_ != nullptr) return true;
  if (!dbf_->is_shared()) return false;
  // Only the flag: the caller's record count may be ahead of the disk (an append under way).
  unsigned char raw[kDbfHeaderSize];
  if (dbf_->file()->readex(0, reinterpret_cast<char*>(raw), sizeof raw) < sizeof raw) throw dbf_error_buffer_underrun();
  dbf_header_st header;
  decode_dbf_header(raw, &header);
  if ((header.flags & kDbfFlagStructuralIndex) == 0) return false;
  dbf_->has_structural_index = true;
  open_unguarded(stack);
  // A lock frame taken before the file was known holds it too.
  if (!lock_frames_.empty()) lock_frames_.back().take({cdx_.get()});
  return true;
}

void IndexCursorHooks::open_unguarded(VmStack* stack) {
  QZ_TRACE;
  File* table = dbf_->file();
  String name = structural_index_name(table->name);
  std::error_code error;
  std::filesystem::path found;
  if (!exists_ci(static_cast<std::filesystem::path>(name), true, true, error, found)) throw dbf_cdx_file_missing();
  File* f = open_file(String(found), table->mode & (OPEN_WRITE | OPEN_SHARED | OPEN_JOIN));
  map_exclusive_writes(f);
  auto cdx = std::make_unique<IndexFile>(f, dbf_->charset());
  cdx->end_offset = static_cast<std::streamoff>(seek_to_end(f));
  auto directory = std::make_unique<Index>(cdx.get(), 0);
  directory->set_collation(nullptr);
  cdx_ = std::move(cdx);
  directory_ = std::move(directory);
  try {
    cdx_->read_header(&directory_->header, 0);
    load_tags(stack);
  } catch (const dbf_index_file_corrupted& e) {
    const std::string named = e.named().empty() ? cdx_->file->name.u8str() : e.named();
    close_index_file();
    throw dbf_index_file_corrupted(named);
  } catch (...) {
    close_index_file();
    throw;
  }
}

std::string IndexCursorHooks::directory_key(const String& name) const {
  QZ_TRACE;
  std::string key(name.read(), std::min<size_t>(name.size(), kTagNameKeyLength));
  key.resize(kTagNameKeyLength, ' ');
  return key;
}

void IndexCursorHooks::load_tags(VmStack* stack) {
  QZ_TRACE;
  struct entry_st {
    std::streamoff offset;
    String name;
  };
  std::vector<entry_st> entries;
  index_node_st node;
  key_iterator_st it;
  for (bool more = directory_->go_top(&node, &it); more; more = directory_->go_next(&node, &it)) {
    const size_t length = directory_->key_length();
    const char* key = it.key();
    size_t used = length;
    while (used > 0 && (key[used - 1] == ' ' || key[used - 1] == '\0')) --used;
    entries.push_back({static_cast<std::streamoff>(it.record), String(key, used, dbf_->charset())});
  }
  const uint64_t version = directory_->header.version;  // confirmed by the walk
  // New tags are opened before anything changes: a failure leaves the list as it was.
  std::vector<std::unique_ptr<DbfIndex>> fresh;
  for (const entry_st& e : entries) {
    const bool known = std::any_of(tags_.begin(), tags_.end(), [&](const auto& t) { return t->header_offset == e.offset; });
    if (known) continue;
    auto tag = std::make_unique<DbfIndex>(cdx_.get(), e.offset);
    tag->name = e.name;
    tag->open(stack, dbf_);
    fresh.push_back(std::move(tag));
  }
  std::vector<std::unique_ptr<DbfIndex>> tags;
  for (auto& t : tags_) {
    const bool listed = std::any_of(entries.begin(), entries.end(), [&](const entry_st& e) { return e.offset == t->header_offset; });
    if (listed) {
      tags.push_back(std::move(t));
      continue;
    }
    // Gone from the directory: nothing may point at it any more.
    if (dbf_->selected_index() == t.get()) dbf_->select_index_order(nullptr, false);
    unlink_dependents(dbf_, t.get());
  }
  for (auto& t : fresh) {
    link_dependents(dbf_, t.get());
    tags.push_back(std::move(t));
  }
  std::sort(tags.begin(), tags.end(), [](const auto& a, const auto& b) { return a->header_offset < b->header_offset; });
  tags_ = std::move(tags);
  renumber();
  directory_version_ = version;
}

void IndexCursorHooks::renumber() {
  QZ_TRACE;
  binary_.clear();
  ordinary_.clear();
  for (size_t i = 0; i < tags_.size(); ++i) {
    tags_[i]->number = i;
    (tags_[i]->binary() ? binary_ : ordinary_).push_back(tags_[i].get());
  }
}

void IndexCursorHooks::refresh_tag_list(VmStack* stack) {
  QZ_TRACE;
  if (cdx_ == nullptr || !cdx_->shared()) return;
  directory_->check_version();
  if (directory_->header.version == directory_version_) return;
  load_tags(stack);
}

void IndexCursorHooks::rethrow_named(const dbf_index_file_corrupted& e) const {
  QZ_TRACE;
  if (!e.named().empty() || cdx_ == nullptr) throw e;
  throw dbf_index_file_corrupted(cdx_->file->name.u8str());
}

void IndexCursorHooks::corrupted() const {
  QZ_TRACE;
  throw dbf_index_file_corrupted(cdx_ != nullptr ? cdx_->file->name.u8str() : std::string());
}

void IndexCursorHooks::close_index_file() {
  QZ_TRACE;
  for (IndexLockSet& frame : lock_frames_) frame.release();
  lock_frames_.clear();
  if (dbf_->selected_index() != nullptr) dbf_->select_index_order(nullptr, false);
  for (auto& tag : tags_) unlink_dependents(dbf_, tag.get());
  tags_.clear();
  binary_.clear();
  ordinary_.clear();
  directory_.reset();
  cdx_.reset();
}

void IndexCursorHooks::remove_index_file() {
  QZ_TRACE;
  if (cdx_ == nullptr) return;
  String name = cdx_->file->name;
  close_index_file();
  std::error_code ignored;
  std::filesystem::remove(static_cast<std::filesystem::path>(name), ignored);
}

void IndexCursorHooks::check_unique(DbfIndex* tag, const char* key) {
  QZ_TRACE;
  if (!tag->header.option(IDX_OPT_ENFORCED_UNIQUE)) return;
  index_node_st node;
  key_iterator_st it;
  if (tag->seek(key, tag->key_length(), &node, &it, SEEK_DIR_FORWARD, 0) == SEEK_RESULT_FOUND) {
    throw dbf_unique_key_violation(tag->name.u8str());
  }
}

void IndexCursorHooks::prepare_insert_keys(VmStack* stack) try {
  QZ_TRACE;
  // The first tag of a shared table may have been created elsewhere since this one opened it.
  if (!adopt_structural_index(stack)) return;
  refresh_tag_list(stack);
  for (auto& t : tags_) require_expressions(t.get(), stack != nullptr);
  for (auto& t : tags_) {
    DbfIndex* tag = t.get();
    tag->delete_old = false;
    tag->insert_new = tag->eval_filter(stack);
    if (!tag->insert_new) continue;
    tag->eval_key(stack, tag->new_key, sizeof tag->new_key);
    check_unique(tag, tag->new_key);
  }
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::insert_keys(VmStack*) try {
  QZ_TRACE;
  const size_t record = dbf_->recno;
  for (DbfIndex* tag : binary_) {
    if (!tag->insert_key(tag->new_key, record)) corrupted();
  }
  for (DbfIndex* tag : ordinary_) {
    if (tag->insert_new && !tag->insert_key(tag->new_key, record)) corrupted();
  }
  if (DbfIndex* tag = dbf_->selected_index(); tag != nullptr && tag->insert_new) {
    // The cursor's copy of the changed leaf is stale: stand on the new entry.
    tag->seek_record(tag->new_key, static_cast<uint32_t>(record), &node_, &it_);
  }
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::evaluate_update(VmStack* stack) {
  QZ_TRACE;
  for (auto& t : tags_) require_expressions(t.get(), stack != nullptr);
  for (auto& t : tags_) {
    DbfIndex* tag = t.get();
    const bool new_for = tag->eval_filter(stack);
    if (new_for) tag->eval_key(stack, tag->new_key, sizeof tag->new_key);
    bool old_for;
    {
      OldRecordScope old(dbf_);
      old_for = tag->eval_filter(stack);
      if (old_for) tag->eval_key(stack, tag->old_key, sizeof tag->old_key);
    }
    const size_t n = tag->key_length();
    if (old_for) {
      const bool same = new_for && std::memcmp(tag->new_key, tag->old_key, n) == 0;
      tag->delete_old = !same;
      tag->insert_new = new_for && !same;
    } else {
      tag->delete_old = false;
      tag->insert_new = new_for;
    }
  }
  // Nothing has changed in any tag yet: a violation leaves them all as they were.
  for (auto& t : tags_) {
    if (t->insert_new && !t->binary()) check_unique(t.get(), t->new_key);
  }
}

void IndexCursorHooks::update_keys(VmStack* stack) try {
  QZ_TRACE;
  if (!adopt_structural_index(stack)) return;
  refresh_tag_list(stack);
  evaluate_update(stack);
  if (!cdx_->shared() && std::none_of(tags_.begin(), tags_.end(), [](const auto& t) { return t->delete_old || t->insert_new; })) {
    return;  // no key changes, and no other writer whose tags could need one
  }
  LockAllIndizes locks(dbf_);
  if (cdx_ != nullptr && cdx_->shared()) {
    // A tag entered while this process waited for the lock must see this change too.
    const uint64_t seen = directory_version_;
    refresh_tag_list(stack);
    if (directory_version_ != seen) evaluate_update(stack);
  }
  const size_t record = dbf_->recno;
  for (DbfIndex* tag : binary_) {
    tag->replace_bit(record, tag->new_key);
  }
  for (DbfIndex* tag : ordinary_) {
    if (tag->delete_old && !tag->delete_key(tag->old_key, record)) corrupted();
    if (tag->insert_new && !tag->insert_key(tag->new_key, record)) corrupted();
  }
  if (DbfIndex* tag = dbf_->selected_index(); tag != nullptr && (tag->delete_old || tag->insert_new)) {
    if (tag->insert_new) {
      tag->seek_record(tag->new_key, static_cast<uint32_t>(record), &node_, &it_);
    } else {
      tag->go_bottom(&node_, &it_);
    }
  }
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

// Every tag lives in the one structural file, so its lock is all there is to take.
void IndexCursorHooks::lock_indizes() {
  QZ_TRACE;
  lock_frames_.emplace_back();
  lock_frames_.back().take({cdx_.get()});
}

void IndexCursorHooks::unlock_indizes() {
  QZ_TRACE;
  if (lock_frames_.empty()) return;
  lock_frames_.back().release();
  lock_frames_.pop_back();
}

// --- cursor ---

DbfIndex* IndexCursorHooks::selected() const {
  QZ_TRACE;
  DbfIndex* tag = dbf_->selected_index();
  if (tag == nullptr) throw dbf_error_no_index_selected();
  return tag;
}

void IndexCursorHooks::load_current() {
  QZ_TRACE;
  dbf_->go_to_in_file(it_.record);
}

DbfIndex* IndexCursorHooks::find_tag(const String& name) const {
  QZ_TRACE;
  const std::string wanted = ascii_lower(name.u8str());
  for (const auto& tag : tags_) {
    if (ascii_lower(tag->name.u8str()) == wanted) return tag.get();
  }
  throw dbf_error_unknown_index_tag();
}

void IndexCursorHooks::select_index(const String& name, int dir) {
  QZ_TRACE;
  select_index(nullptr, find_tag(name)->number, dir);
}

void IndexCursorHooks::select_index(size_t n, int dir) {
  QZ_TRACE;
  select_index(nullptr, n, dir);
}

void IndexCursorHooks::select_index(VmStack* stack, const String& name, int dir) {
  QZ_TRACE;
  select_index(stack, find_tag(name)->number, dir);
}

void IndexCursorHooks::select_index(VmStack* stack, size_t n, int dir) try {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  if (n >= tags_.size()) throw dbf_error_unknown_index_tag();
  DbfIndex* tag = tags_[n].get();
  if (tag->binary()) throw dbf_select_binary_index_not_supported();
  const bool backward = dir == SEEK_DIR_BACKWARD || (dir == SEEK_DIR_SELECTED && tag->header.descending);
  select_unguarded(tag, backward, stack);
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::select_unguarded(DbfIndex* tag, bool backward, VmStack* stack) {
  QZ_TRACE;
  const bool at_eof = dbf_->eof;
  dbf_->select_index_order(tag, backward);
  if (at_eof) {
    // Bottom of the order, then one beyond it.
    if (backward) {
      go_top_in_index(tag);
    } else {
      go_bottom_in_index(tag);
    }
    dbf_->reccount();
    dbf_->go_eof();
  } else if (!dbf_->bof) {
    place_on_current(tag, stack);
  }
}

// With the key programs at hand the record's entry is sought; else the walk finds it.
void IndexCursorHooks::place_on_current(DbfIndex* tag, VmStack* stack) {
  QZ_TRACE;
  const uint32_t recno = static_cast<uint32_t>(dbf_->recno);
  if (stack != nullptr && tag->has_expressions()) {
    // The stored values are what the tag holds, also while the record is being edited.
    OldRecordScope stored(dbf_);
    if (tag->eval_filter(stack)) {
      char key[kIndexMaxKeyLength];
      tag->eval_key(stack, key, sizeof key);
      if (tag->seek_record(key, recno, &node_, &it_) == SEEK_RESULT_FOUND) return;
    }
    tag->go_bottom(&node_, &it_);
    return;
  }
  for (bool more = tag->go_top(&node_, &it_); more; more = tag->go_next(&node_, &it_)) {
    if (it_.record == recno) return;
  }
  // A record the tag does not hold (outside its FOR condition): the tag cursor rests on the last
  // key, the record stays current.
  tag->go_bottom(&node_, &it_);
}

void IndexCursorHooks::go_to(size_t recno) {
  QZ_TRACE;
  go_to(nullptr, recno);
}

void IndexCursorHooks::go_to(VmStack* stack, size_t recno) try {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  dbf_->go_to_in_file(recno);
  if (DbfIndex* tag = dbf_->selected_index()) place_on_current(tag, stack);
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::go_top_in_index(DbfIndex* tag) try {
  QZ_TRACE;
  dbf_->appending = false;
  if (!tag->go_top(&node_, &it_)) {
    dbf_->reccount();
    dbf_->go_eof();
    dbf_->bof = true;
    return;
  }
  load_current();
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::go_bottom_in_index(DbfIndex* tag) try {
  QZ_TRACE;
  dbf_->appending = false;
  if (!tag->go_bottom(&node_, &it_)) {
    dbf_->reccount();
    dbf_->go_eof();
    return;
  }
  load_current();
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

// The table layer swaps next and previous for a backward order; the ends of the order are what
// set EOF and BOF, so running off the first key of a backward order is its end of file.
void IndexCursorHooks::go_next_in_index(DbfIndex* tag) try {
  QZ_TRACE;
  if (dbf_->selected_backward()) {
    step_toward_begin(tag, false);
  } else {
    step_toward_end(tag, true);
  }
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::go_prev_in_index(DbfIndex* tag) try {
  QZ_TRACE;
  if (dbf_->selected_backward()) {
    step_toward_end(tag, false);
  } else {
    step_toward_begin(tag, true);
  }
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::step_toward_end(DbfIndex* tag, bool ascending) {
  QZ_TRACE;
  if (dbf_->eof) return;
  dbf_->bof = dbf_->eof = false;
  if (!(ascending ? tag->go_next(&node_, &it_) : tag->go_prev(&node_, &it_))) {
    dbf_->reccount();
    dbf_->go_eof();
    return;
  }
  load_current();
}

void IndexCursorHooks::step_toward_begin(DbfIndex* tag, bool ascending) {
  QZ_TRACE;
  dbf_->bof = dbf_->eof = false;
  if (!(ascending ? tag->go_prev(&node_, &it_) : tag->go_next(&node_, &it_))) {
    // Before the first key of the order: the record stays, marked as the beginning.
    if (dbf_->recno >= 1 && dbf_->recno <= dbf_->record_count) dbf_->go_to_in_file(dbf_->recno);
    dbf_->bof = true;
    return;
  }
  load_current();
}

bool IndexCursorHooks::seek(const char* key, size_t n, int rng, int dir, bool near) try {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  DbfIndex* tag = selected();
  if (dir == SEEK_DIR_SELECTED) dir = 1 + (dbf_->selected_backward() ? 1 : 0);
  const int result = tag->seek(key, n, &node_, &it_, static_cast<SeekDir>(dir), rng);
  const bool open = (rng & SEEK_RNG_OPEN) != 0;
  const bool found = result == SEEK_RESULT_FOUND || (result == SEEK_RESULT_NEAR && open);
  if (result == SEEK_RESULT_FOUND || (result == SEEK_RESULT_NEAR && (open || near))) {
    load_current();
  } else {
    dbf_->reccount();
    dbf_->go_eof();
  }
  return found;
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

bool IndexCursorHooks::seek_unique(const char* key, size_t record) try {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  DbfIndex* tag = selected();
  const bool found = tag->seek_record(key, static_cast<uint32_t>(record), &node_, &it_) == SEEK_RESULT_FOUND;
  if (found) {
    load_current();
  } else {
    dbf_->reccount();
    dbf_->go_eof();
  }
  return found;
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

// --- the table object's operations ---

void IndexCursorHooks::create_compound_auto_open_index_file() {
  QZ_TRACE;
  File* table = dbf_->file();
  std::filesystem::path p = static_cast<std::filesystem::path>(table->name);
  p.replace_extension(ascii_lower(p.extension().string()) == ".dbc" ? "dcx" : "cdx");
  const String name = String::create_from_path(p, table->name.get_charset());
  if (!is_memory_file_name(name)) {
    std::error_code error;
    std::filesystem::remove(p, error);
    if (error) throw dbf_error_cannot_create_cdx();
  }
  File* f = create_file(name, OPEN_WRITE | (table->mode & (OPEN_SHARED | OPEN_UNLINK_ON_CREATE)));
  auto cdx = std::make_unique<IndexFile>(f, dbf_->charset());
  cdx->create_compound();
  map_exclusive_writes(f);
  cdx->end_offset = static_cast<std::streamoff>(seek_to_end(f));
  auto directory = std::make_unique<Index>(cdx.get(), 0);
  cdx->read_header(&directory->header, 0);
  directory->set_collation(nullptr);
  directory_version_ = directory->header.version;
  cdx_ = std::move(cdx);
  directory_ = std::move(directory);
  // Other processes may have appended since this one read the header: their count stays.
  dbf_->refresh_dbf_header();
  dbf_->has_structural_index = true;
  dbf_->update_dbf_header();
}

void IndexCursorHooks::create_index_tag(VmStack* stack, const createopts_st* options, const internal_indexdef_st* def) try {
  QZ_TRACE;
  if (stack == nullptr) throw RuntimeError(1001, String("keys of index tags"));
  DbfBusyGuard busy(dbf_);
  // 1. The collation and the key.
  Collation* collation = collation_for_group(dbf_->charset(), def->collation_name);
  IndexExpressionInfo key;
  Index::analze_expression(stack, dbf_, def->key_expression, collation, &key);
  // 2. Its length.
  if (key.key_length < 1 || key.key_length > kIndexMaxKeyLength || (key.nullable && key.key_length < 2)) {
    throw dbf_invalid_index_key_len();
  }
  // 3. Binary tags hold one bit per record.
  const bool binary = def->binary != 0;
  const bool has_for = !def->for_expression.is_empty();
  if (binary) {
    if (key.key_type != INDEX_KEY_LOGICAL) throw RuntimeError(2156);
    if (has_for) throw RuntimeError(1001, String("Binary index with filter"));
    key.nullable = false;
    key.key_length = 1;
  }
  // 4. The FOR condition.
  if (has_for) {
    IndexExpressionInfo condition;
    Index::analze_expression(stack, dbf_, def->for_expression, collation, &condition);
    if (condition.key_type != INDEX_KEY_LOGICAL) throw dbf_index_filter_must_be_logical();
  }
  // 5. The file (one another process made meanwhile is used, never replaced). From here to the
  // directory entry the file stays locked, and the table's append lock keeps other processes'
  // appends out of the records being visited.
  DbfAppendLock append(dbf_);
  if (!adopt_structural_index(stack)) create_compound_auto_open_index_file();
  LockAllIndizes locks(dbf_);
  refresh_tag_list(stack);

  // 6. The name.
  string_set_ci names;
  for (const auto& t : tags_) names.insert(t->name);
  bool invalid = false, duplicate = false, too_long = false;
  const size_t max_bytes = 11 - dbf_->charset()->min_bytes();
  const String tag_name = uniqify(names, def->tag_name.upper(), dbf_->charset(), max_bytes, &invalid, &duplicate, &too_long);
  if (options == nullptr || !options->accept_altered_tag_names) {
    if (invalid) throw dbf_error_index_tag_name_invalid_characters();
    if (too_long) throw dbf_error_index_tag_name_too_long();
    if (duplicate) throw dbf_error_index_tag_name_duplicate();
  }
  const std::string dkey = directory_key(tag_name);

  // 7. Header and root leaf at the file end.
  const bool machine = collation_group_by_name(def->collation_name) == COLLATION_GROUP_MACHINE;
  auto tag = std::make_unique<DbfIndex>(cdx_.get(), 0);
  idx_header_st& h = tag->header;
  init_directory_header(&h);
  h.key_length = static_cast<uint16_t>(key.key_length);
  h.collation_name = def->collation_name.is_empty() ? String("MACHINE") : def->collation_name.upper();
  h.key_expression = def->key_expression;
  h.for_expression = has_for ? def->for_expression : String::fromBytes("", 0, Charset::ascii);
  uint16_t opts = IDX_OPT_COMPACT | IDX_OPT_CREATED;
  if (def->unique) opts |= IDX_OPT_UNIQUE;
  if (def->candidate) opts |= IDX_OPT_ENFORCED_UNIQUE;
  if (has_for) opts |= IDX_OPT_FOR;
  if (key.nullable) opts |= IDX_OPT_NULLABLE;
  if (binary) opts |= IDX_OPT_BINARY;
  opts |= machine ? IDX_OPT_MACHINE : IDX_OPT_COLLATED;
  h.options = opts;
  h.descending = def->descending != 0;
  tag->header_offset = tag->alloc(kIndexHeaderSize);
  // Nobody reaches the tag before its directory entry: its header and nodes stay in memory until
  // every key is in and are written once then; a failure writes none of them.
  DeferredTagWrites deferred(cdx_.get(), tag->header_offset);
  index_node_st root;
  root.offset = tag->alloc(kIndexNodeSize);
  const size_t record_count = dbf_->reccount();
  if (binary) {
    tag->init_leaf_node(&root);
  } else {
    tag->init_compact_node(&root, h.key_length, record_count != 0 ? record_count : 255, h.key_length, h.key_length,
                           true);
  }
  root.root = true;
  h.root = static_cast<uint32_t>(root.offset);
  cdx_->write_header(&h, tag->header_offset);
  cdx_->write_node(&root);

  // 8. Every record's key, in physical order.
  tag->name = tag_name;
  tag->open(stack, dbf_);
  {
    // A record being edited or appended keeps its unsaved changes: the walk borrows the record
    // buffers, and they come back as they were; an unchanged record is read afresh.
    struct restore_st {
      DbfFile* dbf;
      size_t recno;
      bool eof, bof, appending, keep;
      std::unique_ptr<char[]> current, old;
      explicit restore_st(DbfFile* d)
          : dbf(d), recno(d->recno), eof(d->eof), bof(d->bof), appending(d->appending), keep(d->modified()) {
        if (!keep) return;
        current.reset(new char[dbf->record_length]);
        old.reset(new char[dbf->record_length]);
        std::memcpy(current.get(), dbf->current_record.get(), dbf->record_length);
        std::memcpy(old.get(), dbf->old_record.get(), dbf->record_length);
      }
      restore_st(const restore_st&) = delete;
      restore_st& operator=(const restore_st&) = delete;
      ~restore_st() {
        if (keep) {
          std::memcpy(dbf->current_record.get(), current.get(), dbf->record_length);
          std::memcpy(dbf->old_record.get(), old.get(), dbf->record_length);
          dbf->recno = recno;
          dbf->eof = eof;
          dbf->bof = bof;
          dbf->appending = appending;
          return;
        }
        try {
          if (!eof && recno >= 1 && recno <= dbf->record_count) {
            dbf->go_to_in_file(recno);
          } else {
            dbf->go_eof();
          }
          dbf->bof = bof;
        } catch (...) {  // the record stays where the walk left it
        }
      }
    } restore(dbf_);
    char buffer[kIndexMaxKeyLength];
    const bool enforced = h.option(IDX_OPT_ENFORCED_UNIQUE);
    // Keys of compact leaves are gathered, sorted and laid down from the bottom up: full leaves,
    // one write each. Binary tags take their bits record by record.
    const size_t key_length = h.key_length;
    const size_t stride = key_length + 4;
    std::vector<char> gathered;
    if (!binary) gathered.reserve(record_count * stride);
    for (size_t n = 1; n <= record_count; ++n) {
      if (!dbf_->go(n, dbf_->current_record.get(), n == 1 ? DbfFile::kReadaheadFlush | DbfFile::kReadBuffered
                                                          : DbfFile::kReadBuffered)) {
        break;
      }
      std::memcpy(dbf_->old_record.get(), dbf_->current_record.get(), dbf_->record_length);
      dbf_->recno = n;
      dbf_->bof = dbf_->eof = dbf_->appending = false;
      if (!tag->eval_filter(stack)) continue;
      tag->eval_key(stack, buffer, sizeof buffer);
      if (binary) {
        tag->insert_key(buffer, n);
        continue;
      }
      const auto record = static_cast<uint32_t>(n);
      gathered.insert(gathered.end(), buffer, buffer + key_length);
      gathered.insert(gathered.end(), reinterpret_cast<const char*>(&record),
                      reinterpret_cast<const char*>(&record) + sizeof record);
    }
    if (!binary) {
      const size_t count = gathered.size() / stride;
      std::vector<uint32_t> order(count);
      for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(i);
      // Gathered in record order: equal keys keep it.
      std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return std::memcmp(gathered.data() + a * stride, gathered.data() + b * stride, key_length) < 0;
      });
      std::vector<char> sorted(gathered.size());
      for (size_t i = 0; i < count; ++i) {
        const char* from = gathered.data() + static_cast<size_t>(order[i]) * stride;
        if (enforced && i > 0 && std::memcmp(from, sorted.data() + (i - 1) * stride, key_length) == 0) {
          throw dbf_unique_key_violation(tag->name.u8str());
        }
        std::memcpy(sorted.data() + i * stride, from, stride);
      }
      tag->load_sorted(sorted.data(), count);
    }
  }
  deferred.commit();

  // 9. The directory entry; the tag joins the lists.
  if (!directory_->insert_key(dkey.data(), static_cast<size_t>(tag->header_offset))) corrupted();
  directory_version_ = directory_->header.version;
  DbfIndex* added = tag.get();
  link_dependents(dbf_, added);
  tags_.push_back(std::move(tag));
  std::sort(tags_.begin(), tags_.end(), [](const auto& a, const auto& b) { return a->header_offset < b->header_offset; });
  renumber();
  if (!added->binary()) select_unguarded(added, added->header.descending, stack);
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::delete_index_tag(const String& name) try {
  QZ_TRACE;
  if (cdx_ == nullptr) return;
  if (dbf_->is_shared()) throw dbf_error_need_exclusive_access();
  DbfBusyGuard busy(dbf_);
  DbfIndex* tag = find_tag(name);
  if (dbf_->selected_index() == tag) dbf_->select_index_order(nullptr, false);
  const std::string key = directory_key(tag->name);
  const auto offset = static_cast<uint32_t>(tag->header_offset);
  {
    index_node_st node;
    key_iterator_st it;
    if (directory_->seek_record(key.data(), offset, &node, &it) != SEEK_RESULT_FOUND) throw dbf_error_file_corruption();
  }
  LockAllIndizes locks(dbf_);
  if (!directory_->delete_key(key.data(), offset)) throw dbf_error_file_corruption();
  directory_version_ = directory_->header.version;
  unlink_dependents(dbf_, tag);
  tags_.erase(std::find_if(tags_.begin(), tags_.end(), [&](const auto& t) { return t.get() == tag; }));
  renumber();
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

void IndexCursorHooks::delete_all_index_tags() {
  QZ_TRACE;
  if (cdx_ == nullptr) return;
  if (dbf_->is_shared()) throw dbf_error_need_exclusive_access();
  DbfBusyGuard busy(dbf_);
  const String name = cdx_->file->name;
  close_index_file();
  if (!is_memory_file_name(name)) {
    std::error_code ignored;
    std::filesystem::remove(static_cast<std::filesystem::path>(name), ignored);
  }
  dbf_->has_structural_index = false;
  dbf_->update_dbf_header();
}

void IndexCursorHooks::unselect_index() {
  QZ_TRACE;
  dbf_->unselect_index();
}

size_t IndexCursorHooks::selected_index_number() const {
  QZ_TRACE;
  const DbfIndex* tag = dbf_->selected_index();
  return tag != nullptr ? tag->number : kNoIndex;
}

bool IndexCursorHooks::selected_descending() const {
  QZ_TRACE;
  return dbf_->selected_index() != nullptr && dbf_->selected_backward();
}

bool IndexCursorHooks::get_indexdef(size_t n, internal_indexdef_st* out) const {
  QZ_TRACE;
  if (n >= tags_.size()) return false;
  tags_[n]->get_indexdef(out);
  return true;
}

size_t IndexCursorHooks::create_key(const Variant* value, char* buffer, size_t capacity, bool pad) {
  QZ_TRACE;
  DbfIndex* tag = selected();
  // A tag opened without its expressions does not know its key type.
  if (!tag->has_key_builder()) require_expressions(tag);
  return tag->create_key(value, buffer, capacity, pad);
}

size_t IndexCursorHooks::eval_key(VmStack* stack, char* buffer, size_t capacity) try {
  QZ_TRACE;
  DbfIndex* tag = selected();
  require_expressions(tag, stack != nullptr);
  return tag->eval_key(stack, buffer, capacity);
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

size_t IndexCursorHooks::get_current_key(char* buffer, size_t capacity) try {
  QZ_TRACE;
  const size_t length = selected()->key_length();
  QZ_ASSERT(capacity >= length);
  std::memcpy(buffer, it_.key(), length);
  return length;
} catch (const dbf_index_file_corrupted& e) {
  rethrow_named(e);
}

double IndexCursorHooks::get_current_key_pos() {
  QZ_TRACE;
  selected();
  return it_.position;
}

size_t IndexCursorHooks::get_current_num_keys() {
  QZ_TRACE;
  selected();
  return node_.count;
}

size_t IndexCursorHooks::get_current_key_num() {
  QZ_TRACE;
  selected();
  return it_.index < 0 ? 0 : static_cast<size_t>(it_.index);
}

size_t IndexCursorHooks::get_compact_max_prefix() {
  QZ_TRACE;
  selected();
  return node_.compact ? node_.geometry.dup_mask : 0;
}

size_t IndexCursorHooks::get_compact_max_suffix() {
  QZ_TRACE;
  selected();
  return node_.compact ? node_.geometry.trail_mask : 0;
}

std::streamoff IndexCursorHooks::get_leaf_offset() {
  QZ_TRACE;
  selected();
  return node_.offset;
}

String IndexCursorHooks::index_file_name() const {
  QZ_TRACE;
  return cdx_ != nullptr ? cdx_->file->name : String();
}

}  // namespace qzbase
