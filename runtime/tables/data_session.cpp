// data_session.cpp - DataSession_Object.
#include "tables/data_session.h"

#include <string>

#include "tables/table_object.h"
#include "values/value_text.h"
#include "vm/interpreter.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {

DataSession_Object::DataSession_Object(VmStack* owner, Class* cls)
    : Object(cls), link_(std::make_shared<data_session_link_st>()) {
  QZ_TRACE;
  if (owner == nullptr) throw_assert_failed();
  link_->session.store(this, std::memory_order_release);
  link_->owner.store(owner, std::memory_order_release);
  link_->owner_thread = std::this_thread::get_id();
  session_id = static_cast<int32_t>(owner->next_data_session_id);
  owner->register_data_session(session_id, link_);
  ++owner->next_data_session_id;
}

DataSession_Object::~DataSession_Object() {
  QZ_TRACE;
  leave_owner();
}

void DataSession_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  Object::destroy(stack);
  // The tables go with the stack the session ends on, so that their own end runs there.
  try {
    close_all_on(stack);
  } catch (...) {
    leave_owner_on(stack);
    throw;
  }
  leave_owner_on(stack);
}

void DataSession_Object::close_all() {
  QZ_TRACE;
  close_all_on(nullptr);
}

void DataSession_Object::close_all_on(VmStack* stack) {
  QZ_TRACE;
  current_table = nullptr;
  aliases.clear();
  open_files.clear();
  bool changed = !work_areas.empty();
  // Every table is closed and released; the first error goes on.
  std::exception_ptr first;
  while (!work_areas.empty()) {
    ObjectPointer table = std::move(work_areas.begin()->second);
    work_areas.erase(work_areas.begin());
    try {
      if (Table_Object* t = table_of(table)) t->close(true);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    try {
      table.release(stack);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (changed) vm_tables_changed();
  if (first) std::rethrow_exception(first);
}

Table_Object* DataSession_Object::table_of(const ObjectPointer& p) {
  if (p.empty()) return nullptr;
  return dynamic_cast<Table_Object*>(p.get());
}

// ---- areas and aliases ----

bool DataSession_Object::resolve(const String& name, Symtable* symtable, int32_t* area) const {
  QZ_TRACE;
  if (symtable == nullptr) return false;
  symbol_id_type symbol = 0;
  // A name the symbol table has never seen cannot be an alias.
  if (!symtable->find(name, &symbol)) return false;
  auto it = aliases.find(symbol);
  if (it == aliases.end()) return false;
  *area = it->second;
  return true;
}

bool DataSession_Object::resolve(VmStack* stack, const Variant* value, int32_t* area) const {
  QZ_TRACE;
  const Variant* v = value->tag == VT_REFERENCE ? value->reference.target : value;
  if (v->tag == VT_STRING) return resolve(v->string, stack->symtable, area);
  if (v->tag == VT_INTEGER) {
    *area = static_cast<int32_t>(v->integer.value);
    return true;
  }
  *area = static_cast<int32_t>(variant_to_integer(*v).value);
  return true;
}

int32_t DataSession_Object::select(VmStack* stack, const Variant* value) const {
  QZ_TRACE;
  int32_t area = 0;
  if (!resolve(stack, value, &area)) {
    const Variant* v = value->tag == VT_REFERENCE ? value->reference.target : value;
    throw RuntimeError(13, v->string);
  }
  if (area == 0) return first_free_area();
  if (area < 1 || area > max_area) throw RuntimeError(17);
  return area;
}

int32_t DataSession_Object::select(int32_t area) {
  QZ_TRACE;
  if (area == 0) {
    current_table = nullptr;
    current_area = first_free_area();
    vm_tables_changed();
    return current_area;
  }
  if (area != current_area) {
    current_area = area;
    auto it = work_areas.find(area);
    current_table = it != work_areas.end() ? table_of(it->second) : nullptr;
    vm_tables_changed();
  }
  return current_area;
}

Table_Object* DataSession_Object::select_file(VmStack* stack, const Variant* value) const {
  QZ_TRACE;
  int32_t area = select(stack, value);
  auto it = work_areas.find(area);
  Table_Object* table = it != work_areas.end() ? table_of(it->second) : nullptr;
  if (table == nullptr) throw RuntimeError(13);
  return table;
}

bool DataSession_Object::used(int32_t area) const {
  QZ_TRACE;
  if (area < 1 || area > max_area) throw RuntimeError(17);
  return work_areas.count(area) != 0;
}

int32_t DataSession_Object::first_free_area() const {
  QZ_TRACE;
  // The map is ordered: the first gap in the run of numbers from 1 is the lowest free area.
  int32_t expected = 1;
  for (const auto& [area, table] : work_areas) {
    if (area > expected) break;
    if (area == expected) ++expected;
  }
  return expected <= max_area ? expected : 0;
}

int32_t DataSession_Object::last_free_area() const {
  QZ_TRACE;
  int32_t expected = max_area;
  for (auto it = work_areas.rbegin(); it != work_areas.rend(); ++it) {
    if (it->first < expected) break;
    if (it->first == expected) --expected;
  }
  return expected;
}

int32_t DataSession_Object::area_for_open(int32_t area) const {
  QZ_TRACE;
  if (area == 0) area = first_free_area();
  if (area < 1 || area > max_area) throw RuntimeError(17);
  return area;
}

int32_t DataSession_Object::open_count(const String& filename) const {
  QZ_TRACE;
  auto it = open_files.find(filename.u8str());
  return it != open_files.end() ? it->second : 0;
}

// ---- entering and closing tables ----

void DataSession_Object::assign(ObjectPointer table, Symtable* symtable, const String& alias, int32_t area,
                                bool again) {
  QZ_TRACE;
  Table_Object* t = table_of(table);
  if (t == nullptr) throw_assert_failed();
  try {
    Symbol symbol(alias, symtable);
    if (area < 1 || area > max_area) throw RuntimeError(17);
    if (work_areas.count(area) != 0) throw_assert_failed();  // callers close the area first
    if (aliases.count(symbol.id) != 0) throw RuntimeError(24);
    std::string file = t->filename().u8str();
    auto f = open_files.find(file);
    if (f != open_files.end() && !again) throw RuntimeError(3);
    // Nothing below throws but allocation; the maps change together or not at all.
    auto w = work_areas.emplace(area, ObjectPointer()).first;
    try {
      aliases.emplace(symbol.id, area);
      if (f != open_files.end()) {
        ++f->second;
      } else {
        open_files.emplace(std::move(file), 1);
      }
    } catch (...) {
      aliases.erase(symbol.id);
      work_areas.erase(w);
      throw;
    }
    t->alias = std::move(symbol);
    w->second = std::move(table);
    if (area == current_area) current_table = t;
    vm_tables_changed();
  } catch (...) {
    if (!table.empty()) {
      try {
        t->close(true);
      } catch (...) {
      }
    }
    throw;
  }
}

void DataSession_Object::close(int32_t area) {
  QZ_TRACE;
  auto w = work_areas.find(area);
  if (w == work_areas.end()) return;
  ObjectPointer table = std::move(w->second);
  work_areas.erase(w);
  Table_Object* t = table_of(table);
  if (t != nullptr) {
    auto f = open_files.find(t->filename().u8str());
    if (f != open_files.end()) {
      if (f->second < 2) {
        open_files.erase(f);
      } else {
        --f->second;
      }
    }
    auto a = aliases.find(t->alias.id);
    if (a != aliases.end() && a->second == area) aliases.erase(a);
  }
  if (area == current_area) current_table = nullptr;
  vm_tables_changed();
  if (t != nullptr) t->close(false);
}

void DataSession_Object::create(VmStack* stack, String path, const createopts_st* options, fielddef_st* fields,
                                size_t count) {
  QZ_TRACE;
  createopts_st opts = *options;
  if (opts.blocksize == 0) opts.blocksize = settings.blocksize;
  // The alias is the file name without directory and extension.
  std::string p = path.u8str();
  size_t slash = p.find_last_of('/');
  std::string stem = slash == std::string::npos ? p : p.substr(slash + 1);
  size_t dot = stem.find_last_of('.');
  if (dot != std::string::npos && dot != 0) stem.resize(dot);
  String alias(stem.data(), stem.size(), Charset::utf8);
  int32_t open_area = 0;
  const bool alias_open = resolve(alias, stack->symtable, &open_area);
  // With every area in use there is nowhere to put the table: refuse before the file is made.
  if (!alias_open && first_free_area() == 0) throw RuntimeError(17);

  ObjectPointer table = Table_Object::create(stack, path, &opts, fields, count);
  Table_Object* t = table_of(table);
  if (t == nullptr) throw_assert_failed();
  try {
    if (alias_open) close(open_area);
  } catch (...) {
    try {
      t->close(true);
    } catch (...) {
    }
    throw;
  }
  int32_t area = select(0);
  assign(table, stack->symtable, alias, area, false);  // closes the table when it fails
  t->movefirst(stack);
}

void DataSession_Object::leave_owner() {
  QZ_TRACE;
  leave_owner_on(nullptr);
}

void DataSession_Object::leave_owner_on(VmStack* stack) {
  QZ_TRACE;
  if (link_->session.exchange(nullptr, std::memory_order_acq_rel) == nullptr) return;  // left already
  VmStack* owner = link_->owner.load(std::memory_order_acquire);
  if (owner == nullptr) return;
  // Another stack is another thread: the owner's registry and current session are not ours to
  // touch; the owner skips the dead entry.
  if (stack != nullptr ? stack != owner : std::this_thread::get_id() != link_->owner_thread) return;
  owner->unregister_data_session(session_id, link_.get());
  if (owner->current_data_session == this) {
    DataSession_Object* fallback = owner->get_default_data_session();
    owner->set_current_data_session(fallback == this ? nullptr : fallback);
  }
}

Object* new_datasession(VmStack* stack, Class* cls) {
  QZ_TRACE;
  return new DataSession_Object(stack, cls);
}

namespace {

// What the stack and the interpreter reach of a session (vm/data_session_state.h).
DataSessionState* state_of_session(DataSession_Object* session) { return session; }
DataSession_Object* session_of_object(Object* object) { return static_cast<DataSession_Object*>(object); }

[[maybe_unused]] const bool data_session_hooks_installed = [] {
  data_session_hooks = data_session_hooks_st{state_of_session, session_of_object};
  return true;
}();

}  // namespace

namespace {

void session_id_access(VmStack* stack, size_t nargs, Variant* result) {
  QZ_TRACE;
  if (nargs != 0) throw RuntimeError(11);
  result->set_integer(static_cast<DataSession_Object*>(stack->method_context.owner)->session_id);
}

}  // namespace

const native_member_def_st session_members[] = {
    {"DataSessionId", 1, session_id_access, nullptr, nullptr},
    {nullptr, 0, nullptr, nullptr, nullptr},
};

}  // namespace qzbase
