// interrupts.cpp - the interrupt and the error record that hold Variants:
// RuntimeThrow (kind 2) and Error, one entry of a stack's error list.
#include <qzbase.h>

#include "platform/errors.h"

namespace qzbase {

RuntimeThrow::RuntimeThrow()
    : RuntimeInterrupt(INTERRUPT_THROW), target_frame(nullptr), catch_symbol(0), target_position(0) {
  QZ_TRACE;
}

RuntimeThrow::RuntimeThrow(const Variant& value, VmFrame* target_frame, symbol_id_type catch_symbol,
                           size_t target_position)
    : RuntimeInterrupt(INTERRUPT_THROW), value(value), target_frame(target_frame),
      catch_symbol(catch_symbol), target_position(target_position) {
  QZ_TRACE;
}

RuntimeThrow::RuntimeThrow(const RuntimeThrow& other)
    : RuntimeInterrupt(INTERRUPT_THROW), value(other.value), target_frame(other.target_frame),
      catch_symbol(other.catch_symbol), target_position(other.target_position) {
  QZ_TRACE;
}

RuntimeThrow& RuntimeThrow::operator=(const RuntimeThrow& other) {
  QZ_TRACE;
  value = other.value;
  target_frame = other.target_frame;
  catch_symbol = other.catch_symbol;
  target_position = other.target_position;
  return *this;
}

RuntimeThrow::~RuntimeThrow() {
  QZ_TRACE;
  value.release(nullptr);
}

Error::Error(int code, const String& message_text, const String& detail_text) {
  QZ_TRACE;
  number.set_integer(code);
  message.set_string(message_text);
  detail.set_string(detail_text);
}

Error::Error(const Error& other)
    : number(other.number), message(other.message), detail(other.detail), value4(other.value4),
      value5(other.value5), value6(other.value6), value7(other.value7) {
  QZ_TRACE;
}

Error& Error::operator=(const Error& other) {
  QZ_TRACE;
  if (this != &other) {
    number = other.number;
    message = other.message;
    detail = other.detail;
    value4 = other.value4;
    value5 = other.value5;
    value6 = other.value6;
    value7 = other.value7;
  }
  return *this;
}

Error::~Error() {
  QZ_TRACE;
  number.release(nullptr);
  message.release(nullptr);
  detail.release(nullptr);
  value4.release(nullptr);
  value5.release(nullptr);
  value6.release(nullptr);
  value7.release(nullptr);
}

}  // namespace qzbase
