// statements.cpp - compile_statement_list, the statement dispatch table and the statements that
// open no block.
#include "compiler/statements.h"

#include <qzbase.h>

#include <unordered_map>

#include "compiler/conditionals.h"
#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "compiler/loops.h"
#include "compiler/native_commands.h"
#include "compiler/programs.h"
#include "compiler/table_definitions.h"
#include "compiler/text_blocks.h"
#include "compiler/try_with.h"
#include "vm/vm_op.h"

namespace qzbase {

const statement_compiler_row_st statement_compilers[kStatementCompilerCount] = {
    {STMT_INVALID, "compile_stmt_invalid_statement", compile_stmt_invalid_statement},
    {STMT_PRAGMA, "compile_stmt_pragma", compile_stmt_pragma},
    {STMT_ADD_COLUMN, "compile_stmt_add_column", compile_stmt_add_column},
    {STMT_APPEND, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_ASSERT, "compile_stmt_assert", compile_stmt_assert},
    {STMT_ASSIGN, "compile_stmt_assign", compile_stmt_assign},
    {STMT_BEGIN_TRANSACTION, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_BROWSE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_CANCEL, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_CASE, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_CATCH, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_CD, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_CLEAR, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_CONTINUE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_COPY_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_CREATE_TABLE, "compile_stmt_create_table", compile_stmt_create_table},
    {STMT_DECLARE, "compile_stmt_declare", compile_stmt_declare},
    {STMT_DEFINE, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_DELETE_ALL_TAGS, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DELETE_FILE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DELETE_TAG, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DELETE_RECORD, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DIMENSION, "compile_stmt_dimension", compile_stmt_dimension},
    {STMT_DISPLAY_STRUCTURE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DOCASE, "compile_stmt_docase", compile_stmt_docase},
    {STMT_DROP_COLUMN, "compile_stmt_drop_column", compile_stmt_drop_column},
    {STMT_DROP_TABLE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_DOWHILE, "compile_stmt_dowhile", compile_stmt_dowhile},
    {STMT_ECHO, "compile_stmt_echo", compile_stmt_echo},
    {STMT_ELSE, "compile_stmt_else", compile_stmt_else},
    {STMT_END_TRANSACTION, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_ENDCASE, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_ENDDO, "compile_stmt_enddo", compile_stmt_enddo},
    {STMT_ENDFOR, "compile_stmt_endfor", compile_stmt_endfor},
    {STMT_ENDFUNC, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_ENDIF, "compile_stmt_endif", compile_stmt_endif},
    {STMT_ENDSCAN, "compile_stmt_endscan", compile_stmt_endscan},
    {STMT_ENDTRY, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_ENDWITH, "compile_stmt_endwith", compile_stmt_endwith},
    {STMT_ERROR, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_EXIT, "compile_stmt_exit", compile_stmt_exit},
    {STMT_EXTERNAL_ARRAY, "compile_stmt_dummy", compile_stmt_dummy},
    {STMT_FOR, "compile_stmt_for", compile_stmt_for},
    {STMT_FOR_EACH, "compile_stmt_for_each", compile_stmt_for_each},
    {STMT_GATHER_FROM, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_GATHER_MEMVAR, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_GATHER_NAME, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_GO_BOTTOM, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_GO_RECORD, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_GO_TOP, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_IF, "compile_stmt_if", compile_stmt_if},
    {STMT_IMPORT, "compile_module_stmt_import", compile_module_stmt_import},
    {STMT_INDEX, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_INCOMPLETE, "compile_stmt_incomplete", compile_stmt_incomplete},
    {STMT_LOCAL, "compile_stmt_local", compile_stmt_local},
    {STMT_LOCATE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_LOOP, "compile_stmt_loop", compile_stmt_loop},
    {STMT_LPARAMETERS, "compile_stmt_lparameters", compile_stmt_lparameters},
    {STMT_MKDIR, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_MODIFY_COMMAND, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_OTHERWISE, "compile_stmt_unexpected", compile_stmt_unexpected},
    {STMT_PACK, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_PARAMETERS, "compile_stmt_parameters", compile_stmt_parameters},
    {STMT_PRIVATE_VARLIST, "compile_stmt_private", compile_stmt_private},
    {STMT_PRIVATE_PATTERN, "compile_stmt_private_pattern", compile_stmt_private_pattern},
    {STMT_PUBLIC, "compile_stmt_public", compile_stmt_public},
    {STMT_QUIT, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_RECALL_RECORD, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_REINDEX, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_RENAME_TABLE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_REPLACE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_RETURN, "compile_stmt_return", compile_stmt_return},
    {STMT_ROLLBACK, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_RUN, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SCAN, "compile_stmt_scan", compile_stmt_scan},
    {STMT_SCATTER_MEMVAR, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SCATTER_NAME, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SCATTER_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SEEK, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SELECT, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_CENTURY_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_DATASESSION_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_DATE_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_FDOW_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_FILTER_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_HOURS_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_LIBRARY_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_ORDER_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_PATH_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_POINT_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_PROCEDURE_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_SECONDS_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_SEPARATOR_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_SYSFORMATS_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SET_TEXTMERGE_TO, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_SKIP, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_STORE, "compile_stmt_store", compile_stmt_store},
    {STMT_SUSPEND, "compile_stmt_dummy", compile_stmt_dummy},
    {STMT_TEXT, "compile_stmt_textmerge_block", compile_stmt_textmerge_block},
    {STMT_TEXT_LINE, "compile_stmt_textmerge_operator", compile_stmt_textmerge_operator},
    {STMT_THROW, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_TRY, "compile_stmt_try", compile_stmt_try},
    {STMT_UNLOCK, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_USE, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_WAIT, "compile_stmt_basic_command", compile_stmt_basic_command},
    {STMT_WITH, "compile_stmt_with", compile_stmt_with},
    {STMT_ZAP, "compile_stmt_basic_command", compile_stmt_basic_command},
};

namespace {

// Built once by a static initializer; only read afterwards.
const std::unordered_map<uint64_t, const statement_compiler_row_st*>& dispatch_map() {
  static const std::unordered_map<uint64_t, const statement_compiler_row_st*> map = [] {
    std::unordered_map<uint64_t, const statement_compiler_row_st*> m;
    for (const statement_compiler_row_st& row : statement_compilers) m.emplace(row.kind, &row);
    return m;
  }();
  return map;
}

[[maybe_unused]] const bool dispatch_map_built = (dispatch_map(), true);

}  // namespace

const statement_compiler_row_st* find_statement_compiler(uint64_t kind) {
  QZ_TRACE;
  const auto& map = dispatch_map();
  auto found = map.find(kind);
  return found == map.end() ? nullptr : found->second;
}

void StatementList::pull() {
  QZ_TRACE;
  size_t before = items.size();
  while (source && items.size() == before) {
    if (!source()) source = nullptr;
  }
}

void StatementList::release(iterator first, const iterator& last) {
  QZ_TRACE;
  if (!release_compiled) return;
  container::iterator pos = first.position();
  const container::iterator stop = last.position();
  while (pos != stop) {
    delete *pos;
    pos = items.erase(pos);
  }
}

int compile_statement_list(const statement_list::const_iterator& end, statement_list::iterator& it,
                           CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  Compiler* compiler = path.compiler;
  if (compiler->block_depth >= kMaxBlockDepth) {
    // Each nested block costs native stack: past the limit the rest of the text is not compiled.
    // An empty list at the limit cuts nothing, so the blocks around it still report their ends.
    if (statement_list::const_iterator(it) == end) return 0;
    compiler->add_message(103, (*it)->location);
    compiler->nesting_exceeded = true;
    while (statement_list::const_iterator(it) != end) ++it;
    return 0;
  }
  struct depth_guard {
    explicit depth_guard(Compiler* c) : c(c) { ++c->block_depth; }
    ~depth_guard() { --c->block_depth; }
    Compiler* c;
  } guard(compiler);
  // The unit's own list: once a statement's code is emitted nothing refers to its syntax tree.
  const bool releases = &path == compiler && compiler->block_depth == 1;
  statement_list::iterator compiled = it;
  int result = 0;
  while (statement_list::const_iterator(it) != end) {
    TraceGuard trace("compile_statement");
    const statement_compiler_row_st* row = find_statement_compiler((*it)->kind);
    if (row == nullptr) return result;
    ++path.compiler->statement_number;
    result = row->compile(end, it, code, path);
    if (releases) {
      it.owner()->release(compiled, it);
      compiled = it;
    }
    if (result != 0) return result;
  }
  return result;
}

int compile_stmt_unexpected(const statement_list::const_iterator&, statement_list::iterator&,
                            CompiledCodeCollection*, CodePath&) {
  QZ_TRACE;
  return -1;
}

int compile_stmt_dummy(const statement_list::const_iterator&, statement_list::iterator& it,
                       CompiledCodeCollection*, CodePath&) {
  QZ_TRACE;
  ++it;
  return 0;
}

int compile_stmt_invalid_statement(const statement_list::const_iterator&, statement_list::iterator& it,
                                   CompiledCodeCollection*, CodePath&) {
  QZ_TRACE;
  ++it;
  return 0;
}

int compile_stmt_pragma(const statement_list::const_iterator&, statement_list::iterator&, CompiledCodeCollection*,
                        CodePath&) {
  QZ_TRACE;
  throw RuntimeError(10);
}

int compile_stmt_echo(const statement_list::const_iterator&, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* echo = static_cast<const Cmd_Echo*>(*it++);
  compile_call_spec_void_core(echo->location, items_of(echo->values), count_of(echo->values),
                              echo->linefeed ? "echo_linefeed" : "echo", code, path);
  return 0;
}

int compile_stmt_return(const statement_list::const_iterator&, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_Return*>(*it++);
  if (statement->value == nullptr) throw_assert_failed();
  if (compile_return_through_finally(statement, code, path)) return 0;
  compiler_type_info_st type{0, false, -1};
  if (statement->value->kind == OPERAND_REFERENCE) {
    compile_operand_ref(statement->value, false, false, code, path, &type);
    code->push_back(statement->location, new VmOpReturnPointer());
  } else {
    compiletime_compact_constexpr(statement->value, code, path, &type);
    code->push_back(statement->location, new VmOpReturnValue());
  }
  return 0;
}

int compile_stmt_assert(const statement_list::const_iterator&, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path) {
  QZ_TRACE;
  const auto* command = static_cast<const BasicCommand*>(*it);
  AddressLabelRecord* skip = path.compiler->create_addresslabel(String("skip_if_target"));
  compiler_type_info_st type{0, false, -1};
  compile_call_builtin_function(command->location, nullptr, 0, "test_asserts_on", code, path, &type);
  code->push_back(command->location, new VmOpCondFalseOrNullJump(skip->key()));
  ++it;
  compile_basic_command(command, code, path);
  code->place_label(skip);
  return 0;
}

}  // namespace qzbase
