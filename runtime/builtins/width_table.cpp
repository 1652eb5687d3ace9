// width_table.cpp - the compile-time result types of the character functions whose width the
// compiler can tell from their arguments.
#include "builtins/tables.h"

#include <algorithm>

namespace qzbase {

namespace {

constexpr uint32_t kCharacter = 10;
constexpr uint32_t kNullable = 16;

bool nullable(const compiler_type_info_st& t) { return (t.type & kNullable) != 0; }

// The constant integer of a known argument; false when it is not a number.
bool constant_count(const compiler_type_info_st& t, const Variant& v, int64_t* out) {
  if (!t.constant) return false;
  switch (v.tag) {
    case VT_INTEGER:
    case VT_NUMERIC:
    case VT_MONEY:
      *out = static_cast<long>(v);
      return true;
    default:
      return false;
  }
}

void set_result(compiler_type_info_st* out, bool may_be_null, bool known) {
  out->type = kCharacter | (may_be_null ? kNullable : 0);
  out->constant = known;
}

// ALLTRIM, LTRIM, RTRIM, TRIM: as wide as the text.
void trim_width(size_t argc, const compiler_type_info_st* args, const Variant*, compiler_type_info_st* out) {
  QZ_TRACE;
  if (argc == 0) return;
  bool known = true;
  for (size_t i = 0; i < argc; ++i) known = known && args[i].constant;
  set_result(out, nullable(args[0]), known);
  out->width = args[0].width;
}

void left_width(size_t argc, const compiler_type_info_st* args, const Variant* constargs, compiler_type_info_st* out) {
  QZ_TRACE;
  if (argc < 2) return;
  set_result(out, nullable(args[0]) || nullable(args[1]), args[0].constant && args[1].constant);
  int64_t n = 0;
  if (constant_count(args[1], constargs[1], &n)) {
    out->width = n < 0 ? 0 : n;
  } else {
    out->width = args[0].width;
  }
}

void substr_width(size_t argc, const compiler_type_info_st* args, const Variant* constargs,
                  compiler_type_info_st* out) {
  QZ_TRACE;
  if (argc < 2) return;
  int64_t w = args[0].width;
  if (argc == 2) {
    set_result(out, nullable(args[0]) || nullable(args[1]), args[0].constant && args[1].constant);
    int64_t start = 0;
    if (w >= 0 && constant_count(args[1], constargs[1], &start) && start >= 1) {
      out->width = w - std::min(w, start - 1);
    } else {
      out->width = w;
    }
    return;
  }
  set_result(out, nullable(args[0]) || nullable(args[1]) || nullable(args[2]),
             args[0].constant && args[1].constant && args[2].constant);
  int64_t length = 0;
  if (constant_count(args[2], constargs[2], &length)) {
    out->width = length < 0 ? 0 : length;
  } else {
    out->width = w;
  }
}

// BINTOC: the width depends on the kind of its argument and stays unknown.
void bintoc_width(size_t argc, const compiler_type_info_st* args, const Variant*, compiler_type_info_st* out) {
  QZ_TRACE;
  if (argc == 0) return;
  if (argc == 1) {
    set_result(out, nullable(args[0]), args[0].constant);
  } else {
    set_result(out, nullable(args[0]) || nullable(args[1]), args[0].constant && args[1].constant);
  }
}

}  // namespace

const module_result_width_st builtin_result_widths[] = {
    {"alltrim", trim_width}, {"bintoc", bintoc_width}, {"left", left_width}, {"ltrim", trim_width},
    {"substr", substr_width}, {"rtrim", trim_width},   {"trim", trim_width}, {nullptr, nullptr},
};

const size_t builtin_result_width_count = sizeof(builtin_result_widths) / sizeof(builtin_result_widths[0]) - 1;

}  // namespace qzbase
