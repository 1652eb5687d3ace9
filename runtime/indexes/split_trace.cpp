// split_trace.cpp - the per-thread split hook.
#include "indexes/split_trace.h"

namespace qzbase {

thread_local std::function<void(VmStack*)> trace_idx_split_after_write_right_left;

}  // namespace qzbase
