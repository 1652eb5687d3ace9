// exception_object.cpp - the native class "exception".
#include "objects/exception_object.h"

#include <exception>
#include <string>

#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

void Exception_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  // Each value is released even when an earlier release raises; the first interrupt goes on.
  Variant* fields[] = {&error_no, &message, &detail, &user_value};
  std::exception_ptr first;
  for (Variant* v : fields) {
    try {
      v->release(stack);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  Object::destroy(stack);
  if (first) std::rethrow_exception(first);
}

void Exception_Object::set_error(int code, const String& msg, const String& det) {
  QZ_TRACE;
  error_no.release(nullptr);
  message.release(nullptr);
  detail.release(nullptr);
  error_no.set_integer(code);
  message.set_string(msg);
  detail.set_string(det);
}

void Exception_Object::set_user_value(const Variant& value) {
  QZ_TRACE;
  user_value.release(nullptr);
  value.copy(&user_value);
}

Variant* Exception_Object::property(VmStack* stack, symbol_id_type symbol, String* name) {
  QZ_TRACE;
  Symtable* symtable = stack != nullptr ? stack->symtable : nullptr;
  *name = symtable != nullptr ? symtable->resolve(symbol) : String();
  std::string upper = name->upper().u8str();
  if (upper == "ERRORNO") return &error_no;
  if (upper == "MESSAGE") return &message;
  if (upper == "DETAIL") return &detail;
  if (upper == "USERVALUE") return &user_value;
  return nullptr;
}

void Exception_Object::virtual_access(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) {
  QZ_TRACE;
  String name;
  Variant* v = property(stack, symbol, &name);
  if (v == nullptr) throw RuntimeError(1734, name);
  if (nargs != 0) throw RuntimeError(11);
  v->copy(result);
}

void Exception_Object::virtual_access_ref(VmStack* stack, symbol_id_type symbol, size_t, Variant*) {
  QZ_TRACE;
  String name;
  if (property(stack, symbol, &name) == nullptr) throw RuntimeError(1734, name);
  throw RuntimeError(1743, name);
}

void Exception_Object::virtual_assign(VmStack* stack, symbol_id_type symbol, size_t) {
  QZ_TRACE;
  String name;
  if (property(stack, symbol, &name) == nullptr) throw RuntimeError(1734, name);
  throw RuntimeError(1743, name);
}

Object* new_exception(VmStack*) {
  QZ_TRACE;
  return new Exception_Object();
}

}  // namespace qzbase
