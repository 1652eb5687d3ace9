// conditionals.cpp - IF ... ELSE ... ENDIF and DO CASE ... ENDCASE.
#include "compiler/conditionals.h"

#include <qzbase.h>

#include <memory>
#include <string_view>

#include "vm/library.h"
#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "frontend/operands.h"
#include "vm/vm_op.h"

namespace qzbase {

namespace {

bool at(const statement_list::const_iterator& end, const statement_list::iterator& it, uint32_t kind) {
  return statement_list::const_iterator(it) != end && (*it)->kind == kind;
}

bool at_end(const statement_list::const_iterator& end, const statement_list::iterator& it) {
  return statement_list::const_iterator(it) == end;
}

void compile_condition(const Operand* condition, CompiledCodeCollection* code, CodePath& path) {
  compiler_type_info_st type{0, false, -1};
  compiletime_compact_constexpr(condition, code, path, &type);
}

// The condition of IF &macro: the text "IF" joined with the macro parts is handed to
// "__init_if_from_macro", which leaves in a temporary an object whose "evaluate" method computes
// the condition; the method's value is left on the stack.
void compile_macro_condition(const Cmd_If& statement, CompiledCodeCollection* code, CodePath& path) {
  const document_location_st& location = statement.location;
  Library* library = builtin_library_of(path);
  const library_func_def_st* concat = library->find_function(std::string_view("concat"));
  const library_func_def_st* init = library->find_function(std::string_view("__init_if_from_macro"));
  if (concat == nullptr || init == nullptr) throw_assert_failed();

  StatementTemp temporary(path, location, "if", code);
  code->push_back(location, new VmOpEspAlloc());
  code->push_back(location, new VmOpEspAlloc());
  code->push_back(location, new VmOpReadConstString(String("IF")));
  compile_eval_macro(location, statement.macro_items, statement.macro_item_count, code, path);
  code->push_back(location, new VmOpCallSpecDo(concat->function, statement.macro_item_count + 1));
  compiler_type_info_st type{0, false, -1};
  compile_operand_ref(temporary.get(), false, false, code, path, &type);
  code->push_back(location, new VmOpCallSpecDo(init->function, 2));
  code->push_back(location, new VmOpEspFree());

  code->push_back(location, new VmOpEspAlloc());
  compile_condition(temporary.get(), code, path);
  code->push_back(location, new VmOpObjectCall(path.compiler->root().symbolize("evaluate"), 0));
}

// Compiles one branch on a child scope of path.
void compile_branch(const statement_list::const_iterator& end, statement_list::iterator& it,
                    CompiledCodeCollection* code, CodePath& path, bool if_branch) {
  CodePath branch(path);
  branch.if_branch = if_branch;
  compile_statement_list(end, it, code, branch);
}

}  // namespace

int compile_stmt_if(const statement_list::const_iterator& end, statement_list::iterator& it,
                    CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto& statement = *static_cast<const Cmd_If*>(*it);
  ++it;
  Compiler* compiler = path.compiler;
  AddressLabelRecord* skip_if = compiler->create_addresslabel(String("skip_if_target"));

  if (statement.macro_item_count > 0) {
    compile_macro_condition(statement, code, path);
  } else {
    compile_condition(statement.condition, code, path);
  }
  code->push_back(statement.location, new VmOpCondFalseOrNullJump(skip_if->key()));

  compile_branch(end, it, code, path, true);
  if (at_end(end, it)) {
    code->place_label(skip_if);
    compiler->add_message(1211, statement.location);
    return 0;
  }
  if (at(end, it, STMT_ELSE)) {
    ++it;
    AddressLabelRecord* skip_else = compiler->create_addresslabel(String("skip_else_target"));
    code->push_jump(new VmOpJump(skip_else->key()));
    code->place_label(skip_if);
    // The ELSE branch sees the variables of the IF's scope, not those of the IF branch.
    compile_branch(end, it, code, path, true);
    code->place_label(skip_else);
  } else {
    code->place_label(skip_if);
  }
  if (at(end, it, STMT_ENDIF)) {
    ++it;
  } else {
    compiler->add_message(1211, statement.location);
  }
  return 0;
}

namespace {

int close_of_if_branch(statement_list::iterator& it, CodePath& path) {
  if (path.if_branch) return -1;
  path.compiler->add_message(1211, (*it)->location);
  ++it;
  return 0;
}

}  // namespace

int compile_stmt_else(const statement_list::const_iterator&, statement_list::iterator& it,
                      CompiledCodeCollection*, CodePath& path) {
  QZ_TRACE;
  return close_of_if_branch(it, path);
}

int compile_stmt_endif(const statement_list::const_iterator&, statement_list::iterator& it,
                       CompiledCodeCollection*, CodePath& path) {
  QZ_TRACE;
  return close_of_if_branch(it, path);
}

int compile_stmt_docase(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const Statement& statement = **it;
  ++it;
  Compiler* compiler = path.compiler;
  AddressLabelRecord* endcase = compiler->create_addresslabel(String("label endcase"));

  while (at(end, it, STMT_CASE)) {
    const auto& branch = *static_cast<const Cmd_Case*>(*it);
    ++it;
    compile_condition(branch.condition, code, path);
    AddressLabelRecord* next = compiler->create_addresslabel(String("label next case"));
    code->push_back(statement.location, new VmOpCondFalseOrNullJump(next->key()));
    compile_branch(end, it, code, path, false);
    code->push_jump(new VmOpJump(endcase->key()));
    code->place_label(next);
  }
  if (at(end, it, STMT_OTHERWISE)) {
    ++it;
    compile_branch(end, it, code, path, false);
  }
  code->place_label(endcase);
  if (at(end, it, STMT_ENDCASE)) {
    ++it;
    return 0;
  }
  // The list ended, or a statement stands where CASE, OTHERWISE or ENDCASE belongs: it is left
  // to the enclosing list.
  compiler->add_message(10, statement.location);
  return 0;
}

}  // namespace qzbase
