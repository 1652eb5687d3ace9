// shared_ops.h - one operation object for every position where the same operation stands.
//
// A program is mostly the same few operations over and over (`x = 1` is a constant read and a
// store by name, whatever line it is on). Operations whose operands are plain values and that
// nothing changes after they are compiled are kept once per compiler: each position of a code
// array points at the one object, marked shared, and the SharedOps deletes it when the last
// program holding it goes. Jumps (their target is a position), calls the linker replaces, error
// handlers and constants that own storage are never shared. The fusion pass changes operations in
// place: it takes a private copy of a shared one first (unshare_op).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vm/vm_op.h"

namespace qzbase {

class SharedOps {
 public:
  SharedOps() = default;
  ~SharedOps();  // deletes the shared operations
  SharedOps(const SharedOps&) = delete;
  SharedOps& operator=(const SharedOps&) = delete;

  // The shared operation equal to op: op itself, now shared, when it is the first of its kind, or
  // the one found (op is then deleted). An operation that is never shared comes back unchanged,
  // and so does op when the table cannot grow.
  VmOp* intern(VmOp* op) noexcept;
  size_t size() const { return count_; }

 private:
  bool grow() noexcept;

  std::vector<VmOp*> slots_;  // open addressing; null: empty
  size_t count_ = 0;
};

// True when operations of this opcode may be shared.
bool sharable_opcode(unsigned opcode);

// Makes *slot an operation of its own before it is changed in place: a shared one is replaced by a
// private copy. False (nothing changed) when the copy cannot be made.
bool unshare_op(VmOp** slot) noexcept;

}  // namespace qzbase
