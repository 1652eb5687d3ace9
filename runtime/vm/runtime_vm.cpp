// runtime_vm.cpp - the registry of the runtimes' VM states.
#include "vm/runtime_vm.h"

#include <mutex>
#include <utility>
#include <vector>

namespace qzbase {

namespace {

// A process has few runtimes at a time; stacks look here once each, when they are built.
std::mutex registry_lock;
std::vector<std::pair<const Runtime*, RuntimeVmState*>>& registry() {
  static auto* entries = new std::vector<std::pair<const Runtime*, RuntimeVmState*>>();
  return *entries;
}

}  // namespace

void attach_runtime_vm(const Runtime* runtime, RuntimeVmState* state) {
  QZ_TRACE;
  if (runtime == nullptr || state == nullptr) throw_assert_failed();
  std::lock_guard<std::mutex> guard(registry_lock);
  for (auto& entry : registry()) {
    if (entry.first == runtime) {
      entry.second = state;
      return;
    }
  }
  registry().emplace_back(runtime, state);
}

void detach_runtime_vm(const Runtime* runtime) {
  QZ_TRACE;
  std::lock_guard<std::mutex> guard(registry_lock);
  auto& entries = registry();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].first == runtime) {
      entries[i] = entries.back();
      entries.pop_back();
      return;
    }
  }
}

RuntimeVmState* find_runtime_vm(const Runtime* runtime) {
  QZ_TRACE;
  if (runtime == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(registry_lock);
  for (const auto& entry : registry()) {
    if (entry.first == runtime) return entry.second;
  }
  return nullptr;
}

}  // namespace qzbase
