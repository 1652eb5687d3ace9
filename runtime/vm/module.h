// module.h - one compiled source file: its main program, procedures, classes and imports.
//
// The class map also lists the classes of imported modules (so that calls and parent names find
// them); a class belongs to the module it names as its defining module, and only that module
// links and destroys it. A key already present in the class or procedure map is never replaced.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <list>
#include <unordered_map>

#include "values/string_keys.h"

namespace qzbase {

class Library;
class ModuleDomain;

// A file's last-write time in clock ticks; false when it cannot be read (the file is gone). Loading
// stamps modules with it and the staleness check compares against it, so both use this one.
bool file_time(const String& name, int64_t* out);

class ClassDefinition;
class UserFunction;

class Module {
 public:
  explicit Module(const String& name);
  ~Module();  // deletes the procedures, the classes it defines and the main program
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // A class compiled from this module's source: it becomes the class's defining module. False
  // (nothing changes, the caller keeps the class) when the name is taken.
  bool add_defined_class(symbol_id_type symbol, ClassDefinition* cls);
  // A class of an imported module, listed but not owned; false when the name is taken.
  bool add_imported_class(symbol_id_type symbol, ClassDefinition* cls);
  bool defines(const ClassDefinition* cls) const;
  // False (the caller keeps the function) when the name is taken.
  bool add_procedure(symbol_id_type symbol, UserFunction* function);

  String name;                   // the source file's path
  UserFunction* entry = nullptr;  // the main program or a procedure (not owned); set by the linker
  UserFunction* main = nullptr;   // owned; null when the file has no leading statements
  std::list<Library*> libraries;  // not owned
  std::list<const Module*> imports;  // in import order; not owned
  std::unordered_map<symbol_id_type, ClassDefinition*> classes;
  std::unordered_map<symbol_id_type, UserFunction*> procedures;  // owned
  // The classes this module defines, in definition order (owned). Kept apart from the class map
  // so that neither the linker nor the destructor has to look into a class that an imported
  // module may already have destroyed.
  std::list<ClassDefinition*> own_classes;
  // The source file's last-write time (file clock ticks), taken before it was read; 0 when the
  // module does not come from a source file.
  int64_t source_time = 0;
};

// One loaded program file with every module it imports. Never changed once loaded; owns its
// modules.
class ModuleDomain {
 public:
  ModuleDomain() = default;
  ~ModuleDomain();
  ModuleDomain(const ModuleDomain&) = delete;
  ModuleDomain& operator=(const ModuleDomain&) = delete;

  // True when the program file or any module file of the domain has another last-write time
  // than when it was read, so that an edited import is compiled again too.
  bool is_outdated() const;

  String name;  // the program file's canonical path, UTF-8
  int64_t last_write_time = 0;
  const Module* module = nullptr;
  string_key_map<Module*> modules;
};

}  // namespace qzbase
