// program_assembly.cpp - turning a unit's code collection into a Program: code array, label
// resolution, jump fix-ups, threading of short-circuit jumps and the debug maps.
#include <array>
#include <memory>
#include <list>
#include <unordered_map>
#include <utility>

#include "compiler/compiler_state.h"
#include "vm/code_array.h"

namespace qzbase {

namespace {

using label_map_type = std::unordered_map<uint64_t, VmOp**>;
using fixup_type = void (*)(const label_map_type&, VmOp*);

VmOp** resolve(const label_map_type& labels, uint64_t key) {
  auto it = labels.find(key);
  if (it == labels.end()) throw_assert_failed();  // a label created but never placed
  return it->second;
}

template <VmOpType T>
void jump_fixup(const label_map_type& labels, VmOp* op) {
  auto* jump = static_cast<VmOpTarget<T>*>(op);
  jump->target = reinterpret_cast<uint64_t>(resolve(labels, jump->target));
}

void fuu(const label_map_type& labels, VmOp* op) {
  auto* handler = static_cast<VmOpInstallErrorHandler*>(op);
  handler->start = reinterpret_cast<uint64_t>(resolve(labels, handler->start));
  handler->end = reinterpret_cast<uint64_t>(resolve(labels, handler->end));
  for (catch_clause_st& clause : handler->clauses) {
    clause.target = reinterpret_cast<uint64_t>(resolve(labels, clause.target));
  }
}

constexpr std::array<fixup_type, kVmOpCount> kJumpFixups = [] {
  std::array<fixup_type, kVmOpCount> t{};
  t[OP_JUMP] = &jump_fixup<OP_JUMP>;
  t[OP_COND_FALSE_OR_NULL_JUMP] = &jump_fixup<OP_COND_FALSE_OR_NULL_JUMP>;
  t[OP_COND_TRUE_JUMP] = &jump_fixup<OP_COND_TRUE_JUMP>;
  t[OP_FOR_COND_FALSE_JUMP] = &jump_fixup<OP_FOR_COND_FALSE_JUMP>;
  t[OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP] = &jump_fixup<OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP>;
  t[OP_COND_TRUE_JUMP_KEEP_ESP] = &jump_fixup<OP_COND_TRUE_JUMP_KEEP_ESP>;
  t[OP_INSTALL_ERROR_HANDLER] = &fuu;
  return t;
}();

// Owns the code array and the ops in it until the Program takes them.
struct CodeArrayGuard {
  VmOp** code;
  size_t n;
  ~CodeArrayGuard() {
    if (code == nullptr) return;
    for (size_t i = 0; i < n; ++i) release_op(code[i]);
    delete_code_array(code, n + 1);
  }
};

}  // namespace

Program* Compiler::create_program(const String& name, CompiledCodeCollection* collection,
                                  const local_offset_map& symbol_offsets, size_t parameter_count,
                                  compiler_type_info_st type, std::list<VmOp**>* unresolved) {
  QZ_TRACE;
  // The collection's array of ops becomes the code array as it stands: its positions are final
  // once it has its final size.
  try {
    collection->fit_code();
  } catch (...) {
    collection->clear();  // an abandoned unit leaves nothing behind
    throw;
  }
  const size_t n = collection->op_count();
  VmOp** code = collection->ops();
  label_map_type labels;
  labels.reserve(collection->labels().size());
  for (const auto& [position, label] : collection->labels()) {
    labels.emplace(label->key(), code + position);  // first placement wins
  }
  DebugInfoBuilder lines(code);
  StatementTable numbers;
  std::list<VmOp**> calls;
  document_location_st first_begin{};  // the location with the smallest begin character
  document_location_st last_end{};     // the one with the largest end character
  bool have_span = false;
  try {
    lines.reserve_locations(n);
    // Each op's entry goes as it is read: a large unit never holds its entries beside all of its
    // line information.
    collection->consume_entries([&](size_t i, const document_location_st& loc, int64_t statement) {
      VmOp** at = code + i;
      if ((*at)->opcode == OP_UNRESOLVED_CALL) calls.push_back(at);
      if (loc.begin_line != 0) {
        lines.add_location(at, loc);
        if (!have_span || loc.begin_char < first_begin.begin_char) first_begin = loc;
        if (!have_span || loc.end_char > last_end.end_char) last_end = loc;
        have_span = true;
      }
      if (statement != 0) lines.add_statement(at, statement);
      numbers.push_back(statement);
    });
  } catch (...) {
    collection->clear();  // an abandoned unit leaves nothing behind
    throw;
  }
  CodeArrayGuard guard{collection->take_code(), n};

  document_location_st span{};
  if (have_span) {
    span.begin_char = first_begin.begin_char;
    span.begin_byte = first_begin.begin_byte;
    span.begin_line = first_begin.begin_line;
    span.begin_column = first_begin.begin_column;
    span.end_char = last_end.end_char;
    span.end_byte = last_end.end_byte;
    span.end_line = last_end.end_line;
    span.end_column = last_end.end_column;
  }

  if (guard.code != code) throw_assert_failed();
  for (size_t i = 0; i < n; ++i) {
    if (code[i]->opcode >= kVmOpCount) continue;
    if (fixup_type fix = kJumpFixups[code[i]->opcode]) fix(labels, code[i]);
  }

  // A false-or-null jump that keeps its value lands on another one (which would jump again with
  // the same value) or on a true jump (which would fall through): go to the final place at once.
  // Only forward moves are followed, so hand-built loops cannot make this endless.
  for (size_t i = 0; i < n; ++i) {
    if (code[i]->opcode != OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP) continue;
    auto* jump = static_cast<VmOpCondFalseOrNullJumpKeepEsp*>(code[i]);
    VmOp** t = reinterpret_cast<VmOp**>(jump->target);
    while (t < code + n) {
      VmOp** next;
      if ((*t)->opcode == OP_COND_FALSE_OR_NULL_JUMP_KEEP_ESP) {
        next = reinterpret_cast<VmOp**>(static_cast<VmOpCondFalseOrNullJumpKeepEsp*>(*t)->target);
      } else if ((*t)->opcode == OP_COND_TRUE_JUMP_KEEP_ESP) {
        next = t + 1;
      } else {
        break;
      }
      if (next <= t) break;
      t = next;
      jump->target = reinterpret_cast<uint64_t>(t);
    }
  }

  auto debug = std::make_unique<DebugInfo>(span, std::move(lines));
  auto* program = new Program(name, code, n, parameter_count, symbol_offsets, debug.get(), type, std::move(numbers));
  debug.release();
  guard.code = nullptr;
  if (collection->compiler != nullptr) program->share_ops(collection->compiler->shared_ops);
  if (unresolved != nullptr) unresolved->splice(unresolved->end(), calls);
  return program;
}

Program* Compiler::build_program() {
  QZ_TRACE;
  return build_program(String());
}

Program* Compiler::build_program(const String& name) {
  QZ_TRACE;
  return create_program(name, &collection, symbol_map, parameter_count, type, &unresolved_calls);
}

}  // namespace qzbase
