// runtime.cpp - the Runtime object's data, construction and destruction.
#include "host/runtime.h"

#include <cstring>

#include "builtins/library.h"
#include "platform/screen.h"

namespace qzbase {

Runtime::Runtime(Screen* screen_arg)
    : screen(screen_arg),
      codepage(nullptr),
      asserts(false),
      sys_point_text{'.', 0, 0, 0, 0},
      sys_point(U'.'),
      sys_point_ascii(true),
      sys_separator(U','),
      sys_decimals(2),
      sys_date_format(DATE_AMERICAN),
      sys_mark{'/', 0, 0, 0, 0},
      sys_century(false),
      sys_hours(12),
      sys_seconds(true),
      sys_fdow(1),
      fdow(1),
      priv(new RuntimePrivate) {
  QZ_TRACE;
  attach_runtime_vm(this, &priv->vm);
}

Runtime::~Runtime() {
  QZ_TRACE;
  // Language threads still running use the libraries, the formatters and the built-in library:
  // they are waited for before anything is taken down.
  join_language_threads(this);
  // A runtime destroyed without shutdown still gives its per-runtime state back.
  try {
    detach_builtin_library();
  } catch (...) {
  }
  for (auto& entry : priv->libraries) delete entry.second;
  priv->libraries.clear();
  priv->library_list.clear();
  {
    std::unique_lock<std::shared_mutex> lock(priv->date_formats.lock);
    priv->date_formats.entries.clear();
  }
  {
    std::unique_lock<std::shared_mutex> lock(priv->datetime_formats.lock);
    priv->datetime_formats.entries.clear();
  }
  if (priv->vm.call_resolver == priv->call_resolver.get()) priv->vm.call_resolver = nullptr;
  delete priv->builtin_library;
  priv->builtin_library = nullptr;
  detach_runtime_vm(this);
  if (priv->argv) {
    for (int32_t i = 0; i < priv->argc; ++i) delete[] priv->argv[i];
    delete[] priv->argv;
  }
  delete priv;
}

VmThread::~VmThread() {
  delete thread;
  delete stack;
}

bool VmThread::join_thread() {
  QZ_TRACE;
  std::thread* started = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex);
    started = thread;
  }
  if (started == nullptr) return false;
  // A thread joining itself would wait for ever (or throw): it is not joined.
  if (started->get_id() == std::this_thread::get_id()) return false;
  std::lock_guard<std::mutex> joining(join_lock);
  if (!started->joinable()) return false;
  started->join();
  return true;
}

bool VmThread::start(std::function<void(VmStack*)> body) {
  QZ_TRACE;
  std::lock_guard<std::mutex> lock(mutex);
  if (thread != nullptr) return false;
  std::shared_ptr<VmThread> self = shared_from_this();
  thread = new std::thread([self, body = std::move(body)]() mutable {
    body(self->stack);
    body = nullptr;  // what the body holds goes while the stack still exists
  });
  return true;
}

void VmThread::unregister() {
  QZ_TRACE;
  if (runtime == nullptr) return;
  {
    // The thread's own Join of itself keeps the record: the registry's reference is what keeps
    // the running thread from holding the last one.
    std::lock_guard<std::mutex> lock(mutex);
    if (thread != nullptr && thread->get_id() == std::this_thread::get_id()) return;
  }
  std::shared_ptr<VmThread> dropped;  // the registry's reference goes outside its lock
  std::unique_lock<std::shared_mutex> lock(runtime->priv->threads_lock);
  auto it = runtime->priv->threads.find(id);
  if (it != runtime->priv->threads.end() && it->second.get() == this) {
    dropped = std::move(it->second);
    runtime->priv->threads.erase(it);
  }
  lock.unlock();
}

namespace {

// The factory of the "Thread" objects' records: registered under a new id with a stack of their
// own (65536 slots, 8192 undo records).
std::shared_ptr<LanguageThread> make_language_thread(VmStack* stack) {
  QZ_TRACE;
  Runtime* runtime = stack->get_runtime();
  if (runtime == nullptr) throw RuntimeError(1001, String("Thread"));
  auto record = std::make_shared<VmThread>();
  record->runtime = runtime;
  record->stack = new VmStack(runtime, 65536, 8192);
  std::unique_lock<std::shared_mutex> lock(runtime->priv->threads_lock);
  record->id = runtime->priv->next_thread_id++;
  runtime->priv->threads.emplace(record->id, record);
  return record;
}

[[maybe_unused]] const bool thread_factory_installed = (language_thread_factory.store(make_language_thread), true);

}  // namespace

void join_language_threads(Runtime* runtime) {
  QZ_TRACE;
  RuntimePrivate* priv = runtime->priv;
  // Joined from a snapshot, outside the registry lock: a running thread may need that lock (its
  // own Join of another thread) before it can end. A pass that joins nothing proves that no
  // language thread runs any more, so none can start another one.
  for (;;) {
    std::vector<std::shared_ptr<VmThread>> snapshot;
    {
      std::shared_lock<std::shared_mutex> lock(priv->threads_lock);
      snapshot.reserve(priv->threads.size());
      for (auto& entry : priv->threads) snapshot.push_back(entry.second);
    }
    bool joined = false;
    for (auto& record : snapshot) joined = record->join_thread() || joined;
    if (!joined) break;
  }
  // The records (and their stacks) are dropped outside the lock: releasing a stack may run code.
  std::unordered_map<uint64_t, std::shared_ptr<VmThread>> registered;
  {
    std::unique_lock<std::shared_mutex> lock(priv->threads_lock);
    registered.swap(priv->threads);
  }
  registered.clear();
}

Screen* Runtime::get_screen() const {
  QZ_TRACE;
  Screen* s = screen_override(this);
  return s ? s : screen;
}

date_format_st Runtime::dateFormat(DateTimeFormat style, bool century, const char* mark) {
  QZ_TRACE;
  return cached_date_format(priv->date_formats, style, century, mark);
}

date_format_st Runtime::dateTimeFormat(DateTimeFormat style, bool century, const char* mark, int hours, bool seconds,
                                       const char* date_time_separator, const char* time_separator) {
  QZ_TRACE;
  return cached_datetime_format(priv->datetime_formats, style, century, mark, hours, seconds, date_time_separator,
                                time_separator);
}

}  // namespace qzbase
