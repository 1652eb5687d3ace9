// class_definition.h - a class defined in source as the compiler builds it, the linker completes
// it and its module keeps it: the parent clause, the compiled methods, the property initialisers
// still to run and, once linked, the chain of ancestors.
//
// The VM and the compiler know the run-time class only by name. The objects layer's UserClass
// implements ClassDefinition and installs make_class_definition when the library loads.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "vm/symtable.h"

namespace qzbase {

class Module;
class Program;
class UserFunction;
struct named_operand_st;

// A property initialiser compiled with the class and run once the module's own functions are
// linked (it may call them).
struct class_initialiser_st {
  Variant* value;                 // the default value of the property it sets
  Program* program;               // owned by the class until it has run
  document_location_st location;  // the assignment's, for its messages
  bool superseded;                // a later DIMENSION of the property replaced its value: run, not kept
};

struct user_method_st {
  uint32_t visibility;    // 1 public, 2 protected, 4 hidden
  UserFunction* function;  // owned by the class
};

class ClassDefinition {
 public:
  ClassDefinition() = default;
  // Deletes the methods, the pending initialisers' programs and the parent name.
  virtual ~ClassDefinition();
  ClassDefinition(const ClassDefinition&) = delete;
  ClassDefinition& operator=(const ClassDefinition&) = delete;

  // The run-time class.
  virtual Class* as_class() = 0;
  // The property of that name (compared without regard to case; defined when new) and its default
  // value. A visibility of 0 leaves the member's visibility as it is.
  virtual Variant* define_property(const String& name, uint32_t visibility) = 0;
  // Makes the methods and properties run-time members; runs once, after the methods are linked.
  virtual void compile_members(Runtime* runtime) = 0;

  // Adds a method; false (the caller keeps the function) when the class has one of that name.
  bool add_method(symbol_id_type symbol, uint32_t visibility, UserFunction* function);

  const String* parent_name = nullptr;  // owned; null when the class has no parent
  const Module* module = nullptr;       // the defining module; only it destroys the class
  std::unordered_map<symbol_id_type, user_method_st> methods;
  std::vector<Class*> ancestors;                   // the class itself first, then its parent, ...
  std::vector<class_initialiser_st> initialisers;  // not run yet, in definition order
};

// A new class of that name; parent is the DEFINE CLASS statement's AS clause (null when none),
// owned from now on. Installed by the objects layer.
using class_definition_factory = ClassDefinition* (*)(const Symbol& name, named_operand_st* parent);
extern class_definition_factory make_class_definition;

}  // namespace qzbase
