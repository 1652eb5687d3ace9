// data_session_state.h - what the VM reads of a data session: its SET values, the selected table
// and the work-area and alias maps.
//
// The data-session class (tables/data_session.h) derives from DataSessionState and installs
// data_session_hooks when the library loads, so that the stack can make a session current and the
// interpreter can read names as fields without knowing the class.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <map>

#include "values/session_settings.h"

namespace qzbase {

class Table_Object;

struct DataSessionState {
  SessionSettings settings;                     // SET POINT, DATE, DECIMALS, EXACT, ...
  Table_Object* current_table = nullptr;        // the table open in the current area, or null
  std::map<int32_t, ObjectPointer> work_areas;  // area -> the table open there (owning)
  std::map<symbol_id_type, int32_t> aliases;    // alias symbol -> area
};

struct data_session_hooks_st {
  // The state of a session.
  DataSessionState* (*state_of)(DataSession_Object* session);
  // The session an object of the class "Session" is.
  DataSession_Object* (*session_of)(Object* object);
};
extern data_session_hooks_st data_session_hooks;

}  // namespace qzbase
