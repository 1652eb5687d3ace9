// data_session.h - DataSession_Object: the work areas and SET values one thread sees.
//
// So far only what a VmStack needs: the session number and its entry in the owner stack's
// data-session table, the settings record, the selected work area and the alias and work-area
// maps. Opening, selecting and closing tables come with the table layer.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <map>

#include "objects/object.h"
#include "values/session_settings.h"

namespace qzbase {

class Table_Object;

class DataSession_Object : public Object {
 public:
  // A session with the default SET values and area 1 selected. It takes the owner stack's next
  // session number (the counter is incremented) and enters itself into the owner's data-session
  // table under it (an existing entry of that number is left in place).
  DataSession_Object(VmStack* owner, Class* cls);
  // Leaves the owner's table when destroy() did not run.
  ~DataSession_Object() override;

  // Drops the work areas, leaves the owner stack's data-session table and, when this was the
  // owner's current session, makes the owner's default session current. The owner is the stack
  // that created the session, also when the session ends on another stack or on none.
  void destroy(VmStack* stack) override;

  // The stack whose table lists this session; null once it left (or when the stack is gone).
  VmStack* owner() const { return owner_; }
  // For the owner stack's destructor: the stack goes away before the session.
  void forget_owner() { owner_ = nullptr; }

  SessionSettings settings;             // SET POINT, DATE, DECIMALS, EXACT, ...
  int32_t session_id;                   // DataSessionId
  Table_Object* current_table = nullptr;  // the table open in the current area, or null
  int32_t current_area = 1;             // the selected work area, 1 .. 32767
  std::map<int32_t, ObjectPointer> work_areas;  // area -> the table open there (owning)
  std::map<symbol_id_type, int32_t> aliases;    // alias symbol -> area

 private:
  void leave_owner();

  VmStack* owner_;
};

// The factory of the class "Session": a new session owned by the stack; its member rows.
Object* new_datasession(VmStack* stack, Class* cls);
extern const native_member_def_st session_members[];

}  // namespace qzbase
