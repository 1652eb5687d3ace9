// program.cpp - Program and DebugInfo.
#include "vm/program.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <utility>
#include <vector>

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

DebugInfo::DebugInfo(const document_location_st& span, const location_map& locations,
                     const statement_map& statements)
    : span_(span), locations_(locations), statements_(statements) {
  QZ_TRACE;
  index_lines();
}

DebugInfo::DebugInfo(const document_location_st& span, location_map&& locations, statement_map&& statements)
    : span_(span), locations_(std::move(locations)), statements_(std::move(statements)) {
  QZ_TRACE;
  index_lines();
}

void DebugInfo::index_lines() {
  locations_.seal();
  statements_.seal();
  lines_.reserve(locations_.size());
  for (const auto& [position, location] : locations_) {
    if (location.begin_line != 0) lines_.emplace_back(location.begin_line, position);
  }
  std::sort(lines_.begin(), lines_.end());
}

DebugInfo::~DebugInfo() = default;

code_position DebugInfo::find_opcode_for_line_no(size_t line) const {
  QZ_TRACE;
  if (line == 0 || line > UINT32_MAX) return nullptr;
  auto it = std::lower_bound(lines_.begin(), lines_.end(), static_cast<uint32_t>(line),
                             [](const std::pair<uint32_t, code_position>& e, uint32_t key) { return e.first < key; });
  return it == lines_.end() || it->first != line ? nullptr : it->second;
}

const document_location_st* DebugInfo::location_of(code_position p) const {
  QZ_TRACE;
  auto it = locations_.find(p);
  return it == locations_.end() ? nullptr : &it->second;
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
                 DebugInfo* debug, compiler_type_info_st type)
    : user_word(0),
      name_(name),
      code_(code),
      ncode_(ncode),
      nparams_(nparams),
      type_(type),
      offsets_(offsets),
      debug_(debug),
      module_(nullptr),
      serial_(next_program_serial()) {
  QZ_TRACE;
  if (code_ == nullptr) {
    if (ncode_ != 0) throw_assert_failed();
    code_ = new VmOp*[1]{nullptr};
  }
  if (code_[ncode_] != nullptr) throw_assert_failed();  // the array must be null-terminated
}

Program::Program(const String& name, VmOp** code, size_t ncode, size_t nparams, const local_offset_map& offsets,
                 DebugInfo* debug, const compiler_type_info_st* type)
    : Program(name, code, ncode, nparams, offsets, debug, type != nullptr ? *type : kNoType) {}

Program::Program(Program&& other)
    : user_word(other.user_word),
      name_(other.name_),
      code_(other.code_),
      ncode_(other.ncode_),
      nparams_(other.nparams_),
      type_(other.type_),
      offsets_(other.offsets_),
      debug_(other.debug_),
      module_(other.module_),
      serial_(next_program_serial()) {
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
  module_ = other.module_;
  serial_ = next_program_serial();
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
    for (size_t i = 0; i < ncode_; ++i) delete code_[i];
    delete[] code_;
    code_ = nullptr;
  }
  ncode_ = 0;
  delete debug_;
  debug_ = nullptr;
}

}  // namespace qzbase
