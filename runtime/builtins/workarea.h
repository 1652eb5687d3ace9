// workarea.h - the work-area commands and functions: opening and closing tables, selecting areas,
// moving, locating and changing records, SCATTER and GATHER, the table-structure commands, SET
// FILTER, SET DATASESSION and the cursor properties.
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

class DataSession_Object;
class Table_Object;

// The current data session of the stack (every stack has one).
DataSession_Object* session_of(VmStack* stack);
// The table a work-area built-in acts on: the table bound to the stack while it evaluates its
// own expression; else, area absent or null, the session's current table; else the table of that
// area number or alias (13 for an unknown alias or an empty area). None and required: 52.
Table_Object* work_area_table(VmStack* stack, const Variant* area, bool required);
// The same without the bound table: the session's own current table or area (13 / 52 as above).
Table_Object* session_table(VmStack* stack, const Variant* area, bool required);

// Commands (argument lists in the order of their option grammars).
void void_stackcall_use(VmStack* stack, size_t argc);
void void_stackcall_select(VmStack* stack, size_t argc);
void void_stackcall_go_record(VmStack* stack, size_t argc);
void void_stackcall_go_top(VmStack* stack, size_t argc);
void void_stackcall_go_bottom(VmStack* stack, size_t argc);
void void_stackcall_skip(VmStack* stack, size_t argc);
void void_stackcall_locate(VmStack* stack, size_t argc);
void void_stackcall_continue(VmStack* stack, size_t argc);
void void_stackcall_replace(VmStack* stack, size_t argc);
void void_stackcall_delete_record(VmStack* stack, size_t argc);
void void_stackcall_recall_record(VmStack* stack, size_t argc);
void void_append_blank(VmStack* stack, size_t argc);
void void_stackcall_unlock(VmStack* stack, size_t argc);
void void_stackcall_pack(VmStack* stack, size_t argc);
void void_stackcall_zap(VmStack* stack, size_t argc);
void void_stackcall_reindex(VmStack* stack, size_t argc);
void void_stackcall_copy_to(VmStack* stack, size_t argc);
void void_stackcall_begin_transaction(VmStack* stack, size_t argc);
void void_stackcall_end_transaction(VmStack* stack, size_t argc);
void void_stackcall_rollback(VmStack* stack, size_t argc);
void void_stackcall_declare(VmStack* stack, size_t argc);
void void_stackcall_seek(VmStack* stack, size_t argc);
void void_stackcall_index(VmStack* stack, size_t argc);
void void_stackcall_delete_tag(VmStack* stack, size_t argc);
void void_stackcall_delete_all_tags(VmStack* stack, size_t argc);
void void_stackcall_set_filter_to(VmStack* stack, size_t argc);
void void_stackcall_set_order_to(VmStack* stack, size_t argc);
void void_stackcall_set_datasession_to(VmStack* stack, size_t argc);

// SCATTER and GATHER.
void void_stackcall_scatter_to(VmStack* stack, size_t argc);
void void_stackcall_scatter_memvar(VmStack* stack, size_t argc);
void void_scatter_name(VmStack* stack, size_t argc);
void void_stackcall_gather_from(VmStack* stack, size_t argc);
void void_stackcall_gather_memvar(VmStack* stack, size_t argc);
void void_stackcall_gather_name(VmStack* stack, size_t argc);

// Table structure.
void void_stackcall_create_table(VmStack* stack, size_t argc);
void void_stackcall_add_columns(VmStack* stack, size_t argc);
void void_stackcall_drop_columns(VmStack* stack, size_t argc);
void void_stackcall_drop_table(VmStack* stack, size_t argc);
void void_stackcall_rename_table(VmStack* stack, size_t argc);
void void_stackcall_display_structure(VmStack* stack, size_t argc);
void void_stackcall_delete_file(VmStack* stack, size_t argc);
void afields(VmStack* stack, size_t argc, Variant* result);

// Functions.
void bi_alias(VmStack* stack, size_t argc, Variant* result);
void bi_dbf(VmStack* stack, size_t argc, Variant* result);
void bi_cpdbf(VmStack* stack, size_t argc, Variant* result);
void bi_recno(VmStack* stack, size_t argc, Variant* result);
void bi_reccount(VmStack* stack, size_t argc, Variant* result);
void bi_eof(VmStack* stack, size_t argc, Variant* result);
void bi_bof(VmStack* stack, size_t argc, Variant* result);
void bi_found(VmStack* stack, size_t argc, Variant* result);
void bi_deleted(VmStack* stack, size_t argc, Variant* result);
void bi_isnull(VmStack* stack, size_t argc, Variant* result);
void bi_used(VmStack* stack, size_t argc, Variant* result);
void bi_select(VmStack* stack, size_t argc, Variant* result);
void bi_isrlocked(VmStack* stack, size_t argc, Variant* result);
void bi_lock(VmStack* stack, size_t argc, Variant* result);
void bi_descending(VmStack* stack, size_t argc, Variant* result);
void bi_order(VmStack* stack, size_t argc, Variant* result);
void bi_tagno(VmStack* stack, size_t argc, Variant* result);
void bi_ataginfo(VmStack* stack, size_t argc, Variant* result);
void bi_get_key(VmStack* stack, size_t argc, Variant* result);
void bi_get_leaf_num_keys(VmStack* stack, size_t argc, Variant* result);
void bi_get_leaf_key_num(VmStack* stack, size_t argc, Variant* result);
void bi_get_compact_max_prefix(VmStack* stack, size_t argc, Variant* result);
void bi_get_compact_max_suffix(VmStack* stack, size_t argc, Variant* result);
void bi_cursorgetprop(VmStack* stack, size_t argc, Variant* result);
void bi_cursorsetprop(VmStack* stack, size_t argc, Variant* result);

}  // namespace qzbase
