// statements.h - the statement layer of the compiler: the dispatch loop over a run of statements,
// the table from statement kind to statement compiler, and the statements that open no block.
//
// Protocol of a statement compiler: on entry `it` designates the statement to compile (never
// `end`). It moves `it` past every statement it consumes and returns 0 (go on) or -1 (the current
// statement list ends here). A compiler returning -1 without consuming leaves `it` on the
// statement that ended the list, for the block compiler that called compile_statement_list.
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <list>

#include "compiler/compiler_state.h"
#include "frontend/statements.h"

namespace qzbase {

// A run of statements, possibly still growing. With a source set (the front door's module build)
// a walk that needs a statement past the last one has the source append more first, so a large
// text is parsed piece by piece as the compiler consumes it instead of being held whole as syntax
// trees. An iterator reaches end() only once the source is exhausted; appended statements never
// invalidate iterators. With release_compiled set, the root statement list hands each compiled
// top-level statement back (release) as soon as its code is emitted.
class StatementList {
 public:
  using container = std::list<Statement*>;
  // Appends statements; false once nothing is left to read (it may append none and return true).
  using source_fn = std::function<bool()>;

  class const_iterator;
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Statement*;
    using difference_type = std::ptrdiff_t;
    using pointer = Statement**;
    using reference = Statement*&;

    iterator() = default;
    iterator(StatementList* owner, container::iterator pos) : owner_(owner), pos_(pos) {}
    Statement*& operator*() const { return *pos_; }
    iterator& operator++() {
      owner_->ensure_after(pos_);
      ++pos_;
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const iterator& other) const { return pos_ == other.pos_; }
    container::iterator position() const { return pos_; }
    StatementList* owner() const { return owner_; }

   private:
    friend class const_iterator;
    StatementList* owner_ = nullptr;
    container::iterator pos_;
  };

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Statement*;
    using difference_type = std::ptrdiff_t;
    using pointer = Statement* const*;
    using reference = Statement* const&;

    const_iterator() = default;
    const_iterator(StatementList* owner, container::const_iterator pos) : owner_(owner), pos_(pos) {}
    const_iterator(const iterator& it) : owner_(it.owner_), pos_(it.pos_) {}  // NOLINT: as std::list's
    Statement* const& operator*() const { return *pos_; }
    const_iterator& operator++() {
      owner_->ensure_after(pos_);
      ++pos_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const { return pos_ == other.pos_; }

   private:
    StatementList* owner_ = nullptr;
    container::const_iterator pos_;
  };

  StatementList() = default;
  StatementList(const StatementList&) = delete;
  StatementList& operator=(const StatementList&) = delete;

  iterator begin() {
    if (items.empty()) pull();
    return iterator(this, items.begin());
  }
  iterator end() { return iterator(this, items.end()); }
  const_iterator cbegin() { return begin(); }
  const_iterator cend() { return const_iterator(this, items.cend()); }
  bool empty() {
    if (items.empty()) pull();
    return items.empty();
  }
  size_t size() const { return items.size(); }
  Statement*& front() { return items.front(); }
  Statement*& back() { return items.back(); }
  void push_back(Statement* statement) { items.push_back(statement); }
  void pop_front() { items.pop_front(); }
  // Forgets the statements listed (deletes none) and stops reading.
  void clear() {
    source = nullptr;
    items.clear();
  }
  // Stops reading: what the source has not appended yet is never read.
  void detach_source() { source = nullptr; }
  // Deletes the statements of [first, last) and drops them from the list, when release_compiled
  // is set; otherwise nothing happens.
  void release(iterator first, const iterator& last);

  source_fn source;
  bool release_compiled = false;
  container items;

 private:
  // Has the source append statements until one follows pos or the source is exhausted.
  void ensure_after(container::const_iterator pos) {
    if (source && std::next(pos) == items.cend()) pull();
  }
  void pull();
};

using statement_list = StatementList;
using statement_compiler_fn = int (*)(const statement_list::const_iterator& end, statement_list::iterator& it,
                                      CompiledCodeCollection* code, CodePath& path);

struct statement_compiler_row_st {
  uint64_t kind;               // StatementTypes
  const char* name;            // the statement compiler's name
  statement_compiler_fn compile;
};

constexpr size_t kStatementCompilerCount = 109;
// In kind order; the dispatch map is built from it once at load time.
extern const statement_compiler_row_st statement_compilers[kStatementCompilerCount];

// The row of a statement kind, or null (the kind ends a statement list).
const statement_compiler_row_st* find_statement_compiler(uint64_t kind);

// Lists nested deeper than this (blocks within blocks) record message 103 ("Allowed DO nesting
// or expression evaluation level exceeded.") at their first statement, and the rest of the text is
// skipped.
inline constexpr uint32_t kMaxBlockDepth = 1000;

// Compiles statements from `it` on until the list ends, a statement compiler returns non-zero, or
// a statement kind has no row. Consumes nothing itself; callers look at `it` afterwards. Raises
// the compiler's statement number before each statement compiler it calls.
int compile_statement_list(const statement_list::const_iterator& end, statement_list::iterator& it,
                           CompiledCodeCollection* code, CodePath& path);

// The statement compilers of this layer.
int compile_stmt_unexpected(const statement_list::const_iterator& end, statement_list::iterator& it,
                            CompiledCodeCollection* code, CodePath& path);
int compile_stmt_dummy(const statement_list::const_iterator& end, statement_list::iterator& it,
                       CompiledCodeCollection* code, CodePath& path);
int compile_stmt_invalid_statement(const statement_list::const_iterator& end, statement_list::iterator& it,
                                   CompiledCodeCollection* code, CodePath& path);
int compile_stmt_pragma(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_echo(const statement_list::const_iterator& end, statement_list::iterator& it,
                      CompiledCodeCollection* code, CodePath& path);
int compile_stmt_return(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);
int compile_stmt_assert(const statement_list::const_iterator& end, statement_list::iterator& it,
                        CompiledCodeCollection* code, CodePath& path);

}  // namespace qzbase
