// workarea_functions.cpp - the functions that report on work areas, tables, records and index
// orders (ALIAS, DBF, RECNO, RECCOUNT, EOF, BOF, FOUND, DELETED, USED, SELECT, ORDER, TAGNO,
// ATAGINFO, ...), and CURSORGETPROP / CURSORSETPROP.
//
// RECNO, RECCOUNT and the others name their area by number or alias alike.
#include <cstring>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/workarea.h"
#include "frontend/keyword_map.h"
#include "tables/data_session.h"
#include "tables/table_object.h"
#include "vm/execute.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// Argument 1 when it was passed and is not null.
const Variant* optional_area(VmStack* stack, size_t argc, size_t n = 1) {
  if (argc < n) return nullptr;
  const Variant* v = argument_value(stack, n);
  return is_null_argument(v) ? nullptr : v;
}

const Charset* default_charset(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  return runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8;
}

void set_text(Variant* result, const char* text, const Charset* cs = Charset::utf8) {
  result->set_string(String(text, std::strlen(text), cs));
}

void set_size(Variant* result, size_t n) { result->set_integer(static_cast<int64_t>(n)); }

// The one property CURSORGETPROP and CURSORSETPROP know.
struct cursor_property_row_st {
  const char32_t* word;
  int id;
  uint64_t min_length;
};
constexpr int kAutoIncError = 1;
const cursor_property_row_st cursor_property_rows[] = {
    {U"AUTOINCERROR", kAutoIncError, 4},
    {nullptr, 0, 0},
};

int cursor_property(VmStack* stack, size_t n) {
  static const keyword_map<cursor_property_row_st>* map = [] {
    auto* m = new keyword_map<cursor_property_row_st>;
    keyword_map_init(*m, cursor_property_rows);
    return m;
  }();
  const String name = string_argument(stack, n);
  const cursor_property_row_st* row = map->find(name.read(), name.end(), name.get_charset());
  if (row == nullptr) throw RuntimeError(11);
  return row->id;
}

}  // namespace

void bi_alias(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const Variant* area = optional_area(stack, argc);
  Table_Object* table = area != nullptr ? session_of(stack)->select_file(stack, area) : session_of(stack)->current_table;
  if (table == nullptr) {
    result->set_string(String(static_cast<size_t>(0), default_charset(stack)));
    return;
  }
  String name = table->alias.name;
  name.convert(default_charset(stack), 0, 0);
  result->set_string(name);
}

void bi_dbf(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, optional_area(stack, argc), false);
  if (table == nullptr) {
    set_text(result, "");
    return;
  }
  result->set_string(table->filename());
}

void bi_cpdbf(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  result->set_integer(work_area_table(stack, optional_area(stack, argc), true)->codepage());
}

void bi_recno(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  set_size(result, work_area_table(stack, optional_area(stack, argc), true)->recno());
}

void bi_reccount(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  set_size(result, session_table(stack, optional_area(stack, argc), true)->reccount());
}

void bi_eof(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  result->set_bool(session_table(stack, optional_area(stack, argc), true)->eof());
}

void bi_bof(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  result->set_bool(session_table(stack, optional_area(stack, argc), true)->bof());
}

void bi_found(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  result->set_bool(session_table(stack, optional_area(stack, argc), true)->found);
}

void bi_deleted(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  result->set_bool(work_area_table(stack, optional_area(stack, argc), true)->deleted());
}

void bi_isnull(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  result->set_bool(argc < 1 || is_null_argument(argument_value(stack, 1)));
}

void bi_used(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  DataSession_Object* ds = session_of(stack);
  int area = 0;
  if (!ds->resolve(stack, argument_value(stack, 1), &area)) {
    result->set_false();
    return;
  }
  result->set_bool(ds->used(area));
}

// SELECT([x]): the current area; 0 / 1 the lowest / highest free area; an alias's area (0 when it
// is not open). Nothing is selected.
void bi_select(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  DataSession_Object* ds = session_of(stack);
  if (argc < 1) {
    result->set_integer(ds->current_area);
    return;
  }
  const Variant* x = argument_value(stack, 1);
  switch (x->tag) {
    case VT_INTEGER:
    case VT_NUMERIC:
    case VT_MONEY: {
      const int64_t n = integer_argument(stack, 1);
      if (n == 0) {
        result->set_integer(ds->first_free_area());
      } else if (n == 1) {
        result->set_integer(ds->last_free_area());
      } else {
        throw RuntimeError(11);
      }
      return;
    }
    case VT_STRING: {
      int area = 0;
      if (!ds->resolve(x->string, get_symtable(stack), &area)) area = 0;
      result->set_integer(area);
      return;
    }
    default:
      throw RuntimeError(107);
  }
}

// ISRLOCKED([n [, area]])
void bi_isrlocked(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, optional_area(stack, argc, 2), true);
  const Variant* record = optional_area(stack, argc, 1);
  if (record == nullptr) {
    result->set_bool(table->isrlocked());
  } else {
    const int64_t n = integer_argument(stack, 1);
    result->set_bool(n > 0 && table->isrlocked(static_cast<size_t>(n)));
  }
}

void bi_lock(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Table_Object* table = session_of(stack)->current_table;
  if (table == nullptr) {
    result->set_false();
    return;
  }
  LockState state = LOCK_STATE_IN_RANGE;
  result->set_bool(table->lock_current_record(stack, state));
}

void bi_descending(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  result->set_bool(work_area_table(stack, nullptr, true)->descending());
}

void bi_order(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, optional_area(stack, argc), false);
  internal_indexdef_st def;
  if (table == nullptr || !table->get_current_index_info(&def)) {
    set_text(result, "");
    return;
  }
  result->set_string(def.tag_name);
}

void bi_tagno(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, nullptr, false);
  internal_indexdef_st def;
  if (table == nullptr || !table->get_current_index_info(&def)) {
    result->set_integer(0);
    return;
  }
  set_size(result, def.tag_number + 1);
}

// ATAGINFO(array): one row of six columns per tag. Without a table there are no tags: 0, and the
// array is left as it was.
void bi_ataginfo(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, nullptr, false);
  const size_t count = table != nullptr ? table->cnt_indizes() : 0;
  if (count == 0) {
    result->set_integer(0);
    return;
  }
  Array* rows = argument_value(stack, 1)->dimension(stack, count, 6);
  for (size_t i = 0; i < count; ++i) {
    internal_indexdef_st def;
    table->get_index_info(i, &def);
    const size_t row = i + 1;
    rows->write(stack, row, 1)->set_string(def.tag_name);
    const char* kind = def.binary ? "BINARY" : def.candidate ? "CANDIDATE" : def.unique ? "UNIQUE" : "REGULAR";
    set_text(rows->write(stack, row, 2), kind);
    rows->write(stack, row, 3)->set_string(def.key_expression);
    rows->write(stack, row, 4)->set_string(def.for_expression);
    set_text(rows->write(stack, row, 5), def.descending ? "DESCENDING" : "ASCENDING");
    if (def.collation_name.size() == 0) {
      set_text(rows->write(stack, row, 6), "MACHINE");
    } else {
      rows->write(stack, row, 6)->set_string(def.collation_name);
    }
  }
  set_size(result, count);
}

void bi_get_key(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  Table_Object* table = work_area_table(stack, nullptr, true);
  char key[256];
  const size_t n = table->get_index_key(key, 240);
  result->set_string(String(key, n, Charset::binary));
}

void bi_get_leaf_num_keys(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  set_size(result, work_area_table(stack, nullptr, true)->get_leaf_num_keys());
}

void bi_get_leaf_key_num(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  set_size(result, work_area_table(stack, nullptr, true)->get_leaf_key_num());
}

void bi_get_compact_max_prefix(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  set_size(result, work_area_table(stack, nullptr, true)->get_compact_max_prefix());
}

void bi_get_compact_max_suffix(VmStack* stack, size_t, Variant* result) {
  QZ_TRACE;
  set_size(result, work_area_table(stack, nullptr, true)->get_compact_max_suffix());
}

// CURSORGETPROP(name [, area])
void bi_cursorgetprop(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  Table_Object* table = work_area_table(stack, optional_area(stack, argc, 2), true);
  switch (cursor_property(stack, 1)) {
    case kAutoIncError:
      result->set_bool(table->autoinc_error);
      return;
  }
}

// CURSORSETPROP(name, value [, area])
void bi_cursorsetprop(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  Table_Object* table = work_area_table(stack, optional_area(stack, argc, 3), true);
  switch (cursor_property(stack, 1)) {
    case kAutoIncError: {
      const Variant* value = argument_value(stack, 2);
      table->autoinc_error = static_cast<bool>(*value);
      break;
    }
  }
  result->set_false();
}

}  // namespace qzbase
