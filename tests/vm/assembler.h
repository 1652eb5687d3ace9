// assembler.h - a test-only program assembler: operations, labels, lines and statements.
//
// Builds Programs the way the compiler will, so that the virtual machine can be tested before the
// compiler exists:
//
//   Assembler a;
//   auto done = a.new_label();
//   a.line(3).op<VmOpReadConstTrue>();
//   a.jump<VmOpCondFalseOrNullJump>(done);
//   a.op<VmOpReadConstInteger>(1);
//   a.bind(done);
//   a.op<VmOpReturn>();
//   std::unique_ptr<Program> p(a.build("MAIN"));
//
// Until build() the assembler owns the operations; afterwards the Program does.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "vm/code_array.h"
#include "vm/program.h"
#include "vm/vm_op.h"

namespace qzbase::testing_vm {

class Assembler {
 public:
  struct Label {
    size_t id;
  };
  struct Clause {
    Label target;
    symbol_id_type variable;
    Program* condition;  // handed to the operation, which owns it
  };

  Assembler() = default;
  Assembler(const Assembler&) = delete;
  Assembler& operator=(const Assembler&) = delete;
  ~Assembler() {
    for (Entry& e : ops_) delete e.op;
  }

  Label new_label() {
    label_pos_.push_back(kUnplaced);
    return Label{label_pos_.size() - 1};
  }
  // The label names the next operation appended (or the null end when none follows). A label
  // placed twice keeps its first position.
  Assembler& bind(Label l) {
    if (label_pos_.at(l.id) == kUnplaced) label_pos_[l.id] = ops_.size();
    return *this;
  }

  // The source line of the operations appended next (0: none), and their statement number.
  Assembler& line(uint32_t n) {
    line_ = n;
    return *this;
  }
  Assembler& statement(int64_t n) {
    statement_ = n;
    return *this;
  }

  // Appends a new operation built from the arguments.
  template <class Op, class... Args>
  Op* op(Args&&... args) {
    auto* o = new Op(std::forward<Args>(args)...);
    append(o);
    return o;
  }
  // Appends an operation built elsewhere (the assembler takes it).
  VmOp* append(VmOp* o) {
    ops_.push_back(Entry{o, line_, statement_});
    return o;
  }
  // A one-target jump to the label.
  template <class Jump>
  Jump* jump(Label target) {
    Jump* j = op<Jump>();
    jumps_.emplace_back(&j->target, target);
    return j;
  }
  // A TRY handler protecting [start, end) with the clauses, in order.
  VmOpInstallErrorHandler* handler(Label start, Label end, const std::vector<Clause>& clauses) {
    std::vector<catch_clause_st> list;
    for (const Clause& c : clauses) list.push_back(catch_clause_st{0, c.variable, c.condition});
    auto* h = op<VmOpInstallErrorHandler>(0, 0, std::move(list));
    jumps_.emplace_back(&h->start, start);
    jumps_.emplace_back(&h->end, end);
    for (size_t i = 0; i < clauses.size(); ++i) jumps_.emplace_back(&h->clauses[i].target, clauses[i].target);
    return h;
  }

  // Parameters and locals of the program: symbol -> slot offset.
  Assembler& local(symbol_id_type symbol, offset_type offset) {
    offsets_[symbol] = offset;
    return *this;
  }
  Assembler& parameters(size_t n) {
    nparams_ = n;
    return *this;
  }
  // No line information at all (the Program gets no DebugInfo).
  Assembler& without_debug_info() {
    debug_ = false;
    return *this;
  }

  size_t size() const { return ops_.size(); }

  // The Program (owned by the caller). Labels must all be placed.
  Program* build(const String& name = String("")) {
    for (auto& jump : jumps_) {
      if (label_pos_.at(jump.second.id) == kUnplaced) throw_assert_failed();
    }
    size_t n = ops_.size();
    auto** code = new_code_array(n + 1);
    for (size_t i = 0; i < n; ++i) code[i] = ops_[i].op;
    code[n] = nullptr;
    for (auto& [operand, label] : jumps_) {
      size_t pos = label_pos_.at(label.id);
      *operand = reinterpret_cast<uint64_t>(&code[pos]);
    }
    DebugInfo* debug = nullptr;
    if (debug_) {
      location_map locations;
      statement_map statements;
      document_location_st span{};
      bool have_span = false;
      for (size_t i = 0; i < n; ++i) {
        if (ops_[i].line != 0) {
          document_location_st loc{};
          loc.begin_line = ops_[i].line;
          loc.end_line = ops_[i].line;
          loc.begin_char = static_cast<uint32_t>(i);
          loc.end_char = static_cast<uint32_t>(i + 1);
          locations.emplace(&code[i], loc);
          if (!have_span) span.begin_line = loc.begin_line;
          span.end_line = loc.end_line;
          have_span = true;
        }
        if (ops_[i].statement != 0) statements.emplace(ops_[i].statement, &code[i]);
      }
      debug = new DebugInfo(span, locations, statements);
    }
    StatementTable numbers;
    for (size_t i = 0; i < n; ++i) numbers.push_back(ops_[i].statement);
    ops_.clear();
    jumps_.clear();
    return new Program(name, code, n, nparams_, offsets_, debug, nullptr, std::move(numbers));
  }

 private:
  static constexpr size_t kUnplaced = ~static_cast<size_t>(0);
  struct Entry {
    VmOp* op;
    uint32_t line;
    int64_t statement;
  };

  std::vector<Entry> ops_;
  std::vector<size_t> label_pos_;
  std::vector<std::pair<uint64_t*, Label>> jumps_;
  local_offset_map offsets_;
  size_t nparams_ = 0;
  uint32_t line_ = 0;
  int64_t statement_ = 0;
  bool debug_ = true;
};

}  // namespace qzbase::testing_vm
