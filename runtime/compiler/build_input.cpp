// build_input.cpp - the front door: parse, compile, assemble, link.
#include "compiler/build_input.h"

#include <qzbase.h>

#include "compiler/class_definitions.h"
#include "compiler/declarations.h"
#include "compiler/linker.h"
#include "compiler/programs.h"
#include "compiler/statements.h"
#include "frontend/operands.h"
#include "frontend/parser.h"
#include "frontend/parser_interface.h"
#include "frontend/source_pieces.h"
#include "platform/paths.h"
#include "vm/execute.h"
#include "vm/interpreter.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

import_loader_fn import_loader = nullptr;

ParseModuleResult::~ParseModuleResult() {
  statements.detach_source();
  for (Statement* statement : statements.items) delete statement;
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
      if (result->keep_syntax) result->syntax_items.push_back(syntax_item_st{static_cast<uint32_t>(value), location});
      break;
    case QZPARSE_EVENT_MACRO_LINE:
      result->error_locations.push_back(location);
      break;
    case QZPARSE_EVENT_CALL:
      if (result->keep_syntax) result->calls.push_back(parsed_call_st{reinterpret_cast<const Call*>(value)->name, location});
      break;
    default:
      break;
  }
}

BuildInput::BuildInput(VmStack* stack_in) : preprocessor(std::make_unique<Preprocessor>(stack_in)), stack(stack_in) {
  QZ_TRACE;
}

BuildInput::~BuildInput() = default;

void BuildInput::set_module_context_from_frame(VmStack* frame_stack) {
  QZ_TRACE;
  if (frame_stack->frame == nullptr) return;
  module_context = frame_stack->frame->program->owner_module();
}

void BuildInput::parse_module(const String& text, ParseModuleResult* result) {
  QZ_TRACE;
  tokens.emplace_back();
  token_list_type& buffer = tokens.back();
  tokenize(text.read(), text.end(), text.get_charset(), &buffer);
  preprocessor->callback = &parse_module_callback;
  preprocessor->callback_data = result;
  preprocessor->current_text = text;
  preprocessor->preprocess(buffer.cbegin(), buffer.cend());
  add_parse_messages(*result);
}

void BuildInput::add_parse_messages(const ParseModuleResult& result) {
  QZ_TRACE;
  messages.add_preprocessor_messages(preprocessor->messages, preprocessor->current_file);
  for (const auto& [begin, end] : result.diagnostics) messages.add(BUILD_MESSAGE_PARSER, 10, begin, end);
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
  result.keep_syntax = false;
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
    compiler.close_open_withs();
  }
  log_compiler_errors(compiler);
  std::unique_ptr<Program> program(compiler.build_program());
  link(program.get());
  return program.release();
}

Operand* BuildInput::parse_operand(token_list_type::const_iterator& it, token_list_type::const_iterator end,
                                   bool partial) {
  QZ_TRACE;
  token_list_type::const_iterator trial_end = end;
  bool first_failure = true;
  for (;;) {
    parse_status_st status;
    Operand* operand = parse_operand_tokens(it, trial_end, &status);
    if (operand != nullptr) {
      while (it != trial_end && it->location.begin_char < operand->location.end_char) ++it;
      return operand;
    }
    uint32_t code = status.error_code != 0 ? status.error_code : PARSER_ERROR_SYNTAX;
    if (!partial) throw RuntimeError(code);
    // Retry on ever shorter prefixes, ending before the token that stopped the first attempt.
    if (first_failure) {
      first_failure = false;
      trial_end = status.position;
    }
    if (it == trial_end) throw RuntimeError(code);
    --trial_end;
  }
}

Statement* BuildInput::parse_statement(const String& text) {
  QZ_TRACE;
  tokens.emplace_back();
  token_list_type& buffer = tokens.back();
  tokenize(text.read(), text.end(), text.get_charset(), &buffer);
  Statement* statement = nullptr;
  auto callback = [](void* data, int event, intptr_t value, const document_location_st&) {
    if (event != QZPARSE_EVENT_STATEMENT) return;
    auto** out = static_cast<Statement**>(data);
    if (*out != nullptr) throw_assert_failed();
    *out = reinterpret_cast<Statement*>(value);
  };
  int result = 0;
  try {
    result = parse_tokens(buffer.cbegin(), buffer.cend(), QZ_TOKEN_START_STATEMENT, &statement, callback);
  } catch (...) {
    delete statement;
    throw;
  }
  if (result != 0 || statement == nullptr) {
    delete statement;
    throw RuntimeError(10);
  }
  return statement;
}

Operand* BuildInput::parse_expression(const String& text) {
  QZ_TRACE;
  tokens.emplace_back();
  token_list_type& buffer = tokens.back();
  tokenize(text.read(), text.end(), text.get_charset(), &buffer);
  // Blanks and line ends after the expression are not part of it (EVALUATE("x + 1 ")).
  token_list_type::const_iterator end = buffer.cend();
  while (end != buffer.cbegin() && ((end - 1)->kind == TOKEN_BLANK || (end - 1)->kind == TOKEN_LINE_END)) --end;
  std::unique_ptr<Operand> operand(parse_expression_tokens(buffer.cbegin(), end));
  if (operand == nullptr) throw RuntimeError(10);
  // The parser accepts once an expression is complete: text after it ("2))") is an error here.
  for (token_list_type::const_iterator it = buffer.cbegin(); it != end; ++it) {
    if (it->location.begin_char >= operand->location.end_char) throw RuntimeError(10);
  }
  return operand.release();
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

Module* BuildInput::build_module(const String& file_name, const String& text, string_key_map<Module*>* loaded) {
  QZ_TRACE;
  preprocessor->current_file = static_cast<std::filesystem::path>(file_name);
  // The text is tokenized and parsed a piece at a time as the compiler asks for statements, and
  // each top-level statement's syntax tree goes once its code is made: a large file never holds
  // all of its tokens or trees at once. The statements hold what they need of the text, never
  // the tokens.
  SourcePieces pieces(text, source_piece_bytes);
  token_list_type piece;
  ParseModuleResult result;
  result.keep_syntax = false;
  preprocessor->callback = &parse_module_callback;
  preprocessor->callback_data = &result;
  preprocessor->current_text = text;
  preprocessor->begin_text();
  result.statements.release_compiled = true;
  result.statements.source = [&]() {
    if (!pieces.next(&piece)) return false;
    preprocessor->preprocess_more(piece.cbegin(), piece.cend());
    // The comments, macro uses and inactive lines serve only to classify a text's syntax: a
    // build keeps none of them past its piece.
    preprocessor->comments.clear();
    preprocessor->expanded_references.clear();
    preprocessor->discarded.clear();
    return true;
  };
  Compiler compiler(stack, COMPILE_KIND_PROGRAM);
  compiler.module_file_name = new String(file_name);
  compiler.libraries.push_back(stack->get_runtime()->builtin_library());
  auto module = std::make_unique<Module>(file_name);
  statement_list::iterator it = result.statements.begin();
  statement_list::const_iterator end = result.statements.cend();
  // The syntax trees of each compiled item are dropped at once: a large file never holds all of
  // them beside all of its code.
  auto drop_compiled = [&] {
    while (result.statements.begin() != it) {
      delete result.statements.front();
      result.statements.pop_front();
    }
  };
  if (!result.statements.empty()) {
    module->main = compile_function(COMPILE_KIND_PROGRAM, juststem(file_name), end, it, module.get(), nullptr, compiler);
    drop_compiled();
    while (statement_list::const_iterator(it) != end) {
      if (!compile_module_item(end, it, module.get(), compiler)) {
        // A statement that is no module item (a stray ENDCASE, CATCH...): message 10 at it; what
        // follows it is compiled for its messages.
        compiler.add_message(10, (*it)->location);
        ++it;
        delete compile_function(COMPILE_KIND_PROGRAM, String(""), end, it, module.get(), nullptr, compiler);
      }
      drop_compiled();
    }
  }
  // Every statement was compiled, so the whole text has been read.
  result.statements.detach_source();
  add_parse_messages(result);
  auto fail_on_messages = [&] {
    messages.add_compiler_messages(compiler);
    compiler.messages.clear();
    if (!messages.empty()) throw RuntimeError(static_cast<int>(messages.records.front().code));
  };
  fail_on_messages();

  Module* built = module.get();
  loaded->emplace(file_name, module.release());
  built->libraries = compiler.libraries;
  for (const String& name : compiler.imports) {
    const Module* imported = nullptr;
    if (import_loader == nullptr) throw RuntimeError(1001);
    import_loader(name, &imported, stack, loaded);
    built->imports.push_back(imported);
  }
  // The module's own classes and those of earlier imports keep their names.
  for (const Module* imported : built->imports) {
    if (imported == built) continue;
    for (const auto& [symbol, cls] : imported->classes) {
      if (!built->defines(cls)) built->add_imported_class(symbol, cls);
    }
  }
  if (!link_built_module) return built;
  // Property initialisers may call the module's functions and those of its imports: they run once
  // everything is linked.
  LinkerInfo linker(stack->get_runtime());
  link_module(linker, built);
  evaluate_class_initialisers(built, compiler);
  fail_on_messages();
  return built;
}

void BuildInput::build_operand(token_list_type::const_iterator& it, const token_list_type::const_iterator& end,
                               bool partial, const Operand** operand, const Program** program) {
  QZ_TRACE;
  std::unique_ptr<Operand> parsed(parse_operand(it, end, partial));
  compile_operand(parsed.get(), program);
  *operand = parsed.release();
}

void BuildInput::build_operand(const String& text, bool partial, const Operand** operand, const Program** program) {
  QZ_TRACE;
  tokens.emplace_back();
  token_list_type& buffer = tokens.back();
  tokenize(text.read(), text.end(), text.get_charset(), &buffer);
  token_list_type::const_iterator it = buffer.cbegin();
  build_operand(it, buffer.cend(), partial, operand, program);
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

void build_expression_in_frame(VmStack* stack, const String& text, const Program** out) {
  QZ_TRACE;
  BuildInput input(stack);
  input.set_module_context_from_frame(stack);
  input.import_library(stack->get_runtime()->builtin_library());
  input.build_expression(text, out);
}

void evaluate_expression_in_frame(VmStack* stack, const String& text, Variant* result) {
  QZ_TRACE;
  const Program* built = nullptr;
  build_expression_in_frame(stack, text, &built);
  std::unique_ptr<const Program> program(built);
  execute_expression(stack, program.get(), result);
}

namespace {

// Evaluates an expression with no module context and the main library, as a program of its own.
void evaluate_standalone(VmStack* stack, const String& text, Variant* value) {
  BuildInput input(stack);
  input.import_library(stack->get_runtime()->builtin_library());
  const Program* built = nullptr;
  input.build_expression(text, &built);
  std::unique_ptr<const Program> program(built);
  execute_program(stack, 0, false, program.get(), value);
}

bool evaluate_condition_hook(VmStack* stack, const String& text) {
  bool result = false;
  preprocessor_eval_condition(stack, text, &result);
  return result;
}

String evaluate_text_hook(VmStack* stack, const String& text) {
  String result;
  preprocessor_eval_include(stack, text, &result);
  return result;
}

// A & macro line: compiled against the running program's module, at the location of the
// operation that substitutes it. A program of no module (a command line) was compiled with the
// main library; without it the macro's built-in calls would be calls by name, which only search
// the SET LIBRARY list.
Program* compile_macro_line(VmStack* stack, const String& text, const document_location_st* location) {
  BuildInput input(stack);
  input.set_module_context_from_frame(stack);
  if (input.module_context == nullptr) input.import_library(stack->get_runtime()->builtin_library());
  return input.build_command(text, location);
}

[[maybe_unused]] const bool front_door_installed = [] {
  set_preprocessor_evaluators(&evaluate_condition_hook, &evaluate_text_hook);
  vm_macro_compiler = &compile_macro_line;
  return true;
}();

}  // namespace

void preprocessor_eval_condition(VmStack* stack, const String& text, bool* result) {
  QZ_TRACE;
  ScopedValue local(stack);
  evaluate_standalone(stack, text, &local.value);
  *result = local.value.operator bool();
}

void preprocessor_eval_include(VmStack* stack, const String& text, String* result) {
  QZ_TRACE;
  ScopedValue local(stack);
  evaluate_standalone(stack, text, &local.value);
  *result = static_cast<String>(local.value);
}

void format_build_error(BuildInput& input, const String& source, Screen* screen) {
  QZ_TRACE;
  format_build_error(input.messages, source, input.preprocessor->current_file, screen);
}

}  // namespace qzbase
