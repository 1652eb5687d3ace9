// debugger.cpp - ProgramDebugger, the debugger messages and their wire format.
#include "vm/debugger.h"

#include <cstring>
#include <string>

#include "vm/error_handlers.h"
#include "vm/vm_stack.h"

namespace qzbase {

// --- the buffer --------------------------------------------------------------------------------

DebugMessageBuffer::DebugMessageBuffer(size_t capacity)
    : start_(new char[capacity == 0 ? 1 : capacity]), capacity_(capacity), owned_(true) {
  QZ_TRACE;
  cursor_ = start_;
}

DebugMessageBuffer::DebugMessageBuffer(const char* data, size_t size)
    : start_(const_cast<char*>(data)), cursor_(const_cast<char*>(data)), capacity_(size), owned_(false) {
  QZ_TRACE;
}

DebugMessageBuffer::~DebugMessageBuffer() {
  QZ_TRACE;
  if (owned_) delete[] start_;
}

bool DebugMessageBuffer::append_u32(uint32_t v) {
  QZ_TRACE;
  if (!fits(sizeof v)) return false;
  std::memcpy(cursor_, &v, sizeof v);
  cursor_ += sizeof v;
  return true;
}

bool DebugMessageBuffer::append_u64(uint64_t v) {
  QZ_TRACE;
  if (!fits(sizeof v)) return false;
  std::memcpy(cursor_, &v, sizeof v);
  cursor_ += sizeof v;
  return true;
}

bool DebugMessageBuffer::append_bytes(const void* bytes, uint32_t n) {
  QZ_TRACE;
  if (!fits(sizeof(uint32_t)) || !fits(sizeof(uint32_t) + static_cast<size_t>(n))) return false;
  append_u32(n);
  if (n != 0) std::memcpy(cursor_, bytes, n);
  cursor_ += n;
  return true;
}

bool DebugMessageBuffer::append_cstr(const char* text) {
  QZ_TRACE;
  size_t n = std::strlen(text);
  if (n > UINT32_MAX) return false;
  return append_bytes(text, static_cast<uint32_t>(n));
}

bool DebugMessageBuffer::append_string(const String& s) {
  QZ_TRACE;
  std::string u8 = s.u8str();
  if (u8.size() > UINT32_MAX) return false;
  return append_bytes(u8.data(), static_cast<uint32_t>(u8.size()));
}

// The reads go through the cursor from the start of a received message.
bool DebugMessageBuffer::read_u32(uint32_t* v) {
  QZ_TRACE;
  if (!fits(sizeof *v)) return false;
  std::memcpy(v, cursor_, sizeof *v);
  cursor_ += sizeof *v;
  return true;
}

bool DebugMessageBuffer::read_u64(uint64_t* v) {
  QZ_TRACE;
  if (!fits(sizeof *v)) return false;
  std::memcpy(v, cursor_, sizeof *v);
  cursor_ += sizeof *v;
  return true;
}

bool DebugMessageBuffer::read_string(String* s) {
  QZ_TRACE;
  char* at = cursor_;
  uint32_t n;
  if (!read_u32(&n)) return false;
  if (!fits(n)) {
    cursor_ = at;
    return false;
  }
  *s = String(cursor_, n, Charset::utf8);
  cursor_ += n;
  return true;
}

// --- messages ----------------------------------------------------------------------------------

DebugMessageWriter::~DebugMessageWriter() = default;

DebugMessage::~DebugMessage() = default;

int DebugMessage::serialize(DebugMessageWriter* writer) const {
  QZ_TRACE;
  DebugMessageBuffer buffer(buffer_capacity());
  if (!buffer.append_u32(type) || !write_fields(buffer)) return -1;
  return writer->send(buffer);
}

bool DebugMessage_Step::write_fields(DebugMessageBuffer& b) const {
  QZ_TRACE;
  return b.append_u32(kind) && b.append_u32(value);
}

bool DebugMessage_Step::read_fields(DebugMessageBuffer& b) {
  QZ_TRACE;
  return b.read_u32(&kind) && b.read_u32(&value);
}

bool DebugMessage_Module_Push::write_fields(DebugMessageBuffer& b) const {
  QZ_TRACE;
  return b.append_u64(module_id) && b.append_string(name);
}

bool DebugMessage_Module_Push::read_fields(DebugMessageBuffer& b) {
  QZ_TRACE;
  return b.read_u64(&module_id) && b.read_string(&name);
}

bool DebugMessage_Stack_Frame_Push::write_fields(DebugMessageBuffer& b) const {
  QZ_TRACE;
  return b.append_u64(frame_id) && b.append_u32(frame_number) && b.append_string(program_name) &&
         b.append_u32(line) && b.append_u32(column) && b.append_u64(module_id) && b.append_u32(flags);
}

bool DebugMessage_Stack_Frame_Push::read_fields(DebugMessageBuffer& b) {
  QZ_TRACE;
  return b.read_u64(&frame_id) && b.read_u32(&frame_number) && b.read_string(&program_name) &&
         b.read_u32(&line) && b.read_u32(&column) && b.read_u64(&module_id) && b.read_u32(&flags);
}

namespace {

// The first n characters (code points) of UTF-8 text.
std::string first_characters(const std::string& text, size_t n) {
  size_t i = 0;
  for (size_t count = 0; i < text.size() && count < n; ++count) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return text.substr(0, i);
}

}  // namespace

bool DebugMessage_Frame_Push_Memvar::write_fields(DebugMessageBuffer& b) const {
  QZ_TRACE;
  std::string value = first_characters(value_text.u8str(), 32);
  return b.append_u64(frame_id) && b.append_u64(variable_id) && b.append_string(name) &&
         b.append_bytes(value.data(), static_cast<uint32_t>(value.size())) && b.append_u32(value_kind) &&
         b.append_string(type_name);
}

bool DebugMessage_Frame_Push_Memvar::read_fields(DebugMessageBuffer& b) {
  QZ_TRACE;
  uint32_t kind;
  if (!(b.read_u64(&frame_id) && b.read_u64(&variable_id) && b.read_string(&name) && b.read_string(&value_text) &&
        b.read_u32(&kind) && b.read_string(&type_name))) {
    return false;
  }
  value_kind = static_cast<uint8_t>(kind);
  return true;
}

bool DebugMessage_Exception::write_fields(DebugMessageBuffer& b) const {
  QZ_TRACE;
  return b.append_u32(code) && b.append_string(message);
}

bool DebugMessage_Exception::read_fields(DebugMessageBuffer& b) {
  QZ_TRACE;
  return b.read_u32(&code) && b.read_string(&message);
}

namespace {

DebugMessage* new_message(uint32_t type) {
  switch (type) {
    case DEBUG_ATTACH: return new DebugMessage_Attach();
    case DEBUG_ATTACHED_RUNNING: return new DebugMessage_Attached_Running();
    case DEBUG_ATTACHED_BREAK: return new DebugMessage_Attached_Break();
    case DEBUG_STEP: return new DebugMessage_Step();
    case DEBUG_RESUME: return new DebugMessage_Resume();
    case DEBUG_BREAK: return new DebugMessage_Break();
    case DEBUG_DETACH: return new DebugMessage_Detach();
    case DEBUG_DETACHED: return new DebugMessage_Detached();
    case DEBUG_MODULE_PUSH: return new DebugMessage_Module_Push();
    case DEBUG_STACK_FRAME_PUSH: return new DebugMessage_Stack_Frame_Push();
    case DEBUG_STEP_COMPLETED: return new DebugMessage_Step_Completed();
    case DEBUG_STACK_FRAME_POP: return new DebugMessage_Stack_Frame_Pop();
    case DEBUG_FRAME_PUSH_MEMVAR: return new DebugMessage_Frame_Push_Memvar();
    case DEBUG_EXCEPTION: return new DebugMessage_Exception();
    case DEBUG_SET_NEXT_STATEMENT: return new DebugMessage_Set_Next_Statement();
    default: return nullptr;  // 6, 7, 14 and above 17 are not assigned
  }
}

}  // namespace

DebugMessage* debug_message_from_buffer(char* buffer, size_t size) {
  QZ_TRACE;
  if (buffer == nullptr) return nullptr;
  DebugMessageBuffer b(buffer, size);
  uint32_t type;
  if (!b.read_u32(&type)) return nullptr;
  DebugMessage* m = new_message(type);
  if (m == nullptr) return nullptr;
  if (!m->read_fields(b)) {
    delete m;
    return nullptr;
  }
  return m;
}

uint8_t debug_value_kind(const Variant& v) {
  QZ_TRACE;
  switch (v.tag) {
    case VT_FALSE:
    case VT_TRUE: return 1;
    case VT_NULL: return 4;
    case VT_INTEGER: return 5;
    case VT_NUMERIC: return 6;
    case VT_MONEY: return 7;
    case VT_DATE: return 8;
    case VT_DATETIME: return 9;
    case VT_STRING: return 10;
    case VT_OBJECT: return 11;
    case VT_ARRAY: return 13;
    default: throw_assert_failed();
  }
}

// --- ProgramDebugger ---------------------------------------------------------------------------

ProgramDebugger::ProgramDebugger() {
  QZ_TRACE;
  announced.max_load_factor(1.0f);
}

ProgramDebugger::~ProgramDebugger() {
  QZ_TRACE;
  announced.clear();
}

int ProgramDebugger::answer(const DebugMessage& message) {
  QZ_TRACE;
  if (writer == nullptr) return -1;
  return message.serialize(writer);
}

int ProgramDebugger::push_module(const Module* module) {
  QZ_TRACE;
  if (announced.count(module) != 0) return 0;
  String name = vm_module_name != nullptr && module != nullptr ? vm_module_name(module) : String();
  DebugMessage_Module_Push m(reinterpret_cast<uint64_t>(module), name);
  int r = answer(m);
  if (r != 0) return r;
  announced.insert(module);
  return 0;
}

void ProgramDebugger::push_frame(VmStack*, VmStack*) {
  QZ_TRACE;
  throw_assert_failed();
}

int ProgramDebugger::enter_break_mode(VmStack* s) {
  QZ_TRACE;
  stack = s;
  // With a front end the break-mode loop would have to serve it; that loop is the host's.
  if (writer != nullptr) return 1;
  in_break_mode = true;
  try {
    on_break();
  } catch (...) {
    in_break_mode = false;
    throw;
  }
  in_break_mode = false;
  return 0;
}

int ProgramDebugger::process_message_from_debugger(DebugMessage* message) {
  QZ_TRACE;
  if (message == nullptr) return -1;
  switch (message->type) {
    case DEBUG_ATTACH: {
      if (attached) return -1;  // out of order
      int r = answer(DebugMessage_Attached_Running(0));
      if (r == 0) attached = 1;
      return r;
    }
    case DEBUG_STEP: {
      if (!attached || stack == nullptr) return -1;
      stack->step_request = static_cast<DebugMessage_Step*>(message)->kind == 1 ? 0 : 1;
      stepping = 1;
      return on_message();
    }
    case DEBUG_RESUME:
      if (!attached || !in_break_mode) return -1;
      if (stack != nullptr) stack->step_request = 0;
      throw 0;  // leaves the break-mode loop
    case DEBUG_SET_NEXT_STATEMENT:
      if (!attached || !in_break_mode) return -1;
      throw 0;
    case DEBUG_DETACH: {
      if (!attached) {
        answer(DebugMessage_Detached());
        return 0;
      }
      if (stack != nullptr) stack->step_request = 0;
      attached = 0;
      stepping = 0;
      int r = on_message();
      answer(DebugMessage_Detached());
      return r;
    }
    default:
      return 0;
  }
}

int ProgramDebugger::on_exception(VmStack* s, int code, const String& message) {
  QZ_TRACE;
  stack = s;
  stepping = 0;
  if (writer != nullptr) answer(DebugMessage_Exception(static_cast<uint32_t>(code), message));
  return -1;
}

int ProgramDebugger::pop_frame(uint64_t frame_id) {
  QZ_TRACE;
  return answer(DebugMessage_Stack_Frame_Pop(frame_id));
}

}  // namespace qzbase
