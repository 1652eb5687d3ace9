// loops.cpp - DO WHILE, FOR, FOR EACH and SCAN, their end statements, EXIT and LOOP.
#include "compiler/loops.h"

#include <qzbase.h>

#include <cstring>
#include <memory>
#include <optional>

#include "vm/library.h"
#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "compiler/native_commands.h"
#include "compiler/try_with.h"
#include "vm/symtable.h"
#include "vm/vm_op.h"

namespace qzbase {

namespace {

// Loop kinds a statement looks for, as a mask of 1 << loop_kind.
constexpr uint32_t kMaskDoWhile = 1u << LOOP_DO_WHILE;
constexpr uint32_t kMaskFor = (1u << LOOP_FOR) | (1u << LOOP_FOR_EACH);
constexpr uint32_t kMaskScan = 1u << LOOP_SCAN;
constexpr uint32_t kMaskAny = kMaskDoWhile | kMaskFor | kMaskScan;

AddressLabelRecord* new_label(CodePath& path, const char* name) {
  return path.compiler->create_addresslabel(String(name));
}

// The innermost scope, from path outward, whose open loop is one of the mask's kinds.
CodePath* find_loop(CodePath& path, uint32_t mask) {
  for (CodePath* p = &path; p != nullptr; p = p->parent) {
    if (p->loop_kind != LOOP_NONE && (mask & (1u << p->loop_kind)) != 0) return p;
  }
  return nullptr;
}

const library_func_def_st& builtin_function(CodePath& path, const char* name) {
  const library_func_def_st* def = builtin_library_of(path)->find_function(std::string_view(name));
  if (def == nullptr || def->function == nullptr) throw_assert_failed();
  return *def;
}

const library_command_def_st& builtin_command(CodePath& path, const char* name) {
  const library_command_def_st* def = builtin_library_of(path)->find_command(String(name));
  if (def == nullptr || def->function == nullptr) throw_assert_failed();
  return *def;
}

const Variable* variable_operand(const Operand* operand) {
  if (operand == nullptr || operand->kind != OPERAND_VARIABLE) throw_assert_failed();
  return static_cast<const Variable*>(operand);
}

// A body scope with the loop context of kind.
void open_loop(CodePath& body, uint32_t kind, AddressLabelRecord* head, AddressLabelRecord* body_label,
               AddressLabelRecord* exit) {
  body.loop_kind = kind;
  body.loop_head_label = head;
  body.loop_body_label = body_label;
  body.loop_exit_label = exit;
}

// Closes the loop when asked to and loop is the current scope: the exit label follows the
// end-of-iteration code.
int close_loop(CompiledCodeCollection* code, CodePath& current, CodePath* loop, bool close) {
  if (!close || loop != &current) return 0;
  loop->loop_kind = LOOP_NONE;
  code->place_label(loop->loop_exit_label);
  return -1;
}

// Joins "keyword" and the macro parts with concat and hands the text and references to the
// temporaries to the initializer, which compiles the statement's clauses at run time.
void compile_macro_init(const document_location_st& location, const char* keyword, MacroItem* const* items,
                        uint64_t count, const char* initializer, const Variable* const* temps, size_t temp_count,
                        CompiledCodeCollection* code, CodePath& path) {
  const library_func_def_st& concat = builtin_function(path, "concat");
  const library_func_def_st& init = builtin_function(path, initializer);
  code->push_back(location, new VmOpEspAlloc());
  code->push_back(location, new VmOpEspAlloc());
  code->push_back(location, new VmOpReadConstString(String(keyword)));
  compile_eval_macro(location, items, count, code, path);
  code->push_back(location, new VmOpCallSpecDo(concat.function, count + 1));
  for (size_t i = 0; i < temp_count; ++i) {
    compiler_type_info_st type{0, false, -1};
    compile_operand_ref(temps[i], false, false, code, path, &type);
  }
  code->push_back(location, new VmOpCallSpecDo(init.function, temp_count + 1));
  code->push_back(location, new VmOpEspFree());
}

// The value of a run-time compiled condition held in a temporary: its "evaluate" method.
void compile_evaluate_temp(const document_location_st& location, symbol_id_type temp, CompiledCodeCollection* code,
                           CodePath& path) {
  code->push_back(location, new VmOpEspAlloc());
  compile_read_temp(location, temp, code, path);
  code->push_back(location, new VmOpObjectCall(path.symbolize("evaluate"), 0));
}

int end_of_iteration(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                     CodePath* loop, bool close) {
  switch (loop->loop_kind) {
    case LOOP_DO_WHILE: return compile_dowhile_loop(location, code, current, loop, close);
    case LOOP_FOR: return compile_for_loop(location, code, current, loop, close);
    case LOOP_FOR_EACH: return compile_for_each_loop(location, code, current, loop, close);
    case LOOP_SCAN: return compile_scan_loop(location, code, current, loop, close);
    default: return 0;  // closed already (a malformed block whose messages are recorded)
  }
}

// LOOP, and an end statement: the next iteration of loop. A jump out of a TRY block runs its
// FINALLY first; the end-of-iteration code then follows in the TRY statement's scope.
int next_iteration(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                   CodePath* loop, bool close) {
  if (TryBlock* block = try_block_between(current, loop)) {
    route_exit(block, location, code, [location, loop](CompiledCodeCollection* c, CodePath& p) {
      next_iteration(location, c, p, loop, false);
    });
    return 0;
  }
  return end_of_iteration(location, code, current, loop, close);
}

void leave_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                CodePath* loop) {
  if (TryBlock* block = try_block_between(current, loop)) {
    route_exit(block, location, code, [location, loop](CompiledCodeCollection* c, CodePath& p) {
      leave_loop(location, c, p, loop);
    });
    return;
  }
  code->push_back(location, new VmOpJump(loop->loop_exit_label->key()));
}

int compile_end_statement(statement_list::iterator& it, CompiledCodeCollection* code, CodePath& path,
                          uint32_t mask) {
  const Statement* statement = *it++;
  CodePath* loop = find_loop(path, mask);
  if (loop == nullptr) {
    path.compiler->add_message(96, statement->location);
    return 0;
  }
  return next_iteration(statement->location, code, path, loop, true);
}

}  // namespace

void compile_read_temp(const document_location_st& location, symbol_id_type symbol, CompiledCodeCollection* code,
                       CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  auto found = compiler->symbol_map.find(symbol);
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) != 0 && found != compiler->symbol_map.end()) {
    code->push_back(location, new VmOpReadLocalMemvarByOffset(found->second));
  } else {
    code->push_back(location, new VmOpReadMemvarByName(symbol));
  }
}

void compile_write_temp(const document_location_st& location, symbol_id_type symbol, CompiledCodeCollection* code,
                        CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  auto found = compiler->symbol_map.find(symbol);
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) != 0 && found != compiler->symbol_map.end()) {
    code->push_back(location, new VmOpWriteMemvarByOffset(found->second));
  } else {
    code->push_back(location, new VmOpWriteMemarByName(symbol));
  }
}

// ---- DO WHILE --------------------------------------------------------------------------------

int compile_stmt_dowhile(const statement_list::const_iterator& end, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_DoWhile*>(*it++);
  const document_location_st& location = statement->location;
  CodePath body(path);
  open_loop(body, LOOP_DO_WHILE, new_label(path, "do while condition"), new_label(path, "do while body"),
            new_label(path, "enddo"));

  symbol_id_type macro_temp = 0;
  std::optional<StatementTemp> temp;
  if (statement->macro_item_count != 0) {
    temp.emplace(body, location, "dowhile", code);
    macro_temp = body.symbolize(temp->get()->name);
    const Variable* temps[] = {temp->get()};
    compile_macro_init(location, "DO WHILE", statement->macro_items, statement->macro_item_count,
                       "__init_do_while_from_macro", temps, 1, code, body);
  }

  code->place_label(body.loop_head_label);
  if (macro_temp != 0) {
    compile_evaluate_temp(location, macro_temp, code, body);
  } else {
    if (statement->condition == nullptr) throw_assert_failed();
    compiler_type_info_st type{0, false, -1};
    compiletime_compact_constexpr(statement->condition, code, body, &type);
  }
  code->push_back(location, new VmOpCondFalseOrNullJump(body.loop_exit_label->key()));
  code->place_label(body.loop_body_label);
  compile_statement_list(end, it, code, body);
  if (body.loop_kind != LOOP_NONE) {
    code->place_label(body.loop_exit_label);
    path.compiler->add_message(96, location);
  }
  return 0;
}

int compile_dowhile_loop(const document_location_st&, CompiledCodeCollection* code, CodePath& current, CodePath* loop,
                         bool close) {
  QZ_TRACE;
  if (loop == nullptr || loop->loop_kind != LOOP_DO_WHILE) throw_assert_failed();
  code->push_jump(new VmOpJump(loop->loop_head_label->key()));
  return close_loop(code, current, loop, close);
}

// ---- FOR -------------------------------------------------------------------------------------

int compile_stmt_for(const statement_list::const_iterator& end, statement_list::iterator& it,
                     CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_For*>(*it++);
  const document_location_st& location = statement->location;
  const Variable* variable = variable_operand(statement->variable);
  if (statement->from == nullptr || statement->to == nullptr || statement->step == nullptr) throw_assert_failed();
  CodePath body(path);
  open_loop(body, LOOP_FOR, new_label(path, "for condition"), nullptr, new_label(path, "endfor"));
  body.for_statement = statement;

  compile_assign(variable, statement->from, code, body);

  compiler_type_info_st type{0, false, -1};
  StatementTemp limit(body, statement->to->location, "forto", code);
  const symbol_id_type limit_symbol = body.symbolize(limit->name);
  compiletime_compact_constexpr(statement->to, code, body, &type);
  compile_assign_to_variable(limit_symbol, statement->to->location, code, body);

  StatementTemp step(body, statement->step->location, "forstep", code);
  body.for_step_symbol = body.symbolize(step->name);
  type = compiler_type_info_st{0, false, -1};
  compiletime_compact_constexpr(statement->step, code, body, &type);
  compile_assign_to_variable(body.for_step_symbol, statement->step->location, code, body);

  code->place_label(body.loop_head_label);
  type = compiler_type_info_st{0, false, -1};
  compile_read_variable(statement->step->location, body.for_step_symbol, step->name, true, false, code, body, &type);
  type = compiler_type_info_st{0, false, -1};
  compile_read_variable(statement->to->location, limit_symbol, limit->name, true, false, code, body, &type);
  // The memory variable the increment writes, never a field of the same name: with a table that
  // has one the test would read the field and the loop would not end.
  type = compiler_type_info_st{0, false, -1};
  compile_read_variable(variable->location, body.symbolize(variable->name), variable->name, true, false, code, body,
                        &type);
  code->push_back(location, new VmOpForCondFalseJump(body.loop_exit_label->key()));

  compile_statement_list(end, it, code, body);
  if (body.loop_kind != LOOP_NONE) {
    code->place_label(body.loop_exit_label);
    path.compiler->add_message(96, location);
  }
  return 0;
}

int compile_for_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                     CodePath* loop, bool close) {
  QZ_TRACE;
  if (loop == nullptr || loop->loop_kind != LOOP_FOR || loop->for_statement == nullptr) throw_assert_failed();
  const auto* statement = static_cast<const Cmd_For*>(loop->for_statement);
  const Variable* variable = variable_operand(statement->variable);
  compiler_type_info_st type{0, false, -1};
  compile_read_variable(variable->location, loop->for_step_symbol, String(), true, false, code, current, &type);
  const symbol_id_type symbol = current.symbolize(variable->name);
  offset_type offset = 0;
  bool declared = false;
  if (current.variable_get(symbol, &offset, &declared) && declared) {
    code->push_back(location, new VmOpReadAddWriteLocal(offset));
  } else {
    code->push_back(location, new VmOpReadAddWrite(symbol));
  }
  code->push_back(location, new VmOpJump(loop->loop_head_label->key()));
  return close_loop(code, current, loop, close);
}

// ---- FOR EACH --------------------------------------------------------------------------------

int compile_stmt_for_each(const statement_list::const_iterator& end, statement_list::iterator& it,
                          CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const BasicCommand*>(*it++);
  const document_location_st& location = statement->location;
  if (statement->options == nullptr) throw_assert_failed();
  const Option* in = statement->options->find("IN");
  if (in == nullptr || in->value == nullptr) throw_assert_failed();
  const Option* key = statement->options->find("KEY");
  const Option* value = statement->options->find("VALUE");
  CodePath body(path);
  open_loop(body, LOOP_FOR_EACH, new_label(path, "for each next"), new_label(path, "for each body"),
            new_label(path, "endfor"));

  StatementTemp temp(body, in->location, "for_each", code);
  const symbol_id_type enumerator = body.symbolize(temp->name);
  Operand* const arguments[] = {in->value};
  compiler_type_info_st type{0, false, -1};
  compile_call_builtin_function(in->location, arguments, 1,
                                statement->options->find("QZOBJECT") != nullptr ? "get_qzobject_enumerator"
                                                                                : "get_enumerator",
                                code, body, &type);
  code->push_back(in->location, new VmOpWriteMemarByName(enumerator));

  code->place_label(body.loop_head_label);
  code->push_back(in->location, new VmOpEspAlloc());
  code->push_back(in->location, new VmOpReadMemvarByName(enumerator));
  code->push_back(in->location, new VmOpObjectCall(body.symbolize("movenext"), 0));
  code->push_back(location, new VmOpCondFalseOrNullJump(body.loop_exit_label->key()));
  struct {
    const Option* option;
    symbol_id_type property;
  } const parts[] = {{key, symbol_KEY}, {value, symbol_VALUE}};
  for (const auto& part : parts) {
    if (part.option == nullptr) continue;
    const Variable* target = variable_operand(part.option->value);
    code->push_back(in->location, new VmOpEspAlloc());
    code->push_back(in->location, new VmOpReadMemvarByName(enumerator));
    code->push_back(in->location, new VmOpObjectReadProperty(part.property, 0));
    code->push_back(part.option->location, new VmOpWriteMemarByName(body.symbolize(target->name)));
  }
  code->place_label(body.loop_body_label);
  compile_statement_list(end, it, code, body);
  if (body.loop_kind != LOOP_NONE) {
    code->place_label(body.loop_exit_label);
    path.compiler->add_message(96, location);
  }
  return 0;
}

int compile_for_each_loop(const document_location_st&, CompiledCodeCollection* code, CodePath& current,
                          CodePath* loop, bool close) {
  QZ_TRACE;
  if (loop == nullptr || loop->loop_kind != LOOP_FOR_EACH) throw_assert_failed();
  code->push_jump(new VmOpJump(loop->loop_head_label->key()));
  return close_loop(code, current, loop, close);
}

// ---- SCAN ------------------------------------------------------------------------------------

int compile_stmt_scan(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const BasicCommand*>(*it++);
  const document_location_st& location = statement->location;
  CodePath body(path);
  open_loop(body, LOOP_SCAN, new_label(path, "scan condition"), nullptr, new_label(path, "endscan"));
  body.scan_skip_label = new_label(path, "scan end of body");

  compiler_type_info_st type{0, false, -1};
  StatementTemp area(body, location, "scan", code);
  body.scan_area_symbol = body.symbolize(area->name);
  compile_call_builtin_function(location, nullptr, 0, "select", code, body, &type);
  compile_write_temp(location, body.scan_area_symbol, code, body);

  const bool macro = statement->macro_item_count != 0;
  symbol_id_type for_temp = 0, while_temp = 0;
  const Option* for_option = nullptr;
  const Option* while_option = nullptr;
  std::optional<StatementTemp> scan_for, scan_while;
  if (macro) {
    scan_for.emplace(body, location, "scanfor", code);
    scan_while.emplace(body, location, "scanwhile", code);
    for_temp = body.symbolize(scan_for->get()->name);
    while_temp = body.symbolize(scan_while->get()->name);
    const Variable* temps[] = {scan_for->get(), scan_while->get()};
    compile_macro_init(location, "SCAN", statement->macro_items, statement->macro_item_count,
                       "__init_scan_from_macro", temps, 2, code, body);
  } else {
    if (statement->options == nullptr) throw_assert_failed();
    for_option = statement->options->find("FOR");
    while_option = statement->options->find("WHILE");
    if (statement->options->find("REST") == nullptr && while_option == nullptr) {
      // From the top of the work area selected when the SCAN began.
      BasicCommand go_top(location, STMT_GO_TOP,
                          new option_ptr_list(new Option(String("IN"), location, new Variable(location, area->name, 1))));
      compile_basic_command(&go_top, code, body);
    }
  }

  code->place_label(body.loop_head_label);
  const library_command_def_st& select = builtin_command(body, "select");
  compile_read_temp(location, body.scan_area_symbol, code, body);
  code->push_back(location, new VmOpCallSpecVoid(select.function, 1));
  type = compiler_type_info_st{0, false, -1};
  compile_call_builtin_function(location, nullptr, 0, "eof", code, body, &type);
  code->push_back(location, new VmOpCondTrueJump(body.loop_exit_label->key()));

  // FOR before WHILE: a record that fails FOR is skipped without its WHILE being evaluated.
  struct {
    symbol_id_type temp;
    const Option* option;
    AddressLabelRecord* target;
  } const clauses[] = {{for_temp, for_option, body.scan_skip_label}, {while_temp, while_option, body.loop_exit_label}};
  for (const auto& clause : clauses) {
    if (macro) {
      compile_evaluate_temp(location, clause.temp, code, body);
    } else if (clause.option != nullptr && clause.option->value != nullptr) {
      type = compiler_type_info_st{0, false, -1};
      compiletime_compact_constexpr(clause.option->value, code, body, &type);
    } else {
      continue;
    }
    code->push_back(location, new VmOpCondFalseOrNullJump(clause.target->key()));
  }

  compile_statement_list(end, it, code, body);
  if (body.loop_kind != LOOP_NONE) {
    code->place_label(body.scan_skip_label);
    code->place_label(body.loop_exit_label);
    path.compiler->add_message(96, location);
  }
  return 0;
}

int compile_scan_loop(const document_location_st& location, CompiledCodeCollection* code, CodePath& current,
                      CodePath* loop, bool close) {
  QZ_TRACE;
  if (loop == nullptr || loop->loop_kind != LOOP_SCAN) throw_assert_failed();
  const library_command_def_st& select = builtin_command(current, "select");
  compile_read_temp(location, loop->scan_area_symbol, code, current);
  code->push_back(location, new VmOpCallSpecVoid(select.function, 1));
  if (close && loop == &current) code->place_label(loop->scan_skip_label);
  BasicCommand skip(location, STMT_SKIP);
  compile_basic_command(&skip, code, current);
  code->push_jump(new VmOpJump(loop->loop_head_label->key()));
  return close_loop(code, current, loop, close);
}

// ---- end statements, EXIT, LOOP --------------------------------------------------------------

int compile_stmt_enddo(const statement_list::const_iterator&, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  return compile_end_statement(it, code, path, kMaskDoWhile);
}

int compile_stmt_endfor(const statement_list::const_iterator&, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  return compile_end_statement(it, code, path, kMaskFor);
}

int compile_stmt_endscan(const statement_list::const_iterator&, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  return compile_end_statement(it, code, path, kMaskScan);
}

int compile_stmt_exit(const statement_list::const_iterator&, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const Statement* statement = *it++;
  CodePath* loop = find_loop(path, kMaskAny);
  if (loop == nullptr) {
    path.compiler->add_message(96, statement->location);
    return 0;
  }
  leave_loop(statement->location, code, path, loop);
  return 0;
}

int compile_stmt_loop(const statement_list::const_iterator&, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const Statement* statement = *it++;
  CodePath* loop = find_loop(path, kMaskAny);
  if (loop == nullptr) {
    path.compiler->add_message(96, statement->location);
    return 0;
  }
  return next_iteration(statement->location, code, path, loop, false);
}

}  // namespace qzbase
