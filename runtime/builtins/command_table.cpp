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

namespace qzbase {

// clang-format off
const module_command_st builtin_commands[] = {
    {"add_columns", "CI|.?+", unavailable_command<"add_columns">},
    {"append", "IC?", unavailable_command<"append">},
    {"assert", "LC", cmd_assert},
    {"browse", "", void_stackcall_browse},
    {"begin_transaction", "", unavailable_command<"begin_transaction">},
    {"cancel", "", cmd_cancel},
    {"cd", "C", void_stackcall_cd},
    {"clear", "", void_stackcall_clear},
    {"continue", "", unavailable_command<"continue">},
    {"copy_to", "CI", unavailable_command<"copy_to">},
    {"create_table", "ICI?C?I|.?+", unavailable_command<"create_table">},
    {"declare", "CCIC", unavailable_command<"declare">},
    {"delete_all_tags", "", unavailable_command<"delete_all_tags">},
    {"delete_file", "C", unavailable_command<"delete_file">},
    {"delete_record", "", unavailable_command<"delete_record">},
    {"delete_tag", "C", unavailable_command<"delete_tag">},
    {"display_structure", "", unavailable_command<"display_structure">},
    {"drop_columns", "CC+", unavailable_command<"drop_columns">},
    {"do", "CC?.?|.?$+", void_stackcall_do},
    {"drop_table", "C", unavailable_command<"drop_table">},
    {"echo", "|.?+", cmd_echo},
    {"echo_linefeed", "|.?+", cmd_echo_linefeed},
    {"end_transaction", "", unavailable_command<"end_transaction">},
    {"error", "..?", cmd_error},
    {"gather_from", "IA", unavailable_command<"gather_from">},
    {"gather_memvar", "I", unavailable_command<"gather_memvar">},
    {"gather_name", "IO", unavailable_command<"gather_name">},
    {"go_bottom", "I.?", unavailable_command<"go_bottom">},
    {"go_record", ".?I", unavailable_command<"go_record">},
    {"go_top", "I.?", unavailable_command<"go_top">},
    {"index", "ICCC?C?", unavailable_command<"index">},
    {"locate", "CC?I", unavailable_command<"locate">},
    {"mkdir", "C", void_stackcall_mkdir},
    {"modify_command", "C", void_stackcall_modify_command},
    {"pack", "", unavailable_command<"pack">},
    {"private", "CC", cmd_private},
    {"quit", "", cmd_quit},
    {"recall_record", "", unavailable_command<"recall_record">},
    {"reindex", "", unavailable_command<"reindex">},
    {"rename_table", "CC", unavailable_command<"rename_table">},
    {"replace", "C.?.?", unavailable_command<"replace">},
    {"rollback", "", unavailable_command<"rollback">},
    {"run", "C", void_stackcall_run},
    {"scatter_memvar", "I", unavailable_command<"scatter_memvar">},
    {"scatter_name", "I.@*", unavailable_command<"scatter_name">},
    {"scatter_to", "I.@*", unavailable_command<"scatter_to">},
    {"seek", "I.?.?I?L?", unavailable_command<"seek">},
    {"select", ".", unavailable_command<"select">},
    {"set", "I.", void_stackcall_set},
    {"set_century_to", "L", set_century_to},
    {"set_datasession_to", "I?", unavailable_command<"set_datasession_to">},
    {"set_date_to", "C", set_date_to},
    {"set_fdow_to", "I", set_fdow_to},
    {"set_filter_to", "C?.?", unavailable_command<"set_filter_to">},
    {"set_hours_to", "I", set_hours_to},
    {"set_library_to", "I|C+", void_stackcall_set_library_to},
    {"set_order_to", "C?.?I", unavailable_command<"set_order_to">},
    {"set_path_to", "I|C+", void_stackcall_set_path_to},
    {"set_point_to", "C", set_point_to},
    {"set_procedure_to", "I|C+", void_stackcall_set_procedure_to},
    {"set_seconds_to", "L", set_seconds_to},
    {"set_separator_to", "C", set_separator_to},
    {"set_sysformats_to", "L", cmd_set_sysformats_to},
    {"set_textmerge_to", "IC?.?", cmd_set_textmerge_to},
    {"skip", "I?.?", unavailable_command<"skip">},
    {"textmerge", "|.?+", cmd_textmerge},
    {"throw", ".", cmd_throw},
    {"unlock", "II?.?", unavailable_command<"unlock">},
    {"use", "IC?.?C?C?", unavailable_command<"use">},
    {"wait", "IC?I?", void_stackcall_wait},
    {"zap", "", unavailable_command<"zap">},
    {nullptr, nullptr, nullptr},
};
// clang-format on

const size_t builtin_command_count = sizeof(builtin_commands) / sizeof(builtin_commands[0]) - 1;

}  // namespace qzbase
