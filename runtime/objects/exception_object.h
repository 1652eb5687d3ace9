// exception_object.h - the native class "Exception": what a CATCH TO variable receives.
//
// The handler search makes one for every error it offers to handlers and sets ErrorNo, Message
// and Detail from the error; THROW makes one and stores its argument in UserValue. Programs only
// read the four members (assigning one is error 1734); the C++ setters below are the only writers.
#pragma once

#include <qzbase.h>

#include "objects/object.h"

namespace qzbase {

class Exception_Object : public Object {
 public:
  explicit Exception_Object(Class* cls);
  // An exception holding an error's number, message and detail.
  Exception_Object(Class* cls, int code, const String& message, const String& detail);
  ~Exception_Object() override = default;

  // Object::destroy, then the four values are released with the stack (an object stored in
  // UserValue may have DESTROY code).
  void destroy(VmStack* stack) override;

  // For the handler search and THROW, before the language sees the object.
  void set_error(int code, const String& message, const String& detail);
  void set_user_value(const Variant& value);

  Variant error_no;    // integer (0 for THROW)
  Variant message;     // string
  Variant detail;      // string
  Variant user_value;  // THROW's argument; empty otherwise

  // Made by the handler search or THROW, not by the language: never in its class's instance list.
  bool made_for_handler = false;
};

// The member rows and the factory of "Exception".
extern const native_member_def_st exception_members[];
Object* new_exception(VmStack* stack, Class* cls);

}  // namespace qzbase
