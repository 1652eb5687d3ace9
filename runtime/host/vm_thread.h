// vm_thread.h - the record of one language thread, shared by the runtime's thread registry, the
// Thread object and the running thread itself.
//
// Two locks: `mutex` guards the start (thread goes from null to a started std::thread once and
// is never reset); `join_lock` serialises joins of that std::thread, so that the program's Join
// and the runtime's release never join it twice at once. A join takes only join_lock, never
// mutex: a thread that starts (or looks at) its own record while being joined cannot deadlock.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <mutex>
#include <thread>

#include "objects/thread_object.h"

namespace qzbase {

struct VmThread : public LanguageThread, public std::enable_shared_from_this<VmThread> {
  VmThread() = default;
  ~VmThread() override;  // deletes the std::thread (which must not be joinable any more), then the stack
  VmThread(const VmThread&) = delete;
  VmThread& operator=(const VmThread&) = delete;

  // Waits for the started thread to end; true when this call joined it, false when it was never
  // started, was joined before, or the caller is that thread itself.
  bool join_thread();

  // LanguageThread: the thread holds the record while it runs.
  bool start(std::function<void(VmStack*)> body) override;
  void join() override { join_thread(); }
  void unregister() override;

  Runtime* runtime = nullptr;

  std::mutex mutex;
  std::mutex join_lock;
  VmStack* stack = nullptr;       // owned
  uint64_t id = 0;                // the registry key
  std::thread* thread = nullptr;  // owned; null until started
};

// Joins every registered language thread that runs or has ended unjoined, then empties the
// registry (the records are dropped outside its lock). The registry is read from a snapshot so
// that a running thread can take the registry lock itself (its own Join of another thread) while
// it is waited for; threads started meanwhile by threads being joined are joined too.
void join_language_threads(Runtime* runtime);

}  // namespace qzbase
