// data_session.h - DataSession_Object: the work areas and SET values one thread sees.
//
// Up to 32767 numbered work areas, each holding at most one open table; an alias per open table
// (symbols of the runtime's symbol table, so aliases ignore case); how many areas have each table
// file open (file names compared exactly); the selected area; the session's SET values.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <map>
#include <string>

#include "objects/object.h"
#include "values/session_settings.h"
#include "vm/data_session_state.h"
#include "vm/vm_stack.h"

namespace qzbase {

class Table_Object;

// The SET values, the selected table and the work-area and alias maps are the DataSessionState
// the VM reads.
class DataSession_Object : public Object, public DataSessionState {
 public:
  // A session with the default SET values and area 1 selected. It takes the owner stack's next
  // session number (the counter is incremented) and enters itself into the owner's data-session
  // table under it (an existing entry of that number is left in place).
  DataSession_Object(VmStack* owner, Class* cls);
  // Leaves the owner's table when destroy() did not run.
  ~DataSession_Object() override;

  // Closes the work areas and leaves the owner's registry. Ending on the owner stack (or on none,
  // on the owner's thread) removes the entry at once and, when this was the owner's current
  // session, makes the owner's default session current. Ending on another thread only marks the
  // entry dead: the owner drops it on its own thread.
  void destroy(VmStack* stack) override;

  // The stack whose registry lists this session; null once it left (or when the stack is gone).
  VmStack* owner() const { return link_->owner.load(std::memory_order_acquire); }

  static constexpr int32_t max_area = 32767;

  // An alias: true and its area when it is open in this session.
  bool resolve(const String& name, Symtable* symtable, int32_t* area) const;
  // A string is an alias (as above); an integer is taken as the area number as it is; any other
  // value is converted to an integer. No range check.
  bool resolve(VmStack* stack, const Variant* value, int32_t* area) const;
  // The area a value names, without selecting it: an unknown alias raises 13 (the value as
  // detail); 0 yields the lowest free area; any other area outside 1..32767 raises 17.
  int32_t select(VmStack* stack, const Variant* value) const;
  // Selects an area and returns the current area. 0 selects the lowest free area (0 when all
  // are used). No range check.
  int32_t select(int32_t area);
  // The table open in the area a value names; 13 (no detail) when the area is empty.
  Table_Object* select_file(VmStack* stack, const Variant* value) const;
  // Whether a table is open in the area; 17 outside 1..32767.
  bool used(int32_t area) const;
  // The lowest (highest) area not in use; 0 when all are.
  int32_t first_free_area() const;
  int32_t last_free_area() const;
  // The area USE or CREATE TABLE opens into: area 0 stands for the lowest free area. 17 when the
  // area is outside 1..32767 or, for 0, when every area is in use.
  int32_t area_for_open(int32_t area) const;

  // Enters an opened table into a free area under an alias. 24 when the alias is open, 3 when
  // the file is open and again is false. A failure closes the table and leaves the maps as they
  // were.
  void assign(ObjectPointer table, Symtable* symtable, const String& alias, int32_t area, bool again);
  // Closes the table of an area; an empty or unknown area is ignored.
  void close(int32_t area);
  // Closes every table (their close(true)) and empties the maps.
  void close_all();
  // CREATE TABLE: creates the table, closes the area of its alias when open, selects the lowest
  // free area and enters the new table there positioned on its first record.
  void create(VmStack* stack, String path, const createopts_st* options, fielddef_st* fields, size_t count);

  // How many areas have a file open (0 when none).
  int32_t open_count(const String& filename) const;

  int32_t session_id;                   // DataSessionId
  int32_t current_area = 1;             // the selected work area, 1 .. 32767 (0: all in use)
  std::map<std::string, int32_t> open_files;    // table file name (UTF-8) -> areas that have it open

 private:
  void leave_owner();
  void leave_owner_on(VmStack* stack);
  // close_all, releasing the tables with the stack (null: no DESTROY code runs).
  void close_all_on(VmStack* stack);
  static Table_Object* table_of(const ObjectPointer& table);

  data_session_link link_;
};

// The factory of the class "Session": a new session owned by the stack; its member rows.
Object* new_datasession(VmStack* stack, Class* cls);
extern const native_member_def_st session_members[];

}  // namespace qzbase
