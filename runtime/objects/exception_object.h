// exception_object.h - the native class "exception": what a CATCH TO variable receives.
//
// The handler search makes one for every error it offers to handlers and sets ErrorNo, Message
// and Detail from the error; THROW makes one and stores its argument in UserValue. All four are
// read-only to the language.
#pragma once

#include <qzbase.h>

#include "objects/object.h"

namespace qzbase {

class Exception_Object : public Object {
 public:
  Exception_Object() = default;
  ~Exception_Object() override = default;

  // Releases the four values with the stack (an object stored in UserValue may have DESTROY code).
  void destroy(VmStack* stack) override;

  // ErrorNo, Message, Detail and UserValue (by name, case-insensitive); RuntimeError 1734 with the
  // name for any other property; index values are RuntimeError 11.
  void virtual_access(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) override;
  // The properties are read-only: RuntimeError 1743 with the name (1734 for an unknown name).
  void virtual_access_ref(VmStack* stack, symbol_id_type symbol, size_t nargs, Variant* result) override;
  void virtual_assign(VmStack* stack, symbol_id_type symbol, size_t nargs) override;

  // Set once by the code that creates the object, before the language sees it.
  void set_error(int code, const String& message, const String& detail);
  void set_user_value(const Variant& value);

  Variant error_no;    // integer (0 for THROW)
  Variant message;     // string
  Variant detail;      // string
  Variant user_value;  // THROW's argument; .F. otherwise

 private:
  // The field of a property name; null when the object has no such property.
  Variant* property(VmStack* stack, symbol_id_type symbol, String* name);
};

// The factory CreateObject uses for "exception".
Object* new_exception(VmStack* stack);

}  // namespace qzbase
