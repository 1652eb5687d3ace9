// user_class.h - a class defined in source: its name, parent clause, defining module, compiled
// methods and, once linked, its chain of ancestors.
//
// The class compiler fills the method map and the members' defaults; the linker links the
// methods, calls compile() once and stores the ancestor chain. Member lookup along the chain
// comes with the object model.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "objects/class.h"
#include "vm/symtable.h"

namespace qzbase {

class Module;
class Program;
class UserFunction;
struct named_operand_st;

// A property initialiser compiled with the class and run once the module's own functions are
// linked (it may call them).
struct class_initialiser_st {
  ClassMember* member;            // the property it sets
  Program* program;               // owned by the class until it has run
  document_location_st location;  // the assignment's, for its messages
  bool superseded;                // a later DIMENSION of the property replaced its value: run, not kept
};

struct user_method_st {
  uint32_t visibility;    // 1 public, 2 protected, 4 hidden
  UserFunction* function;  // owned by the class
};

class UserClass : public Class {
 public:
  // Takes ownership of parent (the DEFINE CLASS statement's AS clause, null when none: the class's
  // definition record); its name becomes the parent class name.
  UserClass(const Symbol& name, named_operand_st* parent);
  ~UserClass() override;  // deletes the methods, pending initialisers and the parent name

  // Makes every method a run-time member (kind method, its visibility), then gives every member
  // its symbol id. Runs once, after the methods are linked.
  void compile(Runtime* runtime) override;

  // Adds a method; false (the caller keeps the function) when the class has one of that name.
  bool add_method(symbol_id_type symbol, uint32_t visibility, UserFunction* function);

  Symbol name;
  const String* parent_name;       // null when the class has no parent
  const Module* module = nullptr;  // the defining module; only it destroys the class
  std::unordered_map<symbol_id_type, user_method_st> methods;
  std::vector<Class*> ancestors;   // the class itself first, then its parent, ...
  std::vector<class_initialiser_st> initialisers;  // not run yet, in definition order
};

}  // namespace qzbase
