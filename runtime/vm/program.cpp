// program.cpp - Program and DebugInfo.
#include "vm/program.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

namespace qzbase {

// --- DebugInfo ---------------------------------------------------------------------------------

DebugInfo::DebugInfo(const document_location_st& span, const location_map& locations,
                     const statement_map& statements)
    : span_(span), locations_(locations), statements_(statements) {
  QZ_TRACE;
  // Entered in (line, position) order, so that the first entry of a line is its first operation.
  std::vector<std::pair<uint32_t, code_position>> by_line;
  by_line.reserve(locations.size());
  for (const auto& [position, location] : locations) {
    if (location.begin_line != 0) by_line.emplace_back(location.begin_line, position);
  }
  std::sort(by_line.begin(), by_line.end());
  for (const auto& entry : by_line) lines_.emplace_hint(lines_.end(), entry.first, entry.second);
}

DebugInfo::~DebugInfo() = default;

code_position DebugInfo::find_opcode_for_line_no(size_t line) const {
  QZ_TRACE;
  if (line == 0 || line > UINT32_MAX) return nullptr;
  auto it = lines_.find(static_cast<uint32_t>(line));
  return it == lines_.end() ? nullptr : it->second;
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
