// system_functions.cpp - the host system and the console: OS and version texts, the runtime's
// environment copy, the home directory, sleeping, child processes, command-line splitting,
// message boxes, and the console commands that hand over to the screen.
//
// Child processes go through the process layer (platform/process.h): no shell, the runtime's
// environment copy as the child's environment. Errors of the screen reach the program unchanged.
#include "builtins/system_functions.h"

#include <cerrno>
#include <ctime>
#include <list>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "platform/process.h"
#include "values/charset_registry.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

Runtime* runtime_of(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  return runtime;
}

// An empty text in the runtime's character set.
String empty_text(Runtime* runtime) {
  return String(static_cast<size_t>(0), runtime->codepage != nullptr ? runtime->codepage : Charset::utf8);
}

void set_ascii(Variant* result, const char* text, size_t n) { result->set_string(String(text, n, Charset::ascii)); }

// The charset named by argument n when it is given; null (UTF-8) for none or an unknown name.
const Charset* charset_argument(VmStack* stack, size_t argc, size_t n) {
  if (!has_argument(stack, argc, n)) return nullptr;
  return get_charset_by_name(string_argument(stack, n));
}

// Stores an integer into argument n (a by-reference argument's target).
void store_integer(VmStack* stack, size_t n, long value) {
  Variant* target = argument_value(stack, n);
  target->release(stack);
  target->set_integer(value);
}

// Makes argument n a one-dimensional array of the texts.
void store_lines(VmStack* stack, size_t n, const std::list<String>& lines) {
  Array* array = Param(stack, n)->dimension(stack, lines.size(), 0);
  size_t i = 1;
  for (const String& line : lines) array->write(stack, i++)->set_string(line);
}

// The process layer's capture flags.
enum CaptureFlags : int {
  CAPTURE_SKIP_EMPTY = 1,
  CAPTURE_KEEP_LAST = 2,
  CAPTURE_NO_ECHO = 4,
};

}  // namespace

void bi_os(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (has_argument(stack, argc, 1) && integer_argument(stack, 1) != 1) throw RuntimeError(1001);
  set_ascii(result, "Linux", 5);
}

void bi_version(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  static constexpr char kFull[] = "Qz Runtime 0.9.2700(x86_64) for Linux";
  static constexpr char kNumber[] = "0.9.2700";
  if (!has_argument(stack, argc, 1)) {
    set_ascii(result, kFull, sizeof kFull - 1);
    return;
  }
  if (integer_argument(stack, 1) != 4) throw RuntimeError(1001);
  set_ascii(result, kNumber, sizeof kNumber - 1);
}

void bi_curexe(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_string(String(runtime_of(stack)->module_file_name()));
}

void bi_getenv(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = runtime_of(stack);
  String value;
  if (runtime->getenv(string_argument(stack, 1), &value)) {
    result->set_string(value);
  } else {
    result->set_string(empty_text(runtime));
  }
}

void bi_setenv(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  runtime_of(stack)->setenv(string_argument(stack, 1), string_argument(stack, 2));
}

void bi_unsetenv(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  runtime_of(stack)->unsetenv(string_argument(stack, 1));
}

void bi_userhomedir(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  String home;
  if (runtime_of(stack)->create_home_dir(home)) {
    result->set_string(home);
  } else {
    result->set_null();
  }
}

void bi_sleep(VmStack* stack, size_t, Variant*) {
  QZ_TRACE;
  const int64_t ms = integer_argument(stack, 1);
  if (ms <= 0) return;
  timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rest{};
  // A signal cuts the sleep short: sleep on for what is left.
  while (nanosleep(&wait, &rest) != 0 && errno == EINTR) wait = rest;
}

void bi_system(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = runtime_of(stack);
  const String command = string_argument(stack, 1);
  const Charset* charset = charset_argument(stack, argc, 3);
  std::list<String> lines;
  const int status = run_capture_console_command(runtime, runtime->get_screen(), command, &lines,
                                                 CAPTURE_SKIP_EMPTY | CAPTURE_KEEP_LAST, charset);
  if (argc >= 2) store_integer(stack, 2, status);
  if (lines.empty()) {
    result->set_string(empty_text(runtime));
  } else {
    result->set_string(lines.back());
  }
}

void bi_exec(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = runtime_of(stack);
  const String command = string_argument(stack, 1);
  const Charset* charset = charset_argument(stack, argc, 4);
  std::list<String> lines;
  const int status =
      run_capture_console_command(runtime, runtime->get_screen(), command, &lines, CAPTURE_NO_ECHO, charset);
  if (argc >= 2) store_lines(stack, 2, lines);
  if (argc >= 3) store_integer(stack, 3, status);
  if (lines.empty()) {
    result->set_string(empty_text(runtime));
  } else {
    result->set_string(lines.back());
  }
}

void bi_parseargs(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  const String text = string_argument(stack, 1);
  std::list<String> arguments;
  argvify(text, &arguments, text.get_charset());
  store_lines(stack, 2, arguments);
  result->set_integer(static_cast<long>(arguments.size()));
}

void bi_messagebox(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Runtime* runtime = runtime_of(stack);
  const String text = string_argument(stack, 1);
  const int64_t type = has_argument(stack, argc, 2) ? integer_argument(stack, 2) : 0;
  const String title = has_argument(stack, argc, 3) ? string_argument(stack, 3) : empty_text(runtime);

  // The buttons in screen order.
  static const int kButtons[6][3] = {
      {MSGBOX_OK, 0, 0},
      {MSGBOX_OK, MSGBOX_CANCEL, 0},
      {MSGBOX_ABORT, MSGBOX_RETRY, MSGBOX_IGNORE},
      {MSGBOX_YES, MSGBOX_NO, MSGBOX_CANCEL},
      {MSGBOX_YES, MSGBOX_NO, 0},
      {MSGBOX_RETRY, MSGBOX_CANCEL, 0},
  };
  const int64_t kind = type % 16;
  const int* buttons = kButtons[kind >= 0 && kind < 6 ? kind : 0];
  const int position = (type & 0x200) ? 2 : (type & 0x100) ? 1 : 0;
  const int offered = buttons[0] | buttons[1] | buttons[2];
  const int default_button = buttons[position];

  const int answer = runtime->get_screen()->msgbox(title, text, offered, default_button, 0);
  switch (answer) {
    case MSGBOX_OK:
      result->set_integer(1);
      return;
    case MSGBOX_CANCEL:
      result->set_integer(2);
      return;
    case MSGBOX_ABORT:
      result->set_integer(3);
      return;
    case MSGBOX_RETRY:
      result->set_integer(4);
      return;
    case MSGBOX_IGNORE:
      result->set_integer(5);
      return;
    case MSGBOX_YES:
      result->set_integer(6);
      return;
    case MSGBOX_NO:
      result->set_integer(7);
      return;
    default:
      throw RuntimeError(1001);
  }
}

void void_stackcall_run(VmStack* stack, size_t) {
  QZ_TRACE;
  Runtime* runtime = runtime_of(stack);
  run_console_command(runtime, runtime->get_screen(), string_argument(stack, 1));
}

void void_stackcall_clear(VmStack* stack, size_t) {
  QZ_TRACE;
  runtime_of(stack)->get_screen()->clear();
}

void void_stackcall_modify_command(VmStack* stack, size_t) {
  QZ_TRACE;
  runtime_of(stack)->get_screen()->modify_command(stack, string_argument(stack, 1));
}

void void_stackcall_browse(VmStack* stack, size_t) {
  QZ_TRACE;
  runtime_of(stack)->get_screen()->browse(stack);
}

void void_stackcall_wait(VmStack* stack, size_t) {
  QZ_TRACE;
  runtime_of(stack)->get_screen()->wait(stack);
}

}  // namespace qzbase
