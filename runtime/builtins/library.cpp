// library.cpp - Library registration, plug-in files, GetClass and CreateObject.
#include "builtins/library.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "platform/screen.h"
#include "objects/class.h"
#include "objects/class_registry.h"
#include "objects/object.h"
#include "vm/calls.h"
#include "vm/runtime_vm.h"
#include "vm/vm_stack.h"

namespace qzbase {

namespace {

// Row names are ASCII: folding them byte by byte is the case-insensitive comparison.
std::string fold(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

std::string fold(const char* name) { return fold(std::string_view(name)); }
std::string fold(const String& name) { return fold(std::string_view(name.u8str())); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// LibraryFile
// ---------------------------------------------------------------------------------------------

describe_function_type LibraryFile::get_describe_function() {
  QZ_TRACE;
  return nullptr;
}

LibraryFile::~LibraryFile() = default;

LinuxLibraryFile::~LinuxLibraryFile() {
  QZ_TRACE;
  if (handle_ != nullptr) dlclose(handle_);
}

describe_function_type LinuxLibraryFile::get_describe_function() {
  QZ_TRACE;
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<describe_function_type>(dlsym(handle_, "qz1_describe_module"));
}

LibraryFile* LibraryFile::openLibrary(const std::filesystem::path& path) {
  QZ_TRACE;
  void* handle = dlopen(path.c_str(), RTLD_LAZY);
  if (handle == nullptr) return nullptr;
  std::error_code ec;
  std::filesystem::path where;
  if (path.is_absolute()) {
    where = std::filesystem::canonical(path, ec);
  } else {
    // The loader tells where it found the object; its directory joins the file name only (the
    // given directory part, if any, is already inside the origin).
    char origin[PATH_MAX + 1] = {};
    if (dlinfo(handle, RTLD_DI_ORIGIN, origin) == 0) {
      where = std::filesystem::canonical(std::filesystem::path(origin) / path.filename(), ec);
    } else {
      ec = std::make_error_code(std::errc::no_such_file_or_directory);
    }
  }
  if (ec) {
    dlclose(handle);
    return nullptr;
  }
  try {
    return new LinuxLibraryFile(std::move(where), handle);
  } catch (...) {
    dlclose(handle);
    throw;
  }
}

// ---------------------------------------------------------------------------------------------
// Library
// ---------------------------------------------------------------------------------------------

Library::Library(const module_description_st& description) : description_(description) { QZ_TRACE; }

Library::Library(LibraryFile* file) : file_(file) {
  QZ_TRACE;
  describe_function_type describe = file->get_describe_function();
  if (describe == nullptr) throw_assert_failed();
  describe(&description_);
}

Library::~Library() {
  QZ_TRACE;
  for (auto& entry : classes_) delete entry.second;
  delete file_;
}

void Library::table_fault() const {
  QZ_TRACE;
  if (file_ == nullptr) throw_assert_failed();
  throw RuntimeError(1001, String(file_->path().filename()));
}

void Library::register_rows(Runtime* runtime) {
  QZ_TRACE;
  if (description_.functions != nullptr) {
    for (const module_function_st* row = description_.functions; row->name != nullptr; ++row) {
      std::string key = fold(row->name);
      auto [it, inserted] = functions_.try_emplace(key);
      if (!inserted) table_fault();
      library_func_def_st& def = it->second;
      def.name = String::fromBytes(row->name, std::strlen(row->name), Charset::ascii);
      parse_function_signature(row->signature != nullptr ? row->signature : "", &def.signature);
      parse_function_signature(row->result != nullptr ? row->result : "", &def.result);
      def.function = row->function;
      def.abbreviation = row->abbreviation;
      if (!abbreviations_.emplace(key, &def).second) table_fault();
      if (row->abbreviation != 0) {
        for (size_t n = row->abbreviation; n < key.size(); ++n) {
          if (!abbreviations_.emplace(key.substr(0, n), &def).second) table_fault();
        }
      }
    }
  }
  if (description_.result_widths != nullptr) {
    for (const module_result_width_st* row = description_.result_widths; row->name != nullptr; ++row) {
      width_deducers_.emplace(fold(row->name), row->deducer);  // an existing name keeps its row
    }
  }
  if (description_.commands != nullptr) {
    for (const module_command_st* row = description_.commands; row->name != nullptr; ++row) {
      auto [it, inserted] = commands_.try_emplace(fold(row->name));
      if (!inserted) table_fault();
      it->second.name = String::fromBytes(row->name, std::strlen(row->name), Charset::ascii);
      parse_function_signature(row->signature != nullptr ? row->signature : "", &it->second.signature);
      it->second.function = row->function;
    }
  }
  if (description_.classes != nullptr) {
    RuntimeVmState* vm = find_runtime_vm(runtime);
    if (vm == nullptr) throw_assert_failed();
    for (const module_class_st* row = description_.classes; row->name != nullptr; ++row) {
      String name = String::fromBytes(row->name, std::strlen(row->name), Charset::ascii);
      Symbol class_name(name, &vm->symtable);
      symbol_id_type symbol = class_name.id;
      auto cls = std::make_unique<Class>(class_name, nullptr);
      if (row->members != nullptr) {
        for (const native_member_def_st* m = row->members; m->name != nullptr; ++m) {
          ClassMember* member = cls->define(String::fromBytes(m->name, std::strlen(m->name), Charset::ascii));
          member->native = true;
          member->kind = MEMBER_PROPERTY;  // every native member, methods included
          member->visibility = static_cast<uint32_t>(m->visibility);
          member->getter = m->getter;
          member->setter = m->setter;
          member->method = m->method;
        }
      }
      cls->factory = row->factory;
      cls->compile(runtime);
      // Two rows of one name: the first one stays.
      if (classes_.emplace(symbol, cls.get()).second) cls.release();
    }
  }
  if (description_.sysvars != nullptr) {
    for (const module_sysvar_st* row = description_.sysvars; row->name != nullptr; ++row) {
      std::string key = fold(row->name);
      String name = String::fromBytes(row->name, std::strlen(row->name), Charset::ascii);
      auto [r, r_new] = sysvar_readers_.try_emplace(key);
      auto [w, w_new] = sysvar_writers_.try_emplace(key);
      if (!r_new || !w_new) table_fault();
      r->second.name = name;
      parse_function_signature(row->read_signature != nullptr ? row->read_signature : "", &r->second.signature);
      parse_function_signature(row->read_result != nullptr ? row->read_result : "", &r->second.result);
      r->second.function = row->reader;
      w->second.name = name;
      parse_function_signature(row->write_signature != nullptr ? row->write_signature : "", &w->second.signature);
      w->second.function = row->writer;
    }
  }
}

void Library::load_definitions(Runtime* runtime) {
  QZ_TRACE;
  if (file_ == nullptr) {
    register_rows(runtime);
  } else {
    // A plug-in's flawed table (a bad signature letter, a clash) is the plug-in's fault, not a
    // broken invariant of the runtime.
    try {
      register_rows(runtime);
    } catch (const assert_failed_exception&) {
      table_fault();
    }
  }
  if (description_.attach != nullptr) description_.attach(runtime);
}

void Library::detach(Runtime* runtime) {
  QZ_TRACE;
  if (description_.detach != nullptr) description_.detach(runtime);
}

const library_func_def_st* Library::find_function(std::string_view name) const {
  QZ_TRACE;
  auto it = abbreviations_.find(fold(name));
  return it == abbreviations_.end() ? nullptr : it->second;
}

const library_func_def_st* Library::find_function(const String& name) const {
  QZ_TRACE;
  return find_function(std::string_view(name.u8str()));
}

const library_command_def_st* Library::find_command(const String& name) const {
  QZ_TRACE;
  auto it = commands_.find(fold(name));
  return it == commands_.end() ? nullptr : &it->second;
}

width_deducer_type Library::find_width_deducer(const String& name) const {
  QZ_TRACE;
  auto it = width_deducers_.find(fold(name));
  return it == width_deducers_.end() ? nullptr : it->second;
}

const library_func_def_st* Library::find_sysvar_reader(const String& name) const {
  QZ_TRACE;
  auto it = sysvar_readers_.find(fold(name));
  return it == sysvar_readers_.end() ? nullptr : &it->second;
}

const library_command_def_st* Library::find_sysvar_writer(const String& name) const {
  QZ_TRACE;
  auto it = sysvar_writers_.find(fold(name));
  return it == sysvar_writers_.end() ? nullptr : &it->second;
}

Class* Library::find_class(symbol_id_type symbol) const {
  QZ_TRACE;
  auto it = classes_.find(symbol);
  return it == classes_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------------------------
// Classes
// ---------------------------------------------------------------------------------------------

Class* GetClass(VmStack* stack, const String* name) {
  QZ_TRACE;
  if (stack == nullptr || name == nullptr) throw_assert_failed();
  Runtime* runtime = stack->get_runtime();
  Library* lib = runtime != nullptr ? runtime->builtin_library() : nullptr;
  Symtable* symtable = stack->get_symtable();
  Class* cls = nullptr;
  if (lib != nullptr && symtable != nullptr) cls = lib->find_class(symtable->symbolize(*name));
  if (cls == nullptr) throw RuntimeError(1733, *name);
  return cls;
}

// The runtime's own objects (data sessions, exception objects) come from here: a class of the
// running module with one of those names must not stand in for them, so only the built-in library
// is searched (getclass is the language's lookup).
ObjectPointer CreateObject(VmStack* stack, const String& class_name, const Variant*, size_t) {
  QZ_TRACE;
  if (stack == nullptr) throw_assert_failed();
  Runtime* runtime = stack->get_runtime();
  Class* cls = nullptr;
  if (runtime != nullptr && runtime->builtin_library() != nullptr) {
    cls = GetClass(stack, &class_name);
  } else {
    // A stack without the built-in library (a bare value stack) still needs its data session.
    cls = find_bare_class(stack, class_name);
    if (cls == nullptr) throw RuntimeError(1733, class_name);
  }
  Object* obj = nullptr;
  cls->create_instance(stack, &obj);
  if (obj == nullptr) throw_assert_failed();
  try {
    return ObjectPointer(obj);
  } catch (...) {
    delete obj;
    throw;
  }
}

}  // namespace qzbase
