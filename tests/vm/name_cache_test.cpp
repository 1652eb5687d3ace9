// name_cache_test.cpp - the interpreter's cache of plain name reads must not outlive the
// operation it was filled for: a new operation built at the same address reads its own name.
#include <gtest/gtest.h>

#include <new>

#include "interp_support.h"
#include "vm/interpreter.h"

namespace qzbase::testing_vm {
namespace {

class NameCache : public InterpTest {
 public:
  // Runs one read-by-name operation built in place at the same address every time.
  int read(symbol_id_type symbol, Variant* out) {
    auto* op = new (storage) VmOpReadByName(symbol);
    VmOpReturnValue ret;
    const VmOp* code[] = {op, &ret, nullptr};
    code_position ip = code;
    int error = 0;
    try {
      vm_execute_opcode(stack.get(), ip, out);
    } catch (const RuntimeError& e) {
      error = e.code;
    }
    op->~VmOpReadByName();
    return error;
  }

  alignas(VmOpReadByName) unsigned char storage[sizeof(VmOpReadByName)];
};

TEST_F(NameCache, AnOperationAtTheAddressOfAFreedOneReadsItsOwnName) {
  Memvar* x = nullptr;
  stack->alloc_undefined_memvar(sym("x"), &x);
  x->value.set_integer(20);
  Variant value;
  ASSERT_EQ(read(sym("x"), &value), 0);
  EXPECT_EQ(as_int(value), 20);
  value.release(stack.get());
  // Same address, same table, no binding changed: only the name differs.
  EXPECT_EQ(read(sym("undefined_name"), &value), 12);
  value.release(stack.get());
}

}  // namespace
}  // namespace qzbase::testing_vm
