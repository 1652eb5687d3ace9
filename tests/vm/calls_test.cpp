// calls_test.cpp - native, user and dynamic calls, object members and array elements.
#include "interp_support.h"

#include <map>

namespace qzbase::testing_vm {
namespace {

using A = Assembler;

class Calls : public InterpTest {};

void add_args(VmStack* stack, size_t n, Variant* result) {
  int64_t s = 0;
  for (size_t k = 1; k <= n; ++k) s = s * 10 + Param(stack, k)->integer.value;
  result->set(integer_type_st{s});
}

TEST_F(Calls, NativeCallsKeepTheStackPointer) {
  A a;
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadConstInteger>(2);
  a.op<VmOpReadConstInteger>(3);
  a.op<VmOpCallSpecDo>(add_args, 3);
  a.op<VmOpReturnValue>();
  EXPECT_EQ(as_int(run(a.build("N"))), 123);
  // A native that moves the stack pointer trips the assertion.
  A b;
  b.op<VmOpEspAlloc>();
  b.op<VmOpCallSpecDo>([](VmStack* s, size_t, Variant*) { s->push(); }, 0);
  b.op<VmOpReturnValue>();
  EXPECT_THROW(run(b.build("BAD")), assert_failed_exception);
  stack->release_stack_to(stack->slots_end());
  // A command gets no result and leaves the stack where it was before its arguments.
  static int64_t seen = 0;
  A c;
  c.op<VmOpReadConstInteger>(7);
  c.op<VmOpCallSpecVoid>([](VmStack* s, size_t n) { seen = n == 1 ? Param(s, 1)->integer.value : -1; }, 1);
  c.op<VmOpReturn>();
  EXPECT_EQ(run(c.build("C")).tag, VT_TRUE);
  EXPECT_EQ(seen, 7);
  expect_clean();
}

// Fault: the native-call argument top was restored only on the normal path.
TEST_F(Calls, ArgumentTopRestoredAfterANestedThrow) {
  A inner;
  inner.op<VmOpReadConstInteger>(1);
  inner.op<VmOpCallSpecVoid>([](VmStack*, size_t) { throw RuntimeError(5); }, 1);
  inner.op<VmOpReturn>();
  static Program* g_inner;
  std::unique_ptr<Program> owner(inner.build("INNER"));
  g_inner = owner.get();
  A a;
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadConstInteger>(42);
  a.op<VmOpCallSpecDo>(
      [](VmStack* s, size_t, Variant* out) {
        try {
          Variant r;
          execute_program(s, 0, false, g_inner, &r);
        } catch (const RuntimeError&) {
        }
        out->set(integer_type_st{Param(s, 1)->integer.value});  // still our own argument
      },
      1);
  a.op<VmOpReturnValue>();
  EXPECT_EQ(as_int(run(a.build("OUTER"))), 42);
  EXPECT_EQ(stack->native_arg_top, nullptr);
  expect_clean();
}

struct FakeResolver : CallResolver {
  bool find_library_function(VmStack*, const String& name, library_function_st* out) override {
    auto it = natives.find(name.u8str());
    if (it == natives.end()) return false;
    *out = it->second;
    return true;
  }
  const Function* find_procedure(VmStack*, symbol_id_type symbol) override {
    auto it = procedures.find(symbol);
    return it == procedures.end() ? nullptr : it->second;
  }
  std::map<std::string, library_function_st> natives;
  std::map<symbol_id_type, const Function*> procedures;
};

TEST_F(Calls, DynamicCalls) {
  FakeResolver resolver;
  function_signature_st sig_i, sig_ii;
  parse_function_signature("I", &sig_i);
  parse_function_signature("II", &sig_ii);
  resolver.natives["PLUG"] = {[](VmStack* s, size_t n, Variant* out) {
                                EXPECT_EQ(Param(s, 1)->tag, VT_INTEGER);  // converted before the call
                                out->set(integer_type_st{Param(s, 1)->integer.value * 10 + int64_t(n)});
                              },
                              &sig_i};
  resolver.natives["TWO"] = {add_args, &sig_ii};
  A proc;
  proc.op<VmOpReadConstInteger>(77);
  proc.op<VmOpReturnValue>();
  UserFunction fn(proc.build("PROC"));
  resolver.procedures[sym("PROC")] = &fn;
  RuntimeVmState* vm = find_runtime_vm(rt.get());
  vm->call_resolver = &resolver;
  auto call = [&](const char* name, std::vector<double> args) {
    A a;
    a.op<VmOpEspAlloc>();
    for (double x : args) a.op<VmOpReadConstNumeric>(numeric_type_st{x, 1});
    a.op<VmOpCallSpecDynamic>(sym(name), args.size());
    a.op<VmOpReturnValue>();
    return a.build("D");
  };
  EXPECT_EQ(as_int(run(call("plug", {3.9}))), 31);
  EXPECT_EQ(run_error(call("plug", {1, 2})), 94);
  EXPECT_EQ(run_error(call("two", {1})), 11);
  EXPECT_EQ(as_int(run(call("proc", {}))), 77);
  try {
    run(call("nowhere", {}));
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1);
    EXPECT_EQ(e.detail.u8str(), "NOWHERE");
  }
  vm->call_resolver = nullptr;
  expect_clean();
}

// A fake object: "[]" reads give the sum of the indexes, writes are recorded; member VALUE
// returns 5 by value, REF returns a reference to its field.
struct FakeObject : Object {
  FakeObject() : Object(probe_class()) {}
  void virtual_call(VmStack* stack, symbol_id_type, size_t, Variant* result) override {
    if (by_ref) {
      field.ref(stack, result, this);
    } else {
      result->set(integer_type_st{5});
    }
  }
  void virtual_access(VmStack* stack, symbol_id_type symbol, size_t n, Variant* result) override {
    EXPECT_EQ(symbol, symbol_INDEXER);
    int64_t s = 0;
    for (size_t k = 0; k < n; ++k) s = s * 10 + stack->sp[k].value.integer.value;
    result->set(integer_type_st{s});
  }
  void virtual_access_ref(VmStack*, symbol_id_type, size_t, Variant* result) override { result->set(integer_type_st{1}); }
  void virtual_assign(VmStack* stack, symbol_id_type symbol, size_t n) override {
    EXPECT_EQ(symbol, symbol_INDEXER);
    assigned = n;
    value = stack->sp[n - 1].value.integer.value;  // the value is the oldest
  }
  bool by_ref = false;
  Variant field;
  size_t assigned = 0;
  int64_t value = 0;
};

TEST_F(Calls, ArrayElementsWithOneAndTwoIndexes) {
  symbol_id_type ARR = sym("ARR"), B = sym("B");
  A a;
  a.local(ARR, 1).local(B, 2);
  a.op<VmOpDefLocalOffset>(1, ARR);
  a.op<VmOpDefLocalOffset>(2, B);
  a.op<VmOpEspAlloc>();
  a.op<VmOpCallSpecDo>([](VmStack* s, size_t, Variant* out) { out->dimension(s, 2, 3); }, 0);
  a.op<VmOpWriteMemvarByOffset>(1);
  // arr(2, 3) = 23, arr(1) = 11
  a.op<VmOpReadConstInteger>(23);
  a.op<VmOpReadConstInteger>(2);
  a.op<VmOpReadConstInteger>(3);
  a.op<VmOpWriteArrayByOffset>(1, 2);
  a.op<VmOpReadConstInteger>(11);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpWriteArrayByOffset>(1, 1);
  // b = arr (shared block); b(1) = 99 copies on write
  a.op<VmOpReadLocalMemvarByOffset>(1);
  a.op<VmOpWriteMemvarByOffset>(2);
  a.op<VmOpReadConstInteger>(99);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpWriteArrayByOffset>(2, 1);
  // arr(6) * 10000 + arr(1) * 100 + b(1)
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadConstInteger>(6);
  a.op<VmOpReadMemvarIndexLocal>(1, 1);
  a.op<VmOpReadConstInteger>(10000);
  a.op<VmOpBinaryMul>();
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadConstInteger>(1);
  a.op<VmOpReadMemvarIndexLocal>(1, 2);
  a.op<VmOpReadConstInteger>(100);
  a.op<VmOpBinaryMul>();
  a.op<VmOpBinaryAdd>();
  a.op<VmOpEspAlloc>();
  a.op<VmOpReadConstNumeric>(numeric_type_st{1.0, 1});
  a.op<VmOpReadMemvarIndexLocal>(2, 1);
  a.op<VmOpBinaryAdd>();
  a.op<VmOpReturnValue>();
  EXPECT_EQ(as_int(run(a.build("ARR"))), 231199);
  expect_clean();
}

TEST_F(Calls, ArrayErrorsAndNamedArrays) {
  symbol_id_type X = sym("X"), Q = sym("Q");
  assign_int(stack.get(), X, 1);
  auto read = [&](symbol_id_type s, int n) {
    A a;
    a.op<VmOpEspAlloc>();
    for (int k = 0; k < n; ++k) a.op<VmOpReadConstInteger>(1);
    a.op<VmOpReadArrayItemByName>(s, n);
    a.op<VmOpReturnValue>();
    return a.build("R");
  };
  EXPECT_EQ(run_error(read(X, 1)), 232);
  EXPECT_EQ(run_error(read(Q, 1)), 12);
  Memvar* m;
  ASSERT_TRUE(stack->get_memvar(X, &m));
  m->value.release(stack.get());
  m->value.dimension(stack.get(), 3, 0);
  EXPECT_EQ(run_error(read(X, 3)), 11);
  EXPECT_EQ(run(read(X, 1)).tag, VT_FALSE);
  A w;
  w.op<VmOpReadConstInteger>(5);
  w.op<VmOpReadConstInteger>(1);
  w.op<VmOpReadConstInteger>(1);
  w.op<VmOpReadConstInteger>(1);
  w.op<VmOpWriteArrayByName>(X, 3);
  w.op<VmOpReturn>();
  EXPECT_EQ(run_error(w.build("W")), 11);
}

TEST_F(Calls, ObjectIndexerAndMembers) {
  symbol_id_type O = sym("O"), M = sym("M");
  auto* obj = new FakeObject();
  Variant ov;
  ov.set_new_object(obj);
  assign(stack.get(), O, ov);
  // o[1, 2] reads "[]" with the indexes in order.
  A r;
  r.op<VmOpEspAlloc>();
  r.op<VmOpReadConstInteger>(1);
  r.op<VmOpReadConstInteger>(2);
  r.op<VmOpReadArrayItemByName>(O, 2);
  r.op<VmOpReturnValue>();
  EXPECT_EQ(as_int(run(r.build("R"))), 21);  // slot 0 is the last index: 2 * 10 + 1
  // o[3] = 8 assigns through "[]" with the value and the index.
  A w;
  w.op<VmOpReadConstInteger>(8);
  w.op<VmOpReadConstInteger>(3);
  w.op<VmOpWriteArrayByName>(O, 1);
  w.op<VmOpReturn>();
  run(w.build("W"));
  EXPECT_EQ(obj->assigned, 2u);
  EXPECT_EQ(obj->value, 8);
  // o.m() by value; 47 on a plain result: 9004 before the arguments are popped.
  A c;
  c.op<VmOpEspAlloc>();
  c.op<VmOpReadMemvarByName>(O);
  c.op<VmOpReadConstInteger>(4);
  c.op<VmOpObjectCall>(M, 1);
  c.op<VmOpReturnValue>();
  EXPECT_EQ(as_int(run(c.build("C"))), 5);
  A p;
  p.op<VmOpEspAlloc>();
  p.op<VmOpReadMemvarByName>(O);
  p.op<VmOpReadConstInteger>(4);
  p.op<VmOpObjectCallPointer>(M, 1);
  p.op<VmOpReturnPointer>();
  Program* pp = p.build("P");
  programs.emplace_back(pp);
  VmFrame frame;
  stack->enter_frame(&frame, pp, 0, false);
  Memvar* base = stack->sp;
  Variant res;
  try {
    vm_execute_opcode(stack.get(), frame.position, &res);
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 9004);
  }
  EXPECT_EQ(stack->sp, base - 3);  // result slot, object and argument still there
  stack->end_frame(&frame);
  obj->by_ref = true;
  Variant ok;
  execute_program(stack.get(), 0, false, pp, &ok);
  EXPECT_EQ(ok.tag, VT_REFERENCE);
  ok.release(stack.get());
  // 69 without a reference: 9014; a non-object in an element access: 232.
  A q;
  q.op<VmOpEspAlloc>();
  q.op<VmOpReadMemvarByName>(O);
  q.op<VmOpObjectReadPropertyPointer>(M, 0);
  q.op<VmOpReturnPointer>();
  EXPECT_EQ(run_error(q.build("Q")), 9014);
  EXPECT_EQ(stack->sp, stack->slots_end());
  EXPECT_EQ(stack->frame, nullptr);
}

}  // namespace
}  // namespace qzbase::testing_vm
