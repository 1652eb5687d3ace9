// statement_support.h - compiling source lines as statement lists in the compiler tests.
#pragma once

#include "compiler_support.h"

#include <algorithm>
#include <initializer_list>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "compiler/expression_parts.h"
#include "compiler/statements.h"
#include "vm/vm_op.h"
#include "frontend/parser_interface.h"
#include "frontend/preprocessor.h"
#include "frontend/scanner.h"

namespace qzbase::testing_compiler {

class StatementTest : public CompilerTest {
 public:
  ~StatementTest() override {
    for (Statement* s : statements) delete s;
  }

  // Preprocesses and parses text (one statement per line) into `statements`, appending.
  void parse(const char* text) {
    sources.emplace_back(new String(text));
    const String& source = *sources.back();
    tokens.emplace_back(new token_list_type());
    tokenize(source.read(), source.end(), source.get_charset(), tokens.back().get());
    preprocessor = std::make_unique<Preprocessor>(rt.stack);
    preprocessor->callback = &receive;
    preprocessor->callback_data = this;
    preprocessor->current_text = source;
    preprocessor->preprocess(tokens.back()->cbegin(), tokens.back()->cend());
    EXPECT_TRUE(preprocessor->messages.empty()) << text;
  }

  // Compiles the whole list into the root scope; returns the compile_statement_list result.
  int compile_all(const char* text) {
    parse(text);
    it = statements.begin();
    statement_list::const_iterator end = statements.cend();
    return compile_statement_list(end, it, &code(), compiler);
  }

  std::string dump() {
    program.reset(compiler.build_program(String("")));
    program_dump_options_st options;
    options.symbols = rt.stack->get_symtable();
    return dump_program(program.get(), options);
  }

  // The built-in commands the assembled program calls (VmOpCallSpecVoid), in code order, named
  // from the candidates; "?" for one that is none of them. Call after dump().
  std::vector<std::string> called_commands(std::initializer_list<const char*> candidates) {
    std::vector<std::string> out;
    std::string text = dump_program(program.get());
    size_t ops = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) - 1;
    Library* library = builtin_library_of(compiler);
    for (size_t i = 0; i < ops; ++i) {
      const VmOp* op = program->code()[i];
      if (op->opcode != OP_CALL_SPEC_VOID) continue;
      std::string name = "?";
      for (const char* candidate : candidates) {
        const library_command_def_st* def = library->find_command(String(candidate));
        if (def != nullptr && def->function == static_cast<const VmOpCallSpecVoid*>(op)->function) name = candidate;
      }
      out.push_back(name);
    }
    return out;
  }

  std::vector<uint32_t> message_codes() const {
    std::vector<uint32_t> out;
    for (const auto& m : compiler.messages) out.push_back(m.code);
    return out;
  }

  // How many statements stand before `it`.
  size_t consumed() { return static_cast<size_t>(std::distance(statements.begin(), it)); }

  statement_list statements;
  statement_list::iterator it;
  std::unique_ptr<Preprocessor> preprocessor;
  std::vector<std::unique_ptr<String>> sources;
  std::vector<std::unique_ptr<token_list_type>> tokens;

 private:
  static void receive(void* data, int event, intptr_t value, const document_location_st&) {
    auto* self = static_cast<StatementTest*>(data);
    if (event == QZPARSE_EVENT_STATEMENT && value != 0) {
      self->statements.push_back(reinterpret_cast<Statement*>(value));
    }
  }
};

}  // namespace qzbase::testing_compiler
