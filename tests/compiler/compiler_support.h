// compiler_support.h - what the compiler tests share: a runtime with one stack, locations, and
// assembling a hand-built collection into a dumped Program.
#pragma once

#include <gtest/gtest.h>
#include <qzbase.h>

#include <functional>
#include <memory>
#include <vector>
#include <string>

#include "compiler/compiler_state.h"
#include "compiler/program_dump.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_compiler {

// A source range on one line: characters [begin, end) of line.
inline document_location_st loc(uint32_t line, uint32_t begin = 0, uint32_t end = 1) {
  return document_location_st{begin, begin, line, begin + 1, end, end, line, end + 1};
}

class RuntimeFixture {
 public:
  RuntimeFixture() : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 256, 64)) {}
  ~RuntimeFixture() {
    delete stack;
    ReleaseRuntime(runtime);
  }
  RuntimeFixture(const RuntimeFixture&) = delete;
  RuntimeFixture& operator=(const RuntimeFixture&) = delete;

  symbol_id_type sym(const char* name) { return stack->get_symtable()->symbolize(name); }

  NullScreen screen;
  Runtime* runtime;
  VmStack* stack;
};

class CompilerTest : public ::testing::Test {
 public:
  CompilerTest() : compiler(rt.stack, COMPILE_KIND_PROGRAM) {}

  // Assembles the compiler's collection and dumps the result (the Program is kept in program).
  std::string assemble(const char* name = "") {
    program.reset(compiler.build_program(String(name)));
    return dump_program(program.get());
  }
  AddressLabelRecord* label(const char* name = "label") { return compiler.create_addresslabel(String(name)); }
  CompiledCodeCollection& code() { return compiler.collection; }
  size_t slot(code_position p) const { return static_cast<size_t>(p - program->code()); }

  RuntimeFixture rt;
  Compiler compiler;
  std::unique_ptr<Program> program;
};

// Runs f and returns the RuntimeError code it raised (0: none; -1: a broken invariant).
template <class F>
int error_of(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.code;
  } catch (const assert_failed_exception&) {
    return -1;
  }
  return 0;
}

}  // namespace qzbase::testing_compiler
