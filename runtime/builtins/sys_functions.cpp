// sys_functions.cpp - SYS(n): one entry that dispatches on a numeric id to small system functions.
//
// The table lists every id the language knows; ids that are listed without an implementation
// raise 1001, ids that are not listed give an empty text. The table becomes a hash map once, at
// load, and is only read afterwards.
#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "builtins/arguments.h"
#include "builtins/system_functions.h"
#include "builtins/value_functions.h"
#include "builtins/workarea.h"
#include "platform/paths.h"
#include "platform/tempname.h"
#include "tables/table_object.h"
#include "values/arithmetic.h"
#include "values/checksum.h"
#include "values/value_text.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/program.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

using sys_handler_fn = void (*)(VmStack* stack, size_t argc, Variant* result);

struct sys_function_st {
  uint64_t id;
  sys_handler_fn handler;
};

Runtime* runtime_of(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  return runtime;
}

String empty_text(VmStack* stack) {
  const Runtime* runtime = stack->get_runtime();
  return String(static_cast<size_t>(0),
                runtime != nullptr && runtime->codepage != nullptr ? runtime->codepage : Charset::utf8);
}

// argc counts the id: the id alone is 1.
void expect_id_only(size_t argc) {
  if (argc != 1) throw RuntimeError(11);
}

void sys_not_available(VmStack*, size_t, Variant*) { throw RuntimeError(1001); }

// SYS(1): today as its day number.
void sys_today(VmStack* stack, size_t argc, Variant* result) {
  expect_id_only(argc);
  Variant today;
  bi_date(stack, 0, &today);
  result->set_integer(static_cast<long>(today.date.day));
}

// SYS(2): the seconds since midnight, whole.
void sys_seconds(VmStack* stack, size_t argc, Variant* result) {
  expect_id_only(argc);
  bi_seconds(stack, 0, result);
  variant_round(result, 0);
}

// SYS(3): a fresh unique name.
void sys_tempname(VmStack*, size_t argc, Variant* result) {
  expect_id_only(argc);
  result->set_string(tempname());
}

// SYS(16): the source file of the running procedure's module.
void sys_program_file(VmStack* stack, size_t argc, Variant* result) {
  expect_id_only(argc);
  const VmFrame* frame = stack->frame;
  const Module* module = frame != nullptr && frame->program != nullptr ? frame->program->owner_module() : nullptr;
  if (module == nullptr) {
    result->set_string(empty_text(stack));
    return;
  }
  result->set_string(module->name);
}

// SYS(2007, text [, seed [, mode]]): CRC16, CRC32 or CRC32C of the text's bytes as decimal text.
void sys_checksum(VmStack* stack, size_t argc, Variant* result) {
  if (argc < 2 || argc > 4) throw RuntimeError(11);
  const String text = static_cast<String>(*argument_value(stack, 2));
  const int64_t seed = argc >= 3 ? integer_argument(stack, 3) : 0;
  const int64_t mode = argc >= 4 ? integer_argument(stack, 4) : 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.read());
  // The CRC routines take a 32-bit length: longer texts are summed in pieces.
  auto sum = [&](auto fn, auto start) {
    auto value = start;
    size_t done = 0;
    do {
      const size_t piece = std::min<size_t>(text.size() - done, 0x40000000u);
      value = fn(value, bytes + done, static_cast<unsigned int>(piece));
      done += piece;
    } while (done < text.size());
    return static_cast<unsigned int>(value);
  };
  unsigned int value = 0;
  switch (mode) {
    case 0:
      if (seed < 0 || seed >= 65536) throw RuntimeError(11);
      value = sum(calculate_crc16, static_cast<unsigned short>(seed));
      break;
    case 1:
      if (seed < 0 || seed > 4294967295LL) throw RuntimeError(11);
      value = sum(calculate_crc32, static_cast<unsigned int>(seed));
      break;
    case 2:
      if (seed < 0 || seed > 4294967295LL) throw RuntimeError(11);
      value = sum(calculate_crc32c, static_cast<unsigned int>(seed));
      break;
    default:
      throw RuntimeError(107);
  }
  char out[16];
  const int n = std::snprintf(out, sizeof out, "%u", value);
  result->set_string(String(out, static_cast<size_t>(n), Charset::ascii));
}

// SYS(2018): the parameter of the first recorded error, upper-cased; null without one.
void sys_error_parameter(VmStack* stack, size_t argc, Variant* result) {
  expect_id_only(argc);
  if (stack->errors.empty()) {
    result->set_null();
    return;
  }
  const Variant& detail = stack->errors.front().detail;
  String text = variant_to_string(detail);
  result->set_string(text.upper());
}

// SYS(2023): the system's temporary directory.
void sys_temp_dir(VmStack* stack, size_t argc, Variant* result) {
  expect_id_only(argc);
  result->set_string(systemtempdir(runtime_of(stack)));
}

// SYS(2029 [, area]): the version byte of the current table's file, or of the table in that area.
void sys_table_version(VmStack* stack, size_t argc, Variant* result) {
  if (argc < 1 || argc > 2) throw RuntimeError(11);
  Table_Object* table = session_table(stack, argc == 2 ? argument_value(stack, 2) : nullptr, true);
  result->set_integer(static_cast<long>(table->get_version()));
}

// SYS(9000): the file offset of the leaf node under the current table's index cursor.
void sys_leaf_offset(VmStack* stack, size_t, Variant* result) {
  Table_Object* table = session_table(stack, nullptr, true);
  result->set_integer(static_cast<long>(table->get_idx_leaf_offset()));
}

// SYS(8999, value): the value's type tag.
void sys_type_tag(VmStack* stack, size_t argc, Variant* result) {
  if (argc != 2) throw RuntimeError(11);
  const Variant* v = Param(stack, 2);
  result->set_integer(static_cast<long>(v->tag));
}

// SYS(9999): a small picture.
void sys_picture(VmStack* stack, size_t, Variant*) {
  static constexpr char kPicture[] =
      "\u2800\u2880\u28e0\u28e4\u28e4\u28c4\u2840\u2800\n"
      "\u28b0\u28ff\u281f\u2809\u2809\u283b\u28ff\u2846\n"
      "\u28b8\u28ff\u2800\u2800\u2800\u2800\u28ff\u2847\n"
      "\u2818\u28ff\u28e6\u28c0\u28c0\u28f4\u28ff\u2803\n"
      "\u2800\u2808\u2819\u281b\u281b\u28bf\u28e6\u2840";
  Screen* screen = runtime_of(stack)->get_screen();
  ScreenOutputLock lock(screen);
  screen->outendl(String(kPicture, sizeof kPicture - 1, Charset::utf8));
}

#define QZ_SYS_NA(id) {id, sys_not_available}

const sys_function_st sys_functions[] = {
    {1, sys_today},
    {2, sys_seconds},
    {3, sys_tempname},
    QZ_SYS_NA(4), QZ_SYS_NA(5), QZ_SYS_NA(6), QZ_SYS_NA(7), QZ_SYS_NA(8), QZ_SYS_NA(9), QZ_SYS_NA(10),
    QZ_SYS_NA(11), QZ_SYS_NA(12), QZ_SYS_NA(13), QZ_SYS_NA(14), QZ_SYS_NA(15),
    {16, sys_program_file},
    QZ_SYS_NA(17), QZ_SYS_NA(18), QZ_SYS_NA(19), QZ_SYS_NA(20), QZ_SYS_NA(21), QZ_SYS_NA(22), QZ_SYS_NA(23),
    QZ_SYS_NA(24), QZ_SYS_NA(100), QZ_SYS_NA(101), QZ_SYS_NA(102), QZ_SYS_NA(103), QZ_SYS_NA(602),
    QZ_SYS_NA(987), QZ_SYS_NA(1001), QZ_SYS_NA(1011), QZ_SYS_NA(1016), QZ_SYS_NA(1023), QZ_SYS_NA(1037),
    QZ_SYS_NA(1104), QZ_SYS_NA(1269), QZ_SYS_NA(1270), QZ_SYS_NA(1271), QZ_SYS_NA(1272), QZ_SYS_NA(1500),
    QZ_SYS_NA(2000), QZ_SYS_NA(2001), QZ_SYS_NA(2002), QZ_SYS_NA(2003), QZ_SYS_NA(2004), QZ_SYS_NA(2005),
    QZ_SYS_NA(2006),
    {2007, sys_checksum},
    QZ_SYS_NA(2010), QZ_SYS_NA(2011), QZ_SYS_NA(2012), QZ_SYS_NA(2013), QZ_SYS_NA(2014), QZ_SYS_NA(2015),
    QZ_SYS_NA(2016), QZ_SYS_NA(2017),
    {2018, sys_error_parameter},
    QZ_SYS_NA(2019), QZ_SYS_NA(2020), QZ_SYS_NA(2021), QZ_SYS_NA(2022),
    {2023, sys_temp_dir},
    QZ_SYS_NA(2024),
    {2029, sys_table_version},
    QZ_SYS_NA(2030), QZ_SYS_NA(2040), QZ_SYS_NA(2060), QZ_SYS_NA(2300), QZ_SYS_NA(2325), QZ_SYS_NA(2326),
    QZ_SYS_NA(2327), QZ_SYS_NA(2333), QZ_SYS_NA(2334), QZ_SYS_NA(2335), QZ_SYS_NA(2336), QZ_SYS_NA(2339),
    QZ_SYS_NA(2340), QZ_SYS_NA(2410), QZ_SYS_NA(2450), QZ_SYS_NA(2600), QZ_SYS_NA(2700), QZ_SYS_NA(2800),
    QZ_SYS_NA(2801), QZ_SYS_NA(2910), QZ_SYS_NA(3004), QZ_SYS_NA(3005), QZ_SYS_NA(3006), QZ_SYS_NA(3007),
    QZ_SYS_NA(3008), QZ_SYS_NA(3009), QZ_SYS_NA(3050), QZ_SYS_NA(3051), QZ_SYS_NA(3052), QZ_SYS_NA(3053),
    QZ_SYS_NA(3054), QZ_SYS_NA(3055), QZ_SYS_NA(3056), QZ_SYS_NA(3065), QZ_SYS_NA(3092), QZ_SYS_NA(3095),
    QZ_SYS_NA(3096), QZ_SYS_NA(3097), QZ_SYS_NA(3098), QZ_SYS_NA(3099), QZ_SYS_NA(3101),
    {8999, sys_type_tag},
    {9000, sys_leaf_offset},
    {9999, sys_picture},
    {0, nullptr},
};

#undef QZ_SYS_NA

std::unordered_map<uint64_t, sys_handler_fn> id_map_init() {
  std::unordered_map<uint64_t, sys_handler_fn> map;
  for (const sys_function_st* row = sys_functions; row->handler != nullptr; ++row) map.emplace(row->id, row->handler);
  return map;
}

// Built at load, before any language thread can run.
const std::unordered_map<uint64_t, sys_handler_fn> sys_id_map = id_map_init();

}  // namespace

size_t sys_function_count() {
  QZ_TRACE;
  return sys_id_map.size();
}

void sys_dispatch(int id, VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  auto it = sys_id_map.find(static_cast<uint64_t>(static_cast<int64_t>(id)));
  if (it == sys_id_map.end()) {
    result->set_string(String(static_cast<size_t>(0), Charset::ascii));
    return;
  }
  it->second(stack, argc, result);
}

void bi_sys(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  sys_dispatch(int32_argument(stack, 1), stack, argc, result);
}

}  // namespace qzbase
