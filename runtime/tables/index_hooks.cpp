// index_hooks.cpp - the table layer's own index hooks (no tags), the factory slot, and the guard
// that holds every index file locked.
#include "tables/index_hooks.h"

#include <qzbase.h>
#include <sched.h>

#include <atomic>

#include "tables/dbf_exceptions.h"
#include "tables/dbf_file.h"

namespace qzbase {

namespace {

std::atomic<dbf_index_hooks_factory> hooks_factory{nullptr};

}  // namespace

void DbfNoIndexHooks::open_structural_index(VmStack*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("structural index"));
}

// Without tags no order can be selected: reaching these is a caller's fault.
void DbfNoIndexHooks::go_top_in_index(DbfIndex*) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
void DbfNoIndexHooks::go_bottom_in_index(DbfIndex*) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
void DbfNoIndexHooks::go_next_in_index(DbfIndex*) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
void DbfNoIndexHooks::go_prev_in_index(DbfIndex*) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}

void DbfNoIndexHooks::create_index_tag(VmStack*, const createopts_st*, const internal_indexdef_st*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("structural index"));
}

void DbfNoIndexHooks::select_index(size_t, int) {
  QZ_TRACE;
  throw dbf_error_unknown_index_tag();
}
void DbfNoIndexHooks::select_index(const String&, int) {
  QZ_TRACE;
  throw dbf_error_unknown_index_tag();
}

void DbfNoIndexHooks::go_to(size_t recno) {
  QZ_TRACE;
  if (file_ != nullptr) file_->go_to_in_file(recno);
}

size_t DbfNoIndexHooks::create_key(const Variant*, char*, size_t, bool) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
size_t DbfNoIndexHooks::eval_key(VmStack*, char*, size_t) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
size_t DbfNoIndexHooks::get_current_key(char*, size_t) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
double DbfNoIndexHooks::get_current_key_pos() {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
size_t DbfNoIndexHooks::get_current_num_keys() {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
size_t DbfNoIndexHooks::get_current_key_num() {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
size_t DbfNoIndexHooks::get_compact_max_prefix() {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
size_t DbfNoIndexHooks::get_compact_max_suffix() {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
std::streamoff DbfNoIndexHooks::get_leaf_offset() {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
bool DbfNoIndexHooks::seek(const char*, size_t, int, int, bool) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}
bool DbfNoIndexHooks::seek_unique(const char*, size_t) {
  QZ_TRACE;
  throw dbf_error_no_index_selected();
}

void set_dbf_index_hooks_factory(dbf_index_hooks_factory factory) {
  QZ_TRACE;
  hooks_factory.store(factory, std::memory_order_release);
}

DbfIndexHooks* make_dbf_index_hooks(DbfFile* file) {
  QZ_TRACE;
  dbf_index_hooks_factory factory = hooks_factory.load(std::memory_order_acquire);
  if (factory != nullptr) return factory(file);
  return new DbfNoIndexHooks(file);
}

LockAllIndizes::LockAllIndizes(DbfFile* file) : hooks_(file->index_hooks()) {
  QZ_TRACE;
  for (;;) {
    try {
      hooks_->lock_indizes();
      return;
    } catch (const dbf_index_deadlock_detected&) {
      hooks_->unlock_indizes();
      sched_yield();
    } catch (...) {
      // What was taken before the failure goes back before the error passes on.
      hooks_->unlock_indizes();
      throw;
    }
  }
}

LockAllIndizes::~LockAllIndizes() {
  QZ_TRACE;
  try {
    hooks_->unlock_indizes();
  } catch (...) {  // a destructor during unwinding must not throw; closing the file releases them
  }
}

}  // namespace qzbase
