// class.h - Class and ClassMember: a class is a set of named members resolved by symbol id.
//
// A class is defined (members added by name), compiled once (every member gets the symbol id of
// its name and enters the symbol map) and then only read: member lookups on the class maps take no
// lock. The instance list is the one part that changes afterwards; it has its own mutex.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "vm/symtable.h"

namespace qzbase {

struct named_operand_st;

enum MemberKind : uint32_t { MEMBER_NONE = 0, MEMBER_PROPERTY = 1, MEMBER_METHOD = 2, MEMBER_EVENT = 3 };

// Visibility masks of a member.
enum MemberVisibility : uint32_t { VISIBLE_PUBLIC = 1, VISIBLE_PROTECTED = 2, VISIBLE_HIDDEN = 4 };

class ClassMember {
 public:
  ClassMember(uint64_t index, const String& name) : index(index), name(name) {}

  uint64_t index;                // position in the member vector that holds it
  uint32_t kind = MEMBER_NONE;
  String name;
  symbol_id_type symbol = 0;     // set by Class::compile (or when a property is added)
  uint32_t visibility = VISIBLE_PUBLIC;
  bool native = false;           // defined from a library's member row
  Variant default_value;         // initial value of a user-class property
  native_function_type method = nullptr;
  native_function_type getter = nullptr;
  native_function_type ref_getter = nullptr;
  native_command_type setter = nullptr;
};

using member_vector = std::vector<ClassMember*>;
using member_symbol_map = std::unordered_map<symbol_id_type, ClassMember*>;

// Orders member names without regard to case.
struct member_name_less {
  bool operator()(const String& a, const String& b) const {
    return Collation::unicode_machine_ci->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                  b.get_charset()) < 0;
  }
};

class Class {
 public:
  // A class named by the symbol (of the runtime's Symtable; a Symbol without a table serves
  // classes made before any runtime exists). definition is the class definition's named operand
  // (its parent clause for a class defined in source), owned from now on; null when none.
  Class(const Symbol& name, named_operand_st* definition);
  virtual ~Class();
  Class(const Class&) = delete;
  Class& operator=(const Class&) = delete;

  // Gives every member the symbol id of its name (created when new). Runs once per class; a second
  // call, or two members with one symbol, is a broken invariant.
  virtual void compile(Runtime* runtime);
  // A new instance through the factory; RuntimeError 9005 with the name when there is none.
  virtual void create_instance(VmStack* stack, Object** out);

  // The member of that name (case-insensitive), appended when new.
  ClassMember* define(const String& name);
  // Null when absent.
  ClassMember* find_member(const String& name) const;
  ClassMember* find_member(symbol_id_type symbol) const;

  // The live instances created through the language. Adding one already present does nothing.
  void add_instance(Object* obj);
  void remove_instance(VmStack* stack, Object* obj);
  size_t instance_count() const;
  // Calls fn(Object*) for each instance while the list is locked: an instance met there is not
  // deleted before the call returns (its end removes it from the list first). fn must not add or
  // remove instances.
  template <class F>
  void for_each_instance(F&& fn) const {
    std::lock_guard<std::mutex> lock(instances_lock_);
    for (Object* obj : instances_) fn(obj);
  }

  const String& get_name() const { return name_.name; }
  symbol_id_type get_symbol() const { return name_.id; }
  named_operand_st* definition() const { return definition_; }
  bool is_compiled() const { return compiled_; }

  // The member vector in definition order and the symbol map (filled by compile).
  const member_vector& members() const { return members_; }
  const member_symbol_map& symbols() const { return by_symbol_; }

  class_factory_type factory = nullptr;

 private:
  mutable std::mutex instances_lock_;
  std::unordered_set<Object*> instances_;
  // The size of instances_, read without the lock: an object torn down while the class has no
  // registered instance was never registered (its registration happened before it was handed out).
  std::atomic<size_t> registered_{0};
  member_vector members_;  // owned, in definition order
  std::map<String, ClassMember*, member_name_less> by_name_;
  member_symbol_map by_symbol_;
  Symbol name_;
  named_operand_st* definition_;
  bool compiled_ = false;
};

}  // namespace qzbase
