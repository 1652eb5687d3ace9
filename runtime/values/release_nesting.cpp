// release_nesting.cpp - the per-thread release levels and their queue.
#include "values/release_nesting.h"

#include <exception>
#include <vector>

namespace qzbase {

namespace {

struct queued_release_st {
  release_fn run;
  void* item;
  VmStack* stack;
};

// The counts are plain thread data, read with one load on every release of an object; the queue
// (a vector, constructed and destroyed per thread) is touched only when something was queued.
struct release_levels_st {
  unsigned depth;
  size_t queued;  // entries in queue
};

__thread release_levels_st levels __attribute__((tls_model("initial-exec")));
thread_local std::vector<queued_release_st> queue;

}  // namespace

bool release_nesting_exceeded() {
  QZ_TRACE;
  return levels.depth >= kMaxReleaseNesting;
}

void queue_release(release_fn run, void* item, VmStack* stack) {
  QZ_TRACE;
  queue.push_back(queued_release_st{run, item, stack});
  ++levels.queued;
}

void run_release(release_fn run, void* item, VmStack* stack) {
  QZ_TRACE;
  release_levels_st& state = levels;
  struct level_guard {
    release_levels_st& state;
    explicit level_guard(release_levels_st& s) : state(s) { ++state.depth; }
    ~level_guard() { --state.depth; }
  } guard(state);
  std::exception_ptr first;
  try {
    run(item, stack);
  } catch (...) {
    first = std::current_exception();
  }
  if (state.depth == 1) {
    while (state.queued != 0) {
      queued_release_st next = queue.back();
      queue.pop_back();
      --state.queued;
      try {
        run_release(next.run, next.item, next.stack);
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
  }
  if (first) std::rethrow_exception(first);
}

}  // namespace qzbase
