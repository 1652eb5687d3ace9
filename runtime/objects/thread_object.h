// thread_object.h - the native class "Thread": a program's "run" method on a thread of its own.
//
// The runtime host keeps the thread records (their registry, the stacks, the std::threads); this
// layer sees them through LanguageThread, and asks the host for a new one through
// language_thread_factory, which the host installs.
//
// Join never holds a lock while it waits: it copies the record under the Thread part's property
// lock (not the most derived object's, which "run" may be writing), then waits, then has the
// record unregistered. Join before Start, a second Join and a Join from the thread itself return
// at once. Whatever leaves "run" (an error, THROW, QUIT, CANCEL) ends that thread only: errors are
// written to standard error.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <functional>
#include <memory>

#include "objects/object.h"

namespace qzbase {

class LanguageThread {
 public:
  virtual ~LanguageThread();
  // Runs body on a new thread with this record's own stack; only the first call starts anything
  // (false afterwards, running or finished).
  virtual bool start(std::function<void(VmStack*)> body) = 0;
  // Waits until the started thread ends; at once when never started or joined before, or when
  // called from that thread itself.
  virtual void join() = 0;
  // Leaves the runtime's registry.
  virtual void unregister() = 0;
};

// Makes and registers a thread record with a stack of its own on the stack's runtime.
using language_thread_factory_type = std::shared_ptr<LanguageThread> (*)(VmStack* stack);
extern std::atomic<language_thread_factory_type> language_thread_factory;

class Thread_Object : public Object {
 public:
  Thread_Object(Class* cls, std::shared_ptr<LanguageThread> record);
  std::shared_ptr<LanguageThread> record;  // guarded by the property lock
};

extern const native_member_def_st thread_members[];
Object* create_thread(VmStack* stack, Class* cls);

// The body of every language thread: "run" of the object on the thread's stack.
void run(VmStack* stack, ObjectPointer object);

}  // namespace qzbase
