// qzsh: the Qz shell. Sets up a console screen and a runtime, then hands over to RunQzsh.
#include <qzbase.h>

#include <unistd.h>

#include <signal.h>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "exit_status.h"

extern char** environ;

namespace {

// Installs one crash handler unless a handler taking siginfo is already there (a sanitizer's):
// ours chains to the previous handler with the signal number only, so it can follow a plain
// handler but must leave a siginfo one in place.
void install_signal_handler(int signal, void (*handler)(int), void (**old)(int)) {
  struct sigaction previous = {};
  if (sigaction(signal, nullptr, &previous) != 0) return;
  if (previous.sa_flags & SA_SIGINFO) return;
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  if (sigaction(signal, &action, nullptr) != 0) return;
  bool plain = previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN;
  *old = plain ? previous.sa_handler : nullptr;
}

// A stack overflow leaves the handler no stack of its own: it runs on this one instead.
void install_alternate_signal_stack() {
  static char stack_memory[256 * 1024];
  stack_t alternate = {};
  alternate.ss_sp = stack_memory;
  alternate.ss_size = sizeof stack_memory;
  sigaltstack(&alternate, nullptr);
}

void install_crash_handlers() {
  install_alternate_signal_stack();
  install_signal_handler(SIGSEGV, qzbase::sig_SEGV_handler, &qzbase::old_sig_SEGV_handler);
  install_signal_handler(SIGABRT, qzbase::sig_ABRT_handler, &qzbase::old_sig_ABRT_handler);
  qzbase::old_terminate_handler = std::set_terminate(qzbase::terminate_handler);
}

}  // namespace

int main(int argc, char** argv) {
  install_crash_handlers();

  qzbase::ConsoleScreen screen;
  qzbase::Runtime* runtime = qzbase::CreateRuntime(&screen);
  runtime->pass_arguments(argc, argv);
  runtime->pass_environment(environ);
  std::error_code error;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) runtime->set_module_file_name(self.c_str());

  int result = qzbase::RunQzsh(runtime);
  screen.flush();
  qzbase::ReleaseRuntime(runtime);
  // Output that could not be written (a full device, a closed pipe) is a failure, not a success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("Error writing to file 'qz://stdout'.\n", stderr);
    if (result == 0) result = 1105;
  }
  return qzsh::exit_status(result);
}
