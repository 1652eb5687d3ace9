// Member lookup along a chain, the visibility rule, the accessor modes, and what the member
// operations restore.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects_support.h"
#include "tables/data_session.h"

namespace qzbase {
namespace {

using namespace testing_objects;

// What the member functions saw, in order.
struct seen_st {
  std::string what;
  Object* object;
  Object* owner;
  symbol_id_type member;
  uint32_t mode;
  size_t nargs;
};
std::vector<seen_st> seen;

void note(VmStack* stack, const char* what, size_t nargs) {
  const method_context_st& c = stack->method_context;
  seen.push_back({what, c.object, c.owner, c.member, c.mode, nargs});
}

template <int N>
void rec_get(VmStack* stack, size_t nargs, Variant* result) {
  note(stack, "get", nargs);
  result->set_integer(N);
}
void rec_set(VmStack* stack, size_t nargs) { note(stack, "set", nargs); }
void rec_ref(VmStack* stack, size_t nargs, Variant*) { note(stack, "ref", nargs); }
void rec_call(VmStack* stack, size_t nargs, Variant* result) {
  note(stack, "call", nargs);
  result->set_integer(static_cast<int>(nargs));
}
void raising_call(VmStack* stack, size_t nargs, Variant*) {
  note(stack, "raise", nargs);
  throw RuntimeError(1098, String("raised"));
}

Object* plain_factory(VmStack*, Class* cls) { return new Object(cls); }

// A chain a -> b -> c of three classes. "shared" is in a's class and in c's; "deep" only in c's;
// "mid*" in b's with the three masks.
struct Chain {
  explicit Chain(RuntimeFixture& f) : f(f) {
    Class* ca = f.make_class("ChainA", {{"shared", 1, rec_get<1>, nullptr, nullptr}}, plain_factory);
    Class* cb = f.make_class("ChainB",
                             {{"midpublic", 1, rec_get<10>, rec_set, rec_call},
                              {"midprotected", 2, rec_get<20>, rec_set, rec_call},
                              {"midhidden", 4, rec_get<40>, rec_set, rec_call},
                              {"midboth", 6, rec_get<60>, rec_set, rec_call}},
                             plain_factory);
    Class* cc = f.make_class("ChainC",
                             {{"shared", 1, rec_get<3>, nullptr, nullptr},
                              {"deep", 1, nullptr, nullptr, rec_call},
                              {"fails", 1, nullptr, nullptr, raising_call}},
                             plain_factory);
    for (const char* name : {"midpublic", "midprotected", "midhidden", "midboth"}) {
      cb->find_member(f.sym(name))->ref_getter = rec_ref;
    }
    a = new_value(f.stack, ca, &value);
    cb->create_instance(f.stack, &b);
    cc->create_instance(f.stack, &c);
    a->chained = b;
    b->chained = c;
  }
  ~Chain() { value.release(f.stack); }
  RuntimeFixture& f;
  Variant value;
  Object* a = nullptr;
  Object* b = nullptr;
  Object* c = nullptr;
};

// Calls a method the way the interpreter does: the object slot, then the arguments.
Variant call(VmStack* stack, Object* obj, symbol_id_type symbol, std::vector<Variant> args) {
  Memvar* mark = stack->sp;
  Variant result;
  try {
    stack->push()->value.set(obj);
    for (Variant& a : args) a.copy(&stack->push()->value);
    obj->virtual_call(stack, symbol, args.size(), &result);
  } catch (...) {
    stack->release_stack_to(mark);
    for (Variant& a : args) a.release(stack);
    throw;
  }
  stack->release_stack_to(mark);
  for (Variant& a : args) a.release(stack);
  return result;
}

TEST(Members, AnOwnMapHidesADeeperMemberAndAChainedMemberRunsOnItsObject) {
  RuntimeFixture f;
  Chain ch(f);
  seen.clear();
  const ClassMember* member = nullptr;
  Object* owner = nullptr;
  ASSERT_TRUE(ch.a->get_member(f.sym("SHARED"), &member, &owner));
  EXPECT_EQ(owner, ch.a);
  EXPECT_EQ(show(read(f.stack, ch.a, f.sym("shared"))), "1");
  ASSERT_TRUE(ch.a->get_member(f.sym("deep"), &member, &owner));
  EXPECT_EQ(owner, ch.c);
  EXPECT_FALSE(ch.a->get_member(f.sym("nowhere"), &member, &owner));

  Variant r = call(f.stack, ch.a, f.sym("deep"), {integer(7), integer(8)});
  EXPECT_EQ(show(r), "2");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].object, ch.a);
  EXPECT_EQ(seen[1].owner, ch.c);
  EXPECT_EQ(seen[1].member, f.sym("deep"));
  EXPECT_EQ(seen[1].mode, ACCESS_CALL);
  EXPECT_EQ(seen[1].nargs, 2u);
}

TEST(Members, VisibilityByMaskCurrentObjectAndCurrentOwner) {
  RuntimeFixture f;
  Chain ch(f);
  Variant stranger_value;
  Object* stranger = new_value(f.stack, f.classes[0].get(), &stranger_value);
  struct Mask {
    const char* name;
    uint32_t mask;
  } masks[] = {{"midpublic", 1}, {"midprotected", 2}, {"midhidden", 4}, {"midboth", 6}};
  Object* objects[] = {nullptr, ch.a, stranger};  // the current object: none, the accessed one, another
  Object* owners[] = {nullptr, ch.b, stranger};   // the current owner: none, the member's owner, another
  for (const Mask& m : masks) {
    for (Object* current : objects) {
      for (Object* owner : owners) {
        uint32_t allowed = 1 | (current == ch.a ? 2 : 0) | (owner == ch.b ? 4 : 0);
        bool ok = (m.mask & ~allowed) == 0;
        std::string where = std::string(m.name) + " this=" + (current == ch.a ? "A" : current ? "other" : "none") +
                            " owner=" + (owner == ch.b ? "B" : owner ? "other" : "none");
        f.stack->method_context.object = current;
        f.stack->method_context.owner = owner;
        f.stack->method_context.mode = ACCESS_NONE;
        symbol_id_type s = f.sym(m.name);
        std::string upper = String(m.name).upper().u8str();
        auto expect = [&](std::pair<int, std::string> e, int denied_code, const std::string& denied_detail) {
          if (ok) {
            EXPECT_EQ(e.first, 0) << where;
          } else {
            EXPECT_EQ(e, std::make_pair(denied_code, denied_detail)) << where;
          }
        };
        expect(error_of([&] { Variant r = read(f.stack, ch.a, s); }), 1734, upper);
        expect(error_of([&] { assign(f.stack, ch.a, s, integer(1)); }), 1734, upper);
        expect(error_of([&] { Variant r = call(f.stack, ch.a, s, {}); }), 1734, upper);
        // A denied reference is 1743 without the name.
        expect(error_of([&] {
                 Variant r;
                 ch.a->virtual_access_ref(f.stack, s, 0, &r);
               }),
               1743, "");
        // The context the test set is back.
        EXPECT_EQ(f.stack->method_context.object, current);
        EXPECT_EQ(f.stack->method_context.owner, owner);
      }
    }
  }
  f.stack->method_context = method_context_st{};
  stranger_value.release(f.stack);
}

TEST(Members, MissingMembersAndFunctions) {
  RuntimeFixture f;
  Chain ch(f);
  struct Case {
    const char* what;
    std::pair<int, std::string> expected;
    std::function<void()> fn;
  };
  symbol_id_type nowhere = f.sym("Nowhere"), shared = f.sym("shared"), deep = f.sym("deep");
  std::vector<Case> cases = {
      {"read unknown", {1734, "NOWHERE"}, [&] { Variant r = read(f.stack, ch.a, nowhere); }},
      {"call a property", {1734, "SHARED"}, [&] { Variant r = call(f.stack, ch.a, shared, {}); }},
      {"assign without setter", {1734, "SHARED"}, [&] { assign(f.stack, ch.a, shared, integer(1)); }},
      {"read a method", {1734, "DEEP"}, [&] { Variant r = read(f.stack, ch.a, deep); }},
      {"ref of unknown", {1734, "NOWHERE"}, [&] { Variant r; ch.a->virtual_access_ref(f.stack, nowhere, 0, &r); }},
      {"ref of a method", {1734, "DEEP"}, [&] { Variant r; ch.a->virtual_access_ref(f.stack, deep, 0, &r); }},
      {"ref of a getter", {9008, ""}, [&] { Variant r; ch.a->virtual_access_ref(f.stack, shared, 0, &r); }},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.fn), c.expected) << c.what;
}

// "p" reads itself and then "q" from inside its getter; "w" assigns itself and "q" from its setter.
void self_reading_getter(VmStack* stack, size_t nargs, Variant* result) {
  note(stack, "p", nargs);
  if (stack->method_context.mode == ACCESS_READ) {
    Object* self = stack->method_context.object;
    Variant inner;
    self->virtual_access(stack, stack->symtable->symbolize("p"), 0, &inner);
    inner.release(stack);
    self->virtual_access(stack, stack->symtable->symbolize("q"), 0, &inner);
    inner.release(stack);
    Variant ref;
    self->virtual_access_ref(stack, stack->symtable->symbolize("p"), 0, &ref);
    ref.release(stack);
  }
  result->set_integer(1);
}
void ref_getter(VmStack* stack, size_t nargs, Variant*) { note(stack, "pref", nargs); }
void q_getter(VmStack* stack, size_t nargs, Variant* result) {
  note(stack, "q", nargs);
  result->set_integer(2);
}
void self_assigning_setter(VmStack* stack, size_t nargs) {
  note(stack, "w", nargs);
  if (stack->method_context.mode == ACCESS_WRITE) {
    Object* self = stack->method_context.object;
    assign(stack, self, stack->symtable->symbolize("w"), integer(5));
    assign(stack, self, stack->symtable->symbolize("q"), integer(6));
  }
}
void q_setter(VmStack* stack, size_t nargs) { note(stack, "qset", nargs); }

TEST(Members, AReadOrWriteFromInsideItsOwnAccessorIsReentered) {
  RuntimeFixture f;
  Class* cls = f.make_class("Hooks",
                            {{"p", 1, self_reading_getter, nullptr, nullptr},
                             {"q", 1, q_getter, q_setter, nullptr},
                             {"w", 1, nullptr, self_assigning_setter, nullptr}},
                            plain_factory);
  // "p" also gets a reference getter.
  cls->find_member(f.sym("p"))->ref_getter = ref_getter;
  Variant v;
  Object* obj = new_value(f.stack, cls, &v);
  seen.clear();
  Variant r = read(f.stack, obj, f.sym("p"));
  std::vector<std::pair<std::string, uint32_t>> modes;
  for (const seen_st& s : seen) modes.emplace_back(s.what, s.mode);
  EXPECT_EQ(modes, (std::vector<std::pair<std::string, uint32_t>>{
                       {"p", ACCESS_READ}, {"p", ACCESS_READ_REENTERED}, {"q", ACCESS_READ}, {"pref", ACCESS_READ_REENTERED}}));
  seen.clear();
  assign(f.stack, obj, f.sym("w"), integer(1));
  modes.clear();
  for (const seen_st& s : seen) modes.emplace_back(s.what, s.mode);
  EXPECT_EQ(modes, (std::vector<std::pair<std::string, uint32_t>>{
                       {"w", ACCESS_WRITE}, {"w", ACCESS_WRITE_REENTERED}, {"qset", ACCESS_WRITE}}));
  EXPECT_EQ(seen[0].nargs, 1u);
  EXPECT_EQ(f.stack->method_context.mode, ACCESS_NONE);
  v.release(f.stack);
}

// The data session current while a member runs.
DataSession_Object* session_seen = nullptr;
void session_probe(VmStack* stack, size_t, Variant*) {
  session_seen = stack->current_data_session;
  throw RuntimeError(1098, String("after the switch"));
}

TEST(Members, ContextSessionAndArgumentsAreRestoredWhenAMemberRaises) {
  RuntimeFixture f;
  Chain ch(f);
  Class* probe_class = f.make_class("Probe", {{"probe", 1, nullptr, nullptr, session_probe}}, plain_factory);
  Variant pv;
  Object* probe = new_value(f.stack, probe_class, &pv);
  // A second session, made on this stack; the object remembers it as its own.
  ObjectPointer second = CreateObject(f.stack, String("Session"), nullptr, 0);
  auto* session = static_cast<DataSession_Object*>(second.get());
  DataSession_Object* before = f.stack->current_data_session;
  ASSERT_NE(session, before);
  probe->creating_stack_id = f.stack->id;
  probe->data_session_id = session->session_id;

  method_context_st sentinel{ch.b, ch.c, nullptr, 77, ACCESS_READ, 0};
  f.stack->method_context = sentinel;
  Memvar* arg_top = f.stack->native_arg_top;
  uint64_t nargs = f.stack->native_nargs;
  Memvar* sp = f.stack->sp;
  EXPECT_EQ(error_of([&] { Variant r = call(f.stack, probe, f.sym("probe"), {integer(1)}); }),
            std::make_pair(1098, std::string("after the switch")));
  EXPECT_EQ(session_seen, session);
  EXPECT_EQ(f.stack->current_data_session, before);
  EXPECT_EQ(f.stack->method_context.object, ch.b);
  EXPECT_EQ(f.stack->method_context.owner, ch.c);
  EXPECT_EQ(f.stack->method_context.member, 77u);
  EXPECT_EQ(f.stack->method_context.mode, static_cast<uint32_t>(ACCESS_READ));
  EXPECT_EQ(f.stack->native_arg_top, arg_top);
  EXPECT_EQ(f.stack->native_nargs, nargs);
  EXPECT_EQ(f.stack->sp, sp);

  // A member raising deep in the chain restores the same way.
  EXPECT_EQ(error_of([&] { Variant r = call(f.stack, ch.a, f.sym("fails"), {}); }).first, 1098);
  EXPECT_EQ(f.stack->method_context.object, ch.b);
  EXPECT_EQ(f.stack->method_context.member, 77u);

  // An object made on another stack (or not through the language) leaves the session alone.
  probe->creating_stack_id = 0;
  session_seen = nullptr;
  EXPECT_EQ(error_of([&] { Variant r = call(f.stack, probe, f.sym("probe"), {}); }).first, 1098);
  EXPECT_EQ(session_seen, before);
  f.stack->method_context = method_context_st{};
  second.release(f.stack);
  pv.release(f.stack);
}

TEST(Members, EnumerationCoversTheChainInOrderAndStopsOnRequest) {
  RuntimeFixture f;
  Chain ch(f);
  std::vector<std::string> names;
  auto collect = [](void* ctx, Object*, symbol_id_type, const ClassMember& m) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(m.name.u8str());
    return 0;
  };
  EXPECT_EQ(ch.a->virtual_enum_properties(collect, &names), 0);
  EXPECT_EQ(names, (std::vector<std::string>{"shared", "midpublic", "midprotected", "midhidden", "midboth", "shared",
                                             "deep", "fails"}));
  auto stop_at_deep = [](void*, Object*, symbol_id_type, const ClassMember& m) {
    return m.name.u8str() == "deep" ? 42 : 0;
  };
  EXPECT_EQ(ch.a->virtual_enum_properties(stop_at_deep, nullptr), 42);
}

}  // namespace
}  // namespace qzbase
