// host_data.cpp - what the host hands the Runtime: arguments, environment, module file name, code
// page; the locale reads of init; AllocArgsW/FreeArgsW, SetRuntimeAsserts, field_type_name
//.
//
// Faults mended and choices made (each tested):
// - set_codepage_by_id / set_codepage_by_name overwrote codepage with null for an unknown code
//   page: codepage is left unchanged and the result is false.
// - A pass_environment entry without "=" is skipped.
// - pass_arguments called twice frees the first copy (the new copy is complete before the old
//   one is freed).
// - The stack-id counter is atomic (RuntimeVmState).
// - The environment copy has a reader-writer lock: language threads may run SETENV while another
//   starts a child process, which reads the whole copy.
// - Wide environment entries are stored as UTF-8 Strings, like the narrow ones.
#include <unicode/ucal.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>

#include "host/runtime.h"
#include "values/charset_registry.h"

namespace qzbase {

namespace {

// A separately allocated NUL-terminated copy of n bytes.
char* copy_bytes(const char* bytes, size_t n) {
  char* copy = new char[n + 1];
  if (n) std::memcpy(copy, bytes, n);
  copy[n] = 0;
  return copy;
}

// The UTF-8 bytes of a wide text (decoded as String(const wchar_t*) decodes).
String wide_to_utf8(const wchar_t* text) {
  String s(text);
  s.convert(Charset::utf8, CON_NONE, 0);
  return s;
}

String wide_to_utf8(const wchar_t* text, size_t n) {
  std::wstring part(text, n);
  return wide_to_utf8(part.c_str());
}

void free_argument_copies(char** argv, int32_t argc) {
  if (argv == nullptr) return;
  for (int32_t i = 0; i < argc; ++i) delete[] argv[i];
  delete[] argv;
}

// Stores the copies made by make(i) for i in 0 .. argc - 1 and frees the earlier set.
template <typename Make>
void store_arguments(RuntimePrivate* priv, int argc, Make make) {
  if (argc < 0) throw std::bad_array_new_length();
  char** copies = new char*[static_cast<size_t>(argc) == 0 ? 1 : static_cast<size_t>(argc)];
  int made = 0;
  try {
    for (; made < argc; ++made) copies[made] = make(made);
  } catch (...) {
    free_argument_copies(copies, made);
    throw;
  }
  free_argument_copies(priv->argv, priv->argc);
  priv->argv = copies;
  priv->argc = argc;
}

// Decodes the first code point of a UTF-16 symbol.
char32_t first_code_point(const UChar* text, int32_t length) {
  if (length <= 0) return 0;
  int32_t i = 0;
  UChar32 c;
  U16_NEXT(text, i, length, c);
  return static_cast<char32_t>(c);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// init: the locale's values
// ---------------------------------------------------------------------------------------------

void Runtime::init() {
  QZ_TRACE;
  register_builtin_library();
  sys_date_format = DATE_SHORT;
  codepage = get_locale_default_charset();
}

void Runtime::read_locale_values() {
  QZ_TRACE;
  if (priv->locale_values_read.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(priv->locale_values_lock);
  if (priv->locale_values_read.load(std::memory_order_relaxed)) return;
  const char* locale = uloc_getDefault();
  // Separate status values: a calendar that cannot be opened does not keep the separators from
  // being read (with one shared status such a failure would keep their defaults).
  UErrorCode status = U_ZERO_ERROR;
  UCalendar* calendar = ucal_open(nullptr, 0, locale, UCAL_DEFAULT, &status);
  if (U_SUCCESS(status) && calendar != nullptr) {
    int32_t first = ucal_getAttribute(calendar, UCAL_FIRST_DAY_OF_WEEK);
    if (first >= 1 && first <= 7) sys_fdow = static_cast<uint32_t>(first);
  }
  if (calendar != nullptr) ucal_close(calendar);

  status = U_ZERO_ERROR;
  UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, locale, nullptr, &status);
  if (U_SUCCESS(status) && format != nullptr) {
    UChar symbol[10];
    UErrorCode s = U_ZERO_ERROR;
    int32_t length = unum_getSymbol(format, UNUM_DECIMAL_SEPARATOR_SYMBOL, symbol, 10, &s);
    if (U_SUCCESS(s) && length > 0) {
      char32_t point = first_code_point(symbol, length > 10 ? 10 : length);
      sys_point = static_cast<uint32_t>(point);
      char text[5] = {0, 0, 0, 0, 0};
      if (point < 0x80) {
        text[0] = static_cast<char>(point);
        sys_point_ascii = true;
      } else {
        int32_t n = 0;
        UBool error = false;
        U8_APPEND(reinterpret_cast<uint8_t*>(text), n, 4, static_cast<UChar32>(point), error);
        if (error) n = 0;
        text[n] = 0;
        sys_point_ascii = false;
      }
      std::memcpy(sys_point_text, text, sizeof text);
    }
    s = U_ZERO_ERROR;
    length = unum_getSymbol(format, UNUM_GROUPING_SEPARATOR_SYMBOL, symbol, 10, &s);
    if (U_SUCCESS(s) && length > 0) {
      sys_separator = static_cast<uint32_t>(first_code_point(symbol, length > 10 ? 10 : length));
    }
  }
  if (format != nullptr) unum_close(format);
  priv->locale_values_read.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------------------------

void Runtime::pass_arguments(int argc, const char* const* argv) {
  QZ_TRACE;
  store_arguments(priv, argc, [argv](int i) { return copy_bytes(argv[i], std::strlen(argv[i])); });
}

void Runtime::pass_arguments(int argc, const wchar_t* const* argv) {
  QZ_TRACE;
  store_arguments(priv, argc, [argv](int i) {
    String s = wide_to_utf8(argv[i]);
    return copy_bytes(s.read(), s.size());
  });
}

int Runtime::argument_count() const {
  QZ_TRACE;
  return priv->argc;
}

const char* Runtime::argument(int index) const {
  QZ_TRACE;
  if (index < 0 || index >= priv->argc) return nullptr;
  return priv->argv[index];
}

int AllocArgsW(const wchar_t* const* argv, int argc, char*** out) {
  QZ_TRACE;
  if (argc < 0) throw std::bad_array_new_length();
  char** block = new char*[static_cast<size_t>(argc) + 1];
  int made = 0;
  try {
    for (; made < argc; ++made) {
      String s = wide_to_utf8(argv[made]);
      block[made] = copy_bytes(s.read(), s.size());
    }
  } catch (...) {
    free_argument_copies(block, made);
    throw;
  }
  block[argc] = nullptr;
  *out = block;
  return 0;
}

int FreeArgsW(char** block) {
  QZ_TRACE;
  if (block == nullptr) return 0;
  for (char** p = block; *p != nullptr; ++p) delete[] *p;
  delete[] block;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Environment
// ---------------------------------------------------------------------------------------------

void Runtime::pass_environment(const char* const* envp) {
  QZ_TRACE;
  std::map<String, String, string_machine_less> fresh;
  for (const char* const* p = envp; p != nullptr && *p != nullptr; ++p) {
    const char* entry = *p;
    const char* equals = std::strchr(entry, '=');
    if (equals == nullptr) continue;  // no "=": not an entry
    String name(entry, static_cast<size_t>(equals - entry), Charset::utf8);
    String value(equals + 1, std::strlen(equals + 1), Charset::utf8);
    fresh.emplace(std::move(name), std::move(value));  // the first entry of a name wins
  }
  std::unique_lock<std::shared_mutex> lock(priv->environment_lock);
  priv->environment.swap(fresh);
}

void Runtime::pass_environment(const wchar_t* const* envp) {
  QZ_TRACE;
  std::map<String, String, string_machine_less> fresh;
  for (const wchar_t* const* p = envp; p != nullptr && *p != nullptr; ++p) {
    const wchar_t* entry = *p;
    const wchar_t* equals = std::wcschr(entry, L'=');
    if (equals == nullptr) continue;
    fresh.emplace(wide_to_utf8(entry, static_cast<size_t>(equals - entry)), wide_to_utf8(equals + 1));
  }
  std::unique_lock<std::shared_mutex> lock(priv->environment_lock);
  priv->environment.swap(fresh);
}

bool Runtime::getenv(const String& name, String* value) const {
  QZ_TRACE;
  std::shared_lock<std::shared_mutex> lock(priv->environment_lock);
  auto it = priv->environment.find(name);
  if (it == priv->environment.end()) return false;
  if (value) *value = it->second;
  return true;
}

void Runtime::setenv(const String& name, const String& value) {
  QZ_TRACE;
  std::unique_lock<std::shared_mutex> lock(priv->environment_lock);
  priv->environment.insert_or_assign(name, value);
}

bool Runtime::unsetenv(const String& name) {
  QZ_TRACE;
  std::unique_lock<std::shared_mutex> lock(priv->environment_lock);
  return priv->environment.erase(name) != 0;
}

std::list<std::pair<String, String>> Runtime::environment() const {
  QZ_TRACE;
  std::list<std::pair<String, String>> entries;
  std::shared_lock<std::shared_mutex> lock(priv->environment_lock);
  for (const auto& [name, value] : priv->environment) entries.emplace_back(name, value);
  return entries;
}

bool Runtime::create_home_dir(String& out) const {
  QZ_TRACE;
  String home;
  if (!getenv(String("HOME"), &home) || home.size() == 0) return false;
  out = home;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Module file name, code page, stack ids, asserts
// ---------------------------------------------------------------------------------------------

void Runtime::set_module_file_name(const char* name) {
  QZ_TRACE;
  priv->module_file_name = std::filesystem::path(String(name));
}

void Runtime::set_module_file_name(const wchar_t* name) {
  QZ_TRACE;
  priv->module_file_name = std::filesystem::path(String(name));
}

std::filesystem::path Runtime::module_file_name() const {
  QZ_TRACE;
  return priv->module_file_name;
}

bool Runtime::set_codepage_by_id(int codepage_id) {
  QZ_TRACE;
  const Charset* cs = get_charset_by_codepage(codepage_id, false);
  if (cs == nullptr) return false;
  codepage = cs;
  return true;
}

bool Runtime::set_codepage_by_name(const char* name) {
  QZ_TRACE;
  if (name == nullptr) return false;
  const Charset* cs = get_charset_by_name(name);
  if (cs == nullptr) return false;
  codepage = cs;
  return true;
}

uint64_t Runtime::create_stack_id() {
  QZ_TRACE;
  return priv->vm.create_stack_id();
}

void SetRuntimeAsserts(Runtime* runtime, bool value) {
  QZ_TRACE;
  if (runtime) runtime->asserts = value;
}

const char* field_type_name(uint8_t code) {
  QZ_TRACE;
  static const char* const names[] = {"?",         "Blob",    "Char",    "Integer", "Currency",
                                      "Date",      "Datetime", "Double", "General", "Logical",
                                      "Memo",      "Numeric", "Float",   "Varbinary", "Varchar"};
  return code < sizeof names / sizeof names[0] ? names[code] : "?";
}

}  // namespace qzbase
