// split_trace.h - a per-thread hook the B-tree update calls after a node split has written its
// right and left halves. Empty unless the library's own tests install one (__debug_set_trace_callback);
// each thread has its own, so a test tracing one build never sees another thread's splits.
#pragma once

#include <functional>

namespace qzbase {

class VmStack;

extern thread_local std::function<void(VmStack*)> trace_idx_split_after_write_right_left;

}  // namespace qzbase
