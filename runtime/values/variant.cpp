// variant.cpp - Variant and its setters: the per-tag member tables,
// copy and release of owned payloads, objects and references, type letters and EMPTY().
#include "values/variant.h"

#include <new>
#include <stdexcept>

#include "values/string_internal.h"

namespace qzbase {

void throw_variant_error(int code) {
  QZ_TRACE;
  throw RuntimeError(code);
}

// ---------------------------------------------------------------------------------------------
// Member tables
// ---------------------------------------------------------------------------------------------

const Variant::release_fn Variant::release_functions[16] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    &Variant::release_C, &Variant::release_O, &Variant::release_A, &Variant::release_P,
    nullptr, nullptr,
};

const Variant::acquire_fn Variant::acquire_functions[16] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    &Variant::acquire_C, &Variant::acquire_O, &Variant::acquire_A, &Variant::acquire_P,
    nullptr, nullptr,
};

const Variant::val_fn Variant::val_functions[16] = {
    &Variant::val_L_false, &Variant::val_X, &Variant::val_L_true, &Variant::val_I,
    &Variant::val_N, &Variant::val_Y, &Variant::val_D, &Variant::val_T,
    nullptr, nullptr,
    &Variant::val_C, &Variant::val_O, &Variant::val_A, &Variant::val_P,
    nullptr, nullptr,
};

// ---------------------------------------------------------------------------------------------
// Lifecycle
// ---------------------------------------------------------------------------------------------

Variant& Variant::operator=(const Variant& other) {
  QZ_TRACE;
  if (this != &other) {
    Variant copy(other);  // first: other may live inside the value released below
    release(nullptr);
    for (int i = 0; i < 4; ++i) raw_[i] = copy.raw_[i];
    tag = copy.tag;
    copy.tag = VT_FALSE;
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  QZ_TRACE;
  if (this != &other) {
    Variant old(static_cast<Variant&&>(*this));  // released when it goes out of scope
    for (int i = 0; i < 4; ++i) raw_[i] = other.raw_[i];
    tag = other.tag;
    other.tag = VT_FALSE;
  }
  return *this;
}

// The payload is moved into a local first and this Variant is empty from then on, so that code
// running during the release (an object's DESTROY) never sees a half-released value.
void Variant::release_heap(VmStack* stack) {
  QZ_TRACE;
  uint8_t t = tag;
  if (t < VT_STRING || t > VT_REFERENCE) throw_assert_failed();  // tags 8, 9 and above 13
  Variant held;
  for (int i = 0; i < 4; ++i) held.raw_[i] = raw_[i];
  held.tag = t;
  tag = VT_FALSE;
  try {
    const release_fn release = release_functions[t];
    (held.*release)(stack);
  } catch (...) {
    held.tag = VT_FALSE;
    throw;
  }
  held.tag = VT_FALSE;
}

void Variant::acquire_heap() {
  QZ_TRACE;
  uint8_t t = tag;
  if (t < VT_STRING || t > VT_REFERENCE) {
    tag = VT_FALSE;
    throw_assert_failed();
  }
  const acquire_fn acquire = acquire_functions[t];
  (this->*acquire)();
}

void Variant::release_C(VmStack*) {
  QZ_TRACE;
  string.~String();
}

void Variant::release_O(VmStack* stack) {
  QZ_TRACE;
  object_control_st* control = object.control;
  if (control == nullptr) return;  // an empty object reference
  ControlRef guard(control);
  object_ptr_base::release_strong(&object, stack);
}

void Variant::release_A(VmStack* stack) {
  QZ_TRACE;
  array.release(stack);
  if (array.block_ != nullptr) throw_assert_failed();
}

void Variant::release_P(VmStack* stack) {
  QZ_TRACE;
  object_control_st* control = reference.owner.control;
  if (control == nullptr) return;
  ControlRef guard(control);
  object_ptr_base::release_strong(&reference.owner, stack);
}

void Variant::acquire_C() {
  QZ_TRACE;
  const_cast<string_buffer_st*>(string.buffer())->count.fetch_add(1);
}

void Variant::acquire_O() {
  QZ_TRACE;
  object_control_st* control = object.control;
  if (control == nullptr) return;
  object_ptr_base::increment_strong(control);
  control->refs.fetch_add(1);
}

void Variant::acquire_A() {
  QZ_TRACE;
  if (array.block_ != nullptr) array_block_add_ref(array.block_);
}

// Copying a reference yields a copy of the referenced value.
void Variant::acquire_P() {
  QZ_TRACE;
  const Variant* target = reference.target;
  for (int i = 0; i < 4; ++i) raw_[i] = target->raw_[i];
  tag = target->tag;
  if (tag >= VT_STRING) acquire_heap();
}

// ---------------------------------------------------------------------------------------------
// Value functions
// ---------------------------------------------------------------------------------------------

void Variant::val_L_false(Variant* dst) const {
  QZ_TRACE;
  dst->set_false();
}
void Variant::val_X(Variant* dst) const {
  QZ_TRACE;
  dst->set_null();
}
void Variant::val_L_true(Variant* dst) const {
  QZ_TRACE;
  dst->set_true();
}
void Variant::val_I(Variant* dst) const {
  QZ_TRACE;
  dst->set(integer);
}
void Variant::val_N(Variant* dst) const {
  QZ_TRACE;
  dst->set(numeric);
}
void Variant::val_Y(Variant* dst) const {
  QZ_TRACE;
  dst->set(money);
}
void Variant::val_D(Variant* dst) const {
  QZ_TRACE;
  dst->set(date);
}
void Variant::val_T(Variant* dst) const {
  QZ_TRACE;
  dst->set(datetime);
}
void Variant::val_C(Variant* dst) const {
  QZ_TRACE;
  dst->set(string);
}
void Variant::val_O(Variant* dst) const {
  QZ_TRACE;
  dst->set(object);
}
void Variant::val_A(Variant* dst) const {
  QZ_TRACE;
  dst->set(array);
}
void Variant::val_P(Variant* dst) const {
  QZ_TRACE;
  reference.target->copy(dst);
}

// ---------------------------------------------------------------------------------------------
// Setters
// ---------------------------------------------------------------------------------------------

namespace {

inline void require_empty(const Variant* v) {
  if (v->tag != VT_FALSE) throw_assert_failed();
}

}  // namespace

void Variant::set(const numeric_type_st& v) {
  QZ_TRACE;
  require_empty(this);
  numeric = v;
  tag = VT_NUMERIC;
}

void Variant::set_float(double value, unsigned long decimals) {
  QZ_TRACE;
  require_empty(this);
  numeric = numeric_type_st{value, decimals};
  tag = VT_NUMERIC;
}

void Variant::set(const integer_type_st& v) {
  QZ_TRACE;
  require_empty(this);
  integer = v;
  tag = VT_INTEGER;
}

void Variant::set_integer(short v) {
  QZ_TRACE;
  set(integer_type_st{v});
}
void Variant::set_integer(int v) {
  QZ_TRACE;
  set(integer_type_st{v});
}
void Variant::set_integer(unsigned int v) {
  QZ_TRACE;
  set(integer_type_st{static_cast<int64_t>(v)});
}
void Variant::set_integer(const long& v) {
  QZ_TRACE;
  set(integer_type_st{v});
}
void Variant::set_integer(const unsigned long& v) {
  QZ_TRACE;
  set(integer_type_st{static_cast<int64_t>(v)});
}

void Variant::set(const money_type_st& v) {
  QZ_TRACE;
  require_empty(this);
  money = v;
  tag = VT_MONEY;
}

void Variant::set(const date_st& v) {
  QZ_TRACE;
  require_empty(this);
  date = v;
  tag = VT_DATE;
}

void Variant::set(const datetime_st& v) {
  QZ_TRACE;
  require_empty(this);
  datetime = v;
  tag = VT_DATETIME;
}

void Variant::set(const string_type_st& v) {
  QZ_TRACE;
  require_empty(this);
  new (&string) String(v);  // the copy is acquire_C: the buffer gains a reference
  tag = VT_STRING;
}

void Variant::set_string(const String& v) {
  QZ_TRACE;
  set(v);
}

void Variant::set(const array_type_st& v) {
  QZ_TRACE;
  require_empty(this);
  new (&array) Array(v);  // shares the block: acquire_A
  tag = VT_ARRAY;
}

void Variant::set_array(const Array& v) {
  QZ_TRACE;
  set(v);
}

void Variant::set_null() {
  QZ_TRACE;
  require_empty(this);
  tag = VT_NULL;
}

void Variant::set_true() {
  QZ_TRACE;
  require_empty(this);
  tag = VT_TRUE;
}

void Variant::set_false() {
  QZ_TRACE;
  require_empty(this);
}

void Variant::set_bool(bool v) {
  QZ_TRACE;
  require_empty(this);
  tag = v ? VT_TRUE : VT_FALSE;
}

// ---------------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------------

void Variant::set(const object_ptr_st& v) {
  QZ_TRACE;
  require_empty(this);
  object = v;
  tag = VT_OBJECT;
  acquire_O();
}

void Variant::set(Object* obj) {
  QZ_TRACE;
  require_empty(this);
  if (obj == nullptr || control_of(obj) == nullptr) throw_assert_failed();
  object = object_ptr_st{control_of(obj), obj};
  tag = VT_OBJECT;
  acquire_O();
}

void Variant::set_new_object(Object* obj) {
  QZ_TRACE;
  require_empty(this);
  if (obj == nullptr || control_of(obj) != nullptr) throw_assert_failed();
  auto* control = new object_control_st{1, 1, 0, 0};
  control_of(obj) = control;
  object = object_ptr_st{control, obj};
  tag = VT_OBJECT;
}

bool Variant::is_empty_object_reference() const {
  QZ_TRACE;
  return tag == VT_OBJECT && !control_is_live(object.control);
}

Variant::operator Object*() const {
  QZ_TRACE;
  // A value whose object was destroyed (a value taken during DESTROY outlives the object) holds
  // a pointer to freed memory: it is not an object.
  if (tag != VT_OBJECT || !control_is_live(object.control)) throw RuntimeError(1924);
  return object.object;
}

void Variant::val_object(Object** out) const {
  QZ_TRACE;
  *out = static_cast<Object*>(*this);
}

// ---------------------------------------------------------------------------------------------
// References
// ---------------------------------------------------------------------------------------------

void Variant::ref(VmStack* stack, Variant* dst, Object* owner) const {
  QZ_TRACE;
  reference_st r;
  if (tag == VT_REFERENCE) {
    r = reference;
  } else {
    if (dst == this) throw_assert_failed();  // a value cannot refer to itself
    r.target = const_cast<Variant*>(this);
    if (owner != nullptr && control_of(owner) != nullptr) {
      r.owner = object_ptr_st{control_of(owner), owner};
    } else {
      r.owner = object_ptr_st{nullptr, nullptr};
    }
  }
  // The owner is held before dst is released: dst may hold the owner's last reference.
  if (r.owner.control != nullptr) {
    object_ptr_base::increment_strong(r.owner.control);
    r.owner.control->refs.fetch_add(1);
  }
  try {
    dst->release(stack);
  } catch (...) {
    dst->reference = r;
    dst->tag = VT_REFERENCE;
    throw;
  }
  dst->reference = r;
  dst->tag = VT_REFERENCE;
}

// ---------------------------------------------------------------------------------------------
// Inspection
// ---------------------------------------------------------------------------------------------

namespace {

struct TypeLetters {
  String L{"L"}, X{"X"}, N{"N"}, Y{"Y"}, D{"D"}, T{"T"}, C{"C"}, Q{"Q"}, O{"O"}, A{"A"};
};

const TypeLetters& type_letters() {
  static const TypeLetters letters;
  return letters;
}

}  // namespace

String Variant::vartype() const {
  QZ_TRACE;
  const TypeLetters& l = type_letters();
  switch (tag) {
    case VT_FALSE:
    case VT_TRUE:
      return l.L;
    case VT_NULL:
      return l.X;
    case VT_INTEGER:
    case VT_NUMERIC:
      return l.N;
    case VT_MONEY:
      return l.Y;
    case VT_DATE:
      return l.D;
    case VT_DATETIME:
      return l.T;
    case VT_STRING:
      return is_binary_charset(string.get_charset()) ? l.Q : l.C;
    case VT_OBJECT:
      return control_is_live(object.control) ? l.O : l.X;
    case VT_ARRAY:
      return l.A;
    case VT_REFERENCE:
      return reference.target->vartype();
    default:
      throw_assert_failed();
  }
}

bool Variant::is_empty() const {
  QZ_TRACE;
  switch (tag) {
    case VT_FALSE:
      return true;
    case VT_NULL:
    case VT_TRUE:
    case VT_OBJECT:
      return false;
    case VT_INTEGER:
      return integer.value == 0;
    case VT_NUMERIC:
      return numeric_is_zero(numeric.value);
    case VT_MONEY:
      return money.value == 0;
    case VT_DATE:
      return date.day == 0;
    case VT_DATETIME:
      return datetime.day == 0 && datetime.ms == 0;
    case VT_STRING:
      return string.is_empty();
    case VT_ARRAY:
      return array.count() == 0 || array.read(1)->is_empty();
    case 8:
    case 9:
    case VT_REFERENCE:
      throw RuntimeError(11);
    default:
      throw_assert_failed();
  }
}

// ---------------------------------------------------------------------------------------------
// Arrays
// ---------------------------------------------------------------------------------------------

Variant::operator Array*() {
  QZ_TRACE;
  if (tag != VT_ARRAY) throw RuntimeError(232);
  return &array;
}

Variant::operator const Array*() const {
  QZ_TRACE;
  if (tag != VT_ARRAY) throw RuntimeError(232);
  return &array;
}

// ---------------------------------------------------------------------------------------------
// The conversions that the exported interface needs. The casts and text unit owns the
// conversions; these follow its cast table for the operators they cover.
// ---------------------------------------------------------------------------------------------

Variant::operator integer_type_st() const {
  QZ_TRACE;
  switch (tag) {
    case VT_INTEGER:
      return integer;
    case VT_NUMERIC: {
      // Truncated toward zero; values beyond the 64-bit range saturate (no range check is
      // specified) and NaN gives 0.
      double v = numeric.value;
      if (v != v) return integer_type_st{0};
      if (v >= 9223372036854775808.0) return integer_type_st{INT64_MAX};
      if (v < -9223372036854775808.0) return integer_type_st{INT64_MIN};
      return integer_type_st{static_cast<int64_t>(v)};
    }
    case VT_MONEY: {
      __int128 units = money.value / 10000;  // truncated toward zero
      if (units > INT64_MAX) throw std::overflow_error("positive overflow");
      if (units < INT64_MIN) throw std::overflow_error("negative overflow");
      return integer_type_st{static_cast<int64_t>(units)};
    }
    default:
      throw RuntimeError(107);
  }
}

Variant::operator int() const {
  QZ_TRACE;
  return static_cast<int>(static_cast<uint32_t>(static_cast<integer_type_st>(*this).value));
}

Variant::operator bool() const {
  QZ_TRACE;
  if (tag == VT_FALSE) return false;
  if (tag == VT_TRUE) return true;
  throw RuntimeError(107);
}

Variant::operator long() const {
  QZ_TRACE;
  return static_cast<integer_type_st>(*this).value;
}

Variant::operator String() const {
  QZ_TRACE;
  if (tag != VT_STRING) throw RuntimeError(107);
  return string;
}

}  // namespace qzbase
