// value_interface.cpp - the value functions exported for plug-ins.
//
// They work only through pointers to Variant, Array, String and VmStack and catch nothing:
// RuntimeError and assert_failed_exception reach the plug-in.
#include <qzbase.h>

#include <cstring>

namespace qzbase {

void VarSetVariant(Variant* dst, const Variant* src) {
  QZ_TRACE;
  dst->set_variant(src);
}

void VarSetTrue(Variant* v) {
  QZ_TRACE;
  v->set_true();
}

void VarSetFalse(Variant* v) {
  QZ_TRACE;
  v->set_false();
}

void VarSetBool(Variant* v, bool value) {
  QZ_TRACE;
  if (value) {
    v->set_true();
  } else {
    v->set_false();
  }
}

void VarSetNull(Variant* v) {
  QZ_TRACE;
  v->set_null();
}

void VarSetInt(Variant* v, int value) {
  QZ_TRACE;
  v->set_integer(value);
}

void VarSetDouble(Variant* v, double value) {
  QZ_TRACE;
  v->set_float(value, free_decimals);
}

void VarSetString(Variant* v, const String& value) {
  QZ_TRACE;
  v->set_string(value);
}

void VarSetUtf8(Variant* v, const char* text) {
  QZ_TRACE;
  VarSetUtf8Len(v, text, std::strlen(text));
}

void VarSetUtf8Len(Variant* v, const char* bytes, size_t size) {
  QZ_TRACE;
  if (!v->empty()) throw_assert_failed();  // before the text is copied
  v->set_string(String::fromBytes(bytes, size, Charset::utf8));
}

int VarGetInt(const Variant* v) {
  QZ_TRACE;
  return static_cast<int>(*v);
}

int32_t VarGetInt32(const Variant* v) {
  QZ_TRACE;
  return static_cast<int>(*v);
}

int64_t VarGetInt64(const Variant* v) {
  QZ_TRACE;
  return static_cast<long>(*v);
}

String VarGetString(const Variant* v) {
  QZ_TRACE;
  return static_cast<String>(*v);
}

const char* VarReadString(const Variant* v, size_t* size) {
  QZ_TRACE;
  if (v->tag != VT_STRING) throw RuntimeError(107);
  *size = v->string.size();
  return v->string.read();
}

char* VarWriteString(Variant* v, size_t* size) {
  QZ_TRACE;
  if (v->tag != VT_STRING) throw RuntimeError(107);
  char* bytes = v->string.write();  // copies a shared buffer first
  *size = v->string.size();
  return bytes;
}

void ReleaseVar(VmStack* stack, Variant* v) {
  QZ_TRACE;
  v->release(stack);
}

const Variant* ReadArrayItem(VmStack*, const Array* array, size_t n) {
  QZ_TRACE;
  return array->read(n);
}

const Variant* ReadArrayItem(const Array* array, size_t row, size_t col) {
  QZ_TRACE;
  return array->read(row, col);
}

Variant* WriteArrayItem(VmStack* stack, Array* array, size_t row, size_t col) {
  QZ_TRACE;
  return array->write(stack, row, col);
}

Array* VarDimArray(VmStack* stack, Variant* v, size_t rows) {
  QZ_TRACE;
  return v->dimension(stack, rows, 0);
}

Array* VarDimArray(VmStack* stack, Variant* v, size_t rows, size_t cols) {
  QZ_TRACE;
  return v->dimension(stack, rows, cols);
}

const Array* VarGetArray(const Variant* v) {
  QZ_TRACE;
  return static_cast<const Array*>(*v);
}

Array* VarGetArray(Variant* v) {
  QZ_TRACE;
  return static_cast<Array*>(*v);
}

size_t ArrayNumElements(const Array* array) {
  QZ_TRACE;
  return array->count();
}

size_t ArrayNumRows(const Array* array) {
  QZ_TRACE;
  return array->rows();
}

size_t ArrayNumColumns(const Array* array) {
  QZ_TRACE;
  return array->columns();
}

}  // namespace qzbase
