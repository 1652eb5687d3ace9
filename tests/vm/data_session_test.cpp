// The class registry (CreateObject) and the data sessions a stack keeps.
#include <gtest/gtest.h>

#include "objects/class_registry.h"
#include "tables/data_session.h"
#include "values/session_settings.h"
#include "vm/vm_stack.h"
#include "vm_support.h"

namespace qzbase {
namespace {

using testing_vm::TestRuntime;

DataSession_Object* as_session(const ObjectPointer& p) { return static_cast<DataSession_Object*>(p.get()); }

TEST(ClassRegistry, CreatesSessionsByNameWithoutRegardToCase) {
  TestRuntime rt;
  VmStack s(rt.get(), 16, 4);
  EXPECT_NE(find_bare_class(&s, String("session")), nullptr);
  EXPECT_NE(find_bare_class(&s, String("SeSsIoN")), nullptr);
  EXPECT_EQ(find_bare_class(&s, String("sessions")), nullptr);
  ObjectPointer p = CreateObject(&s, String("Session"), nullptr, 0);
  ASSERT_NE(p.get(), nullptr);
  EXPECT_NE(dynamic_cast<DataSession_Object*>(p.get()), nullptr);
  p.release(&s);
}

TEST(ClassRegistry, UnknownClassIs1733) {
  VmStack s;
  try {
    CreateObject(&s, String("nosuch"), nullptr, 0);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1733);
    EXPECT_EQ(e.detail.u8str(), "nosuch");
  }
}

TEST(DataSession, NewSessionsTakeTheNextNumber) {
  TestRuntime rt;
  VmStack s(rt.get(), 16, 4);
  ObjectPointer second = CreateObject(&s, String("session"), nullptr, 0);
  ObjectPointer third = CreateObject(&s, String("session"), nullptr, 0);
  EXPECT_EQ(as_session(second)->session_id, 2);
  EXPECT_EQ(as_session(third)->session_id, 3);
  EXPECT_EQ(s.next_data_session_id, 4u);
  EXPECT_EQ(s.data_sessions.size(), 3u);
  EXPECT_EQ(s.find_data_session(2), as_session(second));
  EXPECT_EQ(as_session(second)->owner(), &s);
  EXPECT_EQ(as_session(second)->current_area, 1);
  EXPECT_EQ(as_session(second)->current_table, nullptr);
  EXPECT_TRUE(as_session(second)->aliases.empty());
  EXPECT_TRUE(as_session(second)->work_areas.empty());
  EXPECT_EQ(s.current_data_session->session_id, 1);  // creating one does not select it
  second.release(&s);
  EXPECT_EQ(s.data_sessions.count(2), 0u);
  third.release(nullptr);  // without a stack, on the owner's thread: it still leaves the registry
  EXPECT_EQ(s.data_sessions.count(3), 0u);
  EXPECT_EQ(s.find_data_session(3), nullptr);
  EXPECT_EQ(s.data_sessions.size(), 1u);
}

TEST(DataSession, SelectingAndDestroyingTheCurrentSession) {
  TestRuntime rt;
  VmStack s(rt.get(), 16, 4);
  DataSession_Object* first = s.current_data_session;
  ObjectPointer other = CreateObject(&s, String("session"), nullptr, 0);
  s.set_current_data_session(as_session(other));
  as_session(other)->settings.exact = true;
  EXPECT_TRUE(current_settings(&s).exact);
  EXPECT_EQ(s.session_settings, &as_session(other)->settings);
  other.release(&s);
  EXPECT_EQ(s.current_data_session, first);  // the default session is current again
  EXPECT_FALSE(current_settings(&s).exact);
  EXPECT_EQ(s.session_settings, &first->settings);
}

TEST(DataSession, SessionsHeldInVariablesEndWithTheStack) {
  TestRuntime rt;
  {
    VmStack s(rt.get(), 16, 4);
    ObjectPointer p = CreateObject(&s, String("session"), nullptr, 0);
    Variant v;
    v.set(p);
    testing_vm::assign(&s, rt.sym("ds"), v);
    v.release(nullptr);
    s.set_current_data_session(as_session(p));
    p.release(nullptr);
  }  // LeakSanitizer: the session is freed, the stack's table is not touched after it is gone
}

TEST(DataSession, ASessionMayOutliveItsStack) {
  TestRuntime rt;
  ObjectPointer kept;
  {
    VmStack s(rt.get(), 16, 4);
    kept = CreateObject(&s, String("session"), nullptr, 0);
    EXPECT_EQ(as_session(kept)->owner(), &s);
  }
  EXPECT_EQ(as_session(kept)->owner(), nullptr);
  kept.release(nullptr);  // must not reach the freed stack
}

}  // namespace
}  // namespace qzbase
