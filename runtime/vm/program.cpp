// program.cpp - Program and DebugInfo.
#include "vm/program.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "vm/code_array.h"
#include "vm/location_codec.h"

namespace qzbase {

// --- DebugInfo ---------------------------------------------------------------------------------

void LocationMap::emplace(code_position p, const document_location_st& location) {
  QZ_TRACE;
  if (!entries_.empty() && !(entries_.back().first < p)) sorted_ = false;
  entries_.emplace_back(p, location);
}

void LocationMap::seal() {
  QZ_TRACE;
  if (sorted_) return;
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const value_type& a, const value_type& b) { return a.first < b.first; });
  // The first entry of a position stays.
  auto last = std::unique(entries_.begin(), entries_.end(),
                          [](const value_type& a, const value_type& b) { return a.first == b.first; });
  entries_.erase(last, entries_.end());
  sorted_ = true;
}

LocationMap::const_iterator LocationMap::find(code_position p) const {
  QZ_TRACE;
  auto it = std::lower_bound(entries_.begin(), entries_.end(), p,
                             [](const value_type& e, code_position key) { return e.first < key; });
  return it != entries_.end() && it->first == p ? it : entries_.end();
}

const document_location_st& LocationMap::at(code_position p) const {
  QZ_TRACE;
  auto it = find(p);
  if (it == entries_.end()) throw std::out_of_range("LocationMap::at");
  return it->second;
}

void StatementMap::emplace(int64_t statement, code_position p) {
  QZ_TRACE;
  if (!entries_.empty() && statement < entries_.back().first) sorted_ = false;
  entries_.emplace_back(statement, p);
}

void StatementMap::seal() {
  QZ_TRACE;
  if (sorted_) return;
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const value_type& a, const value_type& b) { return a.first < b.first; });
  sorted_ = true;
}

std::pair<StatementMap::const_iterator, StatementMap::const_iterator> StatementMap::equal_range(
    int64_t statement) const {
  QZ_TRACE;
  auto first = std::lower_bound(entries_.begin(), entries_.end(), statement,
                                [](const value_type& e, int64_t key) { return e.first < key; });
  auto last = std::upper_bound(first, entries_.end(), statement,
                               [](int64_t key, const value_type& e) { return key < e.first; });
  return {first, last};
}

size_t StatementMap::count(int64_t statement) const {
  QZ_TRACE;
  auto [first, last] = equal_range(statement);
  return static_cast<size_t>(last - first);
}

namespace {

constexpr size_t kLocationsPerCheckpoint = 32;

uint32_t index_of(code_position base, code_position p) {
  if (p < base || static_cast<size_t>(p - base) > UINT32_MAX) throw_assert_failed();
  return static_cast<uint32_t>(p - base);
}

// Decodes one location entry after (*index, *location), advancing p.
template <class In>
void decode_location(In& p, uint32_t* index, document_location_st* location) {
  *index += static_cast<uint32_t>(get_varint(p));
  get_location(p, location);
}

}  // namespace

void DebugInfoBuilder::add_location(code_position p, const document_location_st& location) {
  QZ_TRACE;
  const uint32_t index = index_of(base_, p);
  if (location_count_ != 0 && index <= last_index_) throw_assert_failed();  // code order only
  if (location_count_ % kLocationsPerCheckpoint == 0) {
    location_checkpoints_.push_back(
        LocationCheckpoint{index, static_cast<uint32_t>(locations_.size()), last_index_, last_});
  }
  put_varint(locations_, index - last_index_);
  put_location(locations_, &last_, location);
  last_index_ = index;
  ++location_count_;
  if (locations_.size() > UINT32_MAX) throw_assert_failed();
}

void DebugInfoBuilder::reserve_locations(size_t n) {
  location_checkpoints_.reserve(n / kLocationsPerCheckpoint + 1);
}

void DebugInfoBuilder::add_statement(code_position p, int64_t statement) {
  QZ_TRACE;
  const uint32_t index = index_of(base_, p);
  if (run_.count != 0 && index == run_.index + run_.count && statement == run_.statement) {
    ++run_.count;
    return;
  }
  if (run_.count != 0 && index < run_.index + run_.count - 1) throw_assert_failed();  // code order only
  flush_run();
  run_ = StatementRun{index, 1, statement};
}

void DebugInfoBuilder::flush_run() {
  if (run_.count == 0) return;
  put_varint(statements_, zigzag(static_cast<int64_t>(run_.index) - static_cast<int64_t>(last_run_end_)));
  put_varint(statements_, run_.count - 1);
  put_varint(statements_, zigzag(static_cast<int64_t>(static_cast<uint64_t>(run_.statement) -
                                                      static_cast<uint64_t>(last_statement_))));
  last_run_end_ = run_.index + run_.count;
  last_statement_ = run_.statement;
  statement_count_ += run_.count;
  run_.count = 0;
}

namespace {

// The builder of the two maps' entries: positions in code order for both.
DebugInfoBuilder build_from_maps(location_map& locations, statement_map& statements) {
  locations.seal();
  statements.seal();
  code_position base = nullptr;
  if (!locations.empty()) base = locations.begin()->first;
  for (const auto& entry : statements) {
    if (base == nullptr || entry.second < base) base = entry.second;
  }
  DebugInfoBuilder built(base);
  for (const auto& [position, location] : locations) built.add_location(position, location);
  std::vector<std::pair<code_position, int64_t>> by_position;
  by_position.reserve(statements.size());
  for (const auto& [number, position] : statements) by_position.emplace_back(position, number);
  std::stable_sort(by_position.begin(), by_position.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [position, number] : by_position) built.add_statement(position, number);
  return built;
}

// The vector itself when it has little room to spare, else an exact copy.
template <class T>
std::vector<T> exact_copy(std::vector<T>& v) {
  if (v.capacity() - v.size() <= v.size() / 8) return std::move(v);
  std::vector<T> out(v.begin(), v.end());
  std::vector<T>().swap(v);
  return out;
}

// Past this a table keeps its blocks rather than being copied into one exact piece.
constexpr size_t kLargeTable = 64 * 1024;

}  // namespace

ByteTable::ByteTable(std::deque<uint8_t>&& built) {
  QZ_TRACE;
  if (built.size() > kLargeTable) {
    large_ = std::make_unique<std::deque<uint8_t>>(std::move(built));
  } else {
    small_.assign(built.begin(), built.end());
    std::deque<uint8_t>().swap(built);
  }
}

DebugInfo::DebugInfo(const document_location_st& span, const location_map& locations,
                     const statement_map& statements)
    : DebugInfo(span, location_map(locations), statement_map(statements)) {}

DebugInfo::DebugInfo(const document_location_st& span, location_map&& locations, statement_map&& statements)
    : DebugInfo(span, build_from_maps(locations, statements)) {}

DebugInfo::DebugInfo(const document_location_st& span, DebugInfoBuilder&& built)
    : span_(span), base_(built.base_), location_count_(built.location_count_), statement_count_(0) {
  QZ_TRACE;
  built.flush_run();
  statement_count_ = built.statement_count_;
  locations_ = ByteTable(std::move(built.locations_));
  location_checkpoints_ = exact_copy(built.location_checkpoints_);
  statements_ = ByteTable(std::move(built.statements_));
  built.location_count_ = 0;
  built.statement_count_ = 0;
}

DebugInfo::~DebugInfo() = default;

template <class Visit>
void DebugInfo::for_each_location(Visit&& visit) const {
  locations_.read([&](auto p, auto end) {
    uint32_t index = 0;
    document_location_st location{};
    while (p < end) {
      decode_location(p, &index, &location);
      if (!visit(index, location)) return;
    }
  });
}

code_position DebugInfo::find_opcode_for_line_no(size_t line) const {
  QZ_TRACE;
  if (line == 0 || line > UINT32_MAX) return nullptr;
  code_position found = nullptr;
  for_each_location([&](uint32_t index, const document_location_st& location) {
    if (location.begin_line != line) return true;
    found = base_ + index;
    return false;
  });
  return found;
}

bool DebugInfo::location_of(code_position p, document_location_st* out) const {
  QZ_TRACE;
  if (location_checkpoints_.empty() || p < base_ || static_cast<size_t>(p - base_) > UINT32_MAX) return false;
  const auto wanted = static_cast<uint32_t>(p - base_);
  auto cp = std::upper_bound(location_checkpoints_.begin(), location_checkpoints_.end(), wanted,
                             [](uint32_t key, const DebugInfoBuilder::LocationCheckpoint& c) { return key < c.index; });
  if (cp == location_checkpoints_.begin()) return false;
  --cp;
  return locations_.read([&](auto begin, auto end) {
    auto at = begin + cp->offset;
    uint32_t index = cp->previous_index;
    document_location_st location = cp->previous;
    for (size_t i = 0; i < kLocationsPerCheckpoint && at < end; ++i) {
      decode_location(at, &index, &location);
      if (index == wanted) {
        *out = location;
        return true;
      }
      if (index > wanted) return false;
    }
    return false;
  });
}

location_map DebugInfo::locations() const {
  QZ_TRACE;
  location_map out;
  out.reserve(location_count_);
  for_each_location([&](uint32_t index, const document_location_st& location) {
    out.emplace(base_ + index, location);
    return true;
  });
  return out;
}

statement_map DebugInfo::statements() const {
  QZ_TRACE;
  statement_map out;
  out.reserve(statement_count_);
  statements_.read([&](auto p, auto end) {
    int64_t last_end = 0;
    uint64_t statement = 0;
    while (p < end) {
      const int64_t first = last_end + unzigzag(get_varint(p));
      const uint64_t count = get_varint(p) + 1;
      statement += static_cast<uint64_t>(unzigzag(get_varint(p)));
      for (uint64_t i = 0; i < count; ++i) {
        out.emplace(static_cast<int64_t>(statement), base_ + first + static_cast<int64_t>(i));
      }
      last_end = first + static_cast<int64_t>(count);
    }
  });
  out.seal();
  return out;
}

// --- StatementTable ----------------------------------------------------------------------------

namespace {
constexpr size_t kRunsPerCheckpoint = 32;
}  // namespace

void StatementTable::push_back(int64_t statement) {
  QZ_TRACE;
  if (open_.count != 0 && statement == open_.statement) {
    ++open_.count;
  } else {
    flush();
    open_ = Run{count_, 1, statement};
  }
  ++count_;
}

void StatementTable::flush() {
  if (open_.count == 0) return;
  if (runs_ % kRunsPerCheckpoint == 0) checkpoints_.push_back(Checkpoint{open_.first, bytes_.size(), last_closed_});
  put_varint(bytes_, open_.count - 1);
  put_varint(bytes_, zigzag(static_cast<int64_t>(static_cast<uint64_t>(open_.statement) -
                                                 static_cast<uint64_t>(last_closed_))));
  last_closed_ = open_.statement;
  ++runs_;
  open_.count = 0;
}

void StatementTable::seal() {
  QZ_TRACE;
  flush();
  bytes_.shrink_to_fit();
  checkpoints_.shrink_to_fit();
}

void StatementTable::run_of(size_t i, size_t* first, size_t* last) const {
  QZ_TRACE;
  *first = i;
  *last = i + 1;
  if (i >= count_ || checkpoints_.empty()) return;
  auto c = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), static_cast<uint64_t>(i),
                            [](uint64_t key, const Checkpoint& e) { return key < e.first; });
  if (c == checkpoints_.begin()) throw_assert_failed();
  --c;
  runs_from(*c, [&](const Run& r) {
    if (i >= r.first + r.count) return true;
    *first = static_cast<size_t>(r.first);
    *last = static_cast<size_t>(r.first + r.count);
    return false;
  });
}

int64_t StatementTable::at(size_t i) const {
  QZ_TRACE;
  if (i >= count_ || checkpoints_.empty()) return 0;
  auto c = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), static_cast<uint64_t>(i),
                            [](uint64_t key, const Checkpoint& e) { return key < e.first; });
  if (c == checkpoints_.begin()) throw_assert_failed();
  --c;
  int64_t found = 0;
  runs_from(*c, [&](const Run& r) {
    if (i >= r.first + r.count) return true;
    found = r.statement;
    return false;
  });
  return found;
}

// --- Program -----------------------------------------------------------------------------------

namespace {

constexpr compiler_type_info_st kNoType{0, false, -1};

}  // namespace

namespace {
std::atomic<uint64_t> g_program_serial{0};
uint64_t next_program_serial() { return g_program_serial.fetch_add(1, std::memory_order_relaxed) + 1; }
}  // namespace

Program::Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
                 DebugInfo* debug, compiler_type_info_st type, StatementTable statements)
    : user_word(0),
      name_(name),
      code_(code),
      ncode_(ncode),
      nparams_(nparams),
      type_(type),
      offsets_(offsets),
      debug_(debug),
      statements_(std::move(statements)),
      module_(nullptr),
      serial_(next_program_serial()) {
  QZ_TRACE;
  if (code_ == nullptr) {
    if (ncode_ != 0) throw_assert_failed();
    code_ = new_code_array(1);
    if (code_ == nullptr) throw std::bad_alloc();
  }
  if (code_[ncode_] != nullptr) throw_assert_failed();  // the array must be null-terminated
  if (statements_.size() > ncode_) throw_assert_failed();
  while (statements_.size() < ncode_) statements_.push_back(0);  // one run at most
  statements_.seal();
}

Program::Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
                 DebugInfo* debug, const compiler_type_info_st* type, StatementTable statements)
    : Program(name, code, ncode, nparams, offsets, debug, type != nullptr ? *type : kNoType, std::move(statements)) {}

Program::Program(Program&& other)
    : user_word(other.user_word),
      name_(other.name_),
      code_(other.code_),
      ncode_(other.ncode_),
      nparams_(other.nparams_),
      type_(other.type_),
      offsets_(other.offsets_),
      debug_(other.debug_),
      statements_(std::move(other.statements_)),
      module_(other.module_),
      serial_(next_program_serial()),
      shared_ops_(std::move(other.shared_ops_)) {
  other.statements_ = StatementTable();
  other.code_ = nullptr;
  other.ncode_ = 0;
  other.debug_ = nullptr;
}

Program& Program::operator=(Program&& other) {
  if (this == &other) return *this;
  local_offset_map offsets(other.offsets_);  // the one step that may fail: nothing changed yet
  free_code();
  user_word = other.user_word;
  name_ = other.name_;
  code_ = other.code_;
  ncode_ = other.ncode_;
  nparams_ = other.nparams_;
  type_ = other.type_;
  offsets_ = std::move(offsets);
  debug_ = other.debug_;
  statements_ = std::move(other.statements_);
  other.statements_ = StatementTable();
  module_ = other.module_;
  serial_ = next_program_serial();
  shared_ops_ = std::move(other.shared_ops_);
  other.code_ = nullptr;
  other.ncode_ = 0;
  other.debug_ = nullptr;
  return *this;
}

Program::~Program() {
  QZ_TRACE;
  free_code();
}

void Program::free_code() noexcept {
  if (code_ != nullptr) {
    for (size_t i = 0; i < ncode_; ++i) release_op(code_[i]);
    delete_code_array(code_, ncode_ + 1);
    code_ = nullptr;
  }
  shared_ops_.reset();  // after the code array: its shared operations may go with it
  ncode_ = 0;
  delete debug_;
  debug_ = nullptr;
  statements_ = StatementTable();
}

}  // namespace qzbase
