// expression_support.h - compiling parsed expressions in the compiler tests.
#pragma once

#include "compiler_support.h"

#include "compiler/expression_parts.h"
#include "frontend/parser.h"

namespace qzbase::testing_compiler {

class ExpressionTest : public CompilerTest {
 public:
  // The operand of one expression (through the parser's expression start token), owned here.
  Operand* parse(const char* text) {
    sources.emplace_back(new String(text));
    token_list_type tokens;
    tokenize(sources.back()->read(), sources.back()->end(), sources.back()->get_charset(), &tokens);
    Operand* op = parse_expression_tokens(tokens.cbegin(), tokens.cend());
    EXPECT_NE(op, nullptr) << text;
    operands.emplace_back(op);
    return op;
  }
  // Compiles text as a value into the unit's collection and returns the dump (symbols by name).
  std::string compile(const char* text, compiler_type_info_st* type = nullptr, bool fold = false) {
    compiler_type_info_st local;
    if (type == nullptr) type = &local;
    if (fold) {
      compiletime_compact_constexpr(parse(text), &code(), compiler, type);
    } else {
      compile_operand(parse(text), false, true, &code(), compiler, type);
    }
    return dump();
  }
  std::string dump() {
    program.reset(compiler.build_program(String("")));
    program_dump_options_st options;
    options.symbols = rt.stack->get_symtable();
    return dump_program(program.get(), options);
  }
  // Declares a frame variable of the unit.
  offset_type local(const char* name) {
    offset_type offset = 0;
    const symbol_id_type symbol = compiler.symbolize(name);
    EXPECT_TRUE(compiler.compile_time_define_memvar(symbol, &offset));
    compiler.variables[symbol] = 1;  // declared LOCAL in this scope
    return offset;
  }
  std::vector<uint32_t> message_codes() const {
    std::vector<uint32_t> codes;
    for (const build_message_st& m : compiler.messages) codes.push_back(m.code);
    return codes;
  }

  std::vector<std::unique_ptr<String>> sources;
  std::vector<std::unique_ptr<Operand>> operands;
};

}  // namespace qzbase::testing_compiler
