// charset_detection.cpp - DETECTCHARSET.
#include "builtins/charset_detection.h"

#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

void detectcharset(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const Variant* arg = Param(stack, 1);
  if (arg->tag == VT_REFERENCE) arg = arg->reference.target;
  String text = static_cast<String>(*arg);
  int confidence = 0;
  const Charset* cs = detect_charset(&text, DETECT_CHARSET_ICU, &confidence);
  if (cs == nullptr) {
    Runtime* runtime = stack->get_runtime();
    cs = runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8;
  }
  if (argc >= 2) {
    Variant* out = Param(stack, 2);
    if (out->tag == VT_REFERENCE) {
      Variant* target = out->reference.target;
      target->release(stack);
      target->set_integer(confidence);
    }
  }
  result->set_string(String::fromBytes(cs->name(), Charset::ascii));
}

}  // namespace qzbase
