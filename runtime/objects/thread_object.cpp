// thread_object.cpp - the native class "Thread".
#include "objects/thread_object.h"

#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "vm/calls.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

std::atomic<language_thread_factory_type> language_thread_factory{nullptr};

LanguageThread::~LanguageThread() { QZ_TRACE; }

Thread_Object::Thread_Object(Class* cls, std::shared_ptr<LanguageThread> r) : Object(cls), record(std::move(r)) {
  QZ_TRACE;
}

namespace {

void report(const std::string& text) {
  std::string line = text + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

// The thread record of the Thread part the method runs on, read under its property lock.
std::shared_ptr<LanguageThread> thread_record(VmStack* stack) {
  auto* self = static_cast<Thread_Object*>(stack->method_context.owner);
  std::shared_lock<std::shared_mutex> lock(self->property_lock);
  return self->record;
}

void start(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  std::shared_ptr<LanguageThread> record = thread_record(stack);
  if (record == nullptr) return;
  // The most derived object runs: its "run" is the program's.
  Object* obj = stack->method_context.object;
  if (obj == nullptr || obj->control == nullptr) throw_assert_failed();
  ObjectPointer held;
  held.attach(obj);
  record->start([held](VmStack* thread_stack) mutable { run(thread_stack, std::move(held)); });
}

void join(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  std::shared_ptr<LanguageThread> record = thread_record(stack);
  if (record == nullptr) return;
  record->join();
  record->unregister();
}

}  // namespace

void run(VmStack* stack, ObjectPointer object) {
  QZ_TRACE;
  try {
    Object* obj = object.get();
    symbol_id_type symbol = stack->symtable->symbolize(String("run"));
    ScopedValue result(stack);
    PushedScope pushed(stack);
    stack->push()->value.set(obj);
    obj->virtual_call(stack, symbol, 0, &result.value);
  } catch (const RuntimeError& e) {
    report(e.message.u8str());
  } catch (const RuntimeQuit&) {
    // QUIT and CANCEL end this thread only.
  } catch (const RuntimeThrow&) {
    report("Unhandled THROW in a language thread.");
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("A language thread ended with an unknown failure.");
  }
  try {
    object.release(stack);
  } catch (const RuntimeError& e) {
    report(e.message.u8str());
  } catch (...) {
  }
}

const native_member_def_st thread_members[] = {
    {"Start", 1, nullptr, nullptr, start},
    {"Join", 1, nullptr, nullptr, join},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

Object* create_thread(VmStack* stack, Class* cls) {
  QZ_TRACE;
  language_thread_factory_type factory = language_thread_factory.load();
  if (factory == nullptr) throw RuntimeError(1001, String("Thread"));
  return new Thread_Object(cls, factory(stack));
}

}  // namespace qzbase
