// data_session.cpp - DataSession_Object.
#include "tables/data_session.h"

#include "vm/vm_stack.h"

namespace qzbase {

DataSession_Object::DataSession_Object(VmStack* owner, Class* cls) : Object(cls), owner_(owner) {
  QZ_TRACE;
  if (owner == nullptr) throw_assert_failed();
  session_id = static_cast<int32_t>(owner->next_data_session_id);
  owner->data_sessions.emplace(session_id, this);
  ++owner->next_data_session_id;
}

DataSession_Object::~DataSession_Object() {
  QZ_TRACE;
  leave_owner();
}

void DataSession_Object::destroy(VmStack* stack) {
  QZ_TRACE;
  Object::destroy(stack);
  current_table = nullptr;
  aliases.clear();
  // The tables go with the stack the session ends on, so that their own end runs there.
  while (!work_areas.empty()) {
    ObjectPointer table = std::move(work_areas.begin()->second);
    work_areas.erase(work_areas.begin());
    table.release(stack);
  }
  leave_owner();
}

void DataSession_Object::leave_owner() {
  QZ_TRACE;
  VmStack* stack = owner_;
  if (stack == nullptr) return;
  owner_ = nullptr;
  auto it = stack->data_sessions.find(session_id);
  if (it != stack->data_sessions.end() && it->second == this) stack->data_sessions.erase(it);
  if (stack->current_data_session == this) {
    DataSession_Object* fallback = stack->get_default_data_session();
    stack->set_current_data_session(fallback == this ? nullptr : fallback);
  }
}

Object* new_datasession(VmStack* stack, Class* cls) {
  QZ_TRACE;
  return new DataSession_Object(stack, cls);
}

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
