// control_commands.cpp - QUIT, CANCEL, ASSERT, ERROR, THROW and PRIVATE.
#include <unicode/unistr.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/regular_expressions.h"
#include "vm/error_handlers.h"
#include "vm/execute.h"
#include "vm/symtable.h"
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

// ERROR text raises 1098 with the text; ERROR n [, message] raises n (with the message as its
// detail). Numbers must fit 32 bits (39); a number below 1 would be an error that reads as "no
// error" (ERROR() 0, a run reported as a success), so it is refused as an invalid argument.
// The error goes back to the interpreter without unwinding when it can take it there.
void cmd_error(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const Variant* first = argument_value(stack, 1);
  RuntimeError e = [&] {
    if (first->tag == VT_STRING) return RuntimeError(1098, first->string);
    const int code = int32_argument(stack, 1);
    if (code < 1) throw RuntimeError(11);
    return has_argument(stack, argc, 2) ? RuntimeError(code, string_argument(stack, 2)) : RuntimeError(code);
  }();
  if (vm_defer_error(stack, e)) return;
  throw e;
}

// THROW value: an exception object carrying the value goes to the handler that takes it, handed
// back to the interpreter without unwinding when it can take it there.
void cmd_throw(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  vm_throw(stack, *argument_value(stack, 1));
}

namespace {

// A PRIVATE pattern (UTF-16LE text) compiled to match names without regard to case; 9007 when the
// matching engine refuses it.
Regex compile_pattern(VmStack* stack, size_t n) {
  String text = string_argument(stack, n);
  text.convert(Charset::utf16le, CON_NONE, 0);
  if (text.size() / 2 > static_cast<size_t>(INT32_MAX)) throw RuntimeError(11);
  const auto units = static_cast<int32_t>(text.size() / 2);
  icu::UnicodeString pattern;
  if (units > 0) {
    char16_t* buffer = pattern.getBuffer(units);
    if (buffer == nullptr) throw RuntimeError(11);
    std::memcpy(buffer, text.read(), static_cast<size_t>(units) * 2);
    pattern.releaseBuffer(units);
  }
  UErrorCode status = U_ZERO_ERROR;
  Regex compiled = compile_regex(pattern.getBuffer(), pattern.length(), UREGEX_CASE_INSENSITIVE, &status);
  if (U_FAILURE(status) || !compiled) throw RuntimeError(9007);
  return compiled;
}

// Whether the whole name matches; the compiled pattern is its own matcher.
bool matches_whole(URegularExpression* regex, const icu::UnicodeString& name) {
  UErrorCode status = U_ZERO_ERROR;
  uregex_setText(regex, name.getBuffer(), name.length(), &status);
  const bool found = U_SUCCESS(status) && uregex_matches(regex, -1, &status) != 0;
  return U_SUCCESS(status) && found;
}

}  // namespace

// PRIVATE ALL [LIKE p] [EXCEPT q]: every memory variable whose name matches the LIKE pattern and
// not the EXCEPT pattern is hidden until the running procedure ends, as the declaration of each
// name would hide it; so running it again (in a loop) saves no binding twice.
void cmd_private(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  Symtable* symtable = stack->get_symtable();
  QZ_ASSERT(symtable != nullptr);
  Regex like = compile_pattern(stack, 1);
  Regex except = compile_pattern(stack, 2);

  std::vector<symbol_id_type> selected;
  for (const auto& [symbol, memvar] : stack->memvars) {
    const std::string utf8 = symtable->resolve(symbol).u8str();
    const icu::UnicodeString name = icu::UnicodeString::fromUTF8(utf8);
    if (matches_whole(like.get(), name) && !matches_whole(except.get(), name)) selected.push_back(symbol);
  }
  for (symbol_id_type symbol : selected) stack->declare_private(symbol);
}

}  // namespace qzbase
