// workarea_commands.cpp - USE, SELECT, GO, SKIP, LOCATE, CONTINUE, REPLACE, DELETE, RECALL,
// APPEND BLANK, UNLOCK, PACK, ZAP, REINDEX, COPY TO, the transaction commands, SEEK, INDEX ON,
// DELETE TAG [ALL], SET FILTER TO, SET ORDER TO and SET DATASESSION TO.
//
// Each command receives its clauses in the order of its option grammar: a flag group as one
// integer mask (first flag bit 0), every other clause as a value that is null (or an empty object
// reference) when the clause was not written. Checks run in the order the commands list them.
#include <cstdint>
#include <filesystem>
#include <string>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/workarea.h"
#include "tables/data_session.h"
#include "tables/table_object.h"
#include "vm/execute.h"
#include "vm/interpreter.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

enum UseFlag : int64_t {
  USE_ONLINE = 1,
  USE_ADMIN = 2,
  USE_AGAIN = 4,
  USE_NODATA = 8,
  USE_EXCLUSIVE = 16,
  USE_SHARED = 32,
  USE_NOUPDATE = 64,
};
enum LocateFlag : int64_t { LOCATE_REST = 1, LOCATE_NOOPTIMIZE = 2 };
enum AppendFlag : int64_t { APPEND_BLANK = 1, APPEND_NOMENU = 2 };
enum UnlockFlag : int64_t { UNLOCK_ALL = 1 };
enum CopyFlag : int64_t { COPY_CDX = 1 };
enum SeekFlag : int64_t {
  SEEK_ASCENDING = 1,
  SEEK_DESCENDING = 2,
  SEEK_PREFIX = 4,
  SEEK_EXACT = 8,
  SEEK_SAME = 16,
  SEEK_AFTER = 32,
};
enum IndexFlag : int64_t {
  INDEX_ADDITIVE = 1,
  INDEX_UNIQUE = 2,
  INDEX_CANDIDATE = 4,
  INDEX_ASCENDING = 8,
  INDEX_DESCENDING = 16,
  INDEX_BINARY = 32,
};
enum OrderFlag : int64_t { ORDER_ASCENDING = 1, ORDER_DESCENDING = 2 };

// Argument n, or null when the call has fewer (a clause that was not written).
const Variant* clause(VmStack* stack, size_t argc, size_t n) {
  if (n > argc) return nullptr;
  const Variant* v = argument_value(stack, n);
  return is_null_argument(v) ? nullptr : v;
}

int64_t flags_argument(VmStack* stack, size_t argc, size_t n) {
  const Variant* v = clause(stack, argc, n);
  return v == nullptr ? 0 : integer_argument(stack, n);
}

Symtable* symtable_of(VmStack* stack) { return get_symtable(stack); }

// The file name without directory and extension: the alias a table gets by default.
String table_stem(const String& filename) {
  const std::filesystem::path path(filename.u8str());
  const std::string stem = path.stem().string();
  return String(stem.data(), stem.size(), Charset::utf8);
}

// The IN-clause rule of GO, GO TOP and GO BOTTOM: the session's current table, or that of the
// named area; none -> 52.
Table_Object* in_clause_table(VmStack* stack, const Variant* area) {
  return session_table(stack, area, true);
}

}  // namespace

DataSession_Object* session_of(VmStack* stack) {
  QZ_TRACE;
  DataSession_Object* ds = stack->current_data_session;
  QZ_ASSERT(ds != nullptr);
  return ds;
}

Table_Object* session_table(VmStack* stack, const Variant* area, bool required) {
  QZ_TRACE;
  DataSession_Object* ds = session_of(stack);
  Table_Object* table = (area == nullptr || is_null_argument(area)) ? ds->current_table : ds->select_file(stack, area);
  if (table == nullptr && required) throw RuntimeError(52);
  return table;
}

Table_Object* work_area_table(VmStack* stack, const Variant* area, bool required) {
  QZ_TRACE;
  if (stack->bound_table != nullptr) return stack->bound_table;
  return session_table(stack, area, required);
}

// USE [file] [IN area] [ALIAS name] [AGAIN] [EXCLUSIVE | SHARED] [NOUPDATE]
void void_stackcall_use(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_argument(stack, argc, 1);
  if (flags & (USE_ONLINE | USE_ADMIN | USE_NODATA)) throw RuntimeError(1001);
  if ((flags & USE_EXCLUSIVE) && (flags & USE_SHARED)) throw RuntimeError(11);
  const Variant* file = clause(stack, argc, 2);
  const Variant* in = clause(stack, argc, 3);
  const Variant* alias = clause(stack, argc, 4);
  DataSession_Object* ds = session_of(stack);
  const int area = in == nullptr ? ds->current_area : ds->select(stack, in);
  ds->close(area);
  if (file == nullptr) return;
  bool shared = !ds->settings.exclusive;
  if (flags & USE_SHARED) shared = true;
  if (flags & USE_EXCLUSIVE) shared = false;
  const String path = static_cast<String>(*file);
  // Area 0 (every area was in use) opens nowhere: 17 before the file is touched.
  const int32_t target = ds->area_for_open(area);
  const bool again = (flags & USE_AGAIN) != 0;
  ObjectPointer table = Table_Object::use(stack, path, shared, (flags & USE_NOUPDATE) != 0, again);
  const String name = alias != nullptr ? static_cast<String>(*alias)
                                       : table_stem(static_cast<Table_Object*>(table.get())->filename());
  ds->assign(std::move(table), symtable_of(stack), name, target, again);
}

// SELECT area | alias | 0
void void_stackcall_select(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  DataSession_Object* ds = session_of(stack);
  const int area = ds->select(stack, argument_value(stack, 1));
  ds->select(area);
}

// GO [RECORD] n [IN area]: straight to the record, no filter, deleted or scope test.
void void_stackcall_go_record(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  Table_Object* table = in_clause_table(stack, clause(stack, argc, 1));
  table->go(stack, integer_argument(stack, 2));
}

void void_stackcall_go_top(VmStack* stack, size_t argc) {
  QZ_TRACE;
  in_clause_table(stack, clause(stack, argc, 2))->movefirst(stack);
}

void void_stackcall_go_bottom(VmStack* stack, size_t argc) {
  QZ_TRACE;
  in_clause_table(stack, clause(stack, argc, 2))->movelast(stack);
}

// SKIP [n] [IN area]
void void_stackcall_skip(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const Variant* count = clause(stack, argc, 1);
  const Variant* in = clause(stack, argc, 2);
  if (count == nullptr) {
    work_area_table(stack, in, true)->movenext(stack, 1);
    return;
  }
  const int64_t n = int32_argument(stack, 1);
  if (n == 0) throw RuntimeError(11);
  Table_Object* table = work_area_table(stack, in, true);
  if (n > 0) {
    table->movenext(stack, static_cast<size_t>(n));
  } else {
    table->moveprevious(stack, static_cast<size_t>(-n));
  }
}

// LOCATE FOR c [WHILE w] [REST]
void void_stackcall_locate(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String condition = string_argument(stack, 1);
  const Variant* while_clause = clause(stack, argc, 2);
  const int64_t flags = flags_argument(stack, argc, 3);
  Table_Object* table = work_area_table(stack, nullptr, true);
  if (while_clause != nullptr) {
    table->locate_for_while(stack, condition, static_cast<String>(*while_clause));
  } else {
    table->locate_for(stack, condition, (flags & LOCATE_REST) != 0);
  }
}

void void_stackcall_continue(VmStack* stack, size_t) {
  QZ_TRACE;
  work_area_table(stack, nullptr, true)->locate_continue(stack);
}

// REPLACE field WITH value [IN area]; one REPLACE per field (the compiler splits the list).
void void_stackcall_replace(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  Table_Object* table = work_area_table(stack, clause(stack, argc, 3), true);
  const symbol_id_type symbol = symtable_of(stack)->symbolize(string_argument(stack, 1));
  table->set_field_by_symbol(symbol, argument_value(stack, 2));
  if (table->get_update_mode() == 1) table->update(stack);
}

void void_stackcall_delete_record(VmStack* stack, size_t) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, nullptr, true);
  table->delete_record();
  table->update(stack);
}

void void_stackcall_recall_record(VmStack* stack, size_t) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, nullptr, true);
  table->recall_record();
  table->update(stack);
}

// APPEND BLANK [IN area]
void void_append_blank(VmStack* stack, size_t argc) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, clause(stack, argc, 2), true);
  if (flags_argument(stack, argc, 1) != APPEND_BLANK) throw RuntimeError(1001, String("blank option only"));
  table->begin_append();
  table->update(stack);
}

// UNLOCK [IN area]: the current record's lock; nothing without a table.
void void_stackcall_unlock(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_argument(stack, argc, 1);
  Table_Object* table = work_area_table(stack, clause(stack, argc, 3), false);
  if (table == nullptr) return;
  if (flags & UNLOCK_ALL) throw RuntimeError(1001, String("Unlocking all records"));
  if (clause(stack, argc, 2) != nullptr) throw RuntimeError(1001, String("Unlocking specific record"));
  table->unlock();
}

void void_stackcall_pack(VmStack* stack, size_t) {
  QZ_TRACE;
  DataSession_Object* ds = session_of(stack);
  session_table(stack, nullptr, true)->pack(stack, ds);
}

void void_stackcall_zap(VmStack* stack, size_t) {
  QZ_TRACE;
  DataSession_Object* ds = session_of(stack);
  session_table(stack, nullptr, true)->zap(stack, ds);
}

void void_stackcall_reindex(VmStack* stack, size_t) {
  QZ_TRACE;
  work_area_table(stack, nullptr, true)->reindex(stack);
}

// COPY TO file [CDX]: the session's current table, never the bound one.
void void_stackcall_copy_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  Table_Object* table = session_table(stack, nullptr, true);
  table->copyto(stack, string_argument(stack, 1), (flags_argument(stack, argc, 2) & COPY_CDX) != 0);
}

void void_stackcall_begin_transaction(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeError(1001, String("BEGIN TRANSACTION"));
}

void void_stackcall_end_transaction(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeError(1001, String("COMMIT"));
}

void void_stackcall_rollback(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeError(1001, String("ROLLBACK"));
}

void void_stackcall_declare(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeError(1001);
}

// SEEK expression [IN area] [RECORD n] [NEAR lNear] [ASCENDING | DESCENDING] [PREFIX | EXACT]
// [SAME] [AFTER]
void void_stackcall_seek(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_argument(stack, argc, 1);
  if ((flags & SEEK_ASCENDING) && (flags & SEEK_DESCENDING)) throw RuntimeError(11);
  if ((flags & SEEK_PREFIX) && (flags & SEEK_EXACT)) throw RuntimeError(11);
  const SessionSettings& settings = session_of(stack)->settings;
  KeyOpt option = settings.exact ? KEY_OPT_EXACT : KEY_OPT_PREFIX;
  if (flags & SEEK_PREFIX) option = KEY_OPT_PREFIX;
  if (flags & SEEK_EXACT) option = KEY_OPT_EXACT;
  bool near = settings.near;
  if (const Variant* clause_near = clause(stack, argc, 5)) near = clause_near->tag == VT_TRUE;
  // A null key is a value like any other: the key builder decides what it means.
  const Variant* value = argc >= 2 ? argument_value(stack, 2) : nullptr;
  if (value == nullptr) throw RuntimeError(11);
  Table_Object* table = work_area_table(stack, clause(stack, argc, 3), true);
  if (clause(stack, argc, 4) != nullptr) {
    const int64_t record = integer_argument(stack, 4);
    // No record has a number below 1: such a pair is never found.
    table->seek_record(value, record > 0 ? static_cast<size_t>(record) : 0);
    return;
  }
  // SAME keeps the sought keys inside the range, AFTER opens it toward the end; neither is SAME.
  int range = 0;
  if (flags & SEEK_SAME) range |= SEEK_RNG_EQUAL;
  if (flags & SEEK_AFTER) range |= SEEK_RNG_OPEN;
  if (range == 0) range = SEEK_RNG_EQUAL;
  SeekDir dir = SEEK_DIR_SELECTED;
  if (flags & SEEK_ASCENDING) dir = SEEK_DIR_FORWARD;
  if (flags & SEEK_DESCENDING) dir = SEEK_DIR_BACKWARD;
  table->seek(stack, value, option, static_cast<SeekRng>(range), dir, near);
}

// INDEX ON key TAG name [FOR condition] [COLLATE name] [UNIQUE | CANDIDATE] [ASCENDING |
// DESCENDING] [BINARY] [ADDITIVE]
void void_stackcall_index(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_argument(stack, argc, 1);
  if ((flags & INDEX_ASCENDING) && (flags & INDEX_DESCENDING)) throw RuntimeError(11);
  Table_Object* table = session_table(stack, nullptr, true);
  if (argc < 3) throw RuntimeError(11);
  internal_indexdef_st def;
  def.key_expression = string_argument(stack, 2);
  def.tag_name = string_argument(stack, 3);
  if (const Variant* for_clause = clause(stack, argc, 4)) def.for_expression = static_cast<String>(*for_clause);
  if (const Variant* collate = clause(stack, argc, 5)) def.collation_name = static_cast<String>(*collate);
  def.unique = (flags & INDEX_UNIQUE) ? 1 : 0;
  def.candidate = (flags & INDEX_CANDIDATE) ? 1 : 0;
  def.descending = (flags & INDEX_DESCENDING) ? 1 : 0;
  def.binary = (flags & INDEX_BINARY) ? 1 : 0;
  const createopts_st options{};
  table->create_index(stack, &options, &def);
}

// DELETE TAG name
void void_stackcall_delete_tag(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String tag = string_argument(stack, 1);
  work_area_table(stack, nullptr, true)->drop_index(stack, tag);
}

// DELETE TAG ALL
void void_stackcall_delete_all_tags(VmStack* stack, size_t) {
  QZ_TRACE;
  work_area_table(stack, nullptr, true)->drop_all_indizes(stack);
}

// SET ORDER TO [tag | n] [IN area] [ASCENDING | DESCENDING]; no tag or 0: physical order.
void void_stackcall_set_order_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_argument(stack, argc, 3);
  if ((flags & ORDER_ASCENDING) && (flags & ORDER_DESCENDING)) throw RuntimeError(11);
  SeekDir dir = SEEK_DIR_SELECTED;
  if (flags & ORDER_ASCENDING) dir = SEEK_DIR_FORWARD;
  if (flags & ORDER_DESCENDING) dir = SEEK_DIR_BACKWARD;
  const Variant* tag = clause(stack, argc, 1);
  Table_Object* table = work_area_table(stack, clause(stack, argc, 2), true);
  if (tag == nullptr) {
    table->unselect_index();
  } else if (tag->tag == VT_STRING) {
    table->select_index_tag(stack, tag->string, dir);
  } else {
    // A tag number, counted from 1 as TAGNO() counts; 0 is physical order.
    const int64_t n = integer_argument(stack, 1);
    if (n < 0) throw RuntimeError(11);
    if (n == 0) {
      table->unselect_index();
    } else {
      table->select_index(stack, static_cast<size_t>(n - 1), dir);
    }
  }
}

// SET FILTER TO [condition] [IN area]
void void_stackcall_set_filter_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const Variant* condition = clause(stack, argc, 1);
  Table_Object* table = session_table(stack, clause(stack, argc, 2), true);
  if (condition == nullptr) {
    table->set_filter_to();
  } else {
    table->set_filter_to(stack, static_cast<String>(*condition));
  }
}

// SET DATASESSION TO [n]
void void_stackcall_set_datasession_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  int32_t number = 1;
  if (clause(stack, argc, 1) != nullptr) number = int32_argument(stack, 1);
  DataSession_Object* session = stack->find_data_session(number);
  if (session == nullptr) throw RuntimeError(1540);
  stack->set_current_data_session(session);
  if (stack->method_context.object != nullptr) {
    stack->method_context.object->data_session_id = session->session_id;
    stack->method_context.data_session_id = session->session_id;
  }
}

}  // namespace qzbase
