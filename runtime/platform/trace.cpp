// The per-thread call trace and the crash handlers that print it.
//
// The signal handlers run after a fault, when stdio and the heap may be in any state, so they
// format into stack buffers and write(2) directly, then _exit.
#include <qzbase.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <exception>

namespace qzbase {

__thread trace_frame_st* trace_head __attribute__((tls_model("initial-exec"))) = nullptr;

extern "C" {
void (*old_sig_SEGV_handler)(int) = nullptr;
void (*old_sig_ABRT_handler)(int) = nullptr;
void (*old_terminate_handler)() = nullptr;
}

void trace_push(trace_frame_st& frame, const char* signature) {
  frame.name = signature;
  frame.prev = trace_head;
  trace_head = &frame;
}

void trace_pop(trace_frame_st& frame) {
  trace_head = frame.prev;
}

namespace {

void write_all(const char* text, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(STDERR_FILENO, text, n);
    if (w <= 0) return;
    text += w;
    n -= static_cast<size_t>(w);
  }
}

void write_text(const char* text) {
  write_all(text, std::strlen(text));
}

// Writes each frame as "%s\n", newest first, without touching the heap.
void write_chain() {
  char line[1024];
  for (const trace_frame_st* f = trace_head; f != nullptr; f = f->prev) {
    const char* name = f->name ? f->name : "";
    size_t n = std::strlen(name);
    if (n > sizeof(line) - 1) n = sizeof(line) - 1;
    std::memcpy(line, name, n);
    line[n] = '\n';
    write_all(line, n + 1);
  }
}

[[noreturn]] void end_process(int status) {
  _exit(status);
}

}  // namespace

void print_call_trace() {
  write_chain();
}

void sig_SEGV_handler(int signal) {
  write_text("Program abnormally terminated after SIGSEGV\n");
  write_chain();
  if (old_sig_SEGV_handler != nullptr) {
    old_sig_SEGV_handler(signal);
    return;
  }
  end_process(signal);
}

void sig_ABRT_handler(int signal) {
  write_text("Program abnormally terminated after SIGABRT\n");
  write_chain();
  if (old_sig_ABRT_handler != nullptr) {
    old_sig_ABRT_handler(signal);
    return;
  }
  end_process(signal);
}

void terminate_handler() {
  std::exception_ptr current = std::current_exception();
  if (!current) {
    write_text("Program is being terminated without exception\n");
  } else {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      write_text("Program is being terminated with ");
      write_text(e.what());
      write_text("\n");
    } catch (const assert_failed_exception&) {
      write_text("Program is being terminated qzbase::assert_failed_exception\n");
    } catch (...) {
      write_text("Program is being terminated with unknown exception\n");
    }
  }
  if (old_terminate_handler != nullptr) {
    old_terminate_handler();
    return;
  }
  std::exit(1);
}

}  // namespace qzbase
