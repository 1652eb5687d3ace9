// build_input.h - the front door of compilation: one object per request that turns source text
// into a linked Program, collecting the build messages of every stage.
//
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>
#include <memory>
#include <utility>

#include "compiler/build_messages.h"
#include "compiler/compiler_state.h"
#include "compiler/statements.h"
#include "frontend/preprocessor.h"
#include "frontend/statements.h"
#include "values/string_keys.h"

namespace qzbase {

class Library;
class Module;
class Program;
struct syntax_result_st;

struct syntax_item_st {
  uint32_t syntax_class;
  document_location_st location;
};

struct parsed_call_st {
  String name;
  document_location_st location;
};

// What one parse of a whole text collected. Owns the statements still listed.
class ParseModuleResult {
 public:
  ParseModuleResult() = default;
  ~ParseModuleResult();
  ParseModuleResult(const ParseModuleResult&) = delete;
  ParseModuleResult& operator=(const ParseModuleResult&) = delete;

  // Builds need the statements and diagnostics only; the syntax items and calls are for
  // classification.
  bool keep_syntax = true;
  StatementList statements;
  std::list<syntax_item_st> syntax_items;
  std::list<parsed_call_st> calls;
  std::list<document_location_st> error_locations;
  std::list<std::pair<document_location_st, document_location_st>> diagnostics;
};

void parse_module_callback(void* result, int event, intptr_t value, const document_location_st& location);

class BuildInput {
 public:
  explicit BuildInput(VmStack* stack);
  ~BuildInput();
  BuildInput(const BuildInput&) = delete;
  BuildInput& operator=(const BuildInput&) = delete;

  void set_module_context(const Module* module) { module_context = module; }
  // The module of the program running in the stack's current frame (none for a program linked
  // without one); nothing changes when there is no frame.
  void set_module_context_from_frame(VmStack* stack);
  void import_library(Library* library) { libraries.push_back(library); }

  // Tokenizes text into the token buffer and runs the preprocessor over it; preprocessor and
  // parser messages, then the diagnostics, enter the build messages.
  void parse_module(const String& text, ParseModuleResult* result);
  // The module context's libraries, then the imported ones.
  void init_compiler(Compiler& compiler) const;
  // One compiler-category message per compiler message; RuntimeError 10 when the list holds any.
  void log_compiler_errors(Compiler& compiler);
  // Against the module context when there is one, else anonymously.
  void link(Program* program);

  // One operand from [it, end); on success `it` is moved past the tokens it used. A partial
  // parse takes the longest prefix that is one operand; otherwise the tokens must be exactly one.
  // RuntimeError with the scanner's code (10, 9012, 9013) when nothing parses.
  Operand* parse_operand(token_list_type::const_iterator& it, token_list_type::const_iterator end, bool partial);
  // One expression, whole (RuntimeError 10 when it does not parse); owned by the caller.
  Operand* parse_expression(const String& text);
  // One statement, whole (RuntimeError 10 when it does not parse); owned by the caller.
  Statement* parse_statement(const String& text);
  // Compiles a syntax-tree operand into a linked program without frame slots (owned by the
  // caller); build messages throw RuntimeError 10.
  void compile_operand(const Operand* operand, const Program** out);
  // parse_expression, compile_operand; the syntax tree is deleted also when compiling fails.
  void build_expression(const String& text, const Program** out);
  // parse_operand, then compile_operand; both results go to the caller. The operand is deleted
  // when compiling fails.
  void build_operand(token_list_type::const_iterator& it, const token_list_type::const_iterator& end, bool partial,
                     const Operand** operand, const Program** program);
  void build_operand(const String& text, bool partial, const Operand** operand, const Program** program);

  // One command line (compile kind 10) or script text (11) as one linked program, owned by the
  // caller. location, when not null, is the location override of the emitted code.
  Program* build_command(const String& text, const document_location_st* location);
  Program* build_script(const String& text, const document_location_st* location);
  // A whole module file, entered into `loaded` under file_name once it compiled (before its
  // imports load, so a module importing itself finds itself); it stays there when an import
  // fails. Build messages throw RuntimeError with the first message's code. The module's calls
  // are linked (unless link_built_module is false); the caller owns the module through `loaded`.
  Module* build_module(const String& file_name, const String& text, string_key_map<Module*>* loaded);

  // Reads text up to the end of parsing and reports how it reads (syntax_classification.cpp);
  // errors in the text go into the result, never into an exception.
  std::unique_ptr<syntax_result_st> classify_syntax(const String& text);

  // False: build_module leaves the module as compiled, its calls unresolved and its class
  // initialisers not run (the form a compiled-module file stores); link_module completes it.
  bool link_built_module = true;
  // build_module reads its text in pieces of about this many bytes, each parsed as the compiler
  // reaches it (0: parse the whole text first). The result is the same either way.
  size_t source_piece_bytes = size_t{64} << 10;
  const Module* module_context = nullptr;
  std::list<Library*> libraries;
  std::unique_ptr<Preprocessor> preprocessor;
  BuildMessages messages;
  VmStack* stack;
  std::list<token_list_type> tokens;  // one buffer per text; iterators into them stay valid

 private:
  Program* build_statements(const String& text, const document_location_st* location, uint32_t kind);
  // The preprocessor and parser messages of the text read, then its diagnostics.
  void add_parse_messages(const ParseModuleResult& result);
};

// A BuildInput over the stack with the module context of its current frame and the runtime's main
// library: the table layer's filters and conditions.
void build_expression_in_frame(VmStack* stack, const String& text, const Program** out);
// The same, then evaluated on the current frame.
void evaluate_expression_in_frame(VmStack* stack, const String& text, Variant* result);
// The preprocessor's #if and #include evaluations: no module context, the main library.
void preprocessor_eval_condition(VmStack* stack, const String& text, bool* result);
void preprocessor_eval_include(VmStack* stack, const String& text, String* result);

// How IMPORT loads a module file into the domain being built, or finds it there. The compiler
// cannot read and load files itself: the runtime host installs its loader
// (host/module_loading.cpp); until then IMPORT raises 1001.
using import_loader_fn = void (*)(const String& path, const Module** out, VmStack* stack,
                                  string_key_map<Module*>* modules);
extern import_loader_fn import_loader;

// Prints the input's build messages (format_build_error of build_messages.h) with the name of the
// preprocessor's current file, or "<command prompt>".
void format_build_error(BuildInput& input, const String& source, Screen* screen);

}  // namespace qzbase
