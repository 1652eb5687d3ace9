// interpreter_test.cpp - the non-call operations of the interpreter loop on assembled programs.
#include "interp_support.h"

#include <cmath>
#include <functional>
#include <map>

namespace qzbase::testing_vm {
namespace {

using A = Assembler;

// A program: the operations appended by build, then VmOpReturnValue.
template <class F>
Program* expr(F&& build) {
  A a;
  build(a);
  a.op<VmOpReturnValue>();
  return a.build("EXPR");
}

Variant str_(const String& s);
Variant make_int(int64_t v) {
  Variant x;
  x.set(integer_type_st{v});
  return x;
}

class Interpreter : public InterpTest {};

TEST_F(Interpreter, ConstantsOfEveryType) {
  EXPECT_EQ(run(expr([](A& a) { a.op<VmOpReadConstTrue>(); })).tag, VT_TRUE);
  EXPECT_EQ(run(expr([](A& a) { a.op<VmOpReadConstFalse>(); })).tag, VT_FALSE);
  EXPECT_EQ(run(expr([](A& a) { a.op<VmOpReadConstNull>(); })).tag, VT_NULL);
  EXPECT_EQ(as_int(run(expr([](A& a) { a.op<VmOpReadConstInteger>(-42); }))), -42);
  Variant n = run(expr([](A& a) { a.op<VmOpReadConstNumeric>(numeric_type_st{2.5, 1}); }));
  EXPECT_EQ(n.tag, VT_NUMERIC);
  EXPECT_EQ(n.numeric.value, 2.5);
  EXPECT_EQ(n.numeric.decimals, 1u);
  Variant m = run(expr([](A& a) { a.op<VmOpReadConstMoney>(money_type_st{123456}); }));
  EXPECT_EQ(m.tag, VT_MONEY);
  EXPECT_TRUE(m.money.value == 123456);
  Variant d = run(expr([](A& a) { a.op<VmOpReadConstDate>(date_st{2460000}); }));
  EXPECT_EQ(d.tag, VT_DATE);
  EXPECT_EQ(d.date.day, 2460000u);
  Variant t = run(expr([](A& a) { a.op<VmOpReadConstDatetime>(datetime_st{2460000, 5000}); }));
  EXPECT_EQ(t.tag, VT_DATETIME);
  EXPECT_EQ(t.datetime.ms, 5000);
  Variant s = run(expr([](A& a) { a.op<VmOpReadConstString>(String("hello")); }));
  EXPECT_EQ(s.tag, VT_STRING);
  EXPECT_EQ(text(s), "hello");
  stack->textmerge_on = 1;
  EXPECT_EQ(run(expr([](A& a) { a.op<VmOpTestTextmergeOn>(); })).tag, VT_TRUE);
  stack->textmerge_on = 0;
  EXPECT_EQ(run(expr([](A& a) { a.op<VmOpTestTextmergeOn>(); })).tag, VT_FALSE);
  expect_clean();
}

template <class Op>
Variant binary(InterpTest* t, const Variant& l, const Variant& r);

struct PushValue {
  // Pushes any plain value through constants.
  static void push(A& a, const Variant& v) {
    switch (v.tag) {
      case VT_NULL: a.op<VmOpReadConstNull>(); break;
      case VT_TRUE: a.op<VmOpReadConstTrue>(); break;
      case VT_FALSE: a.op<VmOpReadConstFalse>(); break;
      case VT_INTEGER: a.op<VmOpReadConstInteger>(v.integer.value); break;
      case VT_NUMERIC: a.op<VmOpReadConstNumeric>(v.numeric); break;
      case VT_STRING: a.op<VmOpReadConstString>(v.string); break;
      default: ADD_FAILURE() << "no constant for tag " << int(v.tag);
    }
  }
};

Variant str_(const String& s) {
  Variant v;
  v.set(s);
  return v;
}
Variant nul() {
  Variant v;
  v.set_null();
  return v;
}
Variant num(double x) {
  Variant v;
  v.set(numeric_type_st{x, free_decimals});
  return v;
}
Variant boolean(bool b) {
  Variant v;
  v.set_bool(b);
  return v;
}

template <class Op>
Variant bin(InterpTest* t, const Variant& l, const Variant& r) {
  A a;
  PushValue::push(a, l);
  PushValue::push(a, r);
  a.op<Op>();
  a.op<VmOpReturnValue>();
  Program* p = a.build("BIN");
  t->programs.emplace_back(p);
  Variant res;
  execute_program(t->stack.get(), 0, false, p, &res);
  return res;
}

TEST_F(Interpreter, ArithmeticWithNullRules) {
  EXPECT_EQ(as_int(bin<VmOpBinaryAdd>(this, make_int(2), make_int(3))), 5);
  EXPECT_EQ(as_int(bin<VmOpBinarySub>(this, make_int(10), make_int(4))), 6);
  EXPECT_EQ(as_int(bin<VmOpBinaryMul>(this, make_int(6), make_int(7))), 42);
  EXPECT_EQ(as_int(bin<VmOpBinaryMod>(this, make_int(7), make_int(3))), 1);
  Variant ov = bin<VmOpBinaryAdd>(this, make_int(INT64_MAX), make_int(1));
  EXPECT_EQ(ov.tag, VT_NUMERIC);  // integer overflow falls back to numeric
  EXPECT_EQ(text(bin<VmOpBinaryAdd>(this, str_(String("ab")), str_(String("cd")))), "abcd");
  EXPECT_EQ(bin<VmOpBinaryMul>(this, nul(), make_int(2)).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryMul>(this, make_int(2), nul()).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryMod>(this, nul(), make_int(2)).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryMod>(this, make_int(2), nul()).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinarySub>(this, nul(), nul()).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryAdd>(this, nul(), make_int(1)).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryDiv>(this, num(1), nul()).tag, VT_NULL);
  // 107 for types that cannot be added; the stack is released by the frame.
  try {
    bin<VmOpBinaryAdd>(this, make_int(1), str_(String("x")));
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 107);
  }
  Variant neg = run(expr([](A& a) {
    a.op<VmOpReadConstInteger>(5);
    a.op<VmOpUnaryNeg>();
  }));
  EXPECT_EQ(as_int(neg), -5);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstNull>();
              a.op<VmOpUnaryNeg>();
            })).tag,
            VT_NULL);
  expect_clean();
}

TEST_F(Interpreter, ComparisonTruthTable) {
  struct Row {
    int64_t l, r;
    bool eq, lt, le, gt, ge, ne;
  };
  const Row rows[] = {{1, 2, false, true, true, false, false, true},
                      {2, 2, true, false, true, false, true, false},
                      {3, 2, false, false, false, true, true, true}};
  for (const Row& row : rows) {
    for (int numeric = 0; numeric < 2; ++numeric) {
      Variant l = numeric ? num(double(row.l)) : make_int(row.l);
      Variant r = make_int(row.r);
      EXPECT_EQ(bin<VmOpBinaryEq>(this, l, r).tag, row.eq ? VT_TRUE : VT_FALSE);
      EXPECT_EQ(bin<VmOpBinaryEqEq>(this, l, r).tag, row.eq ? VT_TRUE : VT_FALSE);
      EXPECT_EQ(bin<VmOpBinaryLt>(this, l, r).tag, row.lt ? VT_TRUE : VT_FALSE);
      EXPECT_EQ(bin<VmOpBinaryLtEq>(this, l, r).tag, row.le ? VT_TRUE : VT_FALSE);
      EXPECT_EQ(bin<VmOpBinaryGt>(this, l, r).tag, row.gt ? VT_TRUE : VT_FALSE);
      EXPECT_EQ(bin<VmOpBinaryGtEq>(this, l, r).tag, row.ge ? VT_TRUE : VT_FALSE);
      EXPECT_EQ(bin<VmOpBinaryLtGt>(this, l, r).tag, row.ne ? VT_TRUE : VT_FALSE);
    }
  }
  // Every operator yields null when the comparison reports null.
  EXPECT_EQ(bin<VmOpBinaryEq>(this, nul(), make_int(1)).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryEqEq>(this, make_int(1), nul()).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryLt>(this, nul(), nul()).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryLtGt>(this, nul(), make_int(1)).tag, VT_NULL);
  EXPECT_EQ(bin<VmOpBinaryEq>(this, str_(String("a")), str_(String("a"))).tag, VT_TRUE);
  expect_clean();
}

// a OR b as the compiler emits it: a, 30 -> end, b, 33, end.
Variant or_of(InterpTest* t, const Variant& x, const Variant& y) {
  A a;
  auto end = a.new_label();
  PushValue::push(a, x);
  a.jump<VmOpCondTrueJumpKeepEsp>(end);
  PushValue::push(a, y);
  a.op<VmOpCondTrueOrNullMerge2P>();
  a.bind(end);
  a.op<VmOpReturnValue>();
  Program* p = a.build("OR");
  t->programs.emplace_back(p);
  Variant res;
  execute_program(t->stack.get(), 0, false, p, &res);
  return res;
}

TEST_F(Interpreter, ThreeValuedOr) {
  EXPECT_EQ(or_of(this, nul(), boolean(true)).tag, VT_TRUE);
  EXPECT_EQ(or_of(this, nul(), boolean(false)).tag, VT_NULL);
  EXPECT_EQ(or_of(this, boolean(false), nul()).tag, VT_NULL);
  EXPECT_EQ(or_of(this, nul(), nul()).tag, VT_NULL);
  EXPECT_EQ(or_of(this, boolean(true), nul()).tag, VT_TRUE);
  EXPECT_EQ(or_of(this, boolean(false), boolean(false)).tag, VT_FALSE);
  EXPECT_EQ(or_of(this, boolean(false), boolean(true)).tag, VT_TRUE);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstNull>();
              a.op<VmOpUnaryNot>();
            })).tag,
            VT_NULL);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstTrue>();
              a.op<VmOpUnaryNot>();
            })).tag,
            VT_FALSE);
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstInteger>(1);
              a.op<VmOpUnaryNot>();
            })),
            11);
  expect_clean();
}

// FOR i = from TO to STEP step: the number of iterations (capped).
int64_t for_count(InterpTest* t, const Variant& from, const Variant& to, const Variant& step) {
  symbol_id_type I = t->sym("I"), N = t->sym("N");
  A a;
  a.local(I, 1).local(N, 2);
  a.op<VmOpDefLocalOffset>(1, I);
  a.op<VmOpDefLocalOffset>(2, N);
  PushValue::push(a, from);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpReadConstInteger>(0);
  a.op<VmOpWriteMemvarByOffset>(2);
  auto loop = a.new_label(), end = a.new_label();
  a.bind(loop);
  PushValue::push(a, step);
  PushValue::push(a, to);
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.jump<VmOpForCondFalseJump>(end);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadAddWriteLocal>(2);
  // a cap against endless loops
  a.op<VmOpReadLocalMemvarByOffset>(2);
  a.op<VmOpReadConstInteger>(1000);
  a.op<VmOpBinaryGtEq>();
  a.jump<VmOpCondTrueJump>(end);
  PushValue::push(a, step);
  a.op<VmOpReadAddWriteLocal>(1);
  a.jump<VmOpJump>(loop);
  a.bind(end);
  a.op<VmOpReadLocalMemvarByOffset>(2);
  a.op<VmOpReturnValue>();
  Program* p = a.build("FOR");
  t->programs.emplace_back(p);
  Variant res;
  execute_program(t->stack.get(), 0, false, p, &res);
  return as_int(res);
}

TEST_F(Interpreter, ForTestWithPositiveNegativeAndZeroSteps) {
  EXPECT_EQ(for_count(this, make_int(1), make_int(5), make_int(1)), 5);
  EXPECT_EQ(for_count(this, make_int(1), make_int(10), make_int(3)), 4);  // 1 4 7 10
  EXPECT_EQ(for_count(this, make_int(5), make_int(1), make_int(-1)), 5);
  EXPECT_EQ(for_count(this, make_int(1), make_int(5), make_int(-1)), 0);
  EXPECT_EQ(for_count(this, make_int(3), make_int(3), make_int(0)), 0);  // ends when equal
  EXPECT_EQ(for_count(this, num(1), num(2), num(0.5)), 3);                // 1 1.5 2
  EXPECT_EQ(for_count(this, num(2), make_int(1), num(-0.25)), 5);
  EXPECT_EQ(for_count(this, nul(), make_int(1), make_int(1)), 0);  // null ends the loop
  expect_clean();
}

// The FOR loop of the compiler's shape (test: step, limit, counter, 41; step: step, 73, jump to
// the test), with the step's slot past the limit's as FOR lays them out or elsewhere; run as
// assembled or after fuse_operations. The text of the slot `result` after the loop (1: the
// counter, 2: the body's runs, capped), or "!code".
std::string for_shape_run(InterpTest* t, const Variant& from, const Variant& to, const Variant& step, bool adjacent,
                          bool fuse, offset_type result) {
  symbol_id_type I = t->sym("I"), N = t->sym("N"), L = t->sym("L"), S = t->sym("S"), X = t->sym("X");
  offset_type limit_slot = adjacent ? 3 : 4, step_slot = adjacent ? 4 : 3;
  A a;
  a.local(I, 1).local(N, 2).local(L, limit_slot).local(S, step_slot).local(X, 5);
  a.op<VmOpDefLocalOffset>(1, I);
  a.op<VmOpDefLocalOffset>(2, N);
  a.op<VmOpDefLocalOffset>(limit_slot, L);
  a.op<VmOpDefLocalOffset>(step_slot, S);
  a.op<VmOpDefLocalOffset>(5, X);  // a LOCAL past the limit's slot: never the step
  a.op<VmOpReadConstInteger>(7);
  a.op<VmOpWriteMemvarByOffset>(5);
  PushValue::push(a, from);
  a.op<VmOpWriteMemvarByOffset>(1);
  a.op<VmOpReadConstInteger>(0);
  a.op<VmOpWriteMemvarByOffset>(2);
  PushValue::push(a, to);
  a.op<VmOpWriteMemvarByOffset>(limit_slot);
  PushValue::push(a, step);
  a.op<VmOpWriteMemvarByOffset>(step_slot);
  auto test = a.new_label(), end = a.new_label();
  a.bind(test);
  a.op<VmOpReadLocalMemvarByOffset>(step_slot);
  a.op<VmOpReadLocalMemvarByOffset>(limit_slot);
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.jump<VmOpForCondFalseJump>(end);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadAddWriteLocal>(2);
  a.op<VmOpReadLocalMemvarByOffset>(2);  // a cap against endless loops
  a.op<VmOpReadConstInteger>(20);
  a.op<VmOpBinaryGtEq>();
  a.jump<VmOpCondTrueJump>(end);
  a.op<VmOpReadLocalMemvarByOffset>(step_slot);
  a.op<VmOpReadAddWriteLocal>(1);
  a.jump<VmOpJump>(test);
  a.bind(end);
  a.op<VmOpReadLocalMemvarByOffset>(result);
  a.op<VmOpReturnValue>();
  Program* p = a.build("FOR");
  if (fuse) {
    fuse_operations(p);
    EXPECT_EQ(p->code()[15]->opcode, OP_FUSED_FOR_TEST);
    EXPECT_EQ(p->code()[25]->opcode, OP_FUSED_FOR_STEP);
  }
  t->programs.emplace_back(p);
  Variant res;
  try {
    execute_program(t->stack.get(), 0, false, p, &res);
  } catch (const RuntimeError& e) {
    return "!" + std::to_string(e.code);
  }
  std::string out = text(res);
  res.release(t->stack.get());
  return out;
}

// The fused FOR operations do what the operations one by one do, on every kind of limit and step.
TEST_F(Interpreter, FusedForLoopsAsTheOperationsOneByOne) {
  const int64_t big = INT64_MAX;
  struct Case {
    Variant from, to, step;
  } cases[] = {
      {make_int(1), make_int(5), make_int(1)},
      {make_int(1), make_int(10), make_int(3)},
      {make_int(5), make_int(1), make_int(-1)},
      {make_int(1), make_int(5), make_int(-1)},
      {make_int(3), make_int(3), make_int(0)},
      {make_int(1), make_int(3), make_int(0)},
      {make_int(1), num(3.5), make_int(1)},
      {make_int(12), num(10.000000000000002), make_int(-1)},  // equal to 10 within the tolerance
      {make_int(1), num(2.9999999999999996), make_int(1)},
      {make_int(-2), num(0.0), make_int(1)},
      {make_int(1), num(std::nan("")), make_int(1)},
      {make_int(1), num(-HUGE_VAL), make_int(1)},
      {make_int(big - 2), make_int(big), make_int(1)},  // the counter leaves the 64-bit range
      {make_int(big - 2), num(9.3e18), make_int(2)},
      {make_int(1), nul(), make_int(1)},
      {make_int(1), make_int(3), nul()},
      {make_int(1), make_int(2), num(0.5)},
      {num(1.5), make_int(4), make_int(1)},
      {make_int(1), str_(String("x")), make_int(1)},
  };
  for (Case& c : cases) {
    for (bool adjacent : {true, false}) {
      auto both = [&](bool fuse) {
        return for_shape_run(this, c.from, c.to, c.step, adjacent, fuse, 2) + " " +
               for_shape_run(this, c.from, c.to, c.step, adjacent, fuse, 1);
      };
      std::string plain = both(false);
      SCOPED_TRACE(text(c.from) + " TO " + text(c.to) + " STEP " + text(c.step) + (adjacent ? "" : " (apart)") +
                   ": " + plain);
      EXPECT_EQ(both(true), plain);
    }
    c.to.release(stack.get());
  }
  expect_clean();
}

TEST_F(Interpreter, CastsWithAndWithoutNullAllowed) {
  EXPECT_EQ(as_int(run(expr([](A& a) {
              a.op<VmOpReadConstNumeric>(numeric_type_st{3.7, 1});
              a.op<VmOpCastToIntegerImplicitly>(0);
            }))),
            3);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstInteger>(3);
              a.op<VmOpCastToNumericImplicitly>(0);
            })).tag,
            VT_NUMERIC);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstInteger>(3);
              a.op<VmOpCastToMoneyImplicitly>(0);
            })).tag,
            VT_MONEY);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstNull>();
              a.op<VmOpCastToIntegerImplicitly>(1);
            })).tag,
            VT_NULL);
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstNull>();
              a.op<VmOpCastToIntegerImplicitly>(0);
            })),
            11);
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstInteger>(1);
              a.op<VmOpCastToBooleanImplicitly>(1);
            })),
            11);
  EXPECT_EQ(run(expr([](A& a) {
              a.op<VmOpReadConstFalse>();
              a.op<VmOpCastToBooleanImplicitly>(0);
            })).tag,
            VT_FALSE);
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstInteger>(1);
              a.op<VmOpCastToObjectImplicitly>(0);
            })),
            11);
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstNull>();
              a.op<VmOpCastToNotNull>();
            })),
            11);
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstString>(String("x"));
              a.op<VmOpCastToDateImplicitly>(0);
            })),
            11);
  // Overflow in a cast is a language error, not a std::overflow_error ending the process.
  EXPECT_EQ(run_error(expr([](A& a) {
              a.op<VmOpReadConstNumeric>(numeric_type_st{1e30, free_decimals});
              a.op<VmOpCastToMoneyImplicitly>(0);
            })),
            1988);
  money_type_st huge{static_cast<__int128>(1000000000000000000LL) * 100000};
  EXPECT_EQ(run_error(expr([&](A& a) {
              a.op<VmOpReadConstMoney>(huge);
              a.op<VmOpCastToIntegerImplicitly>(0);
            })),
            39);
  expect_clean();
}

TEST_F(Interpreter, ArgumentChecks) {
  symbol_id_type X = sym("X");
  auto check = [&](bool by_ref, uint8_t expected, int32_t flags, bool null_value = false) {
    A a;
    a.local(X, 1);
    a.op<VmOpDefLocalOffset>(1, X);
    if (null_value) {
      a.op<VmOpReadConstNull>();
    } else {
      a.op<VmOpReadConstInteger>(7);
    }
    a.op<VmOpWriteMemvarByOffset>(1);
    if (by_ref) {
      a.op<VmOpReadLocalMemvarPointerByOffset>(1);
    } else {
      a.op<VmOpReadLocalMemvarByOffset>(1);
    }
    a.op<VmOpCheckArgument>(expected, flags);
    a.op<VmOpEspFree>();
    a.op<VmOpReturn>();
    return run_error(a.build("CHECK"));
  };
  EXPECT_EQ(check(false, VT_INTEGER, 0), 0);
  EXPECT_EQ(check(false, VT_STRING, 0), 11);
  EXPECT_EQ(check(false, VT_INTEGER, CHECK_ARG_BY_REFERENCE), 11);  // must be by reference
  EXPECT_EQ(check(true, VT_INTEGER, CHECK_ARG_BY_REFERENCE), 0);
  EXPECT_EQ(check(true, VT_INTEGER, CHECK_ARG_MAY_BE_REFERENCE), 0);
  EXPECT_EQ(check(true, VT_INTEGER, 0), 11);  // neither value nor reference allowed: 11
  EXPECT_EQ(check(true, VT_STRING, CHECK_ARG_MAY_BE_REFERENCE), 11);
  EXPECT_EQ(check(false, VT_INTEGER, CHECK_ARG_NULL_ALLOWED, true), 0);
  EXPECT_EQ(check(false, VT_INTEGER, 0, true), 11);
  expect_clean();
}

TEST_F(Interpreter, DeclarationsAndError1960) {
  symbol_id_type X = sym("X"), Y = sym("Y");
  // LOCAL of a name declared by PARAMETERS: 1960 with the name.
  {
    A a;
    a.local(X, 1).parameters(1);
    a.op<VmOpInitParameter>(1, X);
    a.op<VmOpDefLocal>(X);
    a.op<VmOpReturn>();
    Program* p = a.build("P");
    programs.emplace_back(p);
    stack->push()->value.set(integer_type_st{1});
    try {
      Variant r;
      execute_program(stack.get(), 1, false, p, &r);
      ADD_FAILURE();
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1960);
      EXPECT_EQ(e.detail.u8str(), "X");
    }
    stack->pop();
  }
  // LOCAL of a compiled slot that is a parameter: 1960.
  {
    A a;
    a.local(X, 1).parameters(1);
    a.op<VmOpInitParameter>(1, X);
    a.op<VmOpDefLocalOffset>(1, X);
    a.op<VmOpReturn>();
    Program* p = a.build("P");
    programs.emplace_back(p);
    stack->push();
    Variant r;
    EXPECT_THROW(execute_program(stack.get(), 1, false, p, &r), RuntimeError);
    stack->pop();
  }
  // PUBLIC twice creates one variable; PRIVATE of an unbound name does nothing.
  {
    A a;
    a.local(Y, 1);
    a.op<VmOpDefPrivateSymbol>(X);
    a.op<VmOpDefPublicOffset>(1, Y);
    a.op<VmOpDefPublicOffset>(1, Y);
    a.op<VmOpReadConstInteger>(5);
    a.op<VmOpWriteMemarByName>(Y);
    a.op<VmOpReturn>();
    run(a.build("PUB"));
    Memvar* m;
    ASSERT_TRUE(stack->get_memvar(Y, &m));
    EXPECT_EQ(as_int(m->value), 5);
    EXPECT_EQ(stack->memvars.size(), 1u);
  }
  // Reading an unknown name: 12 with the name.
  try {
    run(expr([&](A& a) { a.op<VmOpReadMemvarByName>(X); }));
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 12);
    EXPECT_EQ(e.detail.u8str(), "X");
  }
  EXPECT_EQ(run(expr([&](A& a) { a.op<VmOpReadMemvarByNameDefault>(X); })).tag, VT_FALSE);
}

// A fake table: fields by symbol, each reading as the field's name in lower case.
struct FakeTable {
  std::map<symbol_id_type, int> fields;
  std::vector<std::string> values;
  int lookups = 0;
};
FakeTable* g_table = nullptr;

class FieldReads : public Interpreter {
 protected:
  void SetUp() override {
    g_table = &table;
    vm_table_hooks.field_by_symbol = [](Table_Object*, symbol_id_type s) {
      ++g_table->lookups;
      auto it = g_table->fields.find(s);
      return it == g_table->fields.end() ? -1 : it->second;
    };
    vm_table_hooks.read_field = [](VmStack*, Table_Object*, int f, Variant* out) {
      out->set(String(g_table->values.at(f).c_str()));
    };
  }
  void TearDown() override {
    vm_table_hooks = vm_table_hooks_st{};
    stack->current_data_session->current_table = nullptr;
    stack->bound_table = nullptr;
    g_table = nullptr;
  }
  Table_Object* fake() { return reinterpret_cast<Table_Object*>(&table); }
  FakeTable table;
};

TEST_F(FieldReads, FieldBeforeMemvar) {
  symbol_id_type NAME = sym("NAME"), CITY = sym("CITY");
  table.fields[NAME] = 0;
  table.values = {"field name"};
  assign(stack.get(), NAME, str_(String("memvar name")));
  assign(stack.get(), CITY, str_(String("memvar city")));
  // No table open: the memory variable.
  EXPECT_EQ(text(run(expr([&](A& a) { a.op<VmOpReadByName>(NAME); }))), "memvar name");
  // A selected table with that field: the field hides the memory variable.
  stack->current_data_session->current_table = fake();
  EXPECT_EQ(text(run(expr([&](A& a) { a.op<VmOpReadByName>(NAME); }))), "field name");
  EXPECT_EQ(text(run(expr([&](A& a) { a.op<VmOpReadByName>(CITY); }))), "memvar city");
  // The bound table comes before the selected one.
  FakeTable other;
  stack->bound_table = reinterpret_cast<Table_Object*>(&other);
  table.lookups = 0;
  Program* p = expr([&](A& a) { a.op<VmOpReadByName>(NAME); });
  programs.emplace_back(p);
  g_table->fields.clear();  // the hook answers for any table: none has it now
  Variant r;
  execute_program(stack.get(), 0, false, p, &r);
  EXPECT_EQ(text(r), "memvar name");
  stack->bound_table = nullptr;
  stack->current_data_session->current_table = nullptr;
  // 85 without a bound table.
  EXPECT_EQ(run_error(expr([&](A& a) { a.op<VmOpReadFieldByFieldNum>(0); })), 52);
}

TEST_F(FieldReads, CachedReadsInALoopAndInvalidation) {
  symbol_id_type NAME = sym("NAME"), I = sym("I");
  table.fields[NAME] = 0;
  table.values = {"f"};
  stack->current_data_session->current_table = fake();
  // 1000 reads of NAME in one frame: one field lookup.
  A a;
  a.local(I, 1);
  a.op<VmOpDefLocalOffset>(1, I);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpWriteMemvarByOffset>(1);
  auto loop = a.new_label(), end = a.new_label();
  a.bind(loop);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadConstInteger>(1000);
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.jump<VmOpForCondFalseJump>(end);
  a.op<VmOpReadByName>(NAME);
  a.op<VmOpEspFree>();
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadAddWriteLocal>(1);
  a.jump<VmOpJump>(loop);
  a.bind(end);
  a.op<VmOpReadByName>(NAME);
  a.op<VmOpReturnValue>();
  EXPECT_EQ(text(run(a.build("LOOP"))), "f");
  EXPECT_LE(table.lookups, 3);
  // A changed work area (the table epoch) or a new binding is seen at once.
  Program* p = expr([&](A& b) { b.op<VmOpReadByName>(NAME); });
  programs.emplace_back(p);
  Variant r1;
  execute_program(stack.get(), 0, false, p, &r1);
  EXPECT_EQ(text(r1), "f");
  table.fields.clear();
  vm_tables_changed();
  assign(stack.get(), NAME, str_(String("m")));
  Variant r2;
  execute_program(stack.get(), 0, false, p, &r2);
  EXPECT_EQ(text(r2), "m");
  Memvar* m;
  ASSERT_TRUE(stack->get_memvar(NAME, &m));
  m->value.release(stack.get());
  m->value.set(String("m2"));
  Variant r3;
  execute_program(stack.get(), 0, false, p, &r3);
  EXPECT_EQ(text(r3), "m2");
}

// With a table selected every name read goes through the cache; in recursion one operation reads
// the LOCAL of each frame, never the one of the frame that filled the entry.
TEST_F(FieldReads, OneReadInEveryFrameOfARecursionFindsThatFramesLocal) {
  symbol_id_type N = sym("N"), X = sym("X");
  table.fields[sym("OTHER")] = 0;
  table.values = {"f"};
  stack->current_data_session->current_table = fake();
  // R(n): X = n; IF n < 3: RETURN X + 10 * R(n + 1); RETURN X. R(1) is 321.
  alignas(UserFunction) unsigned char storage[sizeof(UserFunction)];
  const auto* self = reinterpret_cast<const UserFunction*>(storage);
  A a;
  a.local(N, 1).local(X, 2).parameters(1);
  a.op<VmOpInitLocalParameters>(1);
  a.op<VmOpDefLocalOffset>(2, X);
  a.op<VmOpReadByName>(N);
  a.op<VmOpWriteMemvarByOffset>(2);
  auto last = a.new_label();
  a.op<VmOpReadByName>(N);
  a.op<VmOpReadConstInteger>(3);
  a.op<VmOpBinaryLt>();
  a.jump<VmOpCondFalseOrNullJump>(last);
  a.op<VmOpReadByName>(X);
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadByName>(N);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpBinaryAdd>();
  a.op<VmOpCallSpecUser>(self, 1);
  a.op<VmOpReadConstInteger>(10);
  a.op<VmOpBinaryMul>();
  a.op<VmOpBinaryAdd>();
  a.op<VmOpReturnValue>();
  a.bind(last);
  a.op<VmOpReadByName>(X);
  a.op<VmOpReturnValue>();
  auto* function = new (storage) UserFunction(a.build("R"));
  for (int round = 0; round < 2; ++round) {  // the second round starts with the cache filled
    stack->push()->value.set_integer(1);
    Variant r;
    execute_program(stack.get(), 1, false, function->program(), &r);
    stack->pop();
    EXPECT_EQ(as_int(r), 321);
  }
  function->~UserFunction();
  expect_clean();
}

// A program built where a freed one was, with its locals in other slots, reads its own slots.
TEST_F(FieldReads, AProgramInTheMemoryOfAFreedOneReadsItsOwnSlots) {
  symbol_id_type P = sym("P"), Q = sym("Q");
  table.fields[sym("OTHER")] = 0;
  table.values = {"f"};
  stack->current_data_session->current_table = fake();
  for (int round = 0; round < 4; ++round) {
    offset_type p_slot = round % 2 == 0 ? 1 : 2, q_slot = 3 - p_slot;
    A a;
    a.local(P, p_slot).local(Q, q_slot);
    a.op<VmOpDefLocalOffset>(p_slot, P);
    a.op<VmOpDefLocalOffset>(q_slot, Q);
    a.op<VmOpReadConstInteger>(round * 10 + 1);
    a.op<VmOpWriteMemvarByOffset>(p_slot);
    a.op<VmOpReadConstInteger>(round * 10 + 2);
    a.op<VmOpWriteMemvarByOffset>(q_slot);
    a.op<VmOpReadByName>(Q);
    a.op<VmOpReturnValue>();
    std::unique_ptr<Program> program(a.build("SCRIPT"));
    Variant r;
    execute_program(stack.get(), 0, false, program.get(), &r);
    EXPECT_EQ(as_int(r), round * 10 + 2) << "round " << round;
  }
  expect_clean();
}

TEST_F(Interpreter, JumpsAndConditions) {
  auto cond = [&](auto tag_op, bool keep) {
    (void)keep;
    return tag_op;
  };
  (void)cond;
  // 29: pops; jumps when true.
  auto prog = [&](int which, const Variant& v) {
    A a;
    auto target = a.new_label();
    PushValue::push(a, v);
    switch (which) {
      case 29: a.jump<VmOpCondTrueJump>(target); break;
      case 30: a.jump<VmOpCondTrueJumpKeepEsp>(target); break;
      case 31: a.jump<VmOpCondFalseOrNullJump>(target); break;
      case 32: a.jump<VmOpCondFalseOrNullJumpKeepEsp>(target); break;
    }
    a.op<VmOpUnwindContinue>();  // drops whatever stayed
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpReturnValue>();
    a.bind(target);
    a.op<VmOpUnwindContinue>();
    a.op<VmOpReadConstInteger>(2);
    a.op<VmOpReturnValue>();
    return a.build("J");
  };
  EXPECT_EQ(as_int(run(prog(29, boolean(true)))), 2);
  EXPECT_EQ(as_int(run(prog(29, boolean(false)))), 1);
  EXPECT_EQ(as_int(run(prog(29, nul()))), 1);
  EXPECT_EQ(as_int(run(prog(30, boolean(true)))), 2);
  EXPECT_EQ(as_int(run(prog(31, boolean(true)))), 1);
  EXPECT_EQ(as_int(run(prog(31, nul()))), 2);
  EXPECT_EQ(as_int(run(prog(32, boolean(false)))), 2);
  EXPECT_EQ(as_int(run(prog(32, boolean(true)))), 1);
  EXPECT_EQ(run_error(prog(29, num(1))), 11);
  EXPECT_EQ(run_error(prog(32, make_int(0))), 11);
  expect_clean();
}

TEST_F(Interpreter, StackDisciplineAtAThrow) {
  // The operands of a failing operation stay on the stack at the throw; the frame pops them.
  Program* p = expr([](A& a) {
    a.op<VmOpReadConstString>(String("keep"));
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpReadConstString>(String("x"));
    a.op<VmOpBinaryAdd>();
  });
  programs.emplace_back(p);
  Memvar* before = stack->sp;
  VmFrame frame;
  stack->enter_frame(&frame, p, 0, false);
  Variant r;
  EXPECT_THROW(vm_execute_opcode(stack.get(), frame.position, &r), RuntimeError);
  EXPECT_EQ(stack->sp, before - 3);
  EXPECT_EQ(frame.position, p->code() + 3);  // the failing operation
  EXPECT_EQ(text(stack->sp[2].value), "keep");
  stack->end_frame(&frame);
  expect_clean();
}

TEST_F(Interpreter, PushOnAFullStackRaises9010WithTheStackPointerUnchanged) {
  Program* p = expr([](A& a) { a.op<VmOpReadConstInteger>(1); });
  programs.emplace_back(p);
  Memvar* end = stack->sp;
  while (stack->sp != stack->slots) stack->push();
  Memvar* full = stack->sp;
  code_position pos = p->code();
  Variant r;
  try {
    vm_execute_opcode(stack.get(), pos, &r);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 9010);
  }
  EXPECT_EQ(stack->sp, full);
  EXPECT_EQ(pos, p->code());
  stack->release_stack_to(end);
}

TEST_F(Interpreter, BrokenInvariants) {
  A a;
  a.op<VmOpUnresolvedCall>(String("F"), 0);
  EXPECT_THROW(run(a.build("U")), assert_failed_exception);
  expect_clean();
  symbol_id_type X = sym("X");
  A b;
  b.local(X, 1);
  b.op<VmOpReadLocalMemvarByOffset>(1);  // not declared
  b.op<VmOpReturnValue>();
  EXPECT_THROW(run(b.build("L")), assert_failed_exception);
  expect_clean();
}

// Counts the running frame's handler records and undo records (a native function of the tests).
void count_records(VmStack* stack, size_t, Variant* result) {
  int64_t n = 0;
  for (handler_record_st* h = stack->frame->handlers; h != nullptr; h = h->next) ++n;
  int64_t undo = stack->frame->caller_undo_top - stack->undo_top;
  result->set(integer_type_st{n * 1000000 + undo});
}

// for i = 1 to n: body; then returns count_records().
Program* loop_program(InterpTest* t, int64_t n, const std::function<void(A&)>& body) {
  symbol_id_type I = t->sym("I");
  A a;
  a.local(I, 1);
  a.op<VmOpDefLocalOffset>(1, I);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpWriteMemvarByOffset>(1);
  auto loop = a.new_label(), end = a.new_label();
  a.bind(loop);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadConstInteger>(n);
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.jump<VmOpForCondFalseJump>(end);
  body(a);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadAddWriteLocal>(1);
  a.jump<VmOpJump>(loop);
  a.bind(end);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>(count_records, 0);
  a.op<VmOpReturnValue>();
  return a.build("LOOP");
}

TEST_F(Interpreter, TryInALongLoopRunsInConstantMemory) {
  Program* p = loop_program(this, 1000000, [](A& a) {
    auto start = a.new_label(), end = a.new_label(), c = a.new_label();
    a.handler(start, end, {{c, 0, nullptr}});
    a.bind(start);
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpEspFree>();
    a.bind(end);
    a.bind(c);
  });
  EXPECT_EQ(as_int(run(p)), 1000000);  // one record, no undo record
  expect_clean();
}

TEST_F(Interpreter, PrivateInALongLoopRunsInConstantMemory) {
  symbol_id_type X = sym("X");
  assign_int(stack.get(), X, 99);  // an outer binding the loop hides
  Program* p = loop_program(this, 100000, [&](A& a) {
    a.op<VmOpDefPrivateSymbol>(X);
    a.op<VmOpReadLocalMemvarByOffset>(1);
    a.op<VmOpWriteMemarByName>(X);
  });
  EXPECT_EQ(as_int(run(p)), 1);  // one undo record, the undo array (256) never fills
  Memvar* m;
  ASSERT_TRUE(stack->get_memvar(X, &m));
  EXPECT_EQ(as_int(m->value), 99);  // the outer binding is back
}

TEST_F(Interpreter, TryWithoutAFrameIsAClearError) {
  A a;
  auto start = a.new_label(), end = a.new_label();
  a.handler(start, end, {{end, 0, nullptr}});
  a.bind(start);
  a.bind(end);
  a.op<VmOpReturn>();
  std::unique_ptr<Program> p(a.build("CMD"));
  Variant r;
  try {
    execute_expression(stack.get(), p.get(), &r);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
  }
}

TEST_F(Interpreter, MacroThroughACompilerDouble) {
  static int compiled = 0;
  vm_macro_compiler = [](VmStack*, const String& text, const document_location_st* loc) -> Program* {
    ++compiled;
    EXPECT_NE(loc, nullptr);
    A a;
    if (text.u8str() == "RETURN 7") {
      a.op<VmOpReadConstInteger>(7);
      a.op<VmOpReturnValue>();
    } else {
      a.op<VmOpReturn>();
    }
    return a.build("MACRO");
  };
  auto prog = [](const char* cmd) {
    A a;
    a.line(1).op<VmOpReadConstString>(String(cmd));
    a.op<VmOpMacro>(1);
    a.op<VmOpReadConstInteger>(1);
    a.op<VmOpReturnValue>();
    return a.build("M");
  };
  EXPECT_EQ(as_int(run(prog("RETURN 7"))), 7);
  EXPECT_EQ(as_int(run(prog("x = 1"))), 1);
  A nodebug;
  nodebug.without_debug_info();
  nodebug.op<VmOpReadConstString>(String("x"));
  nodebug.op<VmOpMacro>(1);
  nodebug.op<VmOpReturn>();
  EXPECT_EQ(run_error(nodebug.build("N")), 1206);
  vm_macro_compiler = nullptr;
  EXPECT_EQ(compiled, 2);
  expect_clean();
}

}  // namespace
}  // namespace qzbase::testing_vm
