// text_merge.h - the run-time side of TEXT blocks, the \ and \\ lines, SET TEXTMERGE and PRETEXT().
#pragma once

#include <qzbase.h>

#include <cstddef>

namespace qzbase {

// PRETEXT option flags.
enum PretextFlags : long {
  PRETEXT_TRIM_BLANKS = 1,  // blanks at the start of each line
  PRETEXT_TRIM_TABS = 2,    // tabs at the start of each line
  PRETEXT_SKIP_EMPTY = 4,   // empty lines are left out
  PRETEXT_NO_LINE_ENDS = 8,
};

// STACKCALL_TEXT(pretext or flags, show, kind, value, ...): the text of a TEXT block.
void bi_stackcall_text(VmStack* stack, size_t argc, Variant* result);
// PRETEXT(text, flags or pretext).
void bi_pretext(VmStack* stack, size_t argc, Variant* result);
// The \ and \\ lines: kind, value, ... to the SET TEXTMERGE TO buffer and, with SHOW, the screen.
void cmd_textmerge(VmStack* stack, size_t argc);
// SET TEXTMERGE ON | OFF | SHOW | NOSHOW | TO MEMVAR name | TO: option bits, name, window.
void cmd_set_textmerge_to(VmStack* stack, size_t argc);

// The lines of text (split at CR LF, LF CR and LF), each after pretext (converted into the line's
// character set), with leading blanks, tabs or both removed, empty lines left out and line ends
// replaced by one blank as asked; first_without_pretext leaves the first line bare.
void pretext_qz(const String& text, const String& pretext, bool first_without_pretext, bool trim_blanks,
                bool trim_tabs, bool skip_empty_lines, bool no_line_ends, String& out);

}  // namespace qzbase
