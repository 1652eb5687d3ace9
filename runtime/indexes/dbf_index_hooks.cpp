// dbf_index_hooks.cpp - a table's structural index file, its tags and the cursor over one tag.
#include "indexes/dbf_index_hooks.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "indexes/index_keys.h"
#include "platform/file.h"
#include "tables/dbf_exceptions.h"
#include "tables/dbf_file.h"

namespace qzbase {

namespace {

DbfIndexHooks* make_cursor_hooks(DbfFile* file) { return new IndexCursorHooks(file); }

std::string ascii_lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Key upkeep needs the tags' key programs, which are not built yet.
[[noreturn]] void refuse_key_upkeep() { throw RuntimeError(1001, String("keys of index tags")); }

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

void IndexCursorHooks::open_structural_index(VmStack*) {
  QZ_TRACE;
  File* table = dbf_->file();
  String name = structural_index_name(table->name);
  std::error_code error;
  std::filesystem::path found;
  if (!exists_ci(static_cast<std::filesystem::path>(name), true, true, error, found)) throw dbf_cdx_file_missing();
  File* f = open_file(String(found), table->mode & (OPEN_WRITE | OPEN_SHARED));
  auto cdx = std::make_unique<IndexFile>(f, dbf_->charset());
  cdx->end_offset = static_cast<std::streamoff>(seek_to_end(f));
  auto directory = std::make_unique<Index>(cdx.get(), 0);
  cdx->read_header(&directory->header, 0);
  directory->set_collation(nullptr);
  std::vector<std::unique_ptr<DbfIndex>> tags;
  index_node_st node;
  key_iterator_st it;
  for (bool more = directory->go_top(&node, &it); more; more = directory->go_next(&node, &it)) {
    const size_t length = directory->key_length();
    const char* key = it.key();
    size_t used = length;
    while (used > 0 && (key[used - 1] == ' ' || key[used - 1] == '\0')) --used;
    auto tag = std::make_unique<DbfIndex>(cdx.get(), static_cast<std::streamoff>(it.record));
    cdx->read_header(&tag->header, tag->header_offset);
    tag->name = String(key, used, dbf_->charset());
    tag->set_collation(tag->header.option(IDX_OPT_MACHINE) || tag->header.collation_name.is_empty()
                           ? nullptr
                           : collation_for_group(dbf_->charset(), tag->header.collation_name));
    tags.push_back(std::move(tag));
  }
  std::sort(tags.begin(), tags.end(),
            [](const auto& a, const auto& b) { return a->header_offset < b->header_offset; });
  for (size_t i = 0; i < tags.size(); ++i) tags[i]->number = i;
  tags_ = std::move(tags);
  directory_ = std::move(directory);
  cdx_ = std::move(cdx);
}

void IndexCursorHooks::close_index_file() {
  QZ_TRACE;
  for (IndexLockSet& frame : lock_frames_) frame.release();
  lock_frames_.clear();
  tags_.clear();
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

void IndexCursorHooks::update_keys(VmStack*) {
  QZ_TRACE;
  if (!tags_.empty()) refuse_key_upkeep();
}

void IndexCursorHooks::prepare_insert_keys(VmStack*) {
  QZ_TRACE;
  if (!tags_.empty()) refuse_key_upkeep();
}

void IndexCursorHooks::insert_keys(VmStack*) {
  QZ_TRACE;
  if (!tags_.empty()) refuse_key_upkeep();
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
  select_index(find_tag(name)->number, dir);
}

void IndexCursorHooks::select_index(size_t n, int dir) {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  if (n >= tags_.size()) throw dbf_error_unknown_index_tag();
  DbfIndex* tag = tags_[n].get();
  if (tag->binary()) throw dbf_select_binary_index_not_supported();
  const bool backward = dir == SEEK_DIR_BACKWARD || (dir == SEEK_DIR_SELECTED && tag->header.descending);
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
    place_on_current(tag);
  }
}

// Until tags evaluate their keys the pair cannot be sought: the walk finds the record's entry.
void IndexCursorHooks::place_on_current(DbfIndex* tag) {
  QZ_TRACE;
  const uint32_t recno = static_cast<uint32_t>(dbf_->recno);
  for (bool more = tag->go_top(&node_, &it_); more; more = tag->go_next(&node_, &it_)) {
    if (it_.record == recno) return;
  }
  // A record the tag does not hold (outside its FOR condition): the tag cursor rests on the last
  // key, the record stays current.
  tag->go_bottom(&node_, &it_);
}

void IndexCursorHooks::go_to(size_t recno) {
  QZ_TRACE;
  DbfBusyGuard guard(dbf_);
  dbf_->go_to_in_file(recno);
  if (DbfIndex* tag = dbf_->selected_index()) place_on_current(tag);
}

void IndexCursorHooks::go_top_in_index(DbfIndex* tag) {
  QZ_TRACE;
  dbf_->appending = false;
  if (!tag->go_top(&node_, &it_)) {
    dbf_->reccount();
    dbf_->go_eof();
    dbf_->bof = true;
    return;
  }
  load_current();
}

void IndexCursorHooks::go_bottom_in_index(DbfIndex* tag) {
  QZ_TRACE;
  dbf_->appending = false;
  if (!tag->go_bottom(&node_, &it_)) {
    dbf_->reccount();
    dbf_->go_eof();
    return;
  }
  load_current();
}

// The table layer swaps next and previous for a backward order; the ends of the order are what
// set EOF and BOF, so running off the first key of a backward order is its end of file.
void IndexCursorHooks::go_next_in_index(DbfIndex* tag) {
  QZ_TRACE;
  if (dbf_->selected_backward()) {
    step_toward_begin(tag, false);
  } else {
    step_toward_end(tag, true);
  }
}

void IndexCursorHooks::go_prev_in_index(DbfIndex* tag) {
  QZ_TRACE;
  if (dbf_->selected_backward()) {
    step_toward_end(tag, false);
  } else {
    step_toward_begin(tag, true);
  }
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

bool IndexCursorHooks::seek(const char* key, size_t n, int rng, int dir, bool near) {
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
}

bool IndexCursorHooks::seek_unique(const char* key, size_t record) {
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
}

// --- the table object's operations ---

void IndexCursorHooks::create_index_tag(VmStack*, const createopts_st*, const internal_indexdef_st*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("index tag creation"));
}

void IndexCursorHooks::delete_index_tag(const String&) {
  QZ_TRACE;
  throw RuntimeError(1001, String("index tag deletion"));
}

void IndexCursorHooks::delete_all_index_tags() {
  QZ_TRACE;
  throw RuntimeError(1001, String("index tag deletion"));
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

bool IndexCursorHooks::get_indexdef(size_t, internal_indexdef_st*) const {
  QZ_TRACE;
  throw RuntimeError(1001, String("index tag definitions"));
}

size_t IndexCursorHooks::create_key(const Variant* value, char* buffer, size_t capacity, bool pad) {
  QZ_TRACE;
  return selected()->create_key(value, buffer, capacity, pad);
}

size_t IndexCursorHooks::eval_key(VmStack*, char*, size_t) {
  QZ_TRACE;
  selected();
  refuse_key_upkeep();
}

size_t IndexCursorHooks::get_current_key(char* buffer, size_t capacity) {
  QZ_TRACE;
  const size_t length = selected()->key_length();
  QZ_ASSERT(capacity >= length);
  std::memcpy(buffer, it_.key(), length);
  return length;
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
