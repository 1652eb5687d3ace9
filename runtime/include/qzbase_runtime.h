// qzbase_runtime.h - the library's own view of the Runtime object. Hosts see Runtime through
// qzbase.h as a handle with six exported setters; every part of the library reads and writes the
// whole object, so this definition takes the place of that view in the library's build (through
// qzbase_internal.h) and is never installed.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <filesystem>
#include <list>
#include <utility>
#include <vector>

namespace qzbase {

class Library;
class Module;
class VmStack;
struct RuntimePrivate;
struct date_format_st;  // runtime/values/date_format.h: a cached ICU formatter and its empty picture

// The embedding object: what every thread of execution of one program shares. Built so far:
// the data, the date-format caches, the screen override and the host data (arguments,
// environment copy, code page, the locale reads of init).
class Runtime {
 public:
  explicit Runtime(Screen* screen);
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // The screen the calling thread writes to: the screen installed on this thread by
  // redirect_screen (runtime/host/screen.h) while one is active, else `screen`. Every writer
  // must go through this, not through the field.
  Screen* get_screen() const;

  // The cached formatter and empty picture of a SET DATE combination. The formatter
  // stays owned by the cache; format only through format_date_calendar (values/date_format.h),
  // which holds the entry's lock.
  date_format_st dateFormat(DateTimeFormat style, bool century, const char* mark);
  date_format_st dateTimeFormat(DateTimeFormat style, bool century, const char* mark, int hours, bool seconds,
                                const char* date_time_separator, const char* time_separator);

  // --- Host data (runtime/host/host_data.cpp) ---
  // Registers and attaches the built-in library, then sets sys_date_format = SHORT and codepage =
  // the locale's default charset.
  void init();
  // Reads the locale's values once, on the first call: sys_fdow, sys_point(_text, _ascii) and
  // sys_separator (ICU failures keep the defaults). Opening ICU's calendar and number formats
  // costs a start-up that SET SYSFORMATS alone needs, so its readers call this first.
  void read_locale_values();
  // Keeps argc UTF-8 copies of the arguments (replacing, and freeing, an earlier set). A negative
  // argc throws std::bad_array_new_length.
  QZ_EXPORT void pass_arguments(int argc, const char* const* argv);
  QZ_EXPORT void pass_arguments(int argc, const wchar_t* const* argv);
  int argument_count() const;
  const char* argument(int index) const;  // UTF-8, 0-based; null outside 0 .. argc - 1
  // Replaces the environment copy: each "NAME=value" entry is split at its first "="; the first
  // entry of a name wins; an entry without "=" is skipped; null only empties the copy. The
  // process environment is never read: this copy is the only environment the runtime has.
  QZ_EXPORT void pass_environment(const char* const* envp);
  QZ_EXPORT void pass_environment(const wchar_t* const* envp);
  // Exact, case-sensitive lookup in the copy; value may be null.
  bool getenv(const String& name, String* value) const;
  // Inserts or replaces one entry of the copy (SETENV); child processes receive the copy.
  void setenv(const String& name, const String& value);
  // Removes one entry of the environment copy (UNSETENV); false when it was not there.
  bool unsetenv(const String& name);
  // The copy in name order (UTF-8 name and value pairs), taken under its lock.
  std::list<std::pair<String, String>> environment() const;
  // HOME from the copy: true and out set when present and not empty; nothing is created.
  bool create_home_dir(String& out) const;
  QZ_EXPORT void set_module_file_name(const char* name);
  QZ_EXPORT void set_module_file_name(const wchar_t* name);
  std::filesystem::path module_file_name() const;
  // The plain charset of an xBase code page number / of a charset name or alias. An
  // unknown one leaves codepage unchanged (never null) and returns false.
  bool set_codepage_by_id(int codepage_id);
  bool set_codepage_by_name(const char* name);
  // 1, 2, ... (atomic: stacks may be made on several threads at once).
  uint64_t create_stack_id();
  // --- end of host data ---

  // --- Libraries (runtime/host/runtime_libraries.cpp) ---
  // Waits for the language threads still running, detaches the built-in library, makes the screen
  // non-interactive and frees the main stack. ReleaseRuntime calls it; a second call finds
  // nothing left to do, and the destructor detaches when it was not called.
  void shutdown();
  // The built-in library (null before init).
  Library* builtin_library() const;
  // The plug-in of that name, loaded and attached once per name (case-insensitive); null when no
  // shared object is found or it exports no qz1_describe_module.
  Library* load_library(const std::filesystem::path& name);
  // SET LIBRARY TO name [ADDITIVE]; RuntimeError 1 with the name when it cannot be loaded.
  void set_library_to(VmStack* stack, const String& name, bool additive);
  void set_library_to_null();
  // The SET LIBRARY libraries in list order: each one's file path as a UTF-8 String.
  std::vector<String> library_entries() const;
  // init's first steps: describes, registers and attaches the built-in library.
  void register_builtin_library();
  // Calls the built-in library's detach hook once (shutdown, or the destructor without one).
  void detach_builtin_library();
  // --- end of libraries ---

  // --- Program search (runtime/host/program_search.cpp) ---
  // The file of a program name: the current directory joined with the name, then each SET PATH
  // entry in order (a relative entry is joined to the current directory at the time of the
  // search), each probed with exists_ci (the flags allow a case-insensitive stem / extension).
  // The first match, made canonical, goes to found.
  bool find_file(std::filesystem::path name, std::filesystem::path& found, bool stem_ci, bool extension_ci);
  // The same candidates with exact names; the first that exists as anything goes to found as it
  // is (not canonical).
  bool find_library(std::filesystem::path name, std::filesystem::path& found);
  // SET PATH TO dir [ADDITIVE]: without additive the list is emptied first; dir is kept without a
  // trailing separator and only when no entry equals it. The list is shared by every language
  // thread and guarded by its own lock.
  void set_path_to(String dir, bool additive);
  void set_path_to_null();  // SET PATH TO with nothing
  // The SET PATH entries in list order, as UTF-8 Strings (taken under the list's lock).
  std::vector<String> path_entries() const;
  // --- end of program search ---

  // --- Running (runtime/host/run.cpp, runtime/host/module_cache.cpp) ---
  // Runs the entry procedure of a program file (the main program, else the FUNCTION named like
  // the file) on the main stack, handing argc and argv to it when it declares them. 0, or the
  // number of the RuntimeError that ended it (printed).
  int run_program(const String& name, int argc, const char* const* argv);
  // Compiles and runs one command line on the main stack with the built-in library; build
  // messages and the error are printed and its number returned (the stack is popped back).
  int run_command(String text);
  // The main module of a program file, through the program cache.
  void load_module(const String& name, VmStack* stack, const Module** out);
  // The main stack, made on first use.
  VmStack* get_main_stack();
  // SET PROCEDURE TO file [ADDITIVE] and SET PROCEDURE TO.
  void set_procedure_to(VmStack* stack, String file, bool additive);
  void set_procedure_to_null();
  // The programs of the SET PROCEDURE cache, in the cache's key order.
  std::vector<String> procedure_entries() const;
  // The main module of a program file DO runs, through the DO cache (reloaded when its file
  // changed; a name without extension also finds name.prg). RuntimeError 1 when not found.
  const Module* load_do_module(VmStack* stack, const String& name);
  // --- end of running ---

  // --- Table handles (runtime/host/table_handles.cpp) ---
  // Opens a table shared and read-write and keeps it under its address, which is returned as
  // the handle; the registry is shared by every language thread.
  void* open_table(VmStack* stack, const String& path);
  // Keeps an open table under its address (a table made by CreateTable); returns the handle.
  void* keep_table(ObjectPointer table);
  // Closes the table of a handle and forgets it; an unknown handle does nothing.
  void close_table(void* handle);
  // --- end of table handles ---

  Screen* screen;                 // the host's screen
  const Charset* codepage;        // null until init
  std::atomic<bool> asserts;  // SET ASSERTS: read by every language thread
  char sys_point_text[5];         // "."
  uint32_t sys_point;             // U+002E
  bool sys_point_ascii;           // true
  uint32_t sys_separator;         // U+002C
  uint32_t sys_decimals;          // 2
  DateTimeFormat sys_date_format;  // AMERICAN; init sets SHORT
  char sys_mark[5];               // "/"
  bool sys_century;               // false
  uint32_t sys_hours;             // 12
  bool sys_seconds;               // true
  uint32_t sys_fdow;              // 1 (Sunday)
  std::atomic<uint32_t> fdow;     // 1; SET FDOW: read by every language thread (DOW)
  RuntimePrivate* priv;
};

}  // namespace qzbase
