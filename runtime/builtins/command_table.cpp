// command_table.cpp - the built-in command table, in registration order.
//
// The option grammar of each command (which decides its argument list) is the front end's command
// table; the signatures here mirror it.
#include "builtins/entry_points.h"
#include "builtins/file_paths.h"
#include "builtins/run_commands.h"
#include "builtins/set_functions.h"
#include "builtins/set_path.h"
#include "builtins/system_functions.h"
#include "builtins/tables.h"
#include "builtins/text_functions.h"
#include "builtins/text_merge.h"
#include "builtins/unavailable.h"
#include "builtins/workarea.h"

namespace qzbase {

// clang-format off
const module_command_st builtin_commands[] = {
    {"add_columns", "CI|.?+", void_stackcall_add_columns},
    {"append", "I.?", void_append_blank},
    {"assert", "LC", cmd_assert},
    {"browse", "", void_stackcall_browse},
    {"begin_transaction", "", void_stackcall_begin_transaction},
    {"cancel", "", cmd_cancel},
    {"cd", "C", void_stackcall_cd},
    {"clear", "", void_stackcall_clear},
    {"continue", "", void_stackcall_continue},
    {"copy_to", "CI", void_stackcall_copy_to},
    {"create_table", "ICI?C?I|.?+", void_stackcall_create_table},
    {"declare", "CCIC", void_stackcall_declare},
    {"delete_all_tags", "", void_stackcall_delete_all_tags},
    {"delete_file", "C", void_stackcall_delete_file},
    {"delete_record", "", void_stackcall_delete_record},
    {"delete_tag", "C", void_stackcall_delete_tag},
    {"display_structure", "", void_stackcall_display_structure},
    {"drop_columns", "CC+", void_stackcall_drop_columns},
    {"do", "CC?.?|.?$+", void_stackcall_do},
    {"drop_table", "C", void_stackcall_drop_table},
    {"echo", "|.?+", cmd_echo},
    {"echo_linefeed", "|.?+", cmd_echo_linefeed},
    {"end_transaction", "", void_stackcall_end_transaction},
    {"error", "..?", cmd_error},
    {"gather_from", "IA", void_stackcall_gather_from},
    {"gather_memvar", "I", void_stackcall_gather_memvar},
    {"gather_name", "IO", void_stackcall_gather_name},
    {"go_bottom", "I.?", void_stackcall_go_bottom},
    {"go_record", ".?I", void_stackcall_go_record},
    {"go_top", "I.?", void_stackcall_go_top},
    {"index", "ICCC?C?", void_stackcall_index},
    {"locate", "CC?I", void_stackcall_locate},
    {"mkdir", "C", void_stackcall_mkdir},
    {"modify_command", "C", void_stackcall_modify_command},
    {"pack", "", void_stackcall_pack},
    {"private", "CC", cmd_private},
    {"quit", "", cmd_quit},
    {"recall_record", "", void_stackcall_recall_record},
    {"reindex", "", void_stackcall_reindex},
    {"rename_table", "CC", void_stackcall_rename_table},
    {"replace", "C.?.?", void_stackcall_replace},
    {"rollback", "", void_stackcall_rollback},
    {"run", "C", void_stackcall_run},
    {"scatter_memvar", "I", void_stackcall_scatter_memvar},
    {"scatter_name", "I.@*", void_scatter_name},
    {"scatter_to", "I.@*", void_stackcall_scatter_to},
    {"seek", "I.?.?I?L?", void_stackcall_seek},
    {"select", ".", void_stackcall_select},
    {"set", "I.", void_stackcall_set},
    {"set_century_to", "L", set_century_to},
    {"set_datasession_to", "I?", void_stackcall_set_datasession_to},
    {"set_date_to", "C", set_date_to},
    {"set_fdow_to", "I", set_fdow_to},
    {"set_filter_to", "C?.?", void_stackcall_set_filter_to},
    {"set_hours_to", "I", set_hours_to},
    {"set_library_to", "I|C+", void_stackcall_set_library_to},
    {"set_order_to", ".?.?I", void_stackcall_set_order_to},
    {"set_path_to", "I|C+", void_stackcall_set_path_to},
    {"set_point_to", "C", set_point_to},
    {"set_procedure_to", "I|C+", void_stackcall_set_procedure_to},
    {"set_seconds_to", "L", set_seconds_to},
    {"set_separator_to", "C", set_separator_to},
    {"set_sysformats_to", "L", cmd_set_sysformats_to},
    {"set_textmerge_to", "IC?.?", cmd_set_textmerge_to},
    {"skip", "I?.?", void_stackcall_skip},
    {"textmerge", "|.?+", cmd_textmerge},
    {"throw", ".", cmd_throw},
    {"unlock", "II?.?", void_stackcall_unlock},
    {"use", "IC?.?C?C?", void_stackcall_use},
    {"wait", "IC?I?", void_stackcall_wait},
    {"zap", "", void_stackcall_zap},
    {nullptr, nullptr, nullptr},
};
// clang-format on

const size_t builtin_command_count = sizeof(builtin_commands) / sizeof(builtin_commands[0]) - 1;

}  // namespace qzbase
