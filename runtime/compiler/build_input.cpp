// build_input.cpp - the front door: parse, compile, assemble, link.
#include "compiler/build_input.h"

#include <qzbase.h>

#include "compiler/declarations.h"
#include "compiler/linker.h"
#include "compiler/programs.h"
#include "compiler/statements.h"
#include "frontend/operands.h"
#include "frontend/parser.h"
#include "frontend/parser_interface.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

ParseModuleResult::~ParseModuleResult() {
  for (Statement* statement : statements) delete statement;
}

void parse_module_callback(void* data, int event, intptr_t value, const document_location_st& location) {
  QZ_TRACE;
  auto* result = static_cast<ParseModuleResult*>(data);
  if (location.end_char < location.begin_char) throw_assert_failed();
  switch (event) {
    case QZPARSE_EVENT_DIAGNOSTIC: {
      const auto* pair = reinterpret_cast<const document_location_st*>(value);
      result->diagnostics.emplace_back(pair[0], pair[1]);
      break;
    }
    case QZPARSE_EVENT_STATEMENT:
      if (value != 0) result->statements.push_back(reinterpret_cast<Statement*>(value));
      break;
    case QZPARSE_EVENT_SYNTAX_CLASS:
      result->syntax_items.push_back(syntax_item_st{static_cast<uint32_t>(value), location});
      break;
    case QZPARSE_EVENT_MACRO_LINE:
      result->error_locations.push_back(location);
      break;
    case QZPARSE_EVENT_CALL:
      result->calls.push_back(parsed_call_st{reinterpret_cast<const Call*>(value)->name, location});
      break;
    default:
      break;
  }
}

BuildInput::BuildInput(VmStack* stack_in) : preprocessor(std::make_unique<Preprocessor>(stack_in)), stack(stack_in) {
  QZ_TRACE;
}

BuildInput::~BuildInput() = default;

void BuildInput::parse_module(const String& text, ParseModuleResult* result) {
  QZ_TRACE;
  tokens.emplace_back();
  token_list_type& buffer = tokens.back();
  tokenize(text.read(), text.end(), text.get_charset(), &buffer);
  preprocessor->callback = &parse_module_callback;
  preprocessor->callback_data = result;
  preprocessor->current_text = text;
  preprocessor->preprocess(buffer.cbegin(), buffer.cend());
  messages.add_preprocessor_messages(preprocessor->messages, preprocessor->current_file);
  for (const auto& [begin, end] : result->diagnostics) messages.add(BUILD_MESSAGE_PARSER, 10, begin, end);
}

void BuildInput::init_compiler(Compiler& compiler) const {
  QZ_TRACE;
  if (module_context != nullptr) {
    for (Library* library : module_context->libraries) compiler.libraries.push_back(library);
  }
  for (Library* library : libraries) compiler.libraries.push_back(library);
}

void BuildInput::log_compiler_errors(Compiler& compiler) {
  QZ_TRACE;
  messages.add_compiler_messages(compiler);
  if (!messages.empty()) throw RuntimeError(10);
}

void BuildInput::link(Program* program) {
  QZ_TRACE;
  LinkerInfo info(stack->get_runtime());
  if (module_context != nullptr) {
    link_program(info, program, module_context);
  } else {
    link_anonymous_program(info, program);
  }
}

Program* BuildInput::build_statements(const String& text, const document_location_st* location, uint32_t kind) {
  QZ_TRACE;
  ParseModuleResult result;
  parse_module(text, &result);
  Compiler compiler(stack, kind);
  compiler.location_override = location;
  init_compiler(compiler);
  statement_list::iterator it = result.statements.begin();
  statement_list::const_iterator end = result.statements.cend();
  compile_program(end, it, nullptr, compiler);
  // A statement the list stops at (a terminator with no block open, such as ENDCASE or FUNCTION)
  // is recorded as message 10; the statements after it are still compiled for their messages.
  while (statement_list::const_iterator(it) != end) {
    compiler.add_message(10, (*it)->location);
    ++it;
    compile_statement_list(end, it, &compiler.collection, compiler);
  }
  log_compiler_errors(compiler);
  std::unique_ptr<Program> program(compiler.build_program());
  link(program.get());
  return program.release();
}

Operand* BuildInput::parse_expression(const String& text) {
  QZ_TRACE;
  tokens.emplace_back();
  token_list_type& buffer = tokens.back();
  tokenize(text.read(), text.end(), text.get_charset(), &buffer);
  Operand* operand = parse_expression_tokens(buffer.cbegin(), buffer.cend());
  if (operand == nullptr) throw RuntimeError(10);
  return operand;
}

void BuildInput::compile_operand(const Operand* operand, const Program** out) {
  QZ_TRACE;
  Compiler compiler(stack, COMPILE_KIND_COMMAND);
  init_compiler(compiler);
  qzbase::compile_operand(operand, compiler);
  log_compiler_errors(compiler);
  std::unique_ptr<Program> program(compiler.build_program());
  link(program.get());
  if (!compiler.symbol_map.empty()) throw_assert_failed();
  *out = program.release();
}

void BuildInput::build_expression(const String& text, const Program** out) {
  QZ_TRACE;
  std::unique_ptr<Operand> operand(parse_expression(text));
  compile_operand(operand.get(), out);
}

Program* BuildInput::build_command(const String& text, const document_location_st* location) {
  QZ_TRACE;
  Program* program = build_statements(text, location, COMPILE_KIND_COMMAND);
  return program;
}

Program* BuildInput::build_script(const String& text, const document_location_st* location) {
  QZ_TRACE;
  return build_statements(text, location, COMPILE_KIND_PROGRAM);
}

void format_build_error(BuildInput& input, const String& source, Screen* screen) {
  QZ_TRACE;
  format_build_error(input.messages, source, input.preprocessor->current_file, screen);
}

}  // namespace qzbase
