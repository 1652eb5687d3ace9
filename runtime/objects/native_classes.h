// native_classes.h - the simple native classes: "Custom", "Empty" and "File", and the member rows
// and factories the built-in library's class table lists for them.
//
// A native member function finds its object through the stack's method context: the current
// owner is the object of the chain whose class holds the member.
#pragma once

#include <qzbase.h>

#include "objects/object.h"

namespace qzbase {

// "Custom": the common properties of a visual base class, kept as plain values.
class Custom_Object : public Object {
 public:
  // Name starts as the name of the class the factory was called for.
  explicit Custom_Object(Class* cls);

  String comment;
  int32_t height = 0;
  int32_t help_context_id = 0;
  int32_t left = 0;
  String name;
  String tag;
  int32_t top = 0;
  int32_t whats_this_help_id = 0;
  int32_t width = 0;
};

extern const native_member_def_st custom_members[];
Object* new_custom(VmStack* stack, Class* cls);
// "Empty": a plain object without members; properties are added at run time.
Object* new_empty(VmStack* stack, Class* cls);

}  // namespace qzbase
