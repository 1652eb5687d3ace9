// sysvar_table.cpp - the system variables: a fixed set of names, of which only the platform flags
// can be read; nothing can be written.
#include "builtins/tables.h"

namespace qzbase {

namespace {

void sysvar_read_unavailable(VmStack*, size_t, Variant*) {
  QZ_TRACE;
  throw RuntimeError(1001, String("Read system variable"));
}

void sysvar_read_true(VmStack*, size_t, Variant* result) {
  QZ_TRACE;
  result->set_true();
}

void sysvar_read_false(VmStack*, size_t, Variant* result) {
  QZ_TRACE;
  result->set_false();
}

void sysvar_write(VmStack*, size_t) {
  QZ_TRACE;
  throw RuntimeError(1001, String("Write to system variable"));
}

}  // namespace

// clang-format off
module_sysvar_st builtin_sysvars[] = {
    {"_ALIGNMENT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_ASCIICOLS", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_ASCIIROWS", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_ASSIST", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_BEAUTIFY", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_BOX", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_BROWSER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_BUILDER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_CALCMEM", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_CALCVALUE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_CLIPTEXT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_CODESENSE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_CONVERTER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_COVERAGE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_CUROBJ", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_DBLCLICK", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_DIARYDATE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_DOS", "", sysvar_read_false, "L", ".", sysvar_write},
    {"_QZCODE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_QZDOC", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_QZGRAPH", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_QZREF", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_QZTASK", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GALLERY", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GENGRAPH", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GENHTML", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GENMENU", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GENPD", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GENSCRN", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GENXTAB", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_GETEXPR", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_INCLUDE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_INCSEEK", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_INDENT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_LMARGIN", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_MAC", "", sysvar_read_false, "L", ".", sysvar_write},
    {"_MENUDESIGNER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_MLINE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_OBJECTBROWSER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PADVANCE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PAGENO", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PAGETOTAL", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PBPAGE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PCOLNO", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PCOPIES", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PDRIVER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PDSETUP", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PECODE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PEJECT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PEPAGE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PLENGTH", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PLINENO", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PLOFFSET", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PPITCH", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PQUALITY", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PRETEXT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PSCODE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PSPACING", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_PWAIT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_REPORTBUILDER", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_REPORTOUTPUT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_REPORTPREVIEW", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_RMARGIN", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_RUNACTIVEDOC", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_SAMPLES", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_SCCTEXT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_SCREEN", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_SHELL", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_SPELLCHK", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_STARTUP", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TABS", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TALLY", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TASKLIST", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TASKPANE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TEXT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_THROTTLE", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TOOLBOX", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TOOLTIPTIMEOUT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TRANSPORT", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_TRIGGERLEVEL", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_UNIX", "", sysvar_read_true, "L", ".", sysvar_write},
    {"_QZ", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_WINDOWS", "", sysvar_read_false, "L", ".", sysvar_write},
    {"_WIZARD", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {"_WRAP", "", sysvar_read_unavailable, "L", ".", sysvar_write},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
// clang-format on

const size_t builtin_sysvar_count = sizeof(builtin_sysvars) / sizeof(builtin_sysvars[0]) - 1;

}  // namespace qzbase
