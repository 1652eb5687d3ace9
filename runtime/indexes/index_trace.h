// index_trace.h - the hook the index layer calls after a node split has written both halves.
//
// The slot is per thread and empty until the language layer (which can run a callback program on
// the current stack) fills it; the index layer itself knows nothing of stacks or programs.
#pragma once

namespace qzbase {

using index_split_trace_fn = void (*)(void* context);

// Fills (or, with a null function, empties) this thread's slot.
void set_trace_idx_split_after_write_right_left(index_split_trace_fn fn, void* context);
// Calls this thread's hook when there is one.
void trace_idx_split_after_write_right_left();

}  // namespace qzbase
