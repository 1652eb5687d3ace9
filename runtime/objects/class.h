// class.h - Class and ClassMember: a class is a set of named members resolved by symbol id.
//
// What registering native classes needs: members defined by name (case-insensitive), one compile
// step that gives every member its symbol id, the factory and the instance list. Member lookup
// along a chain, visibility and added properties come with the object model.
#pragma once

#include <qzbase.h>

#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qzbase {

enum MemberKind : uint32_t { MEMBER_NONE = 0, MEMBER_PROPERTY = 1, MEMBER_METHOD = 2, MEMBER_EVENT = 3 };

class ClassMember {
 public:
  ClassMember(uint64_t index, const String& name) : index(index), name(name) {}

  uint64_t index;                // position in the member vector that holds it
  uint32_t kind = MEMBER_NONE;
  String name;
  symbol_id_type symbol = 0;     // set by Class::compile
  uint32_t visibility = 1;       // 1 public, 2 protected, 4 hidden
  bool native = false;           // defined from a library's member row
  Variant default_value;         // initial value of a user-class property
  native_function_type method = nullptr;
  native_function_type getter = nullptr;
  native_function_type ref_getter = nullptr;
  native_command_type setter = nullptr;
};

// Orders member names without regard to case.
struct member_name_less {
  bool operator()(const String& a, const String& b) const {
    return Collation::unicode_machine_ci->compare(a.read(), a.end(), a.get_charset(), b.read(), b.end(),
                                                  b.get_charset()) < 0;
  }
};

class Class {
 public:
  // A class named name (symbol is the name's id in the runtime's Symtable); base is null for the
  // native classes.
  Class(const String& name, symbol_id_type symbol, Class* base);
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

  void add_instance(Object* obj);
  void remove_instance(Object* obj);
  size_t instance_count() const;

  const String& get_name() const { return name_; }
  symbol_id_type get_symbol() const { return symbol_; }
  Class* get_base() const { return base_; }
  bool is_compiled() const { return compiled_; }

  class_factory_type factory = nullptr;

 private:
  mutable std::mutex instances_lock_;
  std::unordered_set<Object*> instances_;
  std::vector<ClassMember*> members_;  // owned, in definition order
  std::map<String, ClassMember*, member_name_less> by_name_;
  std::unordered_map<symbol_id_type, ClassMember*> by_symbol_;
  String name_;
  symbol_id_type symbol_;
  Class* base_;
  bool compiled_ = false;
};

}  // namespace qzbase
