// user_class.h - a class defined in source: its name, parent clause, defining module, compiled
// methods and, once linked, its chain of ancestors; and UserObject, one link of an instance.
//
// The class compiler fills the method map and the members' defaults; the linker links the
// methods, calls compile() once and stores the ancestor chain. compile() turns the methods and
// properties into run-time members: a method named <property>_access or <property>_assign becomes
// that property's read or write hook instead of a member, every other method a member with its
// visibility, and every property reads and writes a value stored in the instance. An instance of a
// class with parents is a chain of objects, one per class of the hierarchy.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "objects/object.h"
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

  // Makes the methods run-time members or hooks, binds every property to the generic functions,
  // adds the read-only "Class" member, sets the factory and gives every member its symbol id. Runs
  // once, after the methods are linked; a compiled class returns at once.
  void compile(Runtime* runtime) override;
  // An object of this class, chained to one object of each further class of the ancestor chain.
  void create_instance(VmStack* stack, Object** out) override;

  // Adds a method; false (the caller keeps the function) when the class has one of that name.
  bool add_method(symbol_id_type symbol, uint32_t visibility, UserFunction* function);

  // The position of a stored property in an instance's values; false when the symbol has none.
  bool property_slot(symbol_id_type symbol, size_t* slot) const {
    auto it = slots.find(symbol);
    if (it == slots.end()) return false;
    *slot = it->second;
    return true;
  }

  Symbol name;
  const String* parent_name;       // null when the class has no parent
  const Module* module = nullptr;  // the defining module; only it destroys the class
  std::unordered_map<symbol_id_type, user_method_st> methods;
  // Property symbol to its <property>_access / <property>_assign function (owned by methods).
  std::unordered_map<symbol_id_type, const UserFunction*> read_hooks;
  std::unordered_map<symbol_id_type, const UserFunction*> write_hooks;
  std::vector<Class*> ancestors;   // the class itself first, then its parent, ...
  std::vector<class_initialiser_st> initialisers;  // not run yet, in definition order
  // Filled by compile: the stored properties, in member order, and each one's position.
  std::vector<const ClassMember*> stored;
  std::unordered_map<symbol_id_type, size_t> slots;
};

// One link of an instance of a user class: the values of the class's properties, starting as their
// defaults. Read under the property lock held shared, written under it held exclusive.
class UserObject : public Object {
 public:
  explicit UserObject(UserClass* cls);  // enters the class's instance list
  ~UserObject() override;
  // Object::destroy, then the property values are released with the stack (outside the lock).
  void destroy(VmStack* stack) override;

  std::vector<Variant> values;
};

// The generic member functions of a user class (the stack's method context names the owner, the
// member and the access mode).
void user_class_generic_call(VmStack* stack, size_t nargs, Variant* result);
void user_class_generic_read(VmStack* stack, size_t nargs, Variant* result);
void user_class_generic_read_ref(VmStack* stack, size_t nargs, Variant* result);
void user_class_generic_write(VmStack* stack, size_t nargs);
void user_class_generic_access(VmStack* stack, size_t nargs, Variant* result);
void user_class_generic_access_ref(VmStack* stack, size_t nargs, Variant* result);
void user_class_generic_assign(VmStack* stack, size_t nargs);

// Runs a method or hook of a user class with the nargs arguments at the top of the stack and THIS
// in the slot above them.
void user_class_run_function(VmStack* stack, const UserFunction* function, size_t nargs, Variant* result);

}  // namespace qzbase
