// operand_object.h - the native class "Operand": an expression kept as text, compiled when the text
// is assigned and evaluated on demand on the caller's frame (so it sees the caller's variables).
#pragma once

#include <qzbase.h>

#include <memory>

#include "objects/object.h"

namespace qzbase {

class Operand_Object : public Object {
 public:
  explicit Operand_Object(Class* cls) : Object(cls) {}
  ~Operand_Object() override = default;

  // Object::destroy, then the compiled program is freed.
  void destroy(VmStack* stack) override;

  // Both guarded by the property lock. An evaluation holds its own share of the program, so a
  // new assignment (from the expression itself, or another thread) never frees it under the run.
  String expression;
  std::shared_ptr<const Program> program;  // null: nothing compiled
};

extern const native_member_def_st operand_members[];
Object* new_operand(VmStack* stack, Class* cls);

}  // namespace qzbase
