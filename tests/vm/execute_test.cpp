// execute_test.cpp - execute_program, execute_expression, UserFunction, and the mended faults of
// frame teardown and rethrow.
#include "interp_support.h"

#include <stdexcept>

#include "vm/error_handlers.h"

namespace qzbase::testing_vm {
namespace {

using A = Assembler;

class Execute : public InterpTest {};

// REC(n): IF n > 1, REC(n - 1); RETURN depth reached (n at the innermost).
struct Recursive {
  explicit Recursive(symbol_id_type N) {
    A a;
    a.local(N, 1).parameters(1);
    a.op<VmOpInitLocalParameters>(1);
    auto end = a.new_label();
    a.op<VmOpReadLocalMemvarByOffset>(1);
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpBinaryGt>();
    a.jump<VmOpCondFalseOrNullJump>(end);
    a.op<VmOpEspAlloc>();
    a.op<VmOpReadLocalMemvarByOffset>(1);
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpBinarySub>();
    call = a.op<VmOpCallSpecUser>(nullptr, 1);
    a.op<VmOpReturnValue>();
    a.bind(end);
    a.op<VmOpReadLocalMemvarByOffset>(1);
    a.op<VmOpReturnValue>();
    fn = std::make_unique<UserFunction>(a.build("REC"));
    call->function = fn.get();
  }
  VmOpCallSpecUser* call;
  std::unique_ptr<UserFunction> fn;
};

TEST_F(Execute, The128thNestedCallWorksAndThe129thRaises103) {
  Recursive rec(sym("N"));
  stack->push()->value.set(integer_type_st{128});
  Variant r;
  rec.fn->exec(stack.get(), 1, false, &r);
  EXPECT_EQ(as_int(r), 1);
  EXPECT_EQ(stack->last_call_nargs, 1u);
  stack->pop();
  expect_clean();
  stack->push()->value.set(integer_type_st{129});
  Variant r2;
  try {
    rec.fn->exec(stack.get(), 1, false, &r2);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 103);
  }
  EXPECT_EQ(stack->sp, stack->slots_end() - 1);  // the argument is the caller's to pop
  EXPECT_EQ(stack->frame, nullptr);
  EXPECT_EQ(stack->frame_arg_top, stack->slots_end());
  EXPECT_EQ(stack->frame_local_base, stack->slots_end());
  EXPECT_EQ(stack->undo_top, stack->undo + stack->nundo);
  EXPECT_EQ(stack->native_arg_top, nullptr);
  stack->pop();
  expect_clean();
}

TEST_F(Execute, ArgumentCountAndSlots) {
  symbol_id_type X = sym("X"), Y = sym("Y");
  A a;
  a.local(X, 1).local(Y, 2).parameters(2);
  a.op<VmOpInitLocalParameters>(2);
  a.op<VmOpReadLocalMemvarByOffset>(2);
  a.op<VmOpReturnValue>();
  Program* p = a.build("F");
  programs.emplace_back(p);
  // Fewer arguments than parameters: the missing ones are empty.
  stack->push()->value.set(integer_type_st{1});
  Variant r;
  execute_program(stack.get(), 1, false, p, &r);
  EXPECT_EQ(r.tag, VT_FALSE);
  EXPECT_EQ(stack->frame_nargs, 0u);
  // One more than the parameters: 94, the stack unchanged.
  stack->push();
  stack->push();
  Memvar* before = stack->sp;
  Variant r2;
  try {
    execute_program(stack.get(), 3, false, p, &r2);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 94);
  }
  EXPECT_EQ(stack->sp, before);
  stack->release_stack_to(stack->slots_end());
  // Locals that do not fit: 9010, the caller's registers restored.
  local_offset_map many;
  for (size_t k = 1; k <= 5000; ++k) many[static_cast<symbol_id_type>(2000 + k)] = k;
  Program big(String("BIG"), nullptr, 0, 0, many, nullptr, nullptr);
  Variant r3;
  try {
    execute_program(stack.get(), 0, false, &big, &r3);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 9010);
  }
  expect_clean();
}

TEST_F(Execute, VariablesCreatedByAFunctionAreGoneAfterIt) {
  symbol_id_type X = sym("X");
  A a;
  a.op<VmOpReadConstInteger>(3);
  a.op<VmOpWriteMemarByName>(X);
  a.op<VmOpReturn>();
  EXPECT_EQ(run(a.build("F")).tag, VT_TRUE);
  Memvar* m;
  EXPECT_FALSE(stack->get_memvar(X, &m));
  expect_clean();
}

TEST_F(Execute, ExpressionReadsTheCallingFramesLocal) {
  symbol_id_type X = sym("X");
  A e;
  e.op<VmOpReadMemvarByName>(X);
  e.op<VmOpReadConstInteger>(1);
  e.op<VmOpBinaryAdd>();
  e.op<VmOpReturnValue>();
  std::unique_ptr<Program> expr(e.build("E"));
  static Program* g_expr;
  g_expr = expr.get();
  A a;
  a.local(X, 1);
  a.op<VmOpDefLocalOffset>(1, X);
  a.op<VmOpReadConstInteger>(41);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>([](VmStack* s, size_t, Variant* out) { execute_expression(s, g_expr, out); }, 0);
  a.op<VmOpReturnValue>();
  EXPECT_EQ(as_int(run(a.build("F"))), 42);
  // An expression program with slots of its own is a broken invariant.
  A b;
  b.local(X, 1);
  b.op<VmOpReturn>();
  std::unique_ptr<Program> with_slots(b.build("S"));
  Variant r;
  EXPECT_THROW(execute_expression(stack.get(), with_slots.get(), &r), assert_failed_exception);
  expect_clean();
}

TEST_F(Execute, QuitUnwindsEveryFrame) {
  ProbeLog log;
  ProbeRunnerScope runner;
  symbol_id_type X = sym("X");
  static ProbeLog* g_log;
  g_log = &log;
  A inner;
  inner.op<VmOpCallSpecVoid>([](VmStack*, size_t) { throw RuntimeQuit(QUIT_CANCEL); }, 0);
  inner.op<VmOpReturn>();
  UserFunction fn(inner.build("INNER"));
  A a;
  a.local(X, 1);
  a.op<VmOpDefLocalOffset>(1, X);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>([](VmStack*, size_t, Variant* out) { set_probe(out, g_log, "p"); }, 0);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecUser>(&fn, 0);
  a.op<VmOpReturnValue>();
  try {
    run(a.build("OUTER"));
    ADD_FAILURE();
  } catch (const RuntimeQuit& q) {
    EXPECT_EQ(q.kind, QUIT_CANCEL);
  }
  EXPECT_EQ(count_events(log, "free p"), 1u);
  expect_clean();
}

// Fault: the error to rethrow was read after the teardown, where DESTROY code may replace it.
TEST_F(Execute, RethrowUsesTheErrorChosenBeforeTeardown) {
  ProbeLog log;
  ProbeRunnerScope runner;
  static ProbeLog* g_log;
  g_log = &log;
  symbol_id_type X = sym("X");
  A a;
  a.local(X, 1);
  a.op<VmOpDefLocalOffset>(1, X);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>(
      [](VmStack*, size_t, Variant* out) {
        set_probe(out, g_log, "p", [](VmStack* s) { s->last_error = RuntimeError(99); });
      },
      0);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpUnaryNot>();  // error 11
  a.op<VmOpReturn>();
  EXPECT_EQ(run_error(a.build("F")), 11);
  EXPECT_EQ(count_events(log, "DESTROY p"), 1u);
  expect_clean();
}

// Fault: an error raised by the teardown went to the frame's own handlers.
RuntimeErrorRecovery g_catch_all(VmStack* stack, how_to_handle_st& how);
int g_offers = 0;

TEST_F(Execute, TeardownErrorsGoToTheCaller) {
  ProbeLog log;
  ProbeRunnerScope runner;
  static ProbeLog* g_log;
  g_log = &log;
  symbol_id_type X = sym("X");
  A a;
  a.local(X, 1);
  auto start = a.new_label(), end = a.new_label(), c = a.new_label();
  a.op<VmOpDefLocalOffset>(1, X);
  a.handler(start, end, {{c, 0, nullptr}});
  a.bind(start);
  a.op<VmOpEspAlloc>();
  static Variant keep;  // DESTROY keeps the object alive, then fails
  a.op<VmOpCallSpecDo>(
      [](VmStack*, size_t, Variant* out) {
        ProbeObject* p = set_probe(out, g_log, "p");
        p->destroy_member = [p](VmStack*) {
          keep.set(static_cast<Object*>(p));
          throw RuntimeError(1234);
        };
      },
      0);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpReturn>();
  a.bind(end);
  a.bind(c);
  a.op<VmOpReadConstInteger>(-1);
  a.op<VmOpReturnValue>();
  vm_exception_handler = g_catch_all;
  g_offers = 0;
  int code = run_error(a.build("F"));
  vm_exception_handler = vm_handle_exception;
  EXPECT_EQ(code, 1234);
  EXPECT_EQ(g_offers, 0);  // not offered to the frame's own handlers
  EXPECT_EQ(count_events(log, "DESTROY p"), 1u);
  expect_clean();
  keep.release(nullptr);
  EXPECT_EQ(count_events(log, "free p"), 1u);
}

// A handler double: the first record of any frame protecting its position, first clause.
RuntimeErrorRecovery g_catch_all(VmStack* stack, how_to_handle_st& how) {
  ++g_offers;
  for (const VmFrame* f = stack->frame; f != nullptr; f = f->previous) {
    for (handler_record_st* h = f->handlers; h != nullptr; h = h->next) {
      if (h->handler->protects(f->position)) {
        how.frame = f;
        how.target = static_cast<intptr_t>(h->handler->clauses[0].target);
        how.symbol = h->handler->clauses[0].variable;
        how.value.set(integer_type_st{stack->last_error.code});
        return RECOVERY_HANDLER;
      }
    }
  }
  return RECOVERY_PROPAGATE;
}

TEST_F(Execute, HandlerSeamSameFrameAndOuterFrame) {
  symbol_id_type E = sym("E"), N = sym("N");
  vm_exception_handler = g_catch_all;
  // Same frame: CATCH TO e receives the value, execution goes on at the clause.
  {
    A a;
    auto start = a.new_label(), end = a.new_label(), c = a.new_label();
    a.handler(start, end, {{c, E, nullptr}});
    a.bind(start);
    a.op<VmOpReadConstString>(String("temp"));
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpUnaryNot>();
    a.bind(end);
    a.bind(c);
    a.op<VmOpUnwindContinue>();
    a.op<VmOpReadMemvarByName>(E);
    a.op<VmOpReturnValue>();
    EXPECT_EQ(as_int(run(a.build("T"))), 11);
  }
  // Outer frame: the 129th nested call raises 103 and the outermost TRY catches it.
  {
    Recursive rec(N);
    A a;
    auto start = a.new_label(), end = a.new_label(), c = a.new_label();
    a.handler(start, end, {{c, E, nullptr}});
    a.bind(start);
    a.op<VmOpEspAlloc>();
    a.op<VmOpReadConstInteger>(128);  // the outer frame is depth 1: 129 frames in all
    a.op<VmOpCallSpecUser>(rec.fn.get(), 1);
    a.op<VmOpReturnValue>();
    a.bind(end);
    a.bind(c);
    a.op<VmOpUnwindContinue>();
    a.op<VmOpReadMemvarByName>(E);
    a.op<VmOpReturnValue>();
    EXPECT_EQ(as_int(run(a.build("OUTER"))), 103);
  }
  vm_exception_handler = vm_handle_exception;
  expect_clean();
}

// Fault: memory running out aborted the process; it is error 43, which a handler catches and
// which reaches the caller as a language error when nothing catches it.
TEST_F(Execute, AllocationFailureIsError43) {
  symbol_id_type E = sym("E");
  vm_exception_handler = g_catch_all;
  {
    A a;
    auto start = a.new_label(), end = a.new_label(), c = a.new_label();
    a.handler(start, end, {{c, E, nullptr}});
    a.bind(start);
    a.op<VmOpReadConstString>(String("temp"));
    a.op<VmOpCallSpecVoid>([](VmStack*, size_t) { throw std::bad_alloc(); }, 0);
    a.bind(end);
    a.bind(c);
    a.op<VmOpUnwindContinue>();
    a.op<VmOpReadMemvarByName>(E);
    a.op<VmOpReturnValue>();
    EXPECT_EQ(as_int(run(a.build("T"))), 43);
  }
  vm_exception_handler = vm_handle_exception;
  {
    A a;
    a.op<VmOpCallSpecVoid>([](VmStack*, size_t) { throw std::bad_alloc(); }, 0);
    a.op<VmOpReturn>();
    try {
      run(a.build("U"));
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 43);
    }
  }
  expect_clean();
}

// Fault: a non-language exception skipped the frame cleanup.
TEST_F(Execute, NonLanguageExceptionsReleaseTheFrame) {
  ProbeLog log;
  ProbeRunnerScope runner;
  static ProbeLog* g_log;
  g_log = &log;
  symbol_id_type X = sym("X");
  A a;
  a.local(X, 1);
  a.op<VmOpDefLocalOffset>(1, X);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>([](VmStack*, size_t, Variant* out) { set_probe(out, g_log, "p"); }, 0);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpReadConstString>(String("temp"));
  a.op<VmOpCallSpecVoid>([](VmStack*, size_t) { throw std::overflow_error("positive overflow"); }, 0);
  a.op<VmOpReturn>();
  EXPECT_THROW(run(a.build("F")), std::overflow_error);
  EXPECT_EQ(count_events(log, "free p"), 1u);
  expect_clean();
}

}  // namespace
}  // namespace qzbase::testing_vm
