// binary_conversion.cpp - BINTOC and CREATEBINARY: numbers as short binary strings (sortable
// keys and binary file fields), and text retagged as binary.
//
// A numeric bound for an integer encoding is checked on the double before it is truncated, and
// a NaN or an infinity is refused there (11): comparisons alone would let a NaN through to a
// cast whose result is undefined.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "builtins/text_arguments.h"
#include "builtins/value_functions.h"

namespace qzbase {

namespace {

// The value's bytes, most significant first unless little_endian.
String bytes_of(uint64_t bits, size_t size, bool little_endian) {
  char out[8];
  for (size_t i = 0; i < size; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bits >> (8 * (size - 1 - i)));
    out[little_endian ? size - 1 - i : i] = static_cast<char>(byte);
  }
  return String(out, size, Charset::binary);
}

// The sortable key of a double: big-endian IEEE bits, the sign bit set for values >= 0 and all
// bits inverted for negative ones; -0 is +0.
String double_key(double value) {
  if (value == 0) value = 0;  // -0 -> +0
  uint64_t bits = std::bit_cast<uint64_t>(value);
  bits = (bits & 0x8000000000000000ull) != 0 ? ~bits : bits | 0x8000000000000000ull;
  return bytes_of(bits, 8, false);
}

// "B" and "F": the IEEE value little-endian (big-endian with R), the sign bit inverted with S.
String floating(double value, bool single, bool keep_sign_inverted, bool reverse) {
  uint64_t bits;
  size_t size;
  if (single) {
    bits = std::bit_cast<uint32_t>(static_cast<float>(value));
    size = 4;
  } else {
    bits = std::bit_cast<uint64_t>(value);
    size = 8;
  }
  if (keep_sign_inverted) bits ^= uint64_t{1} << (8 * size - 1);
  return bytes_of(bits, size, !reverse);
}

double double_of(const Variant* v) {
  switch (v->tag) {
    case VT_INTEGER:
      return static_cast<double>(v->integer.value);
    case VT_NUMERIC:
      return v->numeric.value;
    case VT_MONEY:
      return static_cast<double>(v->money.value) / 10000.0;
    default:
      throw RuntimeError(11);
  }
}

// The integer of an integer encoding of `size` bytes: an integer as it is, a numeric truncated
// toward zero, a money value in whole units (truncated); 11 outside the size's signed range.
int64_t integer_of(const Variant* v, size_t size) {
  const int bits = static_cast<int>(8 * size);
  const int64_t max = size == 8 ? INT64_MAX : (int64_t{1} << (bits - 1)) - 1;
  const int64_t min = -max - 1;
  int64_t value;
  switch (v->tag) {
    case VT_INTEGER:
      value = v->integer.value;
      break;
    case VT_NUMERIC: {
      const double t = std::trunc(v->numeric.value);
      // Both bounds are powers of two, exact as doubles; a NaN fails the first test.
      if (!(t >= static_cast<double>(min) && t < -static_cast<double>(min))) throw RuntimeError(11);
      value = static_cast<int64_t>(t);
      break;
    }
    case VT_MONEY: {
      const __int128 units = v->money.value / 10000;
      if (units < INT64_MIN || units > INT64_MAX) throw RuntimeError(11);
      value = static_cast<int64_t>(units);
      break;
    }
    default:
      throw RuntimeError(11);
  }
  if (value < min || value > max) throw RuntimeError(11);
  return value;
}

struct encoding_st {
  size_t size = 4;
  bool keep_sign = false;      // S
  bool little_endian = false;  // R
  bool as_double = false;      // B
  bool as_float = false;       // F
  bool size_eight_key = false;  // size 8 for a numeric: the sortable double key
};

encoding_st encoding_of(VmStack* stack, size_t argc) {
  encoding_st e;
  if (argc < 2) return e;
  const Variant* how = argument_value(stack, 2);
  if (how->tag == VT_STRING) {
    const std::string flags = how->string.u8str();
    for (char c : {'1', '2', '4', '8'}) {
      if (flags.find(c) != std::string::npos) {
        e.size = static_cast<size_t>(c - '0');
        break;
      }
    }
    e.little_endian = flags.find('R') != std::string::npos;
    e.keep_sign = flags.find('S') != std::string::npos;
    e.as_double = flags.find('B') != std::string::npos;
    e.as_float = flags.find('F') != std::string::npos;
    if (e.as_double && e.as_float) throw RuntimeError(11);
    return e;
  }
  if (how->tag != VT_INTEGER && how->tag != VT_NUMERIC) throw RuntimeError(11);
  const double size = how->tag == VT_INTEGER ? static_cast<double>(how->integer.value) : how->numeric.value;
  if (size != 1 && size != 2 && size != 4 && size != 8) throw RuntimeError(11);
  e.size = static_cast<size_t>(size);
  return e;
}

}  // namespace

template <typename T>
String __bintoc_I_cast(int64_t value, bool keep_sign, bool little_endian) {
  QZ_TRACE;
  constexpr size_t size = sizeof(T);
  using U = std::make_unsigned_t<T>;
  uint64_t bits = static_cast<U>(static_cast<T>(value));
  if (!keep_sign) bits ^= uint64_t{1} << (8 * size - 1);
  return bytes_of(bits, size, little_endian);
}

template String __bintoc_I_cast<signed char>(int64_t, bool, bool);
template String __bintoc_I_cast<short>(int64_t, bool, bool);
template String __bintoc_I_cast<int>(int64_t, bool, bool);
template String __bintoc_I_cast<long>(int64_t, bool, bool);

String __bintoc_Y(const money_type_st& value, bool keep_sign, bool little_endian) {
  QZ_TRACE;
  if (value.value < INT64_MIN || value.value > INT64_MAX) throw RuntimeError(11);
  return __bintoc_I_cast<long>(static_cast<int64_t>(value.value), keep_sign, little_endian);
}

void bi_bintoc(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 2, result)) return;
  const encoding_st e = encoding_of(stack, argc);
  const Variant* v = argument_value(stack, 1);
  if (e.as_double || e.as_float) {
    result->set_string(floating(double_of(v), e.as_float, e.keep_sign, e.little_endian));
    return;
  }
  if (e.size == 8 && v->tag == VT_MONEY) {
    result->set_string(__bintoc_Y(v->money, e.keep_sign, e.little_endian));
    return;
  }
  if (e.size == 8 && v->tag == VT_NUMERIC) {
    result->set_string(double_key(v->numeric.value));
    return;
  }
  const int64_t value = integer_of(v, e.size);
  switch (e.size) {
    case 1:
      result->set_string(__bintoc_I_cast<signed char>(value, e.keep_sign, e.little_endian));
      return;
    case 2:
      result->set_string(__bintoc_I_cast<short>(value, e.keep_sign, e.little_endian));
      return;
    case 4:
      result->set_string(__bintoc_I_cast<int>(value, e.keep_sign, e.little_endian));
      return;
    default:
      result->set_string(__bintoc_I_cast<long>(value, e.keep_sign, e.little_endian));
      return;
  }
}

void bi_createbinary(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (null_result(stack, argc, 1, 1, result)) return;
  const String& text = text_argument(stack, 1);
  // Converting into binary only relabels: the bytes stay in the shared buffer.
  String retagged(text);
  retagged.convert(Charset::binary, CON_NONE, 0);
  result->set_string(retagged);
}

}  // namespace qzbase
