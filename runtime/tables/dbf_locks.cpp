// dbf_locks.cpp - record and append locks of a DbfFile, and the merge of the disk record after a
// lock.
//
// The locks are one-byte open-file-description locks above the largest legal file size M of the
// version: the append lock at M, record n at M - n. They are taken only when the file is open
// read-write and shared; otherwise the File's flock already keeps every other process out.
#include <cstring>

#include "tables/dbf_file.h"

namespace qzbase {

void DbfFile::lock_for_append() {
  QZ_TRACE;
  QZ_ASSERT(max_size_ > 0);
  if (!is_shared_writable()) return;
  if (!file_->lock(static_cast<std::streamoff>(append_lock_offset()), 1)) throw dbf_error_lock_for_append_failed();
}

void DbfFile::release_append_lock() {
  QZ_TRACE;
  if (!is_shared_writable()) return;
  if (!file_->unlock(static_cast<std::streamoff>(append_lock_offset()), 1)) throw dbf_error_release_append_lock_failed();
}

bool DbfFile::lock() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  return internal_lock();
}

bool DbfFile::unlock_record() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  return internal_unlock();
}

bool DbfFile::internal_lock() {
  QZ_TRACE;
  if (bof || eof) return false;
  if (!is_shared_writable()) return true;
  if (locked_records.count(recno) != 0) return true;
  bool granted = file_->lock(static_cast<std::streamoff>(record_lock_offset(recno)), 1);
  if (granted) locked_records.insert(recno);
  refresh();
  return granted;
}

bool DbfFile::internal_unlock() {
  QZ_TRACE;
  if (bof || eof) return false;
  if (!is_shared_writable()) return true;
  auto it = locked_records.find(recno);
  if (it == locked_records.end()) return false;
  if (!file_->unlock(static_cast<std::streamoff>(record_lock_offset(recno)), 1)) return false;
  locked_records.erase(it);
  return true;
}

// Every lock goes, wherever the table stands: after a scan the table is at EOF, and locks kept
// there would block other processes for as long as this one holds the file.
void DbfFile::unlock_all_records() {
  QZ_TRACE;
  DbfBusyGuard guard(this);
  if (!is_shared_writable()) return;
  for (auto it = locked_records.begin(); it != locked_records.end();) {
    if (file_->unlock(static_cast<std::streamoff>(record_lock_offset(*it)), 1)) {
      it = locked_records.erase(it);
    } else {
      ++it;
    }
  }
}

void DbfFile::refresh() {
  QZ_TRACE;
  if (!is_shared() || appending || bof || eof || recno == 0) return;
  char* disk = disk_record.get();
  char* old = old_record.get();
  char* current = current_record.get();
  // A record another process has cut away leaves the local state as it is.
  if (file_->readex(static_cast<std::streamoff>(record_offset(recno)), disk, record_length) < record_length) return;
  if (old[0] != disk[0] && current[0] == old[0]) current[0] = disk[0];
  auto bits_differ = [](const DbfField* f, const char* a, const char* b) {
    if (f->null_byte >= 0 && ((a[f->null_byte] ^ b[f->null_byte]) & f->null_mask) != 0) return true;
    return f->varlen_byte >= 0 && ((a[f->varlen_byte] ^ b[f->varlen_byte]) & f->varlen_mask) != 0;
  };
  auto copy_bit = [](int32_t byte, uint8_t mask, char* to, const char* from) {
    if (byte < 0) return;
    to[byte] = static_cast<char>((to[byte] & ~mask) | (from[byte] & mask));
  };
  for (DbfField* f : fields) {
    uint32_t d = f->displacement;
    bool on_disk = std::memcmp(old + d, disk + d, f->width) != 0 || bits_differ(f, old, disk);
    bool here = std::memcmp(old + d, current + d, f->width) != 0 || bits_differ(f, old, current);
    if (on_disk && !here) {
      std::memcpy(current + d, disk + d, f->width);
      copy_bit(f->null_byte, f->null_mask, current, disk);
      copy_bit(f->varlen_byte, f->varlen_mask, current, disk);
    }
  }
  std::memcpy(old, disk, record_length);
}

}  // namespace qzbase
