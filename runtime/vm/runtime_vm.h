// runtime_vm.h - what the virtual machine shares among all stacks of one Runtime.
//
// A Runtime holds one RuntimeVmState (the symbol table and the stack-id counter) and attaches it
// under its own address while it lives:
//
//   RuntimeVmState vm;                         // a member of the Runtime's private state
//   attach_runtime_vm(runtime, &vm);           // in the Runtime's constructor
//   detach_runtime_vm(runtime);                // in its destructor, after the last stack is gone
//
// A VmStack finds the state of its Runtime once, when it is constructed, and keeps the pointers
// it needs; nothing on the execution path goes through the registry.
#pragma once

#include <qzbase.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "vm/symtable.h"

namespace qzbase {

class CallResolver;  // vm/calls.h

struct RuntimeVmState {
  Symtable symtable;
  std::atomic<uint64_t> next_stack_id{1};
  // Where calls by name find their callees (SET LIBRARY, SET PROCEDURE); null: nowhere.
  CallResolver* call_resolver = nullptr;
  // What the object model keeps per runtime when the runtime has no built-in library (its classes
  // of the runtime's own objects); opaque here, freed with the state, guarded by objects_lock.
  std::mutex objects_lock;
  std::shared_ptr<void> objects;

  // The next stack id (1, 2, ...).
  uint64_t create_stack_id() { return next_stack_id.fetch_add(1); }
};

// Makes state the VM state of runtime (replacing an earlier attachment of the same runtime).
void attach_runtime_vm(const Runtime* runtime, RuntimeVmState* state);
// Forgets the runtime's attachment; does nothing when it has none.
void detach_runtime_vm(const Runtime* runtime);
// The state attached to runtime; null when none is (and for a null runtime).
RuntimeVmState* find_runtime_vm(const Runtime* runtime);

}  // namespace qzbase
