// array_functions.cpp - the array built-ins.
//
// Arrays are 1-based, elements numbered row by row. The functions that fill an array through a
// by-reference argument dimension it in place (elements carried over by position, then every
// element written) and return the number of rows or elements. Comparisons are variant_cmp's:
// strings by code point under the session's SET EXACT, never under a collation.
//
// Mended: ADEL of row 0 or a negative row computed its first element from outside the array and
// moved elements from there; a row below 1 raises 1234 like a row beyond the end.
#include "builtins/array_functions.h"

#include <climits>
#include <cstdint>
#include <list>
#include <map>
#include <vector>

#include "builtins/arguments.h"
#include "builtins/entry_points.h"
#include "builtins/object_functions.h"
#include "objects/object.h"
#include "values/charset_registry.h"
#include "values/comparison.h"
#include "vm/error_handlers.h"
#include "vm/execute.h"
#include "vm/program.h"
#include "vm/vm_stack.h"
#include "platform/errors.h"

namespace qzbase {

namespace {

Array* array_argument(VmStack* stack, size_t n) { return static_cast<Array*>(*argument_value(stack, n)); }

long long_argument(VmStack* stack, size_t n) { return static_cast<long>(integer_argument(stack, n)); }

// An optional integer argument: absent or null gives the default.
long optional_long(VmStack* stack, size_t argc, size_t n, long fallback) {
  if (!has_argument(stack, argc, n)) return fallback;
  return long_argument(stack, n);
}

// The ascending order of the sorts: nulls before everything else, then variant_cmp. Values that
// cannot be compared raise the comparison's error; unordered ones (NaN) are not less.
inline bool sorts_before(const Variant* a, const Variant* b, const VmStack* stack) {
  if (b->tag == VT_NULL) return false;
  if (a->tag == VT_NULL) return true;
  bool null_seen = false;
  return cmp_lt(inline_variant_cmp(a, b, &null_seen, stack));
}

// One row of a sort: its key and where the row was.
struct sort_item_st {
  const Variant* key;
  size_t row;
};

// A stable merge sort. The comparison may throw; the items are left permuted then, and nothing
// else was touched. Written out rather than taken from the library so that no comparison (NaN
// keys, SET EXACT OFF prefixes) can lead the sort outside its range.
void stable_sort_items(std::vector<sort_item_st>& items, const VmStack* stack) {
  const size_t n = items.size();
  const auto less = [stack](const sort_item_st& x, const sort_item_st& y) {
    return sorts_before(x.key, y.key, stack);
  };
  constexpr size_t run = 16;
  // Short runs by insertion, each step guarded by the run's start.
  for (size_t start = 0; start < n; start += run) {
    size_t end = std::min(start + run, n);
    for (size_t i = start + 1; i < end; ++i) {
      sort_item_st v = items[i];
      size_t j = i;
      while (j > start && less(v, items[j - 1])) {
        items[j] = items[j - 1];
        --j;
      }
      items[j] = v;
    }
  }
  std::vector<sort_item_st> buffer(n);
  for (size_t width = run; width < n; width *= 2) {
    for (size_t left = 0; left < n; left += 2 * width) {
      size_t mid = std::min(left + width, n);
      size_t right = std::min(left + 2 * width, n);
      size_t i = left, j = mid, k = left;
      while (i < mid && j < right) buffer[k++] = less(items[j], items[i]) ? items[j++] : items[i++];
      while (i < mid) buffer[k++] = items[i++];
      while (j < right) buffer[k++] = items[j++];
    }
    items.swap(buffer);
  }
}

// Makes the by-reference argument an array of rows x cols and returns it.
Array* dimension_argument(VmStack* stack, size_t n, size_t rows, size_t cols) {
  return Param(stack, n)->dimension(stack, rows, cols);
}

void set_string_utf8(Variant* v, const std::string& text) {
  v->set_string(String(text.data(), text.size(), Charset::utf8));
}

}  // namespace

// ARRAY(v1, ..., vn): a one-dimensional array of copies of the arguments.
void bi_array(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc == 0) throw RuntimeError(11);
  Array fresh(argc);
  try {
    for (size_t i = 1; i <= argc; ++i) fresh.write(stack, i)->set_variant(argument_value(stack, i));
    result->set_array(fresh);
  } catch (...) {
    fresh.release(stack);
    throw;
  }
  fresh.release(stack);
}

// ALEN(a [, which]): 0 or absent elements, 1 rows, 2 columns (0 for one dimension).
void bi_alen(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const Array* a = array_argument(stack, 1);
  switch (optional_long(stack, argc, 2, 0)) {
    case 0:
      result->set_integer(a->count());
      return;
    case 1:
      result->set_integer(a->rows());
      return;
    case 2:
      result->set_integer(a->columns());
      return;
    default:
      throw RuntimeError(11);
  }
}

// AELEMENT(a, row [, column]): the element number of (row, column); without a column the row is
// checked against the rows and returned.
void bi_aelement(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const Array* a = array_argument(stack, 1);
  long row = long_argument(stack, 2);
  bool with_column = has_argument(stack, argc, 3);
  long column = with_column ? long_argument(stack, 3) : 0;
  if (with_column && a->columns() == 0) throw RuntimeError(230);
  if (row < 1 || (with_column && column < 1)) throw RuntimeError(1234);
  size_t n = with_column ? a->element_number(static_cast<size_t>(row), static_cast<size_t>(column))
                         : a->check_row(static_cast<size_t>(row));
  result->set_integer(n);
}

// ASUBSCRIPT(a, n, which): the row (1) or the column (2) of element n.
void bi_asubscript(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 3) throw RuntimeError(11);
  const Array* a = array_argument(stack, 1);
  long n = long_argument(stack, 2);
  long which = long_argument(stack, 3);
  if (which != 1 && which != 2) throw RuntimeError(11);
  if (n < 1) throw RuntimeError(1234);
  size_t element = static_cast<size_t>(n);
  result->set_integer(which == 1 ? a->asubscript_row(element) : a->asubscript_column(element));
}

// ADEL(@a, n): deletes row n (element n of a one-dimensional array); what follows moves up and
// the last row becomes .F.; the size stays.
void bi_adel(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  Array* a = array_argument(stack, 1);
  long n = long_argument(stack, 2);
  size_t c = a->columns() != 0 ? a->columns() : 1;
  size_t first = 0;
  if (n < 1 || __builtin_mul_overflow(static_cast<size_t>(n) - 1, c, &first) || first >= a->count()) {
    throw RuntimeError(1234);
  }
  ++first;  // 1-based
  const size_t count = a->count();
  for (size_t i = first; i + c <= count; ++i) {
    Variant moved(*a->read(i + c));
    *a->write(stack, i) = std::move(moved);
  }
  for (size_t i = count - c + 1; i <= count; ++i) a->write(stack, i);  // released: .F.
  result->set_true();
}

// ACOPY(src, @dst [, start [, count [, dststart]]]): copies elements one by one while both
// indexes stay inside their arrays; a count of -1 copies to the end. A target that is no array is
// first dimensioned like the source. The result is the number copied.
void bi_acopy(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  const Array* src = array_argument(stack, 1);
  Variant* target = argument_value(stack, 2);
  long start = optional_long(stack, argc, 3, 1);
  long count = optional_long(stack, argc, 4, static_cast<long>(src->count()));
  long dststart = optional_long(stack, argc, 5, 1);
  if (start < 1 || dststart < 1) throw RuntimeError(1234);
  if (count < -1) throw RuntimeError(11);
  if (target->tag != VT_ARRAY) target->dimension(stack, src->rows(), src->columns());
  Array* dst = static_cast<Array*>(*target);
  // The source argument shares its block with the caller's variable; writing the target copies
  // it first when both are the same array, so the source reads stay as they were.
  size_t copied = 0;
  size_t si = static_cast<size_t>(start);
  size_t di = static_cast<size_t>(dststart);
  while (si <= src->count() && di <= dst->count() && (count == -1 || copied < static_cast<size_t>(count))) {
    Variant value(*src->read(si));
    *dst->write(stack, di) = std::move(value);
    ++si;
    ++di;
    ++copied;
  }
  result->set_integer(copied);
}

// ASCAN(a, value [, start]): the first element from start on that compares equal to value, 0 when
// none does. Elements of a type that cannot be compared with the value are passed over.
void bi_ascan(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc > 3) throw RuntimeError(1001);
  if (argc < 2) throw RuntimeError(11);
  const Array* a = array_argument(stack, 1);
  const Variant* value = argument_value(stack, 2);
  long start = optional_long(stack, argc, 3, 1);
  if (start < 1) start = 1;
  const size_t count = a->count();
  for (size_t i = static_cast<size_t>(start); i <= count; ++i) {
    const Variant* item = a->read(i);
    if (!variant_tags_comparable(item->tag, value->tag)) continue;
    bool null_seen = false;
    int r;
    try {
      r = variant_cmp(item, value, &null_seen, stack);
    } catch (const RuntimeError& e) {
      if (e.code == 107) continue;
      throw;
    }
    if (!null_seen && cmp_eq(r)) {
      result->set_integer(i);
      return;
    }
  }
  result->set_integer(0);
}

// ASORT(@a [, start]): a new array of the same shape, ascending from start on (nulls first, equal
// keys in their order), replaces the array. A two-dimensional array moves whole rows, keyed by
// the column of the start element, from the start element's row on.
void bi_asort(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  Variant* target = argument_value(stack, 1);
  const Array* a = static_cast<const Array*>(*target);
  long start = optional_long(stack, argc, 2, 1);
  if (start < 1) start = 1;
  const size_t count = a->count();
  const size_t columns = a->columns();
  const size_t width = columns != 0 ? columns : 1;
  const size_t rows = count / width;
  const size_t s = static_cast<size_t>(start);

  // The sorted stretch: rows first_row .. rows (0-based), keyed by column key (0-based).
  size_t first_row = rows;
  size_t key = 0;
  if (s <= count) {
    first_row = (s - 1) / width;
    key = (s - 1) % width;
  }
  std::vector<sort_item_st> items;
  items.reserve(rows - first_row);
  for (size_t r = first_row; r < rows; ++r) items.push_back(sort_item_st{a->read(r * width + key + 1), r});
  stable_sort_items(items, stack);

  Array fresh = columns != 0 ? Array(rows, columns) : Array(count);
  try {
    for (size_t r = 0; r < rows; ++r) {
      size_t from = r < first_row ? r : items[r - first_row].row;
      for (size_t c = 0; c < width; ++c) {
        fresh.write(stack, r * width + c + 1)->set_variant(a->read(from * width + c + 1));
      }
    }
    target->release(stack);
    target->set_array(fresh);
  } catch (...) {
    fresh.release(stack);
    throw;
  }
  fresh.release(stack);
  result->set_integer(1);
}

// AERROR(@a): the stack's error list, one row of seven values per entry.
void bi_aerror(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  // A copy: releasing the old array may run DESTROY code that records errors of its own.
  std::vector<Error> errors = stack->errors;
  if (!errors.empty()) {
    Array* a = dimension_argument(stack, 1, errors.size(), 7);
    for (size_t i = 0; i < errors.size(); ++i) {
      const Error& e = errors[i];
      const Variant* values[7] = {&e.number, &e.message, &e.detail, &e.value4, &e.value5, &e.value6, &e.value7};
      for (size_t c = 0; c < 7; ++c) a->write(stack, i + 1, c + 1)->set_variant(values[c]);
    }
  }
  result->set_integer(errors.size());
}

// ALISTALLERRORS(@a): the error table by ascending number, two columns (number, message).
void bi_alistallerrors(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const error_st* rows = nullptr;
  int n = get_list_of_errors(&rows);
  std::map<uint32_t, const char*> by_number;
  for (int i = 0; i < n; ++i) by_number.emplace(rows[i].code, rows[i].message);  // the first wins
  if (n > 0) {
    Array* a = dimension_argument(stack, 1, static_cast<size_t>(n), 2);
    size_t row = 1;
    for (const auto& [code, message] : by_number) {
      a->write(stack, row, 1)->set_integer(static_cast<long>(code));
      set_string_utf8(a->write(stack, row, 2), message);
      ++row;
    }
  }
  result->set_integer(n);
}

// ASTACKINFO(@a): the call stack from the running frame outward, six columns (level, module,
// program, module, line, null).
void bi_astackinfo(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  struct Row {
    String module;
    String program;
    uint32_t line;
  };
  std::vector<Row> rows;
  for (const VmFrame* f = stack->frame; f != nullptr; f = f->previous) {
    Row row{String(""), String(""), 0};
    if (f->program != nullptr) {
      const Module* m = f->program->owner_module();
      if (m != nullptr && vm_module_name != nullptr) row.module = vm_module_name(m);
      row.program = f->program->name();
      const DebugInfo* debug = f->program->debug_info();
      document_location_st loc{};
      if (debug != nullptr && debug->location_of(f->position, &loc)) row.line = loc.begin_line;
    }
    rows.push_back(row);
  }
  if (!rows.empty()) {
    Array* a = dimension_argument(stack, 1, rows.size(), 6);
    for (size_t i = 0; i < rows.size(); ++i) {
      a->write(stack, i + 1, 1)->set_integer(i + 1);
      a->write(stack, i + 1, 2)->set_string(rows[i].module);
      a->write(stack, i + 1, 3)->set_string(rows[i].program);
      a->write(stack, i + 1, 4)->set_string(rows[i].module);
      a->write(stack, i + 1, 5)->set_integer(static_cast<unsigned long>(rows[i].line));
      a->write(stack, i + 1, 6)->set_null();
    }
  }
  result->set_integer(rows.size());
}

// AENV(@a): the environment the host passed, by name, two columns (name, value).
void bi_aenv(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  Runtime* runtime = stack->get_runtime();
  std::list<std::pair<String, String>> entries;
  if (runtime != nullptr) entries = runtime->environment();
  if (!entries.empty()) {
    Array* a = dimension_argument(stack, 1, entries.size(), 2);
    size_t row = 1;
    for (const auto& [name, value] : entries) {
      a->write(stack, row, 1)->set_string(name);
      a->write(stack, row, 2)->set_string(value);
      ++row;
    }
  }
  result->set_integer(entries.size());
}

// ACHARSET(@a): the names of the supported character sets, one column.
void bi_acharset(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  std::vector<std::string> names;
  list_supported_charset(&names, [](void* ctx, const char* name) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(name);
  });
  if (!names.empty()) {
    Array* a = dimension_argument(stack, 1, names.size(), 1);
    for (size_t i = 0; i < names.size(); ++i) set_string_utf8(a->write(stack, i + 1, 1), names[i]);
  }
  result->set_integer(names.size());
}

// AINSTANCE(@a, class): the live instances of the class made through the language, one element
// each. An unknown class leaves the array alone and gives .F..
void bi_ainstance(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  Class* cls = getclass(stack, string_argument(stack, 2));
  if (cls == nullptr) {
    result->set_false();
    return;
  }
  std::vector<Variant> instances;
  struct Release {
    VmStack* stack;
    std::vector<Variant>* values;
    ~Release() {
      for (Variant& v : *values) {
        try {
          v.release(stack);
        } catch (...) {
        }
      }
    }
  } release{stack, &instances};
  // An instance whose end is under way (or done) is left out: no value may revive it.
  cls->for_each_instance([&](Object* obj) {
    if (obj->control == nullptr || obj->control->strong.load() == 0 || obj->control->destroying.load() != 0) return;
    instances.emplace_back();
    instances.back().set(obj);
  });
  if (!instances.empty()) {
    Array* a = dimension_argument(stack, 1, instances.size(), 0);
    for (size_t i = 0; i < instances.size(); ++i) {
      Variant* element = a->write(stack, i + 1);
      element->release(stack);
      element->set_variant(&instances[i]);
    }
  }
  result->set_integer(instances.size());
}

// ALINES(@a, text [, flags [, separator, ...]]): the lines of the text. Flags: 1 trims each line,
// 4 leaves out empty lines, 16 keeps each line's separator; 2 and 8 are not available. Without
// separators the line ends are CR LF, LF CR and LF.
void bi_alines(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 2) throw RuntimeError(11);
  String text = string_argument(stack, 2);
  long flags = 0;
  if (has_argument(stack, argc, 3)) {
    flags = int32_argument(stack, 3);
  }
  if (flags & 2) throw RuntimeError(1001, String("alines parameter 3 flag 1 (force last empty)"));
  if (flags & 8) throw RuntimeError(1001);

  static const char* const line_ends[] = {"\r\n", "\n\r", "\n"};
  std::vector<String> parse;  // keeps the separator texts alive while the scan runs
  std::vector<const_string_st> separators;
  if (argc >= 4) {
    if (argc - 3 > 23) throw RuntimeError(1001, String("parsechar count > 23"));
    for (size_t i = 4; i <= argc; ++i) parse.push_back(string_argument(stack, i));
    for (const String& p : parse) separators.push_back(const_string_st{p.read(), p.end(), p.get_charset()});
  } else {
    for (const char* e : line_ends) {
      separators.push_back(const_string_st{e, e + std::char_traits<char>::length(e), Charset::ascii});
    }
  }

  std::list<String> pieces;
  text.explode(separators.data(), separators.size(), (flags & 16) != 0, &pieces);
  std::vector<String> lines;
  lines.reserve(pieces.size());
  for (String& piece : pieces) {
    if (flags & 1) piece.alltrim();
    if ((flags & 4) && piece.is_empty()) continue;
    lines.push_back(piece);
  }
  if (!lines.empty()) {
    Array* a = dimension_argument(stack, 1, lines.size(), 0);
    for (size_t i = 0; i < lines.size(); ++i) a->write(stack, i + 1)->set_string(lines[i]);
  }
  result->set_integer(lines.size());
}

// DIMENSION(rows, [columns], var): (re)dimensions the variable (argument 3 is the variable or a
// reference to it) keeping elements by position; a null or missing column count makes it
// one-dimensional. The result is the array.
void bi_dimension(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 3) throw RuntimeError(11);
  long rows = static_cast<long>(*Param(stack, 1));
  const Variant* columns = Param(stack, 2);
  long cols = is_null_argument(columns) ? 0 : static_cast<long>(*columns);
  if (rows < 1 || cols < 0) throw RuntimeError(230);
  Array* array = Param(stack, 3)->dimension(stack, static_cast<size_t>(rows), static_cast<size_t>(cols));
  result->set_array(*array);
}

}  // namespace qzbase
