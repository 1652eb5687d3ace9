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
#include "vm/class_definition.h"
#include "vm/symtable.h"

namespace qzbase {

// The compile-time part (parent name, methods, initialisers, ancestors) is the ClassDefinition the
// compiler and the module see.
class UserClass : public Class, public ClassDefinition {
 public:
  // Takes ownership of parent (the DEFINE CLASS statement's AS clause, null when none: the class's
  // definition record); its name becomes the parent class name.
  UserClass(const Symbol& name, named_operand_st* parent);
  ~UserClass() override;

  // Makes the methods run-time members or hooks, binds every property to the generic functions,
  // adds the read-only "Class" member, sets the factory and gives every member its symbol id. Runs
  // once, after the methods are linked; a compiled class returns at once.
  void compile(Runtime* runtime) override;
  // An object of this class, chained to one object of each further class of the ancestor chain.
  void create_instance(VmStack* stack, Object** out) override;

  Class* as_class() override { return this; }
  Variant* define_property(const String& name, uint32_t visibility) override;
  void compile_members(Runtime* runtime) override { compile(runtime); }

  // The position of a stored property in an instance's values; false when the symbol has none.
  bool property_slot(symbol_id_type symbol, size_t* slot) const {
    auto it = slots.find(symbol);
    if (it == slots.end()) return false;
    *slot = it->second;
    return true;
  }

  Symbol name;
  // Property symbol to its <property>_access / <property>_assign function (owned by methods).
  std::unordered_map<symbol_id_type, const UserFunction*> read_hooks;
  std::unordered_map<symbol_id_type, const UserFunction*> write_hooks;
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
