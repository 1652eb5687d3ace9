// error_handlers_test.cpp - the handler search, THROW, the runtime-error report and its choices,
// the exception object, and the mended faults of the search.
#include "interp_support.h"

#include <deque>
#include <functional>

#include "platform/screen.h"
#include "objects/exception_object.h"
#include "vm/debugger.h"
#include "vm/error_handlers.h"

namespace qzbase::testing_vm {
namespace {

using A = Assembler;

// A screen that records the error stream and answers msgbox from a script (0 when it runs out).
class ScriptScreen : public Screen {
 public:
  void internal_out(const String&) override {}
  void internal_err(const String& text) override { err_text += text.u8str(); }
  int msgbox(const String& title, const String& text, int buttons, int default_button, int unused) override {
    calls.push_back({title.u8str(), text.u8str(), buttons, default_button, unused});
    if (answers.empty()) return 0;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  struct Call {
    std::string title, text;
    int buttons, default_button, unused;
  };
  std::string err_text;
  std::deque<int> answers;
  std::vector<Call> calls;
};

int g_module_token;  // stands for a Module: only its address and name are used here
const Module* test_module() { return reinterpret_cast<const Module*>(&g_module_token); }

class Handlers : public InterpTest {
 public:
  Handlers() : saved_handler_(vm_exception_handler), saved_name_(vm_module_name), redirect_(rt.get(), &screen) {
    vm_exception_handler = vm_handle_exception;
    vm_module_name = [](const Module* m) { return m == test_module() ? String("MAIN.PRG") : String("?"); };
  }
  ~Handlers() override {
    vm_exception_handler = saved_handler_;
    vm_module_name = saved_name_;
  }
  // A function of the test module (owned here).
  const UserFunction* function(Program* p, bool in_module = true) {
    if (in_module) p->set_owner_module(test_module());
    functions.push_back(std::make_unique<UserFunction>(p));
    return functions.back().get();
  }
  Program* module_program(Program* p) {
    p->set_owner_module(test_module());
    return p;
  }
  // A WHEN condition: the error object's ErrorNo = code.
  Program* errorno_is(int64_t code) {
    A c;
    c.local(sym("X"), 1);
    c.op<VmOpEspAlloc>();
    c.op<VmOpReadLocalMemvarByOffset>(1);
    c.op<VmOpObjectReadProperty>(sym("ERRORNO"), 0);
    c.op<VmOpReadConstInteger>(code);
    c.op<VmOpBinaryEq>();
    c.op<VmOpReturnValue>();
    return c.build("COND");
  }
  // A WHEN condition of a constant.
  static Program* constant(bool v) {
    A c;
    if (v) {
      c.op<VmOpReadConstTrue>();
    } else {
      c.op<VmOpReadConstFalse>();
    }
    c.op<VmOpReturnValue>();
    return c.build("COND");
  }
  // Appends the catch body: drop the temporaries, return e.<property>.
  void return_property(A& a, symbol_id_type e, const char* property) {
    a.op<VmOpUnwindContinue>();
    a.op<VmOpEspAlloc>();
    a.op<VmOpReadMemvarByName>(e);
    a.op<VmOpObjectReadProperty>(sym(property), 0);
    a.op<VmOpReturnValue>();
  }
  // Appends a statement raising error 11, with a temporary below it.
  static void fail_11(A& a) {
    a.op<VmOpReadConstString>(String("temp"));
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpUnaryNot>();
  }

  ScriptScreen screen;
  std::vector<std::unique_ptr<UserFunction>> functions;

 private:
  exception_handler_type saved_handler_;
  String (*saved_name_)(const Module*);
  ScreenRedirect redirect_;
};

// --- the handler search -------------------------------------------------------------------------

struct SearchCase {
  const char* name;
  std::function<Program*(Handlers&)> build;
  int64_t value;  // the result when error is 0
  int error;      // the error the run raises (0: none)
};

const SearchCase kSearchCases[] = {
    {"same frame: CATCH TO e gets the object",
     [](Handlers& t) {
       symbol_id_type E = t.sym("E");
       A a;
       auto s = a.new_label(), e = a.new_label(), c = a.new_label();
       a.handler(s, e, {{c, E, nullptr}});
       a.bind(s);
       Handlers::fail_11(a);
       a.op<VmOpReturn>();
       a.bind(e).bind(c);
       t.return_property(a, E, "ERRORNO");
       return a.build("T");
     },
     11, 0},
    {"outer frame through RuntimeThrow",
     [](Handlers& t) {
       symbol_id_type E = t.sym("E");
       A inner;
       Handlers::fail_11(inner);
       inner.op<VmOpReturn>();
       const UserFunction* f = t.function(inner.build("INNER"), false);
       A a;
       auto s = a.new_label(), e = a.new_label(), c = a.new_label();
       a.handler(s, e, {{c, E, nullptr}});
       a.bind(s);
       a.op<VmOpReadConstString>(String("temp"));
       a.op<VmOpEspAlloc>();
       a.op<VmOpCallSpecUser>(f, 0);
       a.op<VmOpReturn>();
       a.bind(e).bind(c);
       t.return_property(a, E, "ERRORNO");
       return a.build("OUTER");
     },
     11, 0},
    {"WHEN false falls to the next clause",
     [](Handlers& t) {
       A a;
       auto s = a.new_label(), e = a.new_label(), c1 = a.new_label(), c2 = a.new_label(), c3 = a.new_label();
       a.handler(s, e, {{c1, 0, Handlers::constant(false)}, {c2, 0, t.errorno_is(12)}, {c3, 0, t.errorno_is(11)}});
       a.bind(s);
       Handlers::fail_11(a);
       a.bind(e).bind(c1);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(1);
       a.op<VmOpReturnValue>();
       a.bind(c2);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(2);
       a.op<VmOpReturnValue>();
       a.bind(c3);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(3);
       a.op<VmOpReturnValue>();
       return a.build("T");
     },
     3, 0},
    {"no clause takes it: the outer frame's does",
     [](Handlers& t) {
       A inner;
       auto s = inner.new_label(), e = inner.new_label(), c = inner.new_label();
       inner.handler(s, e, {{c, 0, t.errorno_is(12)}});
       inner.bind(s);
       Handlers::fail_11(inner);
       inner.bind(e).bind(c);
       inner.op<VmOpUnwindContinue>();
       inner.op<VmOpReadConstInteger>(1);
       inner.op<VmOpReturnValue>();
       const UserFunction* f = t.function(inner.build("INNER"), false);
       A a;
       auto s2 = a.new_label(), e2 = a.new_label(), c2 = a.new_label();
       a.handler(s2, e2, {{c2, 0, t.errorno_is(11)}});
       a.bind(s2);
       a.op<VmOpEspAlloc>();
       a.op<VmOpCallSpecUser>(f, 0);
       a.op<VmOpReturnValue>();
       a.bind(e2).bind(c2);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(2);
       a.op<VmOpReturnValue>();
       return a.build("OUTER");
     },
     2, 0},
    {"a handler is inactive after ENDTRY",
     [](Handlers&) {
       A a;
       auto s = a.new_label(), e = a.new_label(), c = a.new_label(), after = a.new_label();
       a.handler(s, e, {{c, 0, nullptr}});
       a.bind(s);
       a.op<VmOpReadConstInteger>(1);
       a.op<VmOpEspFree>();
       a.bind(e);
       a.jump<VmOpJump>(after);
       a.bind(c);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(-1);
       a.op<VmOpReturnValue>();
       a.bind(after);
       Handlers::fail_11(a);
       a.op<VmOpReturn>();
       return a.build("T");
     },
     0, 11},
    {"an error in a catch body goes outward",
     [](Handlers& t) {
       symbol_id_type E = t.sym("E");
       A inner;
       auto s = inner.new_label(), e = inner.new_label(), c = inner.new_label();
       inner.handler(s, e, {{c, 0, nullptr}});
       inner.bind(s);
       Handlers::fail_11(inner);
       inner.bind(e).bind(c);
       inner.op<VmOpUnwindContinue>();
       inner.op<VmOpReadMemvarByName>(t.sym("NOSUCHVAR"));  // 12
       inner.op<VmOpReturnValue>();
       const UserFunction* f = t.function(inner.build("INNER"), false);
       A a;
       auto s2 = a.new_label(), e2 = a.new_label(), c2 = a.new_label();
       a.handler(s2, e2, {{c2, E, nullptr}});
       a.bind(s2);
       a.op<VmOpEspAlloc>();
       a.op<VmOpCallSpecUser>(f, 0);
       a.op<VmOpReturnValue>();
       a.bind(e2).bind(c2);
       t.return_property(a, E, "ERRORNO");
       return a.build("OUTER");
     },
     12, 0},
    {"THROW without a handler gives 2059",
     [](Handlers&) {
       A a;
       a.op<VmOpReadConstInteger>(7);
       a.op<VmOpCallSpecVoid>([](VmStack* s, size_t) { vm_throw(s, *Param(s, 1)); }, 1);
       a.op<VmOpReturn>();
       return a.build("T");
     },
     0, 2059},
    {"THROW in the same frame gives the value in UserValue",
     [](Handlers& t) {
       symbol_id_type E = t.sym("E");
       A a;
       auto s = a.new_label(), e = a.new_label(), c = a.new_label();
       a.handler(s, e, {{c, E, nullptr}});
       a.bind(s);
       a.op<VmOpReadConstInteger>(7);
       a.op<VmOpCallSpecVoid>([](VmStack* st, size_t) { vm_throw(st, *Param(st, 1)); }, 1);
       a.op<VmOpReturn>();
       a.bind(e).bind(c);
       t.return_property(a, E, "USERVALUE");
       return a.build("T");
     },
     7, 0},
    {"THROW from a called function reaches the caller's handler",
     [](Handlers& t) {
       symbol_id_type E = t.sym("E");
       A inner;
       inner.op<VmOpReadConstInteger>(8);
       inner.op<VmOpCallSpecVoid>([](VmStack* st, size_t) { vm_throw(st, *Param(st, 1)); }, 1);
       inner.op<VmOpReturn>();
       const UserFunction* f = t.function(inner.build("INNER"), false);
       A a;
       auto s = a.new_label(), e = a.new_label(), c = a.new_label();
       a.handler(s, e, {{c, E, nullptr}});
       a.bind(s);
       a.op<VmOpEspAlloc>();
       a.op<VmOpCallSpecUser>(f, 0);
       a.op<VmOpReturnValue>();
       a.bind(e).bind(c);
       t.return_property(a, E, "USERVALUE");
       return a.build("OUTER");
     },
     8, 0},
    // Fault: the condition's error searched outward through the frame being searched and recursed
    // to 103.
    {"an error in a WHEN condition is reported as itself",
     [](Handlers& t) {
       A cond;
       cond.op<VmOpReadMemvarByName>(t.sym("NOSUCHVAR"));  // 12
       cond.op<VmOpReturnValue>();
       A inner;
       auto s = inner.new_label(), e = inner.new_label(), c = inner.new_label();
       inner.handler(s, e, {{c, 0, cond.build("COND")}});
       inner.bind(s);
       Handlers::fail_11(inner);
       inner.bind(e).bind(c);
       inner.op<VmOpUnwindContinue>();
       inner.op<VmOpReadConstInteger>(1);
       inner.op<VmOpReturnValue>();
       const UserFunction* f = t.function(inner.build("INNER"), false);
       // The caller's catch-all does not see it either: the search ended with the error.
       A a;
       auto s2 = a.new_label(), e2 = a.new_label(), c2 = a.new_label();
       a.handler(s2, e2, {{c2, 0, nullptr}});
       a.bind(s2);
       a.op<VmOpEspAlloc>();
       a.op<VmOpCallSpecUser>(f, 0);
       a.op<VmOpReturnValue>();
       a.bind(e2).bind(c2);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(2);
       a.op<VmOpReturnValue>();
       return a.build("OUTER");
     },
     0, 12},
    {"a WHEN condition that is not logical ends the search with its error",
     [](Handlers&) {
       A cond;
       cond.op<VmOpReadConstInteger>(1);
       cond.op<VmOpReturnValue>();
       A a;
       auto s = a.new_label(), e = a.new_label(), c = a.new_label();
       a.handler(s, e, {{c, 0, cond.build("COND")}});
       a.bind(s);
       Handlers::fail_11(a);
       a.bind(e).bind(c);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(1);
       a.op<VmOpReturnValue>();
       return a.build("T");
     },
     0, 107},
    {"an error in a WHEN condition caught inside the condition",
     [](Handlers& t) {
       A cond;
       auto s = cond.new_label(), e = cond.new_label(), c = cond.new_label();
       cond.handler(s, e, {{c, 0, nullptr}});
       cond.bind(s);
       cond.op<VmOpReadMemvarByName>(t.sym("NOSUCHVAR"));
       cond.op<VmOpReturnValue>();
       cond.bind(e).bind(c);
       cond.op<VmOpUnwindContinue>();
       cond.op<VmOpReadConstTrue>();
       cond.op<VmOpReturnValue>();
       A a;
       auto s2 = a.new_label(), e2 = a.new_label(), c2 = a.new_label();
       a.handler(s2, e2, {{c2, 0, cond.build("COND")}});
       a.bind(s2);
       Handlers::fail_11(a);
       a.bind(e2).bind(c2);
       a.op<VmOpUnwindContinue>();
       a.op<VmOpReadConstInteger>(5);
       a.op<VmOpReturnValue>();
       return a.build("T");
     },
     5, 0},
};

TEST_F(Handlers, SearchTable) {
  for (const SearchCase& c : kSearchCases) {
    SCOPED_TRACE(c.name);
    Program* p = c.build(*this);
    programs.emplace_back(p);
    Variant r;
    int error = 0;
    try {
      execute_program(stack.get(), 0, false, p, &r);
    } catch (const RuntimeError& e) {
      error = e.code;
      EXPECT_EQ(stack->last_error.code, e.code);
    }
    EXPECT_EQ(error, c.error);
    if (c.error == 0) {
      EXPECT_EQ(as_int(r), c.value);
    }
    r.release(stack.get());
    EXPECT_TRUE(screen.err_text.empty());  // no program here belongs to a module
    expect_clean();
    EXPECT_TRUE(stack->memvars.empty());  // the CATCH TO variables were PRIVATE of the frames
  }
}

// Fault: a caught throw was copied into the pending throw only when its target frame differed from
// the pending one's; a pending throw left by an earlier run names a frame at the same address as
// the new target, and the throw arrived without its value.
TEST_F(Handlers, AThrowFromACalleeArrivesWithItsValueAfterAnEarlierThrow) {
  auto build = [&](const char* name) {
    for (const SearchCase& c : kSearchCases) {
      if (std::string(c.name) == name) return c.build(*this);
    }
    throw_assert_failed();
  };
  for (int i = 0; i < 2; ++i) {
    Variant same = run(build("THROW in the same frame gives the value in UserValue"));
    EXPECT_EQ(as_int(same), 7);
    Variant outer = run(build("THROW from a called function reaches the caller's handler"));
    EXPECT_EQ(as_int(outer), 8);
  }
  EXPECT_EQ(stack->pending_throw.target_frame, nullptr);
  EXPECT_EQ(stack->pending_throw.value.tag, VT_FALSE);
  expect_clean();
}

TEST_F(Handlers, TheExceptionObjectCarriesTheErrorAndTheErrorListHasIt) {
  symbol_id_type E = sym("E");
  for (const char* property : {"MESSAGE", "DETAIL"}) {
    A a;
    auto s = a.new_label(), e = a.new_label(), c = a.new_label();
    a.handler(s, e, {{c, E, nullptr}});
    a.bind(s);
    a.op<VmOpReadMemvarByName>(sym("NOSUCHVAR"));
    a.bind(e).bind(c);
    return_property(a, E, property);
    Variant r = run(a.build("T"));
    std::string expect = std::string(property) == "DETAIL" ? "NOSUCHVAR" : "Variable 'NOSUCHVAR' is not found.";
    EXPECT_EQ(text(r), expect);
    r.release(stack.get());
  }
  ASSERT_EQ(stack->errors.size(), 1u);
  EXPECT_EQ(as_int(stack->errors[0].number), 12);
  expect_clean();
}

TEST_F(Handlers, ExceptionPropertiesAreReadOnly) {
  ObjectPointer obj = CreateObject(stack.get(), String("Exception"), nullptr, 0);
  auto* x = dynamic_cast<Exception_Object*>(obj.get_object());
  ASSERT_NE(x, nullptr);
  x->set_error(5, String("m"), String("d"));
  Variant r;
  x->virtual_access(stack.get(), sym("errorno"), 0, &r);
  EXPECT_EQ(as_int(r), 5);
  r.release(stack.get());
  x->virtual_access(stack.get(), sym("UserValue"), 0, &r);
  EXPECT_EQ(r.tag, VT_FALSE);
  auto code = [&](auto f) {
    try {
      f();
    } catch (const RuntimeError& e) {
      return e.code;
    }
    return 0;
  };
  EXPECT_EQ(code([&] { x->virtual_assign(stack.get(), sym("ERRORNO"), 1); }), 1734);
  EXPECT_EQ(code([&] { x->virtual_access_ref(stack.get(), sym("MESSAGE"), 0, &r); }), 9008);
  EXPECT_EQ(code([&] { x->virtual_access(stack.get(), sym("NOPE"), 0, &r); }), 1734);
}

// Fault: an error escaping the handler search skipped the release of the frame.
TEST_F(Handlers, AnErrorInAConditionReleasesTheFrame) {
  ProbeLog log;
  ProbeRunnerScope runner;
  static ProbeLog* g_log;
  g_log = &log;
  symbol_id_type X = sym("X");
  A cond;
  cond.op<VmOpReadMemvarByName>(sym("NOSUCHVAR"));
  cond.op<VmOpReturnValue>();
  A a;
  a.local(X, 1);
  auto s = a.new_label(), e = a.new_label(), c = a.new_label();
  a.op<VmOpDefLocalOffset>(1, X);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>([](VmStack*, size_t, Variant* out) { set_probe(out, g_log, "p"); }, 0);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.handler(s, e, {{c, 0, cond.build("COND")}});
  a.bind(s);
  fail_11(a);
  a.bind(e).bind(c);
  a.op<VmOpUnwindContinue>();
  a.op<VmOpReturn>();
  EXPECT_EQ(run_error(a.build("F")), 12);
  EXPECT_EQ(count_events(log, "DESTROY p"), 1u);
  EXPECT_EQ(count_events(log, "free p"), 1u);
  EXPECT_EQ(stack->handler_search_base, nullptr);
  expect_clean();
}

// Fault: the error object was copied below the stack pointer even when that was outside the slots.
TEST(HandlersOverflow, CatchAroundStackOverflowStaysInsideTheSlots) {
  TestRuntime rt;
  exception_handler_type saved = vm_exception_handler;
  vm_exception_handler = vm_handle_exception;
  symbol_id_type E = rt.sym("E"), X = rt.sym("X");
  auto condition = [&] {
    A c;
    c.local(X, 1);
    c.op<VmOpReadConstTrue>();
    c.op<VmOpReturnValue>();
    return c.build("COND");
  };
  for (bool with_condition : {true, false}) {
    SCOPED_TRACE(with_condition ? "CATCH TO e WHEN x..." : "CATCH TO e");
    VmStack stack(rt.get(), 8, 8);
    A a;
    auto s = a.new_label(), e = a.new_label(), c = a.new_label();
    a.handler(s, e, {{c, E, with_condition ? condition() : nullptr}});
    a.bind(s);
    for (int i = 0; i < 12; ++i) a.op<VmOpReadConstInteger>(i);  // more than the 8 slots
    a.op<VmOpReturn>();
    a.bind(e).bind(c);
    a.op<VmOpUnwindContinue>();
    a.op<VmOpEspAlloc>();
    a.op<VmOpReadMemvarByName>(E);
    a.op<VmOpObjectReadProperty>(rt.sym("ERRORNO"), 0);
    a.op<VmOpReturnValue>();
    std::unique_ptr<Program> p(a.build("T"));
    Variant r;
    int error = 0;
    try {
      execute_program(&stack, 0, false, p.get(), &r);
    } catch (const RuntimeError& err) {
      error = err.code;
    }
    if (with_condition) {
      EXPECT_EQ(error, 9010);  // no room for the condition's slot: the search ends
    } else {
      EXPECT_EQ(error, 0);
      EXPECT_EQ(as_int(r), 9010);
    }
    EXPECT_EQ(stack.sp, stack.slots_end());
    for (Memvar* m = stack.slots_begin(); m < stack.slots_end(); ++m) EXPECT_EQ(m->value.tag, VT_FALSE);
  }
  vm_exception_handler = saved;
}

// --- the report and the user's choice -----------------------------------------------------------

TEST_F(Handlers, ReportTextIsExactAndNoDialogAnswerPropagates) {
  A a;
  a.line(7);
  fail_11(a);
  a.op<VmOpReturn>();
  EXPECT_EQ(run_error(module_program(a.build("MAIN"))), 11);
  EXPECT_EQ(screen.err_text,
            "(Runtime error) 11 - Function argument value, type or count is invalid.\n"
            " in MAIN.PRG, line 7, column 0, program MAIN\n"
            "\n");
  ASSERT_EQ(screen.calls.size(), 1u);
  EXPECT_EQ(screen.calls[0].title, "");
  EXPECT_EQ(screen.calls[0].text, "");
  EXPECT_EQ(screen.calls[0].buttons, 0x68);
  EXPECT_EQ(screen.calls[0].default_button, 8);
  EXPECT_EQ(screen.calls[0].unused, 1);
  expect_clean();
}

TEST_F(Handlers, CommandLineErrorsAreNotReported) {
  A a;
  fail_11(a);
  a.op<VmOpReturn>();
  EXPECT_EQ(run_error(a.build("")), 11);
  EXPECT_TRUE(screen.err_text.empty());
  EXPECT_TRUE(screen.calls.empty());
}

TEST_F(Handlers, CancelPrintsTheStackTraceFromTheFrameCountDown) {
  A inner;
  inner.line(3);
  fail_11(inner);
  inner.op<VmOpReturn>();
  const UserFunction* f = function(inner.build(""));  // anonymous
  A mid;
  mid.line(5).op<VmOpEspAlloc>();
  mid.op<VmOpCallSpecUser>(f, 0);
  mid.op<VmOpReturnValue>();
  const UserFunction* g = function(mid.build("MID"));
  A a;
  a.line(9).op<VmOpEspAlloc>();
  a.op<VmOpCallSpecUser>(g, 0);
  a.op<VmOpReturnValue>();
  screen.answers = {MSGBOX_CANCEL};
  EXPECT_EQ(run_error(module_program(a.build("MAIN"))), 11);
  EXPECT_EQ(screen.err_text,
            "(Runtime error) 11 - Function argument value, type or count is invalid.\n"
            " in MAIN.PRG, line 3, column 0, program <anonymous>\n"
            "\n"
            "(Stack trace)\n"
            " #003 in MAIN.PRG, line 3, column 0, program <anonymous>\n"
            " #002 in MAIN.PRG, line 5, column 0, program MID\n"
            " #001 in MAIN.PRG, line 9, column 0, program MAIN\n"
            "\n");
  EXPECT_EQ(screen.calls.size(), 1u);  // the outer frames only pass the error on
  expect_clean();
}

// Fault: Retry and Ignore resumed with the failed statement's temporaries on the stack, and the
// frame-end check aborted.
int g_flaky_calls = 0;

TEST_F(Handlers, RetryRunsTheStatementAgainWithABalancedStack) {
  symbol_id_type N = sym("N");
  A a;
  a.local(N, 1);
  a.statement(1).op<VmOpDefLocalOffset>(1, N);
  a.statement(2).line(2);
  a.op<VmOpReadConstInteger>(100);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>(
      [](VmStack*, size_t, Variant* out) {
        if (++g_flaky_calls == 1) throw RuntimeError(11);
        out->set_integer(5);
      },
      0);
  a.op<VmOpBinaryAdd>();
  a.op<VmOpWriteMemvarByOffset>(1);
  a.statement(3).op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpReturnValue>();
  g_flaky_calls = 0;
  screen.answers = {MSGBOX_RETRY};
  EXPECT_EQ(as_int(run(module_program(a.build("MAIN")))), 105);
  EXPECT_EQ(g_flaky_calls, 2);
  EXPECT_EQ(screen.calls.size(), 1u);
  expect_clean();
}

TEST_F(Handlers, IgnoreGoesOnWithTheNextStatementWithABalancedStack) {
  symbol_id_type N = sym("N");
  A a;
  a.local(N, 1);
  a.statement(1).op<VmOpDefLocalOffset>(1, N);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.statement(2);
  fail_11(a);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.statement(3).op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpReturnValue>();
  screen.answers = {MSGBOX_IGNORE};
  EXPECT_EQ(as_int(run(module_program(a.build("MAIN")))), 1);
  expect_clean();
}

// Fault: Ignore on the last statement left the frame at the null end of the program (a broken
// invariant in the loop); with nothing to go on with, the error propagates.
TEST_F(Handlers, IgnoreOnTheLastStatementPropagates) {
  A a;
  a.statement(1);
  fail_11(a);
  a.op<VmOpReturn>();
  screen.answers = {MSGBOX_IGNORE};
  EXPECT_EQ(run_error(module_program(a.build("MAIN"))), 11);
  expect_clean();
}

TEST_F(Handlers, ADebuggerWithoutAFrontEndLeavesTheErrorToHandlersAndReport) {
  NoProgramDebugger debugger;
  stack->debugger = &debugger;
  A a;
  fail_11(a);
  a.op<VmOpReturn>();
  EXPECT_EQ(run_error(module_program(a.build("MAIN"))), 11);
  EXPECT_FALSE(screen.err_text.empty());
  EXPECT_EQ(debugger.stack, stack.get());
  stack->debugger = nullptr;
}

}  // namespace
}  // namespace qzbase::testing_vm
