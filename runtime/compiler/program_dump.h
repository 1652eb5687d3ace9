// program_dump.h - a readable listing of a Program, for tests and diagnostics.
//
// One line per code slot: the slot number, the op's name without its "VmOp" prefix and its
// operands; jump targets (and an error handler's range and clause targets) as slot numbers,
// symbols by name when a symbol table is given. Condition programs of catch clauses follow their
// handler, indented.
#pragma once

#include <qzbase.h>

#include <string>

#include "vm/program.h"

namespace qzbase {

struct program_dump_options_st {
  const Symtable* symbols = nullptr;  // null: symbols as numbers
  bool statements = false;            // append "#n" with the op's statement number
  bool header = false;                // a first line with the name and the counts
};

std::string dump_program(const Program* program, const program_dump_options_st& options = {});
// One op; code is the array it lives in (to print jump targets as slots), null for an op that is
// not in a program yet (targets printed raw).
std::string dump_op(const VmOp* op, const VmOp* const* code, const program_dump_options_st& options = {});

}  // namespace qzbase
