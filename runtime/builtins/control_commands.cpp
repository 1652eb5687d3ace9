// control_commands.cpp - QUIT, CANCEL and ASSERT.
#include "builtins/entry_points.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

void cmd_quit(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeQuit(QUIT_QUIT);
}

void cmd_cancel(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeQuit(QUIT_CANCEL);
}

// ASSERT condition, text: only false fails (null and every other value pass). Whether ASSERT runs
// at all while asserts are off is the compiler's choice.
void cmd_assert(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const Variant* condition = Param(stack, 1);
  if (condition->tag == VT_REFERENCE) condition = condition->reference.target;
  if (condition->tag != VT_FALSE) return;
  Runtime* runtime = stack->get_runtime();
  if (runtime == nullptr) throw_assert_failed();
  Screen* screen = runtime->get_screen();
  String text = argc >= 2 ? static_cast<String>(*Param(stack, 2)) : String("");
  {
    ScreenOutputLock lock(screen);
    screen->out(String("ASSERT FAILED: "));
    screen->outendl(text);
  }
  throw RuntimeError(1098);
}

}  // namespace qzbase
