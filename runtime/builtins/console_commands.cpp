// console_commands.cpp - ? and ??: the values of the command in their regional text.
#include "builtins/entry_points.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"
#include "values/session_settings.h"
#include "values/value_text.h"

#include <cstring>

namespace qzbase {

namespace {

// A numeric of no decimals shows no decimal point ("12", not "12.").
String echo_text(const Variant& v, VmStack* stack) {
  const Variant& value = v.tag == VT_REFERENCE ? *v.reference.target : v;
  String text = variant_to_string_regional(value, stack);
  if (value.tag == VT_NUMERIC && value.numeric.decimals == 0) {
    const char* point = current_settings(stack).decimal_point;
    size_t n = std::strlen(point);
    if (n > 0 && text.size() > n && std::memcmp(text.end() - n, point, n) == 0) text.resize(text.size() - n);
  }
  return text;
}

void echo(VmStack* stack, size_t argc, bool line_end) {
  Runtime* runtime = stack->get_runtime();
  if (runtime == nullptr) throw_assert_failed();
  Screen* screen = runtime->get_screen();
  // One command's values stay together against other threads' output.
  ScreenOutputLock lock(screen);
  for (size_t i = 1; i <= argc; ++i) {
    if (i > 1 && stack->set_space) screen->out(String(" "));
    screen->out(echo_text(*Param(stack, i), stack));
  }
  if (line_end) screen->outendl();
}

}  // namespace

void cmd_echo_linefeed(VmStack* stack, size_t argc) {
  QZ_TRACE;
  echo(stack, argc, true);
}

void cmd_echo(VmStack* stack, size_t argc) {
  QZ_TRACE;
  echo(stack, argc, false);
}

}  // namespace qzbase
