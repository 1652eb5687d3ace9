// dbf_records.cpp - the current record of a DbfFile: reading records (directly or through the
// read-ahead buffer), moves in physical order and by the selected tag, field access by number,
// deletion marks, and writing a record back or appending it.
//
// Records are written before the header that counts them, so a reader may meet a record that is
// not counted yet, or one still being written: a short read beyond the header's count is "no
// record yet", never damage.
#include <algorithm>
#include <cstring>

#include "tables/dbf_file.h"
#include "tables/index_hooks.h"

namespace qzbase {

namespace {

// Cuts the file to size bytes.
void truncate_file(File* file, uint64_t size) {
  if (auto* unix_file = dynamic_cast<FileUnix*>(file)) {
    try {
      unix_file->truncate(size);
    } catch (const file_error&) {
      throw dbf_error_file_corruption();
    }
    return;
  }
  if (auto* ram = dynamic_cast<FileRamdisk*>(file)) {
    if (size >= ram->size) return;
    // Bytes beyond the new end must read as zeros if the file grows again.
    uint64_t bs = ram->block_size;
    for (auto it = ram->blocks.lower_bound((size + bs - 1) / bs); it != ram->blocks.end();) it = ram->blocks.erase(it);
    auto partial = ram->blocks.find(size / bs);
    if (partial != ram->blocks.end()) std::memset(partial->second.get() + size % bs, 0, bs - size % bs);
    ram->size = size;
    return;
  }
  throw dbf_error_not_impl();
}

}  // namespace

// --- reading ---

void DbfFile::set_readahead_records(size_t records) {
  QZ_TRACE;
  readahead_wanted_ = records;
  readahead_.reset();
  readahead_capacity_ = 0;
  readahead_count_ = 0;
}

void DbfFile::ensure_readahead() {
  QZ_TRACE;
  if (readahead_) return;
  // A table held exclusively cannot go stale under its buffer: it reads in larger pieces. A shared
  // one keeps the smallest buffer, so that what it holds of other processes' records stays recent.
  size_t bytes = is_shared() ? kMinReadaheadBytes : kExclusiveReadaheadBytes;
  size_t records = std::max(kMinReadaheadRecords, (bytes + record_length - 1) / record_length);
  records = std::max(records, readahead_wanted_);
  readahead_ = std::make_unique<char[]>(records * record_length);
  readahead_capacity_ = records;
  readahead_count_ = 0;
}

bool DbfFile::go(size_t n, char* buffer, int mode) {
  QZ_TRACE;
  if (n == 0) throw dbf_error_record_out_of_range();
  if ((mode & (kReadDirect | kReadBuffered)) == 0) throw dbf_error_not_impl();
  if (mode & kReadaheadFlush) readahead_count_ = 0;
  size_t got;
  if (mode & kReadBuffered) {
    if (readahead_count_ != 0 && n >= readahead_first_ && n < readahead_first_ + readahead_count_) {
      std::memcpy(buffer, readahead_.get() + (n - readahead_first_) * record_length, record_length);
      return true;
    }
    ensure_readahead();
    got = file_->readex(static_cast<std::streamoff>(record_offset(n)), readahead_.get(),
                        readahead_capacity_ * record_length);
    readahead_first_ = n;
    readahead_count_ = got / record_length;
    for (size_t i = 0; i < readahead_count_; ++i) {
      if (no_record_behind_count(n + i, readahead_.get() + i * record_length)) {
        readahead_count_ = i;
        break;
      }
    }
    if (readahead_count_ != 0) {
      std::memcpy(buffer, readahead_.get(), record_length);
      if (n > record_count) record_count = static_cast<uint32_t>(n);
      return true;
    }
  } else {
    got = file_->readex(static_cast<std::streamoff>(record_offset(n)), buffer, record_length);
    if (got == record_length && no_record_behind_count(n, buffer)) return false;
    if (got == record_length) {
      if (n > record_count) record_count = static_cast<uint32_t>(n);  // another process appended
      update_buffer(n, buffer);
      return true;
    }
  }
  // A short record the header counts is damage; beyond the count it is an append in progress.
  if (got >= 2 && n <= record_count) throw dbf_error_file_corruption();
  return false;
}

// Beyond the count, a record starting with a zero byte is no record: the blocks a killed exclusive
// writer had taken ahead, read by an open that does not cut them (read-only).
bool DbfFile::no_record_behind_count(size_t n, const char* record) const {
  return n > record_count && record[0] == 0;
}

void DbfFile::update_buffer(size_t n, const char* record) {
  QZ_TRACE;
  if (readahead_count_ != 0 && n >= readahead_first_ && n < readahead_first_ + readahead_count_) {
    std::memcpy(readahead_.get() + (n - readahead_first_) * record_length, record, record_length);
  }
}

// --- moves in physical order ---

void DbfFile::go_to_in_file(size_t n) {
  QZ_TRACE;
  if (!go(n, disk_record.get(), kReadaheadFlush | kReadDirect)) throw dbf_error_record_out_of_range();
  std::memcpy(old_record.get(), disk_record.get(), record_length);
  std::memcpy(current_record.get(), disk_record.get(), record_length);
  recno = n;
  bof = eof = appending = false;
}

void DbfFile::go_top_in_file() {
  QZ_TRACE;
  bof = eof = appending = false;
  recno = 1;
  if (!go(1, current_record.get(), kReadaheadFlush | kReadBuffered)) {
    std::memcpy(current_record.get(), blank_record.get(), record_length);
    bof = eof = true;
  }
  std::memcpy(old_record.get(), current_record.get(), record_length);
}

void DbfFile::go_next_in_file() {
  QZ_TRACE;
  bool was_eof = eof;
  bof = eof = appending = false;
  if (!was_eof) ++recno;
  // At EOF this reads the record behind the last one again: another process may have added it.
  if (!go(recno, current_record.get(), kReadBuffered)) {
    std::memcpy(current_record.get(), blank_record.get(), record_length);
    if (recno == 1) bof = true;
    eof = true;
  }
  std::memcpy(old_record.get(), current_record.get(), record_length);
}

// At record 1 a step back rests at BOF on record 1, as SKIP -1 on the first record does.
void DbfFile::go_prev_in_file() {
  QZ_TRACE;
  eof = false;
  if (recno <= 1) {
    bof = true;
    return;
  }
  bof = false;
  // Read aside: a failed read must not leave a torn current record behind.
  if (!go(recno - 1, disk_record.get(), kReadaheadFlush | kReadDirect)) throw dbf_error_eof();
  appending = false;
  --recno;
  std::memcpy(current_record.get(), disk_record.get(), record_length);
  std::memcpy(old_record.get(), current_record.get(), record_length);
}

void DbfFile::go_bottom_in_file() {
  QZ_TRACE;
  bof = eof = appending = false;
  refresh_dbf_header();
  if (record_count != 0 && go(record_count, current_record.get(), kReadaheadFlush | kReadDirect)) {
    recno = record_count;
  } else {
    recno = 1;
    std::memcpy(current_record.get(), blank_record.get(), record_length);
    bof = eof = true;
  }
  std::memcpy(old_record.get(), current_record.get(), record_length);
}

void DbfFile::go_eof() {
  QZ_TRACE;
  bof = false;
  eof = true;
  appending = false;
  recno = static_cast<size_t>(record_count) + 1;
  std::memcpy(current_record.get(), blank_record.get(), record_length);
  std::memcpy(old_record.get(), blank_record.get(), record_length);
}

void DbfFile::begin_append() {
  QZ_TRACE;
  // The new record is a record: neither end of the file (an empty table was at both).
  bof = eof = false;
  appending = true;
  recno = static_cast<size_t>(record_count) + 1;
  std::memcpy(current_record.get(), blank_record.get(), record_length);
  std::memcpy(old_record.get(), blank_record.get(), record_length);
}

// --- dispatchers ---

void DbfFile::select_index_order(DbfIndex* tag, bool backward) {
  QZ_TRACE;
  selected_index_ = tag;
  selected_backward_ = backward;
}

void DbfFile::unselect_index() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  selected_index_ = nullptr;
  selected_backward_ = false;
}

void DbfFile::go_top() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  if (selected_index_ == nullptr) {
    go_top_in_file();
  } else if (selected_backward_) {
    index_hooks_->go_bottom_in_index(selected_index_);
  } else {
    index_hooks_->go_top_in_index(selected_index_);
  }
}

void DbfFile::go_bottom() {
  QZ_TRACE;
  if (selected_index_ == nullptr) {
    go_bottom_in_file();
  } else if (selected_backward_) {
    index_hooks_->go_top_in_index(selected_index_);
  } else {
    index_hooks_->go_bottom_in_index(selected_index_);
  }
}

void DbfFile::go_next() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  if (selected_index_ == nullptr) {
    go_next_in_file();
  } else if (selected_backward_) {
    index_hooks_->go_prev_in_index(selected_index_);
  } else {
    index_hooks_->go_next_in_index(selected_index_);
  }
}

void DbfFile::go_prev() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  if (bof) throw dbf_error_bof();
  if (eof) {
    go_bottom();
  } else if (selected_index_ == nullptr) {
    go_prev_in_file();
  } else if (selected_backward_) {
    index_hooks_->go_next_in_index(selected_index_);
  } else {
    index_hooks_->go_prev_in_index(selected_index_);
  }
}

// --- field access ---

const DbfField* DbfFile::get_field(size_t n) const {
  QZ_TRACE;
  if (n >= fields.size()) throw dbf_error_invalid_field_number();
  return fields[n];
}

DbfField* DbfFile::writable_field(size_t n) {
  QZ_TRACE;
  if (n >= fields.size()) throw dbf_error_invalid_field_number();
  return fields[n];
}

void DbfFile::get_variant(size_t n, Variant* out) {
  QZ_TRACE;
  DbfField* f = writable_field(n);
  f->get_variant(this, f, current_record.get(), out);
}

size_t DbfFile::get_char(size_t n, char* buffer, size_t* size, const Charset** charset) {
  QZ_TRACE;
  DbfField* f = writable_field(n);
  *size = f->get_chars(this, f, current_record.get(), buffer, *size, charset);
  return *size;
}

size_t DbfFile::get_memo_size(size_t n) {
  QZ_TRACE;
  DbfField* f = writable_field(n);
  return f->get_memo_size(this, f, current_record.get());
}

void DbfFile::get_old_value(size_t n, Variant* out) {
  QZ_TRACE;
  DbfField* f = writable_field(n);
  f->get_variant(this, f, old_record.get(), out);
}

void DbfFile::get_blank_value(size_t n, Variant* out) {
  QZ_TRACE;
  DbfField* f = writable_field(n);
  f->get_variant(this, f, blank_record.get(), out);
}

void DbfFile::set_null(size_t n) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_null(this, f, current_record.get());
}

void DbfFile::set_logical(size_t n, bool value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_logical(this, f, current_record.get(), value);
}

void DbfFile::set_integer(size_t n, const integer_type_st& value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_integer(this, f, current_record.get(), value);
}

void DbfFile::set_numeric(size_t n, const numeric_type_st& value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_numeric(this, f, current_record.get(), value);
}

void DbfFile::set_money(size_t n, const money_type_st& value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_money(this, f, current_record.get(), value);
}

void DbfFile::set_string(size_t n, const String& value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_string(this, f, current_record.get(), value);
}

void DbfFile::set_date(size_t n, const date_st& value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_date(this, f, current_record.get(), value);
}

void DbfFile::set_datetime(size_t n, const datetime_st& value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  f->active.set_datetime(this, f, current_record.get(), value);
}

void DbfFile::set_variant(size_t n, const Variant* value) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  DbfField* f = writable_field(n);
  char* r = current_record.get();
  if (value->tag == VT_REFERENCE) value = value->reference.target;
  switch (value->tag) {
    case VT_FALSE:
      f->active.set_logical(this, f, r, false);
      break;
    case VT_TRUE:
      f->active.set_logical(this, f, r, true);
      break;
    case VT_NULL:
      f->active.set_null(this, f, r);
      break;
    case VT_INTEGER:
      f->active.set_integer(this, f, r, value->integer);
      break;
    case VT_NUMERIC:
      f->active.set_numeric(this, f, r, value->numeric);
      break;
    case VT_MONEY:
      f->active.set_money(this, f, r, value->money);
      break;
    case VT_DATE:
      f->active.set_date(this, f, r, value->date);
      break;
    case VT_DATETIME:
      f->active.set_datetime(this, f, r, value->datetime);
      break;
    case VT_STRING:
      f->active.set_string(this, f, r, value->string);
      break;
    default:
      throw dbf_error_not_impl();
  }
}

// --- deletion marks ---

void DbfFile::delete_record() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  current_record[0] = '*';
}

void DbfFile::recall() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  current_record[0] = kDbfLiveMark;
}

// --- write-back ---

// A record being appended counts as changed wherever the table stood when the append began.
bool DbfFile::modified() const {
  QZ_TRACE;
  if (appending) return true;
  if (bof || eof) return false;
  return std::memcmp(current_record.get(), old_record.get(), record_length) != 0;
}

void DbfFile::revert() {
  QZ_TRACE;
  std::memcpy(current_record.get(), old_record.get(), record_length);
  if (appending) {
    appending = false;
    eof = true;
  }
}

void DbfFile::write_record() {
  QZ_TRACE;
  if (recno == 0) throw dbf_error_record_out_of_range();
  file_->writeex(static_cast<std::streamoff>(record_offset(recno)), current_record.get(), record_length);
  std::memcpy(old_record.get(), current_record.get(), record_length);
  update_buffer(recno, current_record.get());
  touch();
}

size_t DbfFile::reccount() {
  QZ_TRACE;
  refresh_dbf_header();
  return record_count;
}

void DbfFile::cut_to_record_count() {
  QZ_TRACE;
  truncate_file(file_, header_length + static_cast<uint64_t>(record_count) * record_length);
}

void DbfFile::write_with_keys(VmStack* stack) {
  QZ_TRACE;
  if (!is_shared()) {
    index_hooks_->update_keys(stack);
    write_record();
    return;
  }
  // A tag another process builds meanwhile reads this record from the disk: the keys and the
  // record change under one hold of the index locks, so it sees both or neither.
  LockAllIndizes indexes(this);
  index_hooks_->update_keys(stack);
  write_record();
}

void DbfFile::update(VmStack* stack) {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  if (!appending) {
    if (bof || eof) return;
    if (std::memcmp(current_record.get(), old_record.get(), record_length) == 0) return;
    if (!is_writable()) throw dbf_error_file_readonly();
    if (isrlocked(recno)) {
      autoinc_verify(old_record.get(), current_record.get());
      write_with_keys(stack);
      return;
    }
    if (!internal_lock()) throw dbf_error_record_in_use();
    try {
      autoinc_verify(old_record.get(), current_record.get());
      write_with_keys(stack);
    } catch (...) {
      internal_unlock();
      throw;
    }
    internal_unlock();
    return;
  }

  if (!is_writable()) throw dbf_error_file_readonly();
  DbfAppendLock append(this);
  uint32_t saved_count = record_count;
  size_t saved_recno = recno;
  uint32_t on_disk = 0;
  bool written = false;
  try {
    refresh_dbf_header();
    on_disk = record_count;
    autoinc_assign(current_record.get());
    if (record_count == UINT32_MAX) throw dbf_error_record_out_of_range();
    ++record_count;
    recno = record_count;
    {
      LockAllIndizes indexes(this);
      index_hooks_->prepare_insert_keys(stack);
      written = true;
      write_record();
      index_hooks_->insert_keys(stack);
    }
    update_dbf_header();
    appending = false;
    // What is on disk now: the next change of this record is compared with it.
    std::memcpy(old_record.get(), current_record.get(), record_length);
  } catch (...) {
    // A record the header does not count would make the next read-write open fail.
    if (written) {
      record_count = on_disk;
      try {
        cut_to_record_count();
      } catch (...) {  // the open check removes a left-over record
      }
      readahead_count_ = 0;
    }
    record_count = saved_count;
    recno = saved_recno;
    throw;
  }
  append.release();
}

}  // namespace qzbase
