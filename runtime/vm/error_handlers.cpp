// error_handlers.cpp - the handler search, THROW and the runtime-error report.
#include "vm/error_handlers.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "values/value_text.h"
#include "vm/debugger.h"
#include "vm/exception_objects.h"
#include "vm/program.h"

namespace qzbase {

String (*vm_module_name)(const Module* module) = nullptr;

exception_hooks_st exception_hooks{};

RuntimeErrorRecovery vm_handle_exception(VmStack* stack, how_to_handle_st& how) {
  QZ_TRACE;
  return stack->handle_exception(how);
}

namespace {

// printf into at most limit bytes, cut back to a whole UTF-8 character.
std::string format_line(size_t limit, const char* format, ...) {
  std::vector<char> buffer(limit + 1);
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  if (n < 0) return std::string();
  size_t size = static_cast<size_t>(n) < limit ? static_cast<size_t>(n) : limit;
  if (static_cast<size_t>(n) > limit) {
    // Drop a character the cut split: back to its lead byte, and the lead byte too unless the
    // whole sequence is there.
    size_t lead = size;
    while (lead > 0 && (static_cast<unsigned char>(buffer[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      auto b = static_cast<unsigned char>(buffer[lead - 1]);
      size_t want = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      if (size - (lead - 1) < want) size = lead - 1;
    }
  }
  return std::string(buffer.data(), size);
}

void write_error_line(Screen* screen, const std::string& text) {
  screen->errendl(String(text.data(), text.size(), Charset::utf8));
}

std::string module_name(const Program* program) {
  const Module* m = program->owner_module();
  if (m == nullptr || vm_module_name == nullptr) return std::string();
  return vm_module_name(m).u8str();
}

std::string program_name(const Program* program) {
  return program->name().size() == 0 ? std::string("<anonymous>") : program->name().u8str();
}

// The source line and column of the frame's position; 0 and 0 when it has none.
void frame_location(const VmFrame* f, uint32_t* line, uint32_t* column) {
  const DebugInfo* debug = f->program->debug_info();
  document_location_st loc{};
  if (debug != nullptr) debug->location_of(f->position, &loc);
  *line = loc.begin_line;
  *column = loc.begin_column;
}

// Marks the frame running now as where nested searches (started by errors inside WHEN conditions)
// stop, for the duration of one search.
class SearchScope {
 public:
  explicit SearchScope(VmStack* stack) : stack_(stack), saved_(stack->handler_search_base) {
    stack->handler_search_base = stack->frame;
  }
  ~SearchScope() { stack_->handler_search_base = saved_; }
  SearchScope(const SearchScope&) = delete;
  SearchScope& operator=(const SearchScope&) = delete;

 private:
  VmStack* stack_;
  const VmFrame* saved_;
};

enum class Verdict { taken, declined, no_room };

// Runs a WHEN condition with the error object as its one local when it has one slot.
Verdict run_condition(VmStack* stack, const Program* condition, const Variant* error) {
  Memvar* slot = nullptr;
  if (condition->slot_count() == 1) {
    if (stack->sp == stack->slots_begin()) return Verdict::no_room;  // 9010: no slot below
    slot = stack->sp - 1;
    if (slot->value.tag != VT_FALSE || slot->flag != MEMVAR_NONE) throw_assert_failed();
    error->copy(&slot->value);
    slot->flag = MEMVAR_LOCAL;
  }
  // When the condition's frame was never entered (error 103), the copy is still there.
  auto clear_slot = [&] {
    if (slot != nullptr && slot < stack->sp) {
      slot->value.release(nullptr);
      slot->flag = MEMVAR_NONE;
    }
  };
  Variant r;
  bool taken;
  try {
    execute_program(stack, 0, false, condition, &r);
    clear_slot();
    taken = variant_to_bool(r);
  } catch (RuntimeError& e) {
    clear_slot();
    // The error ends the search as itself: it is not offered to handlers again.
    if (!e.handled) {
      stack->last_error = e;
      stack->last_error.handled = true;
      e.handled = true;
    }
    throw;
  } catch (...) {
    clear_slot();
    throw;
  }
  r.release(stack);
  return taken ? Verdict::taken : Verdict::declined;
}

}  // namespace

bool VmStack::find_handler(Variant* error, const VmFrame** frame_out, intptr_t* target_out, symbol_id_type* symbol_out) {
  QZ_TRACE;
  // A search started by an error inside a WHEN condition ends at the frame the outer search began
  // in: the frames from there outward are the ones being searched.
  const VmFrame* stop = handler_search_base;
  SearchScope scope(this);
  for (const VmFrame* f = frame; f != nullptr && f != stop; f = f->previous) {
    for (const handler_record_st* h = f->handlers; h != nullptr; h = h->next) {
      if (!h->handler->protects(f->position)) continue;
      for (const catch_clause_st& clause : h->handler->clauses) {
        if (clause.condition != nullptr) {
          Verdict v = run_condition(this, clause.condition, error);
          if (v == Verdict::no_room) return false;
          if (v == Verdict::declined) continue;
        }
        *frame_out = f;
        *target_out = static_cast<intptr_t>(clause.target);
        *symbol_out = clause.variable;
        return true;
      }
    }
  }
  return false;
}

RuntimeErrorRecovery VmStack::handle_exception(how_to_handle_st& h) {
  QZ_TRACE;
  if (frame == nullptr) throw_assert_failed();
  const bool in_condition = handler_search_base != nullptr;

  error(last_error.code, last_error.message, last_error.detail);

  int answer = -1;
  if (debugger != nullptr && !in_condition) answer = debugger->on_exception(this, last_error.code, last_error.message);

  if (exception_hooks.for_error == nullptr) throw_assert_failed();
  h.value.release(this);
  exception_hooks.for_error(this, last_error.code, last_error.message, last_error.detail, &h.value);

  if (find_handler(&h.value, &h.frame, &h.target, &h.symbol)) return RECOVERY_HANDLER;
  // An error inside a WHEN condition ends the search that ran it: no report, no question.
  if (in_condition) return RECOVERY_PROPAGATE;
  if (answer >= 0) {
    release_stack_to(frame_local_base);
    return RECOVERY_CONTINUE;
  }

  const Program* program = frame->program;
  // Command lines, scripts and expressions: the runtime entry reports.
  if (program->owner_module() == nullptr) return RECOVERY_PROPAGATE;
  Screen* screen = runtime != nullptr ? runtime->get_screen() : nullptr;
  if (screen == nullptr) return RECOVERY_PROPAGATE;

  uint32_t line, column;
  frame_location(frame, &line, &column);
  write_error_line(screen, format_line(1023, "%s %d - %s", "(Runtime error)", last_error.code,
                                       last_error.message.u8str().c_str()));
  write_error_line(screen, format_line(8191, " in %s, line %d, column %d, program %s", module_name(program).c_str(),
                                       static_cast<int>(line), static_cast<int>(column),
                                       program_name(program).c_str()));
  screen->errendl();

  int choice = screen->msgbox(String(), String(), MSGBOX_CANCEL | MSGBOX_RETRY | MSGBOX_IGNORE, MSGBOX_CANCEL, 1);
  // The operations of the failing statement, which stand in a row.
  size_t first = 0, last = 0;
  program->statements().run_of(static_cast<size_t>(frame->position - program->code()), &first, &last);
  switch (choice) {
    case MSGBOX_RETRY: {
      // Back to the first operation of the failing statement.
      code_position p = program->code() + first;
      release_stack_to(frame_local_base);
      frame->position = p;
      return RECOVERY_CONTINUE;
    }
    case MSGBOX_IGNORE: {
      code_position p = program->code() + last;
      // Nothing follows the failing statement: there is no statement to go on with.
      if (*p == nullptr) return RECOVERY_PROPAGATE;
      release_stack_to(frame_local_base);
      frame->position = p;
      return RECOVERY_CONTINUE;
    }
    case MSGBOX_CANCEL: {
      screen->errendl(String("(Stack trace)"));
      unsigned long number = 0;
      for (const VmFrame* f = frame; f != nullptr; f = f->previous) ++number;
      for (const VmFrame* f = frame; f != nullptr; f = f->previous, --number) {
        uint32_t l, c;
        frame_location(f, &l, &c);
        write_error_line(screen, format_line(2047, " #%03lu in %s, line %u, column %u, program %s", number,
                                             module_name(f->program).c_str(), l, c,
                                             program_name(f->program).c_str()));
      }
      screen->errendl();
      return RECOVERY_PROPAGATE;
    }
    default:
      return RECOVERY_PROPAGATE;  // no dialog: the runtime entry reports
  }
}

void vm_throw(VmStack* stack, const Variant& value) {
  QZ_TRACE;
  if (exception_hooks.for_value == nullptr) throw_assert_failed();
  Variant thrown;
  exception_hooks.for_value(stack, value, &thrown);
  const VmFrame* target_frame = nullptr;
  intptr_t target = 0;
  symbol_id_type symbol = 0;
  if (!stack->find_handler(&thrown, &target_frame, &target, &symbol)) {
    RuntimeError e(2059);
    if (vm_defer_error(stack, e)) return;
    throw e;
  }
  RuntimeThrow t(thrown, const_cast<VmFrame*>(target_frame), symbol, static_cast<size_t>(target));
  thrown.release(stack);
  if (vm_defer_throw(stack, t)) return;
  throw t;
}

// The stack's last error, for hosts.
int GetLastError(VmStack* stack) {
  QZ_TRACE;
  return stack->last_error.code;
}

int GetLastErrorMessage(VmStack* stack, char* buffer, size_t size) {
  QZ_TRACE;
  const RuntimeError& e = stack->last_error;
  if (e.code == 0) {
    if (size != 0 && buffer != nullptr) buffer[0] = 0;
    return 0;
  }
  if (e.detail.size() != 0) return TranslateErrorEx(e.code, e.detail, buffer, size);
  return TranslateError(e.code, buffer, size);
}

}  // namespace qzbase
