// class_definitions.cpp - DEFINE CLASS: the class-item table, its six item compilers and the
// deferred run of property initialisers.
#include "compiler/class_definitions.h"

#include <qzbase.h>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "compiler/declarations.h"
#include "compiler/expression_parts.h"
#include "compiler/linker.h"
#include "compiler/programs.h"
#include "platform/screen.h"
#include "vm/class_definition.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

constexpr uint32_t kNotInClass = 1927;  // "Statement is not valid in a class definition."
constexpr uint32_t kNestingError = 96;  // "Nesting Error."
constexpr symbol_id_type kThisSymbol = 1;

// Built once by a static initializer; only read afterwards.
const std::unordered_map<uint32_t, class_item_compiler_fn>& class_item_table() {
  static const std::unordered_map<uint32_t, class_item_compiler_fn> table = {
      {STMT_ASSIGN, compile_class_item_assign},       {STMT_FUNCTION, compile_class_item_function},
      {STMT_DIMENSION, compile_class_item_dimension}, {STMT_HIDDEN, compile_class_item_hidden},
      {STMT_PROTECTED, compile_class_item_protected}, {STMT_ENDDEFINE, compile_class_item_enddefine},
  };
  return table;
}

[[maybe_unused]] const bool class_item_table_built = (class_item_table(), true);

// The name a declaration declares, or null when it is not a plain name (an object's member).
const String* declared_name(const Definition* definition) {
  if (definition == nullptr || definition->variable == nullptr || definition->variable->kind != OPERAND_VARIABLE) {
    return nullptr;
  }
  return &static_cast<const Variable*>(definition->variable)->name;
}

// The target name of an assignment, or null when it is not a plain name (m.x, a path, an element).
const String* assigned_name(const Operand* target) {
  if (target == nullptr || target->kind != OPERAND_VARIABLE) return nullptr;
  const auto* variable = static_cast<const Variable*>(target);
  return variable->memvar != 0 ? nullptr : &variable->name;
}

// PROTECTED and HIDDEN: every listed name becomes a property with that visibility.
int compile_visibility_item(statement_list::iterator& it, uint32_t visibility, ClassDefinition* cls, CodePath& path) {
  const Statement* statement = *it++;
  const std::list<Definition*>* definitions = visibility == 2
                                                  ? static_cast<const Cmd_Protected*>(statement)->definitions
                                                  : static_cast<const Cmd_Hidden*>(statement)->definitions;
  if (definitions == nullptr) return 0;
  for (const Definition* definition : *definitions) {
    const String* name = declared_name(definition);
    if (name == nullptr) {
      path.compiler->add_message(kNotInClass, statement->location);
      continue;
    }
    cls->define_property(*name, visibility);
  }
  return 0;
}

// A method whose body dispatches no statement (directly followed by another FUNCTION, ENDDEFINE
// or the end) still needs a Program to be keyed by and called: the same unit, kept empty.
UserFunction* compile_empty_method(const String& name, const statement_list::const_iterator& end,
                                   statement_list::iterator& it, const std::list<Definition*>* params,
                                   CodePath& path) {
  Compiler* compiler = path.compiler;
  compiler->reset(COMPILE_KIND_METHOD, false);
  compiler->symbol_map[kThisSymbol] = 1;
  path.variables.emplace(kThisSymbol, 1u);
  compile_program(end, it, params, path);
  std::unique_ptr<Program> program(compiler->build_program(name));
  auto* function = new UserFunction(program.get());
  program.release();
  return function;
}

}  // namespace

bool compile_module_stmt_define(const statement_list::const_iterator& end, statement_list::iterator& it,
                                Module* module, CodePath& path) {
  QZ_TRACE;
  if ((*it)->kind != STMT_DEFINE) throw_assert_failed();
  auto* statement = static_cast<Cmd_Define*>(*it++);
  Symbol name(statement->name, path.compiler->symtable());
  named_operand_st* parent = statement->parent;
  statement->parent = nullptr;  // the class owns the AS clause from here on
  if (make_class_definition == nullptr) throw_assert_failed();
  std::unique_ptr<ClassDefinition> cls(make_class_definition(name, parent));
  cls->module = module;

  const auto& table = class_item_table();
  bool closed = false;
  while (statement_list::const_iterator(it) != end) {
    const Statement* item = *it;
    auto row = table.find(item->kind);
    if (row != table.end()) {
      if (row->second(end, it, cls.get(), path) != 0) {
        closed = item->kind == STMT_ENDDEFINE;
        break;
      }
      continue;
    }
    // A following DEFINE CLASS ends this class (its ENDDEFINE is missing) and starts the next.
    if (item->kind == STMT_DEFINE) break;
    // The parser has reported a line it could not read; anything else has no place in a class.
    if (item->kind != STMT_INVALID) path.compiler->add_message(kNotInClass, item->location);
    ++it;
  }
  // A class cut short by the end of the text or by the next DEFINE CLASS fails the build.
  if (!closed) path.compiler->add_message(kNestingError, statement->location);

  // The first class of a name wins; a later one is compiled and dropped.
  if (module->add_defined_class(name.id, cls.get())) cls.release();
  return true;
}

int compile_class_item_enddefine(const statement_list::const_iterator&, statement_list::iterator& it, ClassDefinition*,
                                 CodePath&) {
  QZ_TRACE;
  ++it;
  return -1;
}

int compile_class_item_protected(const statement_list::const_iterator&, statement_list::iterator& it,
                                 ClassDefinition* cls, CodePath& path) {
  QZ_TRACE;
  return compile_visibility_item(it, 2, cls, path);
}

int compile_class_item_hidden(const statement_list::const_iterator&, statement_list::iterator& it, ClassDefinition* cls,
                              CodePath& path) {
  QZ_TRACE;
  return compile_visibility_item(it, 4, cls, path);
}

int compile_class_item_dimension(const statement_list::const_iterator&, statement_list::iterator& it,
                                 ClassDefinition* cls, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_Dimension*>(*it++);
  if (statement->definitions == nullptr) return 0;
  VmStack* stack = path.compiler->stack;
  NullScreen quiet;
  ScreenRedirect redirect(stack->get_runtime(), &quiet);
  for (const Definition* definition : *statement->definitions) {
    const String* name = declared_name(definition);
    if (name == nullptr || definition->dimensions == nullptr || count_of(definition->dimensions) == 0) {
      path.compiler->add_message(kNotInClass, statement->location);
      continue;
    }
    // Like DIMENSION in code: rows and columns; further bounds are not used.
    size_t count = std::min<size_t>(count_of(definition->dimensions), 2);
    int bounds[2] = {0, 0};
    try {
      eval_int_array(stack, items_of(definition->dimensions), count, bounds, 2);
      if (bounds[0] < 1 || bounds[1] < 0) throw RuntimeError(230);
      Variant* value = cls->define_property(*name, 0);
      value->dimension(stack, static_cast<size_t>(bounds[0]), static_cast<size_t>(bounds[1]));
      // Initialisers written before this line run later, but their value would have been replaced.
      for (class_initialiser_st& initialiser : cls->initialisers) {
        if (initialiser.value == value) initialiser.superseded = true;
      }
    } catch (const RuntimeError& e) {
      path.compiler->add_message(static_cast<uint32_t>(e.code), statement->location);
    }
  }
  return 0;
}

int compile_class_item_function(const statement_list::const_iterator& end, statement_list::iterator& it,
                                ClassDefinition* cls, CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_Function*>(*it++);
  std::unique_ptr<UserFunction> method(compile_function(COMPILE_KIND_METHOD, statement->name, end, it,
                                                        const_cast<Module*>(cls->module), statement->parameters,
                                                        path));
  if (method == nullptr) method.reset(compile_empty_method(statement->name, end, it, statement->parameters, path));
  symbol_id_type key = path.symbolize(method->program()->name());
  // The first method of a name wins.
  if (cls->add_method(key, statement->visibility, method.get())) method.release();
  if (statement_list::const_iterator(it) != end && (*it)->kind == STMT_ENDFUNC) ++it;
  return 0;
}

int compile_class_item_assign(const statement_list::const_iterator&, statement_list::iterator& it, ClassDefinition* cls,
                              CodePath& path) {
  QZ_TRACE;
  const auto* statement = static_cast<const Cmd_Assign*>(*it++);
  const String* name = assigned_name(statement->target);
  if (name == nullptr || statement->value == nullptr) {
    path.compiler->add_message(kNotInClass, statement->location);
    return 0;
  }
  Variant* value = cls->define_property(*name, 0);

  Compiler* compiler = path.compiler;
  compiler->reset(COMPILE_KIND_PROGRAM, false);
  size_t messages = compiler->messages.size();
  compile_operand(statement->value, path);
  // Code that did not compile cleanly is neither assembled nor run (it may not even leave a
  // value); the messages already fail the build.
  if (compiler->messages.size() != messages) {
    compiler->collection.clear();
    return 0;
  }
  // Not through build_program: the program is run and destroyed before the module's calls are
  // collected, so its slots must not join the compiler's unresolved list.
  std::unique_ptr<Program> program(Compiler::create_program(String(), &compiler->collection, compiler->symbol_map,
                                                            0, path.type, nullptr));
  cls->initialisers.push_back(class_initialiser_st{value, program.get(), statement->location, false});
  program.release();
  return 0;
}

void evaluate_class_initialisers(Module* module, Compiler& compiler) {
  QZ_TRACE;
  VmStack* stack = compiler.stack;
  LinkerInfo linker(stack->get_runtime());
  NullScreen quiet;
  ScreenRedirect redirect(stack->get_runtime(), &quiet);
  for (ClassDefinition* cls : module->own_classes) {
    // Taken out first, so that each program is destroyed whatever happens while one runs.
    std::vector<class_initialiser_st> pending;
    pending.swap(cls->initialisers);
    std::vector<std::unique_ptr<Program>> programs;
    programs.reserve(pending.size());
    for (class_initialiser_st& initialiser : pending) programs.emplace_back(initialiser.program);

    for (size_t i = 0; i < pending.size(); ++i) {
      const class_initialiser_st& initialiser = pending[i];
      Program* program = programs[i].get();
      Variant scratch;
      Variant* result = initialiser.superseded ? &scratch : initialiser.value;
      try {
        result->release(stack);
        link_program(linker, program, module);
        execute_program(stack, 0, false, program, result);
        uint8_t tag = result->tag;
        if (tag == VT_OBJECT || tag == VT_ARRAY || tag == VT_REFERENCE) {
          compiler.add_message(kNotInClass, initialiser.location);
          result->release(stack);
        }
        scratch.release(stack);
      } catch (const RuntimeError& e) {
        compiler.add_message(static_cast<uint32_t>(e.code), initialiser.location);
        // The value is left empty even when its release fails; the message already fails the build.
        try {
          result->release(stack);
          scratch.release(stack);
        } catch (const RuntimeError&) {
        }
      }
      programs[i].reset();
    }
  }
}

}  // namespace qzbase
