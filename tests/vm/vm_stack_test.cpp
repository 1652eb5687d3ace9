// VmStack: construction, frames, table-driven scoping (LOCAL, PRIVATE, PUBLIC, PARAMETERS, undo),
// and the release of variables at frame end and at destruction with DESTROY code running.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tables/data_session.h"
#include "values/session_settings.h"
#include "vm/program.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"
#include "vm_support.h"

namespace qzbase {
namespace {

using testing_vm::assign;
using testing_vm::assign_int;
using testing_vm::count_events;
using testing_vm::empty_program;
using testing_vm::in_frame;
using testing_vm::ProbeLog;
using testing_vm::ProbeObject;
using testing_vm::ProbeRunnerScope;
using testing_vm::set_probe;
using testing_vm::TestRuntime;

int int_of(const Variant& v) { return static_cast<int>(v); }

// A program with the given parameter count and symbol -> offset map.
std::unique_ptr<Program> make_program(const local_offset_map& offsets, size_t nparams) {
  return std::make_unique<Program>(String("P"), nullptr, 0, nparams, offsets, nullptr, nullptr);
}

// ----------------------------------------------------------------------------------------------
// Construction

TEST(VmStack, FreshStack) {
  TestRuntime rt;
  VmStack s(rt.get(), 100, 10);
  EXPECT_EQ(s.frame, nullptr);
  EXPECT_EQ(s.nslots, 100u);
  EXPECT_EQ(s.sp, s.slots + 100);
  EXPECT_EQ(s.frame_arg_top, s.slots + 100);
  EXPECT_EQ(s.frame_local_base, s.slots + 100);
  EXPECT_EQ(s.undo_top, s.undo + 10);
  EXPECT_EQ(s.nundo, 10u);
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(s.last_error.code, 0);
  EXPECT_TRUE(s.memvars.empty());
  EXPECT_EQ(s.frame_memvars, nullptr);
  EXPECT_EQ(s.get_runtime(), rt.get());
  EXPECT_EQ(GetRuntime(&s), rt.get());
  EXPECT_EQ(s.get_symtable(), rt.symtable());
  EXPECT_EQ(get_symtable(&s), rt.symtable());
  EXPECT_EQ(s.textmerge_on, 0);
  EXPECT_EQ(s.textmerge_show, 1);
  EXPECT_EQ(s.set_space, 1);
  EXPECT_EQ(s.step_request, 0);
  EXPECT_EQ(s.debugger, nullptr);
  EXPECT_EQ(s.bound_table, nullptr);
  EXPECT_EQ(s.method_context.object, nullptr);
  EXPECT_EQ(s.method_context.mode, ACCESS_NONE);
  for (Memvar* m = s.slots; m < s.slots + 100; ++m) {
    ASSERT_EQ(m->value.tag, VT_FALSE);
    ASSERT_EQ(m->flag, MEMVAR_NONE);
  }
  ASSERT_NE(s.current_data_session, nullptr);
  EXPECT_EQ(s.current_data_session->session_id, 1);
  EXPECT_EQ(s.current_data_session, s.get_default_data_session());
  EXPECT_EQ(s.next_data_session_id, 2u);
  EXPECT_EQ(s.data_sessions.size(), 1u);
  EXPECT_EQ(s.find_data_session(1), s.current_data_session);
  EXPECT_EQ(s.session_settings, &s.current_data_session->settings);
  EXPECT_EQ(&current_settings(&s), &s.current_data_session->settings);
}

TEST(VmStack, StackIdsComeFromTheRuntime) {
  TestRuntime rt;
  VmStack a(rt.get(), 16, 4);
  VmStack b(rt.get(), 16, 4);
  EXPECT_GE(a.id, 1u);
  EXPECT_EQ(b.id, a.id + 1);
}

TEST(VmStack, MainStackSizes) {
  TestRuntime rt;
  auto s = std::make_unique<VmStack>(rt.get(), 65536, 8192);
  EXPECT_EQ(s->nslots, 65536u);
  EXPECT_EQ(s->nundo, 8192u);
  EXPECT_EQ(s->sp, s->slots + 65536);
}

TEST(VmStack, StackWithoutRuntime) {
  VmStack s;
  EXPECT_EQ(s.runtime, nullptr);
  EXPECT_EQ(s.symtable, nullptr);
  EXPECT_EQ(s.id, 0u);
  ASSERT_NE(s.current_data_session, nullptr);
  EXPECT_EQ(s.current_data_session->session_id, 1);
  EXPECT_EQ(current_settings(&s).decimals, 2u);
}

TEST(VmStack, RuntimeWithoutVmStateIsBroken) {
  alignas(Runtime) char storage[sizeof(Runtime)] = {};  // an address no runtime has attached state to
  auto* runtime = reinterpret_cast<Runtime*>(storage);
  ASSERT_EQ(find_runtime_vm(runtime), nullptr);
  EXPECT_THROW(VmStack(runtime, 10, 10), assert_failed_exception);
}

TEST(VmStack, RuntimeVmRegistry) {
  alignas(Runtime) char storage[2][sizeof(Runtime)] = {};
  auto* a = reinterpret_cast<Runtime*>(storage[0]);
  auto* b = reinterpret_cast<Runtime*>(storage[1]);
  RuntimeVmState sa, sb;
  attach_runtime_vm(a, &sa);
  attach_runtime_vm(b, &sb);
  EXPECT_EQ(find_runtime_vm(a), &sa);
  EXPECT_EQ(find_runtime_vm(b), &sb);
  EXPECT_EQ(find_runtime_vm(nullptr), nullptr);
  {
    VmStack s(a, 8, 8);
    EXPECT_EQ(s.id, 1u);
    EXPECT_EQ(s.symtable, &sa.symtable);
  }
  detach_runtime_vm(a);
  EXPECT_EQ(find_runtime_vm(a), nullptr);
  EXPECT_EQ(find_runtime_vm(b), &sb);
  detach_runtime_vm(b);
  detach_runtime_vm(b);
  EXPECT_EQ(find_runtime_vm(b), nullptr);
}

TEST(VmStack, PushPopAndReleaseStackTo) {
  TestRuntime rt;
  VmStack s(rt.get(), 4, 4);
  Memvar* top = s.sp;
  for (int i = 0; i < 4; ++i) s.push()->value.set_integer(i);
  EXPECT_EQ(s.sp, s.slots);
  try {
    s.push();
    FAIL() << "a full stack must overflow";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 9010);
  }
  EXPECT_EQ(s.sp, s.slots);
  s.sp->flag = MEMVAR_LOCAL;
  s.pop();
  EXPECT_EQ(s.slots[0].value.tag, VT_FALSE);
  EXPECT_EQ(s.slots[0].flag, MEMVAR_NONE);
  s.push()->value.set_string(String("text"));
  release_stack_to(&s, top);
  EXPECT_EQ(s.sp, top);
  for (Memvar* m = s.slots; m < top; ++m) EXPECT_EQ(m->value.tag, VT_FALSE);
}

TEST(VmStack, ErrorList) {
  VmStack s;
  s.error(Error(1, String("one"), String("")));
  ASSERT_EQ(s.errors.size(), 1u);
  std::vector<Error> list{Error(2, String("two"), String("")), Error(3, String("three"), String("x"))};
  s.error(list);
  ASSERT_EQ(s.errors.size(), 2u);
  EXPECT_EQ(int_of(s.errors[0].number), 2);
  EXPECT_EQ(int_of(s.errors[1].number), 3);
  s.error(Error(4, String("four"), String("")));
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(int_of(s.errors[0].number), 4);
}

// The one-error form refills a one-entry list in place: every value of the entry is the new
// error's, whatever the entry held before; a list of another length is replaced.
TEST(VmStack, OneErrorRefillsTheList) {
  auto text = [](const Variant& v) { return v.tag == VT_STRING ? v.string.u8str() : std::string("<not text>"); };
  VmStack s;
  s.error(12, String("twelve"), String("detail"));
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(int_of(s.errors[0].number), 12);
  EXPECT_EQ(text(s.errors[0].message), "twelve");
  EXPECT_EQ(text(s.errors[0].detail), "detail");

  // An entry holding other kinds of values and the further values of a builder.
  Error odd(1, String("one"), String("x"));
  odd.number.release(nullptr);
  odd.number.set_string(String("not a number"));
  odd.message.release(nullptr);
  odd.message.set_integer(5);
  odd.value4.set_string(String("four"));
  odd.value7.set_integer(7);
  s.error(odd);
  s.error(7, String("seven"), String(""));
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(int_of(s.errors[0].number), 7);
  EXPECT_EQ(text(s.errors[0].message), "seven");
  EXPECT_EQ(text(s.errors[0].detail), "");
  EXPECT_EQ(s.errors[0].value4.tag, VT_FALSE);
  EXPECT_EQ(s.errors[0].value7.tag, VT_FALSE);

  std::vector<Error> two{Error(2, String("two"), String("")), Error(3, String("three"), String(""))};
  s.error(two);
  s.error(9, String("nine"), String("d"));
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(int_of(s.errors[0].number), 9);
  EXPECT_EQ(text(s.errors[0].detail), "d");

  // A copy taken before the refill keeps its own values.
  std::vector<Error> kept = s.errors;
  s.error(10, String("ten"), String(""));
  EXPECT_EQ(text(kept[0].message), "nine");
  EXPECT_EQ(text(s.errors[0].message), "ten");
}

// ----------------------------------------------------------------------------------------------
// Frames

TEST(VmStack, FrameRegistersAndLocals) {
  TestRuntime rt;
  VmStack s(rt.get(), 64, 16);
  s.push()->value.set_integer(10);
  s.push()->value.set_integer(20);
  Memvar* caller_sp = s.sp;
  auto p = make_program({{rt.sym("a"), 1}, {rt.sym("b"), 2}, {rt.sym("c"), 3}, {rt.sym("d"), 4}}, 2);
  VmFrame f;
  s.enter_frame(&f, p.get(), 2, false);
  EXPECT_EQ(s.frame, &f);
  EXPECT_EQ(f.depth, 1u);
  EXPECT_EQ(f.previous, nullptr);
  EXPECT_EQ(f.program, p.get());
  EXPECT_EQ(f.position, p->code());
  EXPECT_EQ(s.frame_nargs, 2u);
  EXPECT_EQ(s.frame_arg_top, caller_sp + 2);
  EXPECT_EQ(int_of(s.local_slot(1)->value), 10);  // argument 1 = first pushed
  EXPECT_EQ(int_of(s.local_slot(2)->value), 20);
  EXPECT_EQ(s.sp, caller_sp - 2);  // two LOCAL slots reserved
  EXPECT_EQ(s.frame_local_base, s.sp);
  EXPECT_EQ(s.local_slot(3), caller_sp - 1);
  s.local_slot(3)->value.set_string(String("local"));
  s.push()->value.set_integer(99);  // a temporary
  s.end_frame(&f);
  EXPECT_EQ(s.frame, nullptr);
  EXPECT_EQ(s.sp, caller_sp);
  EXPECT_EQ(s.frame_nargs, 0u);
  EXPECT_EQ(s.frame_arg_top, s.slots + 64);
  EXPECT_EQ((caller_sp - 1)->value.tag, VT_FALSE);
  EXPECT_EQ((caller_sp - 3)->value.tag, VT_FALSE);
  EXPECT_EQ(int_of(caller_sp->value), 20);  // the arguments stay for the caller
  s.release_stack_to(s.slots + 64);
}

TEST(VmStack, ExtraSlotWidensTheArgumentArea) {
  TestRuntime rt;
  VmStack s(rt.get(), 64, 16);
  s.push();
  s.push();
  Memvar* caller_sp = s.sp;
  auto p = make_program({{rt.sym("x"), 1}, {rt.sym("y"), 2}, {rt.sym("z"), 3}}, 1);
  VmFrame f;
  s.enter_frame(&f, p.get(), 1, true);
  EXPECT_EQ(s.frame_arg_top, caller_sp + 2);
  EXPECT_EQ(s.sp, caller_sp - 1);
  s.end_frame(&f);
  s.release_stack_to(s.slots + 64);
}

TEST(VmStack, TooManyArgumentsIs94) {
  TestRuntime rt;
  VmStack s(rt.get(), 64, 16);
  s.push();
  s.push();
  Memvar* sp = s.sp;
  auto p = make_program({{rt.sym("a"), 1}}, 1);
  VmFrame f;
  try {
    s.enter_frame(&f, p.get(), 2, false);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 94);
  }
  EXPECT_EQ(s.frame, nullptr);
  EXPECT_EQ(s.sp, sp);
  s.enter_frame(&f, p.get(), 1, false);  // exactly as many works
  s.end_frame(&f);
  s.enter_frame(&f, p.get(), 0, false);  // fewer works
  s.end_frame(&f);
  s.release_stack_to(s.slots + 64);
}

TEST(VmStack, FramesNestAtMost128Deep) {
  TestRuntime rt;
  VmStack s(rt.get(), 1024, 16);
  std::vector<VmFrame> frames(129);
  for (size_t i = 0; i < 128; ++i) {
    s.enter_frame(&frames[i], empty_program(), 0, false);
    EXPECT_EQ(frames[i].depth, i + 1);
  }
  VmFrame* top = s.frame;
  Memvar* sp = s.sp;
  try {
    s.enter_frame(&frames[128], empty_program(), 0, false);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 103);
  }
  EXPECT_EQ(s.frame, top);
  EXPECT_EQ(s.sp, sp);
  for (size_t i = 128; i-- > 0;) s.end_frame(&frames[i]);
  EXPECT_EQ(s.frame, nullptr);
}

TEST(VmStack, LocalsThatDoNotFitAre9010) {
  TestRuntime rt;
  VmStack s(rt.get(), 8, 8);
  local_offset_map offsets;
  for (int i = 0; i < 20; ++i) offsets[rt.sym(("v" + std::to_string(i)).c_str())] = i + 1;
  auto p = make_program(offsets, 0);
  s.push()->value.set_integer(1);
  Memvar* sp = s.sp;
  VmFrame outer;
  s.enter_frame(&outer, empty_program(), 0, false);
  VmFrame f;
  try {
    s.enter_frame(&f, p.get(), 0, false);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 9010);
  }
  EXPECT_EQ(s.frame, &outer);
  EXPECT_EQ(s.sp, sp);
  EXPECT_EQ(s.frame_arg_top, sp);
  s.end_frame(&outer);
  EXPECT_EQ(int_of(s.sp->value), 1);
  s.pop();
}

TEST(VmStack, HandlerRecordsAreFreedAtFrameEnd) {
  TestRuntime rt;
  VmStack s(rt.get(), 16, 4);
  VmFrame f;
  s.enter_frame(&f, empty_program(), 0, false);
  VmOpInstallErrorHandler h;
  f.handlers = new handler_record_st{&h, nullptr};
  f.handlers = new handler_record_st{&h, f.handlers};
  s.end_frame(&f);  // LeakSanitizer checks the records are gone
  EXPECT_EQ(f.handlers, nullptr);
}

// ----------------------------------------------------------------------------------------------
// Scoping, table-driven

enum class Do {
  Enter,       // a frame of a program with `locals` (name -> offset), nparams `a`, nargs `b`
  Leave,       // ends the innermost frame
  PushArg,     // pushes integer `a` as an argument
  PopArgs,     // pops `a` slots
  Private,     // PRIVATE name
  Public,      // PUBLIC name at offset `a`
  Parameters,  // PARAMETERS: name bound to argument offset `a`
  Local,       // LOCAL name at offset `a`
  LocalByName, // LOCAL name without a compiled slot
  LParameters, // LPARAMETERS: the first `a` local slots become LOCALs
  Set,         // name = `a`
  Expect,      // name holds `a`
  ExpectEmpty, // name exists and is empty
  Missing,     // name has no variable
  ExpectArg,   // argument `a` (1 = first pushed since the start) holds `b`
  UndoFree,    // `a` undo records are free
};

struct Step {
  explicit Step(Do w, std::string n = "", int x = 0, int y = 0, std::vector<std::pair<std::string, int>> l = {})
      : what(w), name(std::move(n)), a(x), b(y), locals(std::move(l)) {}
  Do what;
  std::string name;
  int a;
  int b;
  std::vector<std::pair<std::string, int>> locals;
  int error = 0;  // the RuntimeError the step must raise (0: none)
};

Step enter(std::vector<std::pair<std::string, int>> locals = {}, int nparams = 0, int nargs = 0) {
  return Step{Do::Enter, "", nparams, nargs, std::move(locals)};
}
Step leave() { return Step{Do::Leave}; }
Step push_arg(int v) { return Step{Do::PushArg, "", v}; }
Step pop_args(int n) { return Step{Do::PopArgs, "", n}; }
Step priv(const char* n) { return Step{Do::Private, n}; }
Step pub(const char* n, int offset) { return Step{Do::Public, n, offset}; }
Step params(const char* n, int offset) { return Step{Do::Parameters, n, offset}; }
Step local(const char* n, int offset) { return Step{Do::Local, n, offset}; }
Step local_by_name(const char* n) { return Step{Do::LocalByName, n}; }
Step lparameters(int count) { return Step{Do::LParameters, "", count}; }
Step set(const char* n, int v) { return Step{Do::Set, n, v}; }
Step expect(const char* n, int v) { return Step{Do::Expect, n, v}; }
Step expect_empty(const char* n) { return Step{Do::ExpectEmpty, n}; }
Step missing(const char* n) { return Step{Do::Missing, n}; }
Step expect_arg(int i, int v) { return Step{Do::ExpectArg, "", i, v}; }
Step undo_free(int n) { return Step{Do::UndoFree, "", n}; }
Step fails(Step s, int code) {
  s.error = code;
  return s;
}

struct ScopeCase {
  const char* title;
  size_t nundo;
  std::vector<Step> steps;
};

class ScopeRunner {
 public:
  ScopeRunner(TestRuntime* rt, size_t nundo) : rt_(rt), stack_(rt->get(), 256, nundo) {}

  void run(const Step& step, size_t index) {
    SCOPED_TRACE("step " + std::to_string(index));
    if (step.error == 0) {
      apply(step);
      return;
    }
    VmFrame* frame = stack_.frame;
    Memvar* sp = stack_.sp;
    UndoMemvar* undo_top = stack_.undo_top;
    try {
      apply(step);
      ADD_FAILURE() << "expected error " << step.error;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, step.error);
    }
    // A failed declaration changes nothing.
    EXPECT_EQ(stack_.frame, frame);
    EXPECT_EQ(stack_.sp, sp);
    EXPECT_EQ(stack_.undo_top, undo_top);
  }

  void finish() {
    while (!frames_.empty()) {
      stack_.end_frame(frames_.back().frame.get());
      frames_.pop_back();
    }
    stack_.release_stack_to(stack_.slots_end());
  }

  VmStack& stack() { return stack_; }

 private:
  struct Running {
    std::unique_ptr<Program> program;
    std::unique_ptr<VmFrame> frame;
  };

  void apply(const Step& s) {
    symbol_id_type sym = s.name.empty() ? 0 : rt_->sym(s.name.c_str());
    Memvar* m = nullptr;
    switch (s.what) {
      case Do::Enter: {
        local_offset_map offsets;
        for (const auto& [name, offset] : s.locals) offsets[rt_->sym(name.c_str())] = offset;
        Running r{make_program(offsets, s.a), std::make_unique<VmFrame>()};
        stack_.enter_frame(r.frame.get(), r.program.get(), s.b, false);
        frames_.push_back(std::move(r));
        break;
      }
      case Do::Leave:
        ASSERT_FALSE(frames_.empty());
        stack_.end_frame(frames_.back().frame.get());
        frames_.pop_back();
        break;
      case Do::PushArg:
        args_.push_back(stack_.push());
        args_.back()->value.set_integer(s.a);
        break;
      case Do::PopArgs:
        for (int i = 0; i < s.a; ++i) {
          stack_.pop();
          args_.pop_back();
        }
        break;
      case Do::Private:
        stack_.declare_private(sym);
        break;
      case Do::Public:
        stack_.declare_public(s.a, sym);
        break;
      case Do::Parameters:
        stack_.init_parameter(s.a, sym);
        break;
      case Do::Local:
        stack_.declare_local_offset(s.a, sym);
        break;
      case Do::LocalByName:
        stack_.declare_local(sym);
        break;
      case Do::LParameters:
        stack_.init_local_parameters(s.a);
        break;
      case Do::Set:
        assign_int(&stack_, sym, s.a);
        break;
      case Do::Expect:
        ASSERT_TRUE(stack_.get_memvar(sym, &m)) << s.name;
        ASSERT_EQ(m->value.tag, VT_INTEGER) << s.name;
        EXPECT_EQ(int_of(m->value), s.a) << s.name;
        break;
      case Do::ExpectEmpty:
        ASSERT_TRUE(stack_.get_memvar(sym, &m)) << s.name;
        EXPECT_EQ(m->value.tag, VT_FALSE) << s.name;
        break;
      case Do::Missing:
        EXPECT_FALSE(stack_.get_memvar(sym, &m)) << s.name;
        break;
      case Do::ExpectArg:
        ASSERT_LE(static_cast<size_t>(s.a), args_.size());
        EXPECT_EQ(int_of(args_[s.a - 1]->value), s.b);
        break;
      case Do::UndoFree:
        EXPECT_EQ(stack_.undo_top - stack_.undo, s.a);
        break;
    }
  }

  TestRuntime* rt_;
  VmStack stack_;
  std::vector<Running> frames_;
  std::vector<Memvar*> args_;
};

const ScopeCase kScopeCases[] = {
    {"PRIVATE hides PUBLIC and is undone at frame end",
     16,
     {enter({{"x", 1}}), pub("x", 1), set("x", 1),
      enter(), expect("x", 1), priv("x"), missing("x"), set("x", 2), expect("x", 2),
      enter(), expect("x", 2), set("x", 3), leave(), expect("x", 3),
      leave(), expect("x", 1),
      leave(), expect("x", 1)}},
    {"PUBLIC survives its frame and is declared once",
     16,
     {enter({{"p", 1}}), pub("p", 1), expect_empty("p"), set("p", 5), leave(), expect("p", 5),
      enter({{"p", 1}}), pub("p", 1), expect("p", 5), leave(), expect("p", 5)}},
    {"PARAMETERS binds the argument slots",
     16,
     {set("a", 1), push_arg(10), push_arg(20),
      enter({{"a", 1}, {"b", 2}}, 2, 2), params("a", 1), params("b", 2),
      expect("a", 10), expect("b", 20), set("a", 11), expect_arg(1, 11),
      enter(), expect("a", 11), expect("b", 20), leave(),
      leave(), expect("a", 1), missing("b"), pop_args(2)}},
    {"LOCAL slots are seen in their frame only",
     16,
     {enter({{"x", 1}}), local("x", 1), set("x", 3), expect("x", 3),
      enter(), missing("x"), set("x", 4), expect("x", 4), leave(),
      expect("x", 3), leave(), missing("x")}},
    {"LPARAMETERS makes the argument slots LOCAL",
     16,
     {push_arg(7), enter({{"n", 1}}, 1, 1), lparameters(1), expect("n", 7), set("n", 8), expect_arg(1, 8),
      enter(), missing("n"), leave(), leave(), missing("n"), pop_args(1)}},
    {"LOCAL by name lives in the frame's own map",
     16,
     {enter(), local_by_name("y"), set("y", 5), expect("y", 5), undo_free(16),
      enter(), missing("y"), leave(), expect("y", 5), leave(), missing("y")}},
    {"An assignment makes a PRIVATE of the assigning frame",
     16,
     {enter(), set("v", 1), undo_free(15), enter(), expect("v", 1), set("v", 2), undo_free(15), leave(),
      expect("v", 2), leave(), missing("v"), undo_free(16)}},
    {"PRIVATE of an unbound name does nothing",
     16,
     {enter(), priv("n"), missing("n"), undo_free(16), leave()}},
    {"Filling the undo array raises 103 and changes nothing",
     3,
     {enter(), set("a", 1), set("b", 2), set("c", 3), fails(set("d", 4), 103), missing("d"), expect("c", 3),
      undo_free(0), leave(), missing("a"), missing("c"), undo_free(3)}},
    {"PRIVATE and PARAMETERS need an undo record too",
     2,
     {set("g", 1), undo_free(1), push_arg(5), enter({{"a", 1}}, 1, 1), priv("g"), undo_free(0), missing("g"),
      fails(params("a", 1), 103), missing("a"), priv("h"), leave(), expect("g", 1), undo_free(1),
      pop_args(1)}},
    {"LOCAL of a PARAMETERS name is error 1960",
     16,
     {push_arg(1), enter({{"a", 1}}, 1, 1), params("a", 1), fails(local("a", 1), 1960),
      fails(local_by_name("a"), 1960), expect("a", 1), leave(), pop_args(1)}},
    {"PUBLIC of a PRIVATE name is error 1960",
     16,
     {enter({{"q", 1}, {"r", 2}}), set("q", 1), fails(pub("q", 1), 1960), set("r", 2), enter({{"r", 1}}),
      fails(pub("r", 1), 1960), leave(), leave()}},
};

TEST(VmStackScoping, Table) {
  TestRuntime rt;
  for (const ScopeCase& c : kScopeCases) {
    SCOPED_TRACE(c.title);
    ScopeRunner runner(&rt, c.nundo);
    size_t i = 0;
    for (const Step& step : c.steps) {
      runner.run(step, i++);
      if (::testing::Test::HasFatalFailure()) break;
    }
    runner.finish();
  }
}

// ----------------------------------------------------------------------------------------------
// Releasing variables: frame end

TEST(VmStackRelease, FrameEndRunsDestroyOfLocalsAndPrivates) {
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  VmStack s(rt.get(), 64, 16);
  auto p = make_program({{rt.sym("slot"), 1}, {rt.sym("pub"), 2}}, 0);
  in_frame(&s, p.get(), 0, [&] {
    s.declare_local_offset(1, rt.sym("slot"));
    set_probe(&s.local_slot(1)->value, &log, "slot");
    s.declare_local(rt.sym("named"));
    Memvar* m;
    ASSERT_TRUE(s.get_memvar(rt.sym("named"), &m));
    set_probe(&m->value, &log, "named");
    Variant v;
    set_probe(&v, &log, "private");
    assign(&s, rt.sym("priv"), v);
    v.release(nullptr);
    s.declare_public(2, rt.sym("pub"));
    set_probe(&v, &log, "public");
    assign(&s, rt.sym("pub"), v);
    v.release(nullptr);
    set_probe(&s.push()->value, &log, "temporary");
  });
  for (const char* name : {"slot", "named", "private", "temporary"}) {
    EXPECT_EQ(count_events(log, std::string("DESTROY ") + name), 1u) << name;
    EXPECT_EQ(count_events(log, std::string("free ") + name), 1u) << name;
  }
  EXPECT_EQ(count_events(log, "DESTROY public"), 0u);
  Memvar* m;
  ASSERT_TRUE(s.get_memvar(rt.sym("pub"), &m));
  EXPECT_EQ(m->value.tag, VT_OBJECT);
  EXPECT_FALSE(s.get_memvar(rt.sym("priv"), &m));
  EXPECT_EQ(s.frame_memvars, nullptr);
}

TEST(VmStackRelease, DestroyCodeAtFrameEndMayUseVariables) {
  // Each object's DESTROY reads the PUBLIC counter, writes it back and creates variables of its
  // own; all of it runs while the ending frame's variables are being released.
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  VmStack s(rt.get(), 512, 256);
  symbol_id_type counter = rt.sym("counter");
  auto outer = make_program({{counter, 1}}, 0);
  in_frame(&s, outer.get(), 0, [&] {
    s.declare_public(1, counter);
    assign_int(&s, counter, 0);
    auto body = [&](VmStack* st) {
      Memvar* c;
      ASSERT_TRUE(st->get_memvar(counter, &c));
      int n = int_of(c->value);
      assign_int(st, counter, n + 1);
      for (int k = 0; k < 5; ++k) assign_int(st, rt.sym(("tmp" + std::to_string(k)).c_str()), k);
    };
    in_frame(&s, empty_program(), 0, [&] {
      for (int i = 0; i < 40; ++i) {
        Variant v;
        set_probe(&v, &log, "p" + std::to_string(i), body);
        assign(&s, rt.sym(("obj" + std::to_string(i)).c_str()), v);
        v.release(nullptr);
      }
      s.declare_local(rt.sym("loc"));
      Memvar* m;
      ASSERT_TRUE(s.get_memvar(rt.sym("loc"), &m));
      set_probe(&m->value, &log, "loc", body);
    });
    Memvar* c;
    ASSERT_TRUE(s.get_memvar(counter, &c));
    EXPECT_EQ(int_of(c->value), 41);
  });
  for (int i = 0; i < 40; ++i) EXPECT_EQ(count_events(log, "free p" + std::to_string(i)), 1u);
  EXPECT_EQ(count_events(log, "free loc"), 1u);
  Memvar* m;
  EXPECT_FALSE(s.get_memvar(rt.sym("tmp0"), &m));
  EXPECT_EQ(s.undo_top, s.undo + s.nundo);
}

TEST(VmStackRelease, NativeDestroyAtFrameEndMakesVariablesOfTheEndingFrame) {
  // A member that runs on the caller's frame: while the ending frame's bindings are undone, it
  // creates new ones of that frame, which must be undone too (and not mistaken for the record
  // being undone).
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  VmStack s(rt.get(), 64, 32);
  UndoMemvar* undo_top = s.undo_top;
  in_frame(&s, empty_program(), 0, [&] {
    for (int i = 0; i < 3; ++i) {
      Variant v;
      ProbeObject* p = set_probe(&v, &log, "native" + std::to_string(i), [&, i](VmStack* st) {
        assign_int(st, rt.sym(("made" + std::to_string(i)).c_str()), i);
        Variant child;
        set_probe(&child, &log, "child" + std::to_string(i));
        assign(st, rt.sym(("child" + std::to_string(i)).c_str()), child);
        child.release(nullptr);
      });
      p->own_frame = false;
      assign(&s, rt.sym(("obj" + std::to_string(i)).c_str()), v);
      v.release(nullptr);
    }
  });
  EXPECT_EQ(s.undo_top, undo_top);
  EXPECT_TRUE(s.memvars.empty());
  EXPECT_EQ(s.frame_memvars, nullptr);
  Memvar* m;
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(s.get_memvar(rt.sym(("made" + std::to_string(i)).c_str()), &m)) << i;
    EXPECT_FALSE(s.get_memvar(rt.sym(("child" + std::to_string(i)).c_str()), &m)) << i;
    EXPECT_EQ(count_events(log, "free native" + std::to_string(i)), 1u) << i;
    EXPECT_EQ(count_events(log, "DESTROY child" + std::to_string(i)), 1u) << i;
    EXPECT_EQ(count_events(log, "free child" + std::to_string(i)), 1u) << i;
  }
}

// ----------------------------------------------------------------------------------------------
// Releasing variables: destruction of the stack

TEST(VmStackRelease, DestructionRunsDestroyOfPublicPrivateAndLocal) {
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  {
    VmStack s(rt.get(), 64, 16);
    symbol_id_type pub = rt.sym("pub");
    auto p = make_program({{pub, 1}}, 0);
    in_frame(&s, p.get(), 0, [&] { s.declare_public(1, pub); });
    Variant v;
    set_probe(&v, &log, "public");
    assign(&s, pub, v);  // the PUBLIC
    v.release(nullptr);
    set_probe(&v, &log, "private");
    assign(&s, rt.sym("priv"), v);  // a PRIVATE of the command line
    v.release(nullptr);
    s.declare_local(rt.sym("loc"));  // a LOCAL of the command line
    Memvar* m;
    ASSERT_TRUE(s.get_memvar(rt.sym("loc"), &m));
    set_probe(&m->value, &log, "local");
    EXPECT_EQ(count_events(log, "DESTROY public"), 0u);
  }
  for (const char* name : {"public", "private", "local"}) {
    EXPECT_EQ(count_events(log, std::string("DESTROY ") + name), 1u) << name;
    EXPECT_EQ(count_events(log, std::string("destroy ") + name), 1u) << name;
    EXPECT_EQ(count_events(log, std::string("free ") + name), 1u) << name;
  }
}

TEST(VmStackRelease, DestructionSurvivesDestroyCodeThatChangesTheMaps) {
  // DESTROY code assigns variables while the stack releases them: inside its own frame (new
  // bindings come and go, the map rehashes), and without a frame (new command-line variables,
  // themselves holding objects, appear in the maps being released).
  for (bool own_frame : {true, false}) {
    SCOPED_TRACE(own_frame ? "member with its own frame" : "member on the caller's frame");
    ProbeRunnerScope runner;
    ProbeLog log;
    TestRuntime rt;
    symbol_id_type counter = rt.sym("counter");
    {
      VmStack s(rt.get(), 1024, 512);
      // PUBLIC counter and obj0 .. obj29; obj30 .. obj59 are PRIVATEs of the command line.
      local_offset_map offsets{{counter, 1}};
      for (int i = 0; i < 30; ++i) offsets[rt.sym(("obj" + std::to_string(i)).c_str())] = i + 2;
      auto p = make_program(offsets, 0);
      in_frame(&s, p.get(), 0, [&] {
        for (const auto& [symbol, offset] : offsets) s.declare_public(offset, symbol);
      });
      assign_int(&s, counter, 0);
      for (int i = 0; i < 60; ++i) {
        Variant v;
        ProbeObject* probe = set_probe(&v, &log, "p" + std::to_string(i), [&, i](VmStack* st) {
          Memvar* c;
          if (st->get_memvar(counter, &c) && c->value.tag == VT_INTEGER) assign_int(st, counter, int_of(c->value) + 1);
          for (int k = 0; k < 8; ++k) assign_int(st, rt.sym(("made" + std::to_string(i * 8 + k)).c_str()), k);
          Variant child;
          set_probe(&child, &log, "child" + std::to_string(i));
          assign(st, rt.sym(("child" + std::to_string(i)).c_str()), child);
          child.release(nullptr);
        });
        probe->own_frame = own_frame;
        assign(&s, rt.sym(("obj" + std::to_string(i)).c_str()), v);
        v.release(nullptr);
      }
      s.declare_local(rt.sym("loc"));
      Memvar* m;
      ASSERT_TRUE(s.get_memvar(rt.sym("loc"), &m));
      set_probe(&m->value, &log, "loc");
    }
    for (int i = 0; i < 60; ++i) {
      EXPECT_EQ(count_events(log, "DESTROY p" + std::to_string(i)), 1u) << i;
      EXPECT_EQ(count_events(log, "free p" + std::to_string(i)), 1u) << i;
      EXPECT_EQ(count_events(log, "free child" + std::to_string(i)), 1u) << i;
    }
    EXPECT_EQ(count_events(log, "free loc"), 1u);
  }
}

// Each object's DESTROY makes the next object of a chain in a new variable of the command line,
// until `length` objects were made.
void make_chain_link(VmStack* stack, TestRuntime* rt, ProbeLog* log, int* made, int length) {
  int n = (*made)++;
  Variant v;
  ProbeObject* p = set_probe(&v, log, "link" + std::to_string(n), [stack, rt, log, made, length](VmStack*) {
    if (*made < length) make_chain_link(stack, rt, log, made, length);
  });
  p->own_frame = false;
  assign(stack, rt->sym(("link" + std::to_string(n)).c_str()), v);
  v.release(nullptr);
}

TEST(VmStackRelease, DestructionFollowsObjectsThatDestroyCodeMakes) {
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  int made = 0;
  {
    VmStack s(rt.get(), 64, 64);
    make_chain_link(&s, &rt, &log, &made, 300);
  }
  EXPECT_EQ(made, 300);
  for (int i = 0; i < made; ++i) {
    EXPECT_EQ(count_events(log, "DESTROY link" + std::to_string(i)), 1u) << "link " << i;
    EXPECT_EQ(count_events(log, "free link" + std::to_string(i)), 1u) << "link " << i;
  }
}

TEST(VmStackRelease, DestructionEndsWhenDestroyCodeKeepsMakingObjects) {
  // An endless chain: the stack's end stops following it after a bounded amount of work and
  // frees the rest without running DESTROY.
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  int made = 0;
  {
    VmStack s(rt.get(), 64, 64);
    make_chain_link(&s, &rt, &log, &made, INT32_MAX);
  }
  EXPECT_GT(made, 100);
  for (int i = 0; i < made; ++i) EXPECT_EQ(count_events(log, "free link" + std::to_string(i)), 1u) << "link " << i;
}

TEST(VmStackRelease, DestructionUndoesCommandLinePrivates) {
  // PRIVATE on the command line hides a PUBLIC with no frame to end: the stack's end frees both.
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  {
    VmStack s(rt.get(), 64, 16);
    symbol_id_type x = rt.sym("x");
    auto p = make_program({{x, 1}}, 0);
    in_frame(&s, p.get(), 0, [&] { s.declare_public(1, x); });
    Variant v;
    set_probe(&v, &log, "hidden public");
    assign(&s, x, v);
    v.release(nullptr);
    s.declare_private(x);
    set_probe(&v, &log, "command-line private");
    assign(&s, x, v);
    v.release(nullptr);
  }
  EXPECT_EQ(count_events(log, "DESTROY hidden public"), 1u);
  EXPECT_EQ(count_events(log, "free hidden public"), 1u);
  EXPECT_EQ(count_events(log, "DESTROY command-line private"), 1u);
  EXPECT_EQ(count_events(log, "free command-line private"), 1u);
}

TEST(VmStackRelease, DestroyErrorsDoNotStopDestruction) {
  ProbeRunnerScope runner;
  ProbeLog log;
  TestRuntime rt;
  Variant keep;  // a failed teardown leaves the object to the references taken meanwhile
  {
    VmStack s(rt.get(), 64, 16);
    Variant v;
    ProbeObject* bad = set_probe(&v, &log, "bad");
    bad->destroy_member = [&keep, bad](VmStack*) {
      keep.set(static_cast<Object*>(bad));
      throw RuntimeError(1098, String("boom"));
    };
    assign(&s, rt.sym("a"), v);
    v.release(nullptr);
    set_probe(&v, &log, "good");
    assign(&s, rt.sym("b"), v);
    v.release(nullptr);
  }
  EXPECT_EQ(count_events(log, "DESTROY bad"), 1u);
  EXPECT_EQ(count_events(log, "DESTROY good"), 1u);
  EXPECT_EQ(count_events(log, "free good"), 1u);
  keep.release(nullptr);
  EXPECT_EQ(count_events(log, "DESTROY bad"), 1u);
  EXPECT_EQ(count_events(log, "free bad"), 1u);
}

TEST(VmStackRelease, MethodContextScopeRestores) {
  TestRuntime rt;
  VmStack s(rt.get(), 16, 4);
  s.method_context.member = 7;
  s.method_context.mode = ACCESS_READ;
  DataSession_Object* before = s.current_data_session;
  {
    MethodContextScope scope(&s);
    s.method_context.member = 9;
    s.method_context.mode = ACCESS_CALL;
    s.set_current_data_session(nullptr);
    EXPECT_EQ(scope.saved().member, 7u);
  }
  EXPECT_EQ(s.method_context.member, 7u);
  EXPECT_EQ(s.method_context.mode, ACCESS_READ);
  EXPECT_EQ(s.current_data_session, before);
  EXPECT_EQ(s.session_settings, &before->settings);
}

}  // namespace
}  // namespace qzbase
