// scatter_gather.cpp - SCATTER the current record into an array, memory variables or an object,
// and GATHER it back.
//
// Fields are visited in field order; memo (M) and blob (W) fields only with MEMO. A GATHER that
// fails half-way reverts the record buffer before the error goes on: the fields it had written
// must not reach the file with the next REPLACE or DELETE, leaving a record neither old nor new.
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/workarea.h"
#include "objects/object.h"
#include "tables/table_object.h"
#include "vm/calls.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

enum ScatterFlag : int64_t { SCATTER_MEMO = 1, SCATTER_BLANK = 2, SCATTER_MEMVAR = 4, SCATTER_ADDITIVE = 4 };
enum GatherFlag : int64_t { GATHER_MEMO = 1, GATHER_MEMVAR = 2 };

int64_t flags_of(VmStack* stack, size_t argc) {
  if (argc < 1 || is_null_argument(argument_value(stack, 1))) return 0;
  return integer_argument(stack, 1);
}

// The numbers of the fields a SCATTER or GATHER visits.
std::vector<uint16_t> selected_fields(Table_Object* table, bool memo) {
  std::vector<uint16_t> fields;
  const size_t count = table->cnt_fields();
  for (size_t i = 0; i < count; ++i) {
    const auto type = table->get_field_type(i);
    if (!memo && (type == FIELDINFO_MEMO || type == FIELDINFO_BLOB)) continue;
    fields.push_back(static_cast<uint16_t>(i));
  }
  return fields;
}

void read_field(Table_Object* table, uint16_t field, bool blank, Variant* out) {
  if (blank) {
    table->get_blank(field, out);
  } else {
    table->get_field(field, out);
  }
}

// Runs the writes of a GATHER and then update; when a write fails the buffer is reverted first.
template <typename F>
void gather(VmStack* stack, Table_Object* table, F write_fields) {
  try {
    write_fields();
  } catch (...) {
    table->revert();
    throw;
  }
  table->update(stack);
}

}  // namespace

// SCATTER [MEMO] [BLANK] TO array
void void_stackcall_scatter_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_of(stack, argc);
  Table_Object* table = work_area_table(stack, nullptr, true);
  if (argc < 2) throw RuntimeError(11);
  const std::vector<uint16_t> fields = selected_fields(table, (flags & SCATTER_MEMO) != 0);
  Array* array = argument_value(stack, 2)->dimension(stack, fields.size(), 0);
  for (size_t k = 0; k < fields.size(); ++k) {
    read_field(table, fields[k], (flags & SCATTER_BLANK) != 0, array->write(stack, k + 1));
  }
}

// SCATTER [MEMO] [BLANK] MEMVAR
void void_stackcall_scatter_memvar(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_of(stack, argc);
  Table_Object* table = work_area_table(stack, nullptr, true);
  if (!(flags & SCATTER_MEMVAR)) throw_assert_failed();
  for (uint16_t field : selected_fields(table, (flags & SCATTER_MEMO) != 0)) {
    Memvar* m = nullptr;
    stack->alloc_undefined_memvar(table->get_symbol_id_by_field(field), &m);
    ScopedValue value(stack);
    read_field(table, field, (flags & SCATTER_BLANK) != 0, &value.value);
    m->value.release(stack);
    value.value.copy(&m->value);
  }
}

// SCATTER [MEMO] [BLANK] NAME object [ADDITIVE]
void void_scatter_name(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_of(stack, argc);
  Table_Object* table = work_area_table(stack, nullptr, true);
  if (argc < 2) throw RuntimeError(11);
  Variant* target = argument_value(stack, 2);
  const bool reuse = (flags & SCATTER_ADDITIVE) && target->tag == VT_OBJECT && !is_null_argument(target);
  if (!reuse) {
    ObjectPointer fresh = CreateObject(stack, String("empty"), nullptr, 0);
    target->release(stack);
    target->set(static_cast<const object_ptr_st&>(fresh));
  }
  Object* object = target->object.object;
  for (uint16_t field : selected_fields(table, (flags & SCATTER_MEMO) != 0)) {
    ScopedValue value(stack);
    read_field(table, field, (flags & SCATTER_BLANK) != 0, &value.value);
    object->addproperty(stack, table->get_symbol_id_by_field(field), &value.value);
  }
}

// GATHER FROM array [MEMO]
void void_stackcall_gather_from(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_of(stack, argc);
  Table_Object* table = work_area_table(stack, nullptr, true);
  if (argc < 2) throw RuntimeError(11);
  Array* array = *argument_value(stack, 2);
  const std::vector<uint16_t> fields = selected_fields(table, (flags & GATHER_MEMO) != 0);
  gather(stack, table, [&] {
    for (size_t k = 0; k < fields.size(); ++k) table->set_field(fields[k], array->read(k + 1));
  });
}

// GATHER MEMVAR [MEMO]: fields without a variable keep their value.
void void_stackcall_gather_memvar(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_of(stack, argc);
  Table_Object* table = work_area_table(stack, nullptr, true);
  const std::vector<uint16_t> fields = selected_fields(table, (flags & GATHER_MEMO) != 0);
  gather(stack, table, [&] {
    for (uint16_t field : fields) {
      Memvar* m = nullptr;
      if (!stack->get_memvar(table->get_symbol_id_by_field(field), &m)) continue;
      table->set_field(field, &m->value);
    }
  });
}

// GATHER NAME object [MEMO]: fields without a property keep their value.
void void_stackcall_gather_name(VmStack* stack, size_t argc) {
  QZ_TRACE;
  const int64_t flags = flags_of(stack, argc);
  Table_Object* table = work_area_table(stack, nullptr, true);
  if (argc < 2) throw RuntimeError(11);
  const Variant* source = argument_value(stack, 2);
  if (source->tag != VT_OBJECT || is_null_argument(source)) throw RuntimeError(11);
  Object* object = source->object.object;
  const std::vector<uint16_t> fields = selected_fields(table, (flags & GATHER_MEMO) != 0);
  gather(stack, table, [&] {
    for (uint16_t field : fields) {
      const symbol_id_type symbol = table->get_symbol_id_by_field(field);
      member_lookup_st member;
      if (!object->find_member(symbol, &member)) continue;
      ScopedValue value(stack);
      {
        PushedScope pushed(stack);
        source->copy(&stack->push()->value);
        object->virtual_access(stack, symbol, 0, &value.value);
      }
      table->set_field(field, &value.value);
    }
  });
}

}  // namespace qzbase
