// user_class.cpp - classes defined in source.
#include "objects/user_class.h"

#include "frontend/operands.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/runtime_vm.h"

namespace qzbase {

UserClass::UserClass(const Symbol& name_in, named_operand_st* parent)
    : Class(name_in, parent), name(name_in), parent_name(nullptr) {
  QZ_TRACE;
  if (parent != nullptr) parent_name = new String(parent->name);
}

UserClass::~UserClass() {
  for (auto& [symbol, method] : methods) delete method.function;
  for (class_initialiser_st& initialiser : initialisers) delete initialiser.program;
  delete parent_name;
}

bool UserClass::add_method(symbol_id_type symbol, uint32_t visibility, UserFunction* function) {
  QZ_TRACE;
  return methods.emplace(symbol, user_method_st{visibility, function}).second;
}

void UserClass::compile(Runtime* runtime) {
  QZ_TRACE;
  RuntimeVmState* vm = find_runtime_vm(runtime);
  if (vm == nullptr) throw_assert_failed();
  for (const auto& [symbol, method] : methods) {
    ClassMember* member = define(vm->symtable.resolve(symbol));
    member->kind = MEMBER_METHOD;
    member->visibility = method.visibility;
  }
  Class::compile(runtime);
}

}  // namespace qzbase
