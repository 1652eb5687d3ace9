// set_functions.cpp - SET with a logical or a number, SET("name"), and the SET ... TO forms of the
// data session's formats (CENTURY, SECONDS, HOURS, FDOW, POINT, SEPARATOR, DATE).
//
// Every check runs before anything is stored, so a failed SET leaves every setting as it was.
// Faults mended (each tested):
// - SET DECIMALS TO took any 32-bit count: 400 made every number with free decimals ask a fixed
//   buffer for 400 digits, and a negative count meant nothing. Outside 0 .. 18 it raises 11.
// - SET POINT TO and SET SEPARATOR TO decoded the first character of an empty text past its end.
//   An empty text raises 11.
#include "builtins/set_functions.h"

#include <unicode/uchar.h>

#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "builtins/arguments.h"
#include "frontend/keyword_map.h"
#include "frontend/scanner.h"
#include "tables/data_session.h"
#include "values/session_settings.h"
#include "vm/debugger.h"
#include "vm/execute.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// The bits of SET's option group, in clause order.
enum SetOption : int64_t {
  SET_STEP = 1,
  SET_EXACT = 2,
  SET_EXCLUSIVE = 4,
  SET_DELETED = 8,
  SET_SPACE = 16,
  SET_DECIMALS = 32,
  SET_BLOCKSIZE = 64,
  SET_ASSERTS = 128,
  SET_NEAR = 256,
};

// Digits a number with free decimals may show; the formatters' buffers are sized for this.
constexpr int64_t kMaxDecimals = 18;

Runtime* runtime_of(VmStack* stack) {
  Runtime* runtime = stack->get_runtime();
  QZ_ASSERT(runtime != nullptr);
  return runtime;
}

// The settings SET changes: the current data session's (a stack always has one).
SessionSettings& session_of(VmStack* stack) {
  QZ_ASSERT(stack->session_settings != nullptr);
  return *stack->session_settings;
}

// Through a const Variant: the non-const array conversion would otherwise win over bool.
bool logical_argument(VmStack* stack, size_t n) {
  const Variant* v = argument_value(stack, n);
  return static_cast<bool>(*v);
}

void set_ascii(Variant* result, const char* text) {
  result->set_string(String(text, std::strlen(text), Charset::ascii));
}

void set_on_off(Variant* result, bool on) { set_ascii(result, on ? "ON" : "OFF"); }

// A code point as UTF-8 bytes (at most 4).
std::string utf8_of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The entries joined by ";" in the runtime's character set.
void set_joined(Variant* result, Runtime* runtime, const std::vector<String>& entries) {
  std::string joined;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) joined += ';';
    joined += entries[i].u8str();
  }
  String text(joined.data(), joined.size(), Charset::utf8);
  if (runtime->codepage != nullptr && runtime->codepage != Charset::utf8) text.convert(runtime->codepage, 0, 0);
  result->set_string(text);
}

// --- SET() readers ----------------------------------------------------------------------------

using set_reader_fn = void (*)(VmStack* stack, size_t argc, Variant* result, uint64_t id);

struct set_reader_st {
  uint64_t id;
  set_reader_fn reader;
};

const char* const kDateNames[] = {"AMERICAN", "ANSI", "BRITISH", "DMY",   "FRENCH", "GERMAN", "ITALIAN",
                                  "JAPAN",    "LONG", "MDY",     "SHORT", "TAIWAN", "USA",    "YMD"};

void read_asserts(VmStack* stack, size_t, Variant* result, uint64_t) {
  set_on_off(result, runtime_of(stack)->asserts.load(std::memory_order_relaxed));
}
void read_blocksize(VmStack* stack, size_t, Variant* result, uint64_t) {
  result->set_integer(static_cast<long>(current_settings(stack).blocksize));
}
void read_century(VmStack* stack, size_t, Variant* result, uint64_t) {
  set_on_off(result, current_settings(stack).century);
}
void read_datasession(VmStack* stack, size_t, Variant* result, uint64_t) {
  const DataSession_Object* session = stack->current_data_session;
  result->set_integer(static_cast<long>(session != nullptr ? session->session_id : 1));
}
void read_date(VmStack* stack, size_t, Variant* result, uint64_t) {
  const uint32_t code = current_settings(stack).date_format;
  if (code >= std::size(kDateNames)) throw RuntimeError(1001, String("date region to string const"));
  set_ascii(result, kDateNames[code]);
}
void read_decimals(VmStack* stack, size_t, Variant* result, uint64_t) {
  result->set_integer(static_cast<long>(current_settings(stack).decimals));
}
void read_deleted(VmStack* stack, size_t, Variant* result, uint64_t) {
  set_on_off(result, current_settings(stack).deleted);
}
void read_exact(VmStack* stack, size_t, Variant* result, uint64_t) { set_on_off(result, current_settings(stack).exact); }
void read_exclusive(VmStack* stack, size_t, Variant* result, uint64_t) {
  set_on_off(result, current_settings(stack).exclusive);
}
void read_fdow(VmStack* stack, size_t, Variant* result, uint64_t) {
  result->set_integer(static_cast<long>(runtime_of(stack)->fdow.load(std::memory_order_relaxed)));
}
void read_hours(VmStack* stack, size_t, Variant* result, uint64_t) {
  result->set_integer(static_cast<long>(current_settings(stack).hours));
}
void read_near(VmStack* stack, size_t, Variant* result, uint64_t) { set_on_off(result, current_settings(stack).near); }
void read_path(VmStack* stack, size_t, Variant* result, uint64_t) {
  Runtime* runtime = runtime_of(stack);
  set_joined(result, runtime, runtime->path_entries());
}
void read_procedure(VmStack* stack, size_t, Variant* result, uint64_t) {
  Runtime* runtime = runtime_of(stack);
  set_joined(result, runtime, runtime->procedure_entries());
}
void read_library(VmStack* stack, size_t, Variant* result, uint64_t) {
  Runtime* runtime = runtime_of(stack);
  set_joined(result, runtime, runtime->library_entries());
}
void read_point(VmStack* stack, size_t, Variant* result, uint64_t) {
  const SessionSettings& s = current_settings(stack);
  result->set_string(String(s.decimal_point, std::strlen(s.decimal_point), s.point_is_ascii ? Charset::ascii : Charset::utf8));
}
void read_seconds(VmStack* stack, size_t, Variant* result, uint64_t) {
  set_on_off(result, current_settings(stack).seconds);
}
void read_separator(VmStack* stack, size_t, Variant* result, uint64_t) {
  const std::string text = utf8_of(current_settings(stack).separator);
  result->set_string(String(text.data(), text.size(), Charset::utf8));
}
void read_space(VmStack* stack, size_t, Variant* result, uint64_t) { set_on_off(result, stack->set_space != 0); }
void read_sysformats(VmStack* stack, size_t, Variant* result, uint64_t) {
  Runtime* runtime = runtime_of(stack);
  runtime->read_locale_values();
  const SessionSettings& s = current_settings(stack);
  const bool same = std::memcmp(s.decimal_point, runtime->sys_point_text, sizeof s.decimal_point) == 0 &&
                    static_cast<uint32_t>(s.decimal_point_code) == runtime->sys_point &&
                    s.point_is_ascii == runtime->sys_point_ascii &&
                    static_cast<uint32_t>(s.separator) == runtime->sys_separator &&
                    s.decimals == runtime->sys_decimals && s.date_format == runtime->sys_date_format &&
                    std::memcmp(s.mark, runtime->sys_mark, sizeof s.mark) == 0 && s.century == runtime->sys_century &&
                    s.hours == runtime->sys_hours && s.seconds == runtime->sys_seconds &&
                    runtime->fdow.load(std::memory_order_relaxed) == runtime->sys_fdow;
  set_on_off(result, same);
}
void read_textmerge(VmStack* stack, size_t, Variant* result, uint64_t) {
  set_on_off(result, stack->textmerge_on != 0);
}

// Keyed by the scanner's keyword ids.
const set_reader_st set_readers[] = {
    {0x114, read_asserts},     // ASSERT
    {0x115, read_asserts},     // ASSERTS
    {0x11D, read_blocksize},   // BLOCKSIZE
    {0x128, read_century},     // CENTURY
    {0x138, read_datasession}, // DATASESSION
    {0x139, read_date},        // DATE
    {0x13B, read_decimals},    // DECIMALS
    {0x13E, read_deleted},     // DELETE
    {0x13F, read_deleted},     // DELETED
    {0x157, read_exact},       // EXACT
    {0x159, read_exclusive},   // EXCLUSIVE
    {0x15E, read_fdow},        // FDOW
    {0x170, read_hours},       // HOURS
    {0x17D, read_library},     // LIBRARY
    {0x18C, read_near},        // NEAR
    {0x1A3, read_path},        // PATH
    {0x1A5, read_point},       // POINT
    {0x1AA, read_procedure},   // PROCEDURE
    {0x1BB, read_seconds},     // SECONDS
    {0x1BE, read_separator},   // SEPARATOR
    {0x1C9, read_space},       // SPACE
    {0x1CB, read_sysformats},  // SYSFORMATS
    {0x1CF, read_textmerge},   // TEXT
    {0x1D0, read_textmerge},   // TEXTMERGE
    {0, nullptr},
};

const std::unordered_map<uint64_t, set_reader_fn>& set_reader_map() {
  static const std::unordered_map<uint64_t, set_reader_fn> map = [] {
    std::unordered_map<uint64_t, set_reader_fn> m;
    for (const set_reader_st* row = set_readers; row->reader != nullptr; ++row) m.emplace(row->id, row->reader);
    return m;
  }();
  return map;
}

// --- SET DATE TO ------------------------------------------------------------------------------

struct date_format_row_st {
  const char32_t* word;
  uint32_t format;
  const char* mark;  // null: the mark stays
  uint64_t hours;    // 0: the hours stay
  uint64_t min_length;
};

const date_format_row_st date_format_rows[] = {
    {U"AMERICAN", DATE_AMERICAN, "/", 12, 4},
    {U"ANSI", DATE_ANSI, ".", 24, 0},
    {U"BRITISH", DATE_BRITISH, "/", 12, 4},
    {U"DMY", DATE_DMY, "/", 12, 0},
    {U"FRENCH", DATE_FRENCH, "/", 24, 4},
    {U"GERMAN", DATE_GERMAN, ".", 24, 4},
    {U"ITALIAN", DATE_ITALIAN, "-", 24, 4},
    {U"JAPAN", DATE_JAPAN, "/", 24, 4},
    {U"MDY", DATE_MDY, "/", 12, 0},
    {U"SHORT", DATE_SHORT, nullptr, 0, 4},
    {U"TAIWAN", DATE_TAIWAN, "/", 24, 4},
    {U"USA", DATE_USA, "-", 12, 0},
    {U"LONG", DATE_LONG, nullptr, 0, 0},
    {U"YMD", DATE_YMD, "/", 12, 0},
    {nullptr, 0, nullptr, 0, 0},
};

const keyword_map<date_format_row_st>& date_format_map() {
  static const keyword_map<date_format_row_st>* map = [] {
    auto* m = new keyword_map<date_format_row_st>;
    keyword_map_init(*m, date_format_rows);
    return m;
  }();
  return *map;
}

// The first character of an argument text; an empty text raises 11.
char32_t first_character(const String& text) {
  if (text.size() == 0) throw RuntimeError(11);
  const char* p = text.read();
  const Charset* cs = text.get_charset() != nullptr ? text.get_charset() : Charset::utf8;
  return cs->next(&p, text.end());
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void void_stackcall_set(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const int64_t option = integer_argument(stack, 1);
  if (option != SET_STEP && argc < 2) throw RuntimeError(11);
  switch (option) {
    case SET_STEP: {
      const ProgramDebugger* debugger = stack->debugger;
      if (debugger == nullptr || !debugger->attached || debugger->writer == nullptr) throw RuntimeError(9001);
      stack->step_request = 1;
      return;
    }
    case SET_EXACT:
      session_of(stack).exact = logical_argument(stack, 2);
      return;
    case SET_EXCLUSIVE:
      session_of(stack).exclusive = logical_argument(stack, 2);
      return;
    case SET_DELETED:
      session_of(stack).deleted = logical_argument(stack, 2);
      return;
    case SET_NEAR:
      session_of(stack).near = logical_argument(stack, 2);
      return;
    case SET_SPACE:
      stack->set_space = logical_argument(stack, 2) ? 1 : 0;
      return;
    case SET_ASSERTS:
      runtime_of(stack)->asserts.store(logical_argument(stack, 2), std::memory_order_relaxed);
      return;
    case SET_DECIMALS: {
      const int64_t n = integer_argument(stack, 2);
      if (n < 0 || n > kMaxDecimals) throw RuntimeError(11);
      session_of(stack).decimals = static_cast<uint32_t>(n);
      return;
    }
    case SET_BLOCKSIZE: {
      const uint64_t n = static_cast<uint64_t>(static_cast<long>(*argument_value(stack, 2)));
      if (n > 32768) throw RuntimeError(10);
      session_of(stack).blocksize = n == 0 ? 1 : n <= 32 ? n * 512 : n;
      return;
    }
    default:
      throw RuntimeError(1001);
  }
}

void bi_set(VmStack* stack, size_t argc, Variant* result) {
  QZ_TRACE;
  const auto& readers = set_reader_map();
  if (argc < 1) throw RuntimeError(11);
  const Variant* name = argument_value(stack, 1);
  if (name->tag != VT_STRING) throw RuntimeError(11);
  const String text = static_cast<String>(*name);
  int id = 0;
  if (!Scanner::is_keyword(text.read(), text.end(), text.get_charset(), &id)) throw RuntimeError(11);
  auto it = readers.find(static_cast<uint64_t>(id));
  if (it == readers.end()) throw RuntimeError(11);
  it->second(stack, argc, result, static_cast<uint64_t>(id));
}

void set_century_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  session_of(stack).century = argc >= 1 && argument_value(stack, 1)->tag == VT_TRUE;
}

void set_seconds_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  session_of(stack).seconds = argc >= 1 && argument_value(stack, 1)->tag == VT_TRUE;
}

void set_hours_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const int64_t n = integer_argument(stack, 1);
  if (n != 12 && n != 24) throw RuntimeError(11);
  session_of(stack).hours = static_cast<uint32_t>(n);
}

void set_fdow_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const int64_t n = integer_argument(stack, 1);
  if (n < 1 || n > 7) throw RuntimeError(11);
  runtime_of(stack)->fdow.store(static_cast<uint32_t>(n), std::memory_order_relaxed);
}

void set_point_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String text = string_argument(stack, 1);
  const char32_t code = first_character(text);
  const Charset* cs = text.get_charset() != nullptr ? text.get_charset() : Charset::utf8;
  // At most 3 bytes: ASCII when the whole text is, else UTF-8; neither fitting refuses the text.
  char buffer[4] = {0, 0, 0, 0};
  bool ascii = true;
  if (cs->convert(text.read(), text.end(), buffer, buffer + 3, Charset::ascii, 1) != 0) {
    std::memset(buffer, 0, sizeof buffer);
    ascii = false;
    if (cs->convert(text.read(), text.end(), buffer, buffer + 3, Charset::utf8, 1) != 0) throw RuntimeError(11);
  }
  SessionSettings& s = session_of(stack);
  std::memset(s.decimal_point, 0, sizeof s.decimal_point);
  std::memcpy(s.decimal_point, buffer, 3);
  s.decimal_point_code = code;
  s.point_is_ascii = ascii;
}

void set_separator_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const char32_t code = first_character(string_argument(stack, 1));
  if (u_isdigit(static_cast<UChar32>(code))) throw RuntimeError(11);
  session_of(stack).separator = code;
}

void set_date_to(VmStack* stack, size_t argc) {
  QZ_TRACE;
  if (argc < 1) throw RuntimeError(11);
  const String name = string_argument(stack, 1);
  const date_format_row_st* row = date_format_map().find(name.read(), name.end(), name.get_charset());
  if (row == nullptr) throw RuntimeError(11);
  SessionSettings& s = session_of(stack);
  s.date_format = row->format;
  if (row->mark != nullptr) {
    std::memset(s.mark, 0, sizeof s.mark);
    std::strncpy(s.mark, row->mark, sizeof s.mark - 1);
  }
  if (row->hours != 0) s.hours = static_cast<uint32_t>(row->hours);
}

}  // namespace qzbase
