// object.h - the Object base: members resolved along a chain, visibility, added properties and
// the end of an object's life.
//
// Every object has a class. The interpreter reaches an object only through the four member
// operations (virtual_call, virtual_access, virtual_access_ref, virtual_assign): each looks the
// member up along the chain (this object, then each chained one), checks its visibility, switches
// the data session for an object made on this stack, sets the stack's method context for the
// member and restores context, session and the native-call registers on every exit.
//
// Member maps and threads: an object consults its class's vector and symbol map (read-only after
// compile, so searched without a lock) until its first added property; from then on it has its
// own copies, which are changed under the property lock held exclusively and searched under it
// held shared. The same lock guards the values of the properties (native classes take it shared
// for reads, exclusive for writes). Values replaced or removed under the lock are released only
// after it is dropped, so DESTROY code never runs under it.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <functional>
#include <shared_mutex>
#include <vector>
#include <unordered_map>

#include "objects/class.h"

namespace qzbase {

class Operand;

// The predefined symbol of the DESTROY member.
inline constexpr symbol_id_type symbol_DESTROY = 4;

// Called for each member by enum_properties; non-zero stops the enumeration and becomes its result.
// The object's members must not be changed from inside.
using EnumMembersCallback = int (*)(void* context, Object* object, symbol_id_type symbol, const ClassMember& member);

// A property added at run time: the member record followed by its value, owned by the object.
struct added_property_st {
  ClassMember member;
  Variant value;
};

// A member found by a lookup: what the member operations need of it, copied while the maps were
// held (an added property may be removed by another thread right after).
struct member_lookup_st {
  Object* owner = nullptr;
  uint32_t visibility = VISIBLE_PUBLIC;
  native_function_type method = nullptr;
  native_function_type getter = nullptr;
  native_function_type ref_getter = nullptr;
  native_command_type setter = nullptr;
};

// Releases each value with the stack; every value is released, the first error goes on.
void release_values(VmStack* stack, std::vector<Variant>& values);

class Object {
 public:
  // An object of cls (a null class is a broken invariant), consulting the class's member maps.
  explicit Object(Class* cls);
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // Releases (without a stack) and frees the added properties and deletes the chained object.
  // Slot 0 and 1 (the deleting destructor, through which every object is freed once its last
  // strong reference is gone).
  virtual ~Object();

  // Slot 2: the end-of-life work of this object of the chain, called on the object and on each
  // chained object, in chain order, before the object is deleted: releases the added properties'
  // values with the stack and leaves the class's instance list. Overrides call it.
  virtual void destroy(VmStack* stack);

  // Runs the object's DESTROY member (symbol 4) on the stack with the object as THIS, when its
  // chain has one with a method; does nothing otherwise. A RuntimeInterrupt raised by the member
  // propagates.
  static void call_destroy_method(Object* obj, VmStack* stack);

  // How call_destroy_method runs the DESTROY member: the object model's own runner, which tests
  // may replace with a fake for a while.
  static void (*destroy_method_runner)(Object* obj, VmStack* stack);

  // The member operations (slots 3..6). The arguments, index values or assigned values are the
  // nargs slots at the top of the stack (slot 0 the last), the object's own slot just above them;
  // the members leave the stack pointer where they found it.
  // virtual_call: calls the method symbol into result (empty on entry).
  virtual void virtual_call(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // virtual_access: reads the property symbol (with nargs index values) into result.
  virtual void virtual_access(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // virtual_access_ref: a reference to the property into result.
  virtual void virtual_access_ref(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);
  // virtual_assign: assigns the property; the value is the oldest of the nargs slots.
  virtual void virtual_assign(VmStack* stack, symbol_id_type symbol, size_t nargs);
  // Slot 7: the callback for each member this object consults, in order, until one answers
  // non-zero; that answer, or 0.
  virtual int enum_properties(EnumMembersCallback callback, void* context);
  // enum_properties of this object, then of each chained object, until one answers non-zero.
  int virtual_enum_properties(EnumMembersCallback callback, void* context);

  // The member of that symbol along the chain: this object's map first, so it hides a member of
  // the same symbol further down. False when no object of the chain has it. An added property's
  // record stays valid until it is removed.
  bool get_member(symbol_id_type symbol, const ClassMember** member, Object** owner);
  // The same, copying what the member operations need.
  bool find_member(symbol_id_type symbol, member_lookup_st* out);

  // Adds a property (value null: empty). When the chain has a member of that symbol with a setter,
  // the value is assigned through it instead and nothing is added.
  void addproperty(VmStack* stack, symbol_id_type symbol, const Variant* value);
  // The name through the stack's symbol table.
  void addproperty(VmStack* stack, const String& name, const Variant* value);
  // A plain name adds that name; a name with one or two dimensions adds an array of them (1001
  // when the chain has a member of that name with a setter); any other operand raises 11.
  void addproperty(VmStack* stack, const Operand* operand, const Variant* value);
  // Removes a property added to this object (not the chain); 1760 with the name otherwise.
  void removeproperty(VmStack* stack, const String& name);

  Class* get_class() const { return cls; }
  // Whether the object consults its own member maps (it has had an added property).
  bool has_own_members() const { return symbols_in_use.load(std::memory_order_acquire) != &cls->symbols(); }

  // The shared control block of object_ptr and Variant; null until the object is first bound.
  object_control_st* control;
  // Guards the property values and, once the object has its own, the member maps.
  mutable std::shared_mutex property_lock;
  Class* const cls;
  // The next object of the inheritance chain (owned), null at the end.
  Object* chained;
  // Set by createobject_internal: the data session current when the object was made and the id of
  // the stack that made it (0: not made through the language).
  int32_t data_session_id;
  uint64_t creating_stack_id;

 protected:
  // destroy() of an object that holds values of its own: runs Object::destroy, lets `take` move the
  // values out while the property lock is held, then releases them after the lock is dropped (a
  // DESTROY they trigger must not run under it). Every step runs; the first error goes on.
  void destroy_releasing(VmStack* stack, const std::function<void(std::vector<Variant>*)>& take);

 private:
  friend void added_property_access(VmStack*, size_t, Variant*);
  friend void added_property_access_ref(VmStack*, size_t, Variant*);
  friend void added_property_assign(VmStack*, size_t);

  // This object's own entry of the symbol (not the chain).
  bool find_own(symbol_id_type symbol, member_lookup_st* out);
  void add_property_record(VmStack* stack, symbol_id_type symbol, Variant* value);
  template <int Op>
  void member_operation(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result);

  std::unordered_map<symbol_id_type, added_property_st*> added_;  // owned records
  std::atomic<const member_vector*> members_in_use;
  member_vector own_members_;
  std::atomic<const member_symbol_map*> symbols_in_use;
  member_symbol_map own_symbols_;
};

// The functions of an added property's member (the current owner and member of the stack's method
// context name it).
void added_property_access(VmStack* stack, size_t nargs, Variant* result);
void added_property_access_ref(VmStack* stack, size_t nargs, Variant* result);
void added_property_assign(VmStack* stack, size_t nargs);

// The object whose member runs on the stack (THIS) and the object of its chain that holds the
// member; null when no member runs.
Object* current_object(VmStack* stack);
Object* current_owner(VmStack* stack);

// DODEFAULT: runs the running member, in the running access mode, on the part of the chain below
// the current owner, with the nargs arguments at the top of the stack (THIS in the slot above
// them). Nothing happens when the owner is the end of the chain; 1734 when no further object has
// the member visibly, 1001 for a re-entered property access.
void call_parent_member(VmStack* stack, size_t nargs, Variant* result);

// Creates an instance of cls on the stack into the empty result, records the stack and its current
// data session in it, enters it into its class's instance list and runs its INIT member (when the
// chain has one with a method) with the argc arguments pushed after slot (the stack pointer is at
// the last of them); slot receives the object. INIT's value is dropped.
void createobject_internal(VmStack* stack, Class* cls, Variant* slot, int argc, Variant* result);

}  // namespace qzbase
