// library.h - a registered library: the built-in one or a plug-in shared object.
//
// The compiler and the VM resolve calls through these tables; the libraries themselves are built
// and loaded above them (builtins/library.cpp, host/runtime_libraries.cpp).
//
// A Library keeps the rows of one module_description_st in maps keyed without regard to case:
// functions (with their abbreviations), commands, result-width deducers, system-variable readers
// and writers, and the native classes by the symbol id of their names. It is filled once by
// load_definitions and only read afterwards, so lookups take no lock.
#pragma once

#include <qzbase.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vm/signatures.h"

namespace qzbase {

using describe_function_type = void (*)(module_description_st* out);

// One registered function (or system-variable reader) with its parsed signatures.
struct library_func_def_st {
  String name;
  function_signature_st signature;
  native_function_type function = nullptr;
  function_signature_st result;
  uint64_t abbreviation = 0;
};

// One registered command (or system-variable writer).
struct library_command_def_st {
  String name;
  function_signature_st signature;
  native_command_type function = nullptr;
};

// A shared object that may describe a library.
class LibraryFile {
 public:
  explicit LibraryFile(std::filesystem::path path) : path_(std::move(path)) {}
  virtual describe_function_type get_describe_function();  // base: null
  virtual ~LibraryFile();
  LibraryFile(const LibraryFile&) = delete;
  LibraryFile& operator=(const LibraryFile&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Opens the shared object; null when it cannot be opened or its location cannot be told. Never
  // throws for a file-system problem.
  static LibraryFile* openLibrary(const std::filesystem::path& path);

 protected:
  std::filesystem::path path_;
};

class LinuxLibraryFile : public LibraryFile {
 public:
  LinuxLibraryFile(std::filesystem::path path, void* handle) : LibraryFile(std::move(path)), handle_(handle) {}
  ~LinuxLibraryFile() override;  // dlclose
  describe_function_type get_describe_function() override;  // dlsym "qz1_describe_module"

 private:
  void* handle_;
};

class Library {
 public:
  explicit Library(const module_description_st& description);
  // Takes the file and lets it describe the library (its describe function must exist).
  explicit Library(LibraryFile* file);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Registers every row, then calls the attach hook. A name or abbreviation that is already
  // taken is a broken invariant for the built-in library; for a plug-in (and for any other flaw
  // of a plug-in's tables) it is RuntimeError 1001 with the library's file name, and nothing is
  // attached.
  void load_definitions(Runtime* runtime);
  // Calls the detach hook when there is one.
  void detach(Runtime* runtime);

  // A function by its full name or by an abbreviation (case-insensitive); null when none.
  const library_func_def_st* find_function(std::string_view name) const;
  const library_func_def_st* find_function(const String& name) const;
  const library_command_def_st* find_command(const String& name) const;
  width_deducer_type find_width_deducer(const String& name) const;
  const library_func_def_st* find_sysvar_reader(const String& name) const;
  const library_command_def_st* find_sysvar_writer(const String& name) const;
  Class* find_class(symbol_id_type symbol) const;

  size_t function_count() const { return functions_.size(); }
  size_t abbreviation_count() const { return abbreviations_.size(); }
  size_t command_count() const { return commands_.size(); }
  size_t width_deducer_count() const { return width_deducers_.size(); }
  size_t sysvar_count() const { return sysvar_readers_.size(); }
  size_t class_count() const { return classes_.size(); }

  const module_description_st& description() const { return description_; }
  LibraryFile* file() const { return file_; }

 private:
  // Keys are the ASCII names folded to lower case: every row name is ASCII.
  std::map<std::string, library_func_def_st> functions_;
  std::map<std::string, width_deducer_type> width_deducers_;
  std::unordered_map<std::string, const library_func_def_st*> abbreviations_;
  std::map<std::string, library_command_def_st> commands_;
  std::map<std::string, library_func_def_st> sysvar_readers_;
  std::map<std::string, library_command_def_st> sysvar_writers_;
  std::unordered_map<symbol_id_type, Class*> classes_;  // owned
  LibraryFile* file_ = nullptr;                          // owned; null for the built-in library
  module_description_st description_{};

  void register_rows(Runtime* runtime);
  [[noreturn]] void table_fault() const;
};

}  // namespace qzbase
