// try_with.cpp - TRY ... CATCH ... FINALLY ... ENDTRY and WITH ... ENDWITH.
//
// Code of a TRY (labels in capitals):
//   defs of the temporaries "tryerror" (the caught exception object) and "trynext" (what follows
//        the FINALLY body)
//   B:   install handler [B, E): any error -> D (stored in "tryerror"), or -> RAISE without CATCH
//        protected statements
//   E:   jump NORMAL
//   D:   unwind; install handler [D, CE): any error -> RAISE (only with FINALLY)
//        per CATCH: [TO variable = error] [WHEN: test, else jump to the next CATCH] body; jump NORMAL
//   CE:
//   RAISE: unwind; with FINALLY: next = 1, jump FIN; without: raise "tryerror" again
//   Lk:  per routed jump: with FINALLY: next = k + 2, jump FIN; without: the jump itself
//   NORMAL: with FINALLY: next = 0
//   FIN: FINALLY statements; per value of next: raise "tryerror" again / the routed jump k
//   AFTER:
// A RETURN inside keeps its value in the return temporary of its innermost TRY (TryBlock), read
// once the FINALLY bodies it passes have run.
// The CATCH tests run in the TRY's frame, in this unit, so WHEN sees the frame's variables, calls
// the unit's libraries and is linked with the unit, and its build messages are the unit's.
#include "compiler/try_with.h"

#include <qzbase.h>

#include <memory>

#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "compiler/loops.h"
#include "vm/exception_objects.h"
#include "vm/symtable.h"
#include "vm/execute.h"
#include "vm/vm_op.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

bool at_kind(const statement_list::const_iterator& end, const statement_list::iterator& it, uint32_t kind) {
  return statement_list::const_iterator(it) != end && (*it)->kind == kind;
}

// A WHEN the grammar filled in for a CATCH without one: always taken, nothing to test.
bool always_true(const Operand* condition) {
  if (condition == nullptr) return true;
  if (condition->kind != OPERAND_CONSTANT) return false;
  const auto* constant = static_cast<const SkalarType*>(condition);
  return constant->const_type == CONST_BOOL && static_cast<const Const<bool>*>(condition)->value;
}

void set_next(const document_location_st& location, symbol_id_type next, int64_t value, CompiledCodeCollection* code,
              CodePath& path) {
  code->push_back(location, new VmOpReadConstInteger(value));
  compile_write_temp(location, next, code, path);
}

void raise_again(const document_location_st& location, symbol_id_type error, CompiledCodeCollection* code,
                 CodePath& path) {
  compile_read_temp(location, error, code, path);
  code->push_back(location, new VmOpUnresolvedCall(String(kRaiseAgainCall), 1));
}

// RETURN of the value kept in temp, through the FINALLY bodies of the TRY blocks it leaves.
void return_temp(const document_location_st& location, symbol_id_type temp, CompiledCodeCollection* code,
                 CodePath& path) {
  if (TryBlock* block = try_block_between(path, nullptr)) {
    route_exit(block, location, code, [location, temp](CompiledCodeCollection* c, CodePath& p) {
      return_temp(location, temp, c, p);
    });
    return;
  }
  compile_read_temp(location, temp, code, path);
  code->push_back(location, new VmOpReturnValue());
}

// RETURN @reference: the reference is taken when the unit returns, after the FINALLY bodies.
void return_reference(const Cmd_Return* statement, CompiledCodeCollection* code, CodePath& path) {
  if (TryBlock* block = try_block_between(path, nullptr)) {
    route_exit(block, statement->location, code, [statement](CompiledCodeCollection* c, CodePath& p) {
      return_reference(statement, c, p);
    });
    return;
  }
  compiler_type_info_st type{0, false, -1};
  compile_operand_ref(statement->value, false, false, code, path, &type);
  code->push_back(statement->location, new VmOpReturnPointer());
}

// The temporary of the RETURN whose innermost TRY is block. The block's first RETURN takes a slot
// given back inside the enclosing TRY (or, at the unit's top, anywhere before), else a new one;
// every RETURN declares it again, as it may run first. Without slots each RETURN has its own.
symbol_id_type take_return_temp(TryBlock* block, const document_location_st& location, CompiledCodeCollection* code,
                                CodePath& path) {
  Compiler* compiler = path.compiler;
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) == 0) {
    std::unique_ptr<Variable> temp(path.compile_create_temp_memvar(location, "return", code));
    return path.symbolize(temp->name);
  }
  if (block->return_temp.size() == 0) {
    std::vector<String>& free = block->outer != nullptr ? block->outer->free_return_temps
                                                        : compiler->free_temps["return"];
    if (free.empty()) {
      std::unique_ptr<Variable> temp(path.compile_create_temp_memvar(location, "return", code));
      const symbol_id_type symbol = path.symbolize(temp->name);
      // It belongs to the TRY, not to the scope of this RETURN.
      path.variables.erase(symbol);
      block->return_temp = temp->name;
      return symbol;
    }
    block->return_temp = free.back();
    free.pop_back();
  }
  const symbol_id_type symbol = path.symbolize(block->return_temp);
  offset_type offset = 0;
  if (!compiler->compile_time_define_memvar(symbol, &offset)) throw_assert_failed();
  code->push_back(location, new VmOpDefLocalOffset(offset, symbol));
  return symbol;
}

// The TRY's code is complete: its return temporary and those it was given back go to the
// enclosing TRY, or at the unit's top to any later TRY.
void give_back_return_temps(TryBlock& block, Compiler* compiler) {
  if ((compiler->compile_kind & COMPILE_KIND_SLOTS) == 0) return;
  std::vector<String>& free = block.outer != nullptr ? block.outer->free_return_temps : compiler->free_temps["return"];
  free.insert(free.end(), block.free_return_temps.begin(), block.free_return_temps.end());
  block.free_return_temps.clear();
  if (block.return_temp.size() != 0) free.push_back(block.return_temp);
  block.return_temp = String();
}

}  // namespace

TryBlock* try_block_between(CodePath& from, const CodePath* target) {
  QZ_TRACE;
  for (CodePath* p = &from; p != nullptr && p != target; p = p->parent) {
    if (p->try_block != nullptr) return p->try_block;
  }
  return nullptr;
}

void route_exit(TryBlock* block, const document_location_st& location, CompiledCodeCollection* code,
                exit_emitter reissue) {
  QZ_TRACE;
  if (block == nullptr) throw_assert_failed();
  AddressLabelRecord* label = code->compiler->create_addresslabel(String("leave try"));
  block->exits.push_back(TryBlock::pending_exit_st{label, location, std::move(reissue)});
  code->push_back(location, new VmOpJump(label->key()));
}

bool compile_return_through_finally(const Cmd_Return* statement, CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  if (try_block_between(path, nullptr) == nullptr) return false;
  if (statement->value->kind == OPERAND_REFERENCE) {
    return_reference(statement, code, path);
    return true;
  }
  // The value is computed before the FINALLY bodies run.
  const symbol_id_type symbol = take_return_temp(try_block_between(path, nullptr), statement->location, code, path);
  compiler_type_info_st type{0, false, -1};
  compiletime_compact_constexpr(statement->value, code, path, &type);
  compile_write_temp(statement->location, symbol, code, path);
  return_temp(statement->location, symbol, code, path);
  return true;
}

void try_raise_again(VmStack* stack, size_t nargs) {
  QZ_TRACE;
  if (nargs != 1) throw_assert_failed();
  Variant* value = Param(stack, 1);
  if (exception_hooks.content == nullptr) throw_assert_failed();
  RuntimeError error;
  const ExceptionContent content = exception_hooks.content(*value, &error);
  if (content == EXCEPTION_NONE) throw_assert_failed();
  if (content == EXCEPTION_ERROR) throw error;
  // A THROWn value: the same exception object goes on to the next handler that takes it.
  Variant thrown;
  value->copy(&thrown);
  const VmFrame* frame = nullptr;
  intptr_t target = 0;
  symbol_id_type symbol = 0;
  bool found = false;
  try {
    found = stack->find_handler(&thrown, &frame, &target, &symbol);
  } catch (...) {
    thrown.release(stack);
    throw;
  }
  if (!found) {
    thrown.release(stack);
    throw RuntimeError(2059);
  }
  RuntimeThrow t(thrown, const_cast<VmFrame*>(frame), symbol, static_cast<size_t>(target));
  thrown.release(stack);
  throw t;
}

// ---- TRY -------------------------------------------------------------------------------------

int compile_stmt_try(const statement_list::const_iterator& end, statement_list::iterator& it,
                     CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const Statement* statement = *it++;
  const document_location_st& location = statement->location;
  Compiler* compiler = path.compiler;
  auto label = [&](const char* name) { return compiler->create_addresslabel(String(name)); };
  AddressLabelRecord* begin = label("try_code_begin");
  AddressLabelRecord* protected_end = label("try_code_end");
  AddressLabelRecord* normal = label("endtry");
  AddressLabelRecord* after = label("after finally");

  StatementTemp error_temp(path, location, "tryerror", code);
  StatementTemp next_temp(path, location, "trynext", code);
  const symbol_id_type error = path.symbolize(error_temp->name);
  const symbol_id_type next = path.symbolize(next_temp->name);

  code->place_label(begin);
  auto* handler = new VmOpInstallErrorHandler(begin->key(), protected_end->key(), {});
  code->push_back(location, handler);

  TryBlock block;
  block.outer = try_block_between(path, nullptr);
  {
    CodePath body(path);
    body.try_block = &block;
    compile_statement_list(end, it, code, body);
  }
  code->place_label(protected_end);
  code->push_jump(new VmOpJump(normal->key()));

  AddressLabelRecord* raise = label("uncaught");
  AddressLabelRecord* dispatch = nullptr;
  VmOpInstallErrorHandler* catch_handler = nullptr;
  AddressLabelRecord* catch_end = nullptr;
  if (at_kind(end, it, STMT_CATCH)) {
    const document_location_st& first = (*it)->location;
    dispatch = label("catch dispatch");
    AddressLabelRecord* catch_begin = label("catch begin");
    catch_end = label("catch end");
    code->place_label(dispatch);
    code->push_back(first, new VmOpUnwindContinue());
    code->place_label(catch_begin);
    catch_handler = new VmOpInstallErrorHandler(catch_begin->key(), catch_end->key(), {});
    code->push_back(first, catch_handler);
    while (at_kind(end, it, STMT_CATCH)) {
      const auto* clause = static_cast<const Cmd_CatchTo*>(*it++);
      AddressLabelRecord* next_clause = label("next catch");
      CodePath scope(path);
      scope.try_block = &block;
      if (clause->variable != nullptr) {
        if (clause->variable->kind != OPERAND_VARIABLE) throw_assert_failed();
        const auto* variable = static_cast<const Variable*>(clause->variable);
        compile_read_temp(clause->variable->location, error, code, scope);
        compile_assign_to_variable(path.symbolize(variable->name), variable->location, code, scope);
      } else if (clause->macro_variable.size() != 0) {
        // The name is known only when the clause runs: a built-in assigns by that name.
        Variable name(clause->location, clause->macro_variable, 0);
        Operand* const arguments[] = {&name, error_temp.get()};
        compiler_type_info_st type{0, false, -1};
        compile_call_builtin_function(clause->location, arguments, 2, "__catch_to_macro", code, scope, &type);
        code->push_back(clause->location, new VmOpEspFree());
      }
      if (!always_true(clause->when)) {
        compiler_type_info_st type{0, false, -1};
        compiletime_compact_constexpr(clause->when, code, scope, &type);
        code->push_back(clause->location, new VmOpCondFalseOrNullJump(next_clause->key()));
      }
      compile_statement_list(end, it, code, scope);
      code->push_jump(new VmOpJump(normal->key()));
      code->place_label(next_clause);
    }
    code->place_label(catch_end);
  }

  const bool has_finally = at_kind(end, it, STMT_FINALLY);
  const document_location_st& finally_location = has_finally ? (*it)->location : location;
  // Which errors of the protected block the TRY takes: all of them once it has a CATCH (the
  // clauses are tested in its code) or a FINALLY (which runs before the error goes on).
  if (dispatch != nullptr) {
    handler->clauses.push_back(catch_clause_st{dispatch->key(), error, nullptr});
  } else if (has_finally) {
    handler->clauses.push_back(catch_clause_st{raise->key(), error, nullptr});
  }
  // Errors of the CATCH tests and bodies are not the TRY's own, but its FINALLY runs before they
  // go on.
  if (catch_handler != nullptr && has_finally) {
    catch_handler->clauses.push_back(catch_clause_st{raise->key(), error, nullptr});
  }

  AddressLabelRecord* finally_label = has_finally ? label("finally") : nullptr;
  code->place_label(raise);
  if (dispatch != nullptr || has_finally) {
    code->push_back(location, new VmOpUnwindContinue());
    if (has_finally) {
      set_next(location, next, 1, code, path);
      code->push_jump(new VmOpJump(finally_label->key()));
    } else {
      raise_again(location, error, code, path);
    }
  }
  const std::vector<TryBlock::pending_exit_st> exits = std::move(block.exits);
  block.exits.clear();
  std::vector<AddressLabelRecord*> reissue_labels;
  for (size_t k = 0; k < exits.size(); ++k) {
    code->place_label(exits[k].label);
    if (has_finally) {
      set_next(exits[k].location, next, static_cast<int64_t>(k) + 2, code, path);
      code->push_jump(new VmOpJump(finally_label->key()));
    } else {
      exits[k].reissue(code, path);
    }
  }
  code->place_label(normal);

  int result = 0;
  bool closed_enclosing_loop = false;
  if (has_finally) {
    set_next(finally_location, next, 0, code, path);
    code->place_label(finally_label);
    ++it;  // FINALLY
    const uint32_t loop_kind = path.loop_kind;
    result = compile_statement_list(end, it, code, path);
    // An end statement of the enclosing loop inside the FINALLY statements closed that loop: the
    // TRY has no ENDTRY of its own.
    closed_enclosing_loop = loop_kind != LOOP_NONE && path.loop_kind == LOOP_NONE;
    AddressLabelRecord* raise_after = label("raise after finally");
    std::vector<AddressLabelRecord*> targets;
    auto test_next = [&](int64_t value, AddressLabelRecord* target) {
      compile_read_temp(finally_location, next, code, path);
      code->push_back(finally_location, new VmOpReadConstInteger(value));
      code->push_back(finally_location, new VmOpBinaryEq());
      code->push_back(finally_location, new VmOpCondTrueJump(target->key()));
    };
    test_next(1, raise_after);
    for (size_t k = 0; k < exits.size(); ++k) {
      targets.push_back(label("after finally leave"));
      test_next(static_cast<int64_t>(k) + 2, targets.back());
    }
    code->push_jump(new VmOpJump(after->key()));
    code->place_label(raise_after);
    raise_again(finally_location, error, code, path);
    for (size_t k = 0; k < exits.size(); ++k) {
      code->place_label(targets[k]);
      exits[k].reissue(code, path);
    }
  }
  code->place_label(after);
  give_back_return_temps(block, compiler);

  if (!closed_enclosing_loop && at_kind(end, it, STMT_ENDTRY)) {
    ++it;
    return 0;
  }
  // The list ended (or another block's terminator or end statement came) before ENDTRY.
  compiler->add_message(96, location);
  return closed_enclosing_loop ? result : 0;
}

// ---- WITH ------------------------------------------------------------------------------------

int compile_stmt_with(const statement_list::const_iterator&, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_With*>(*it++);
  if (statement->object == nullptr) throw_assert_failed();
  std::unique_ptr<Variable> temp(path.compile_take_temp_memvar(statement->location, "with", code));
  // The object is computed before the new WITH is open, so a leading "." in its own expression
  // refers to the enclosing WITH's object rather than to this one's empty temporary.
  compile_assign(temp.get(), statement->object, code, path);
  path.with_stack.push_back(path.symbolize(temp->name));
  path.with_locations.push_back(statement->location);
  return 0;
}

int compile_stmt_endwith(const statement_list::const_iterator&, statement_list::iterator& it,
                         CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const Statement* statement = *it++;
  if (path.with_stack.empty()) {
    path.compiler->add_message(1940, statement->location);
    return 0;
  }
  const symbol_id_type symbol = path.with_stack.back();
  path.with_stack.pop_back();
  path.with_locations.pop_back();
  // The temporary lets go of the object, and its slot may serve the next WITH.
  code->push_back(statement->location, new VmOpReadConstFalse());
  compile_assign_to_variable(symbol, statement->location, code, path);
  path.release_temp("with", path.compiler->symtable()->resolve(symbol));
  return 0;
}

}  // namespace qzbase
