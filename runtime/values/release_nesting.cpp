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

struct release_levels_st {
  unsigned depth = 0;
  std::vector<queued_release_st> queue;
};

thread_local release_levels_st levels;

}  // namespace

bool release_nesting_exceeded() {
  QZ_TRACE;
  return levels.depth >= kMaxReleaseNesting;
}

void queue_release(release_fn run, void* item, VmStack* stack) {
  QZ_TRACE;
  levels.queue.push_back(queued_release_st{run, item, stack});
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
    while (!state.queue.empty()) {
      queued_release_st next = state.queue.back();
      state.queue.pop_back();
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
