// qzbase_internal.h - what every part of the library uses but no host sees: the call trace, the
// invariant check and the whole Runtime object (qzbase_runtime.h). The install ships qzbase.h
// alone; the library's own sources and its tests reach this header through qzbase.h, which
// includes it when QZ_INTERNAL_BUILD is defined.
#pragma once

#include <qzbase.h>

#include "qzbase_runtime.h"

namespace qzbase {

// ---------------------------------------------------------------------------------------------
// Call trace
//
// Every library function starts with QZ_TRACE. The guard pushes a frame naming the function onto
// a per-thread chain and pops it on every exit, exceptions included, so the crash handlers can
// print which library functions were active. Push and pop are two stores each: no call, no lock.
// ---------------------------------------------------------------------------------------------

struct trace_frame_st {
  const char* name;
  trace_frame_st* prev;
};

// The head of the calling thread's chain (null when no traced function is active). Initial-exec
// TLS keeps the access to one %fs-relative load.
extern __thread trace_frame_st* trace_head __attribute__((tls_model("initial-exec")));

void trace_push(trace_frame_st& frame, const char* signature);
void trace_pop(trace_frame_st& frame);
void print_call_trace();

class TraceGuard {
 public:
  explicit TraceGuard(const char* signature) noexcept {
    frame_.name = signature;
    frame_.prev = trace_head;
    trace_head = &frame_;
  }
  ~TraceGuard() { trace_head = frame_.prev; }
  TraceGuard(const TraceGuard&) = delete;
  TraceGuard& operator=(const TraceGuard&) = delete;

 private:
  trace_frame_st frame_;
};

#define QZ_TRACE ::qzbase::TraceGuard qz_trace_guard_(__PRETTY_FUNCTION__)

// Broken internal invariants: throws assert_failed_exception (qzbase.h) when cond is false.
#define QZ_ASSERT(cond)                    \
  do {                                     \
    if (!(cond)) ::qzbase::throw_assert_failed(); \
  } while (0)

}  // namespace qzbase
