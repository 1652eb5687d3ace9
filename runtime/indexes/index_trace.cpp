// index_trace.cpp - this thread's split hook, for a build whose B-tree update does not define it.
//
// Weak: the definitions that sit with the B-tree update take their place.
#include "indexes/index_trace.h"

#include <qzbase.h>

namespace qzbase {

namespace {

thread_local index_split_trace_fn split_hook = nullptr;
thread_local void* split_hook_context = nullptr;

}  // namespace

__attribute__((weak)) void set_trace_idx_split_after_write_right_left(index_split_trace_fn fn, void* context) {
  QZ_TRACE;
  split_hook = fn;
  split_hook_context = context;
}

__attribute__((weak)) void trace_idx_split_after_write_right_left() {
  QZ_TRACE;
  if (split_hook != nullptr) split_hook(split_hook_context);
}

}  // namespace qzbase
