// debugger.h - the hook object of an external debugger and the messages of its protocol.
//
// A ProgramDebugger is attached to a VmStack (VmStack::debugger): the runtime tells it when a run
// starts and ends, when a module is first used and when an error is raised, and it exchanges
// messages with the debugger front end through a writer the host supplies. The library itself
// only builds NoProgramDebugger, whose hooks do nothing; the transport is the host's.
//
// Wire format: every message is its u32 type followed by its fields in order, integers in host
// byte order, strings as a u32 byte length and that many UTF-8 bytes; no padding, no trailer.
//
// Deliberate choices (debugger_test.cpp):
// - A message the front end sends out of order (Attach while attached; Step, Resume or
//   Set_Next_Statement while not attached; Resume or Set_Next_Statement outside break mode) is
//   ignored and answered with a non-zero result: a peer must not be able to abort the runtime.
// - A front end counts as attached once the Attached_Running answer to its Attach was sent; Detach
//   ends that.
// - With a writer connected, an error is reported to the front end with an Exception message and
//   then goes on to the handlers (-1); break mode with a writer is refused (non-zero) rather than
//   aborting, since the break-mode loop belongs to the host.
// - A message that does not fit its buffer is not sent: serialize returns -1.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <unordered_set>

namespace qzbase {

class Module;
class VmStack;

// A message under construction or being read: { start; cursor; capacity }.
class DebugMessageBuffer {
 public:
  explicit DebugMessageBuffer(size_t capacity);  // an owned, empty buffer
  DebugMessageBuffer(const char* data, size_t size);  // reads a received message (not owned)
  ~DebugMessageBuffer();
  DebugMessageBuffer(const DebugMessageBuffer&) = delete;
  DebugMessageBuffer& operator=(const DebugMessageBuffer&) = delete;

  // The appends return false, writing nothing, when the value does not fit.
  bool append_u32(uint32_t v);
  bool append_u64(uint64_t v);
  bool append_bytes(const void* bytes, uint32_t n);  // u32 length, then the bytes
  bool append_cstr(const char* text);                // u32 length, then the text (no terminator)
  bool append_string(const String& s);               // as UTF-8
  // The reads return false, consuming nothing, when the buffer is too short.
  bool read_u32(uint32_t* v);
  bool read_u64(uint64_t* v);
  bool read_string(String* s);

  const char* data() const { return start_; }
  size_t size() const { return static_cast<size_t>(cursor_ - start_); }
  size_t capacity() const { return capacity_; }
  void rewind() { cursor_ = start_; }

 private:
  bool fits(size_t n) const { return n <= capacity_ - size(); }

  char* start_;
  char* cursor_;
  size_t capacity_;
  bool owned_;
};

// The connection to a front end (the host's). send returns 0 once the message was sent.
class DebugMessageWriter {
 public:
  virtual int send(const DebugMessageBuffer& buffer) = 0;
  virtual ~DebugMessageWriter();
};

enum DebugMessageType : uint32_t {
  DEBUG_ATTACH = 0,
  DEBUG_ATTACHED_RUNNING = 1,
  DEBUG_ATTACHED_BREAK = 2,
  DEBUG_STEP = 3,
  DEBUG_RESUME = 4,
  DEBUG_BREAK = 5,
  DEBUG_DETACH = 8,
  DEBUG_DETACHED = 9,
  DEBUG_MODULE_PUSH = 10,
  DEBUG_STACK_FRAME_PUSH = 11,
  DEBUG_STEP_COMPLETED = 12,
  DEBUG_STACK_FRAME_POP = 13,
  DEBUG_FRAME_PUSH_MEMVAR = 15,
  DEBUG_EXCEPTION = 16,
  DEBUG_SET_NEXT_STATEMENT = 17,
};

// A message; created with new and deleted by its receiver.
class DebugMessage {
 public:
  explicit DebugMessage(uint32_t type) : type(type) {}
  virtual ~DebugMessage();
  // Builds the message in a buffer of its capacity and hands it to the writer; the writer's
  // result, or -1 when the message does not fit.
  int serialize(DebugMessageWriter* writer) const;
  // The capacity of the message's buffer.
  virtual size_t buffer_capacity() const { return 32; }
  // Appends the fields after the type; false when they do not fit.
  virtual bool write_fields(DebugMessageBuffer&) const { return true; }
  // Reads the fields after the type; false when the buffer is too short.
  virtual bool read_fields(DebugMessageBuffer&) { return true; }

  uint32_t type;
};

// The messages without fields.
template <uint32_t T>
class DebugMessageEmpty : public DebugMessage {
 public:
  DebugMessageEmpty() : DebugMessage(T) {}
};
using DebugMessage_Attach = DebugMessageEmpty<DEBUG_ATTACH>;
using DebugMessage_Resume = DebugMessageEmpty<DEBUG_RESUME>;
using DebugMessage_Break = DebugMessageEmpty<DEBUG_BREAK>;
using DebugMessage_Detach = DebugMessageEmpty<DEBUG_DETACH>;
using DebugMessage_Detached = DebugMessageEmpty<DEBUG_DETACHED>;
using DebugMessage_Step_Completed = DebugMessageEmpty<DEBUG_STEP_COMPLETED>;

// The messages of one u32.
template <uint32_t T>
class DebugMessageU32 : public DebugMessage {
 public:
  explicit DebugMessageU32(uint32_t value = 0) : DebugMessage(T), value(value) {}
  bool write_fields(DebugMessageBuffer& b) const override { return b.append_u32(value); }
  bool read_fields(DebugMessageBuffer& b) override { return b.read_u32(&value); }
  uint32_t value;
};
using DebugMessage_Attached_Running = DebugMessageU32<DEBUG_ATTACHED_RUNNING>;
using DebugMessage_Attached_Break = DebugMessageU32<DEBUG_ATTACHED_BREAK>;
using DebugMessage_Set_Next_Statement = DebugMessageU32<DEBUG_SET_NEXT_STATEMENT>;

// Step kinds: 1 stops stepping; any other kind asks for a step.
class DebugMessage_Step : public DebugMessage {
 public:
  DebugMessage_Step(uint32_t kind = 0, uint32_t value = 0) : DebugMessage(DEBUG_STEP), kind(kind), value(value) {}
  size_t buffer_capacity() const override { return 64; }
  bool write_fields(DebugMessageBuffer& b) const override;
  bool read_fields(DebugMessageBuffer& b) override;
  uint32_t kind;
  uint32_t value;
};

class DebugMessage_Module_Push : public DebugMessage {
 public:
  DebugMessage_Module_Push(uint64_t module_id = 0, const String& name = String())
      : DebugMessage(DEBUG_MODULE_PUSH), module_id(module_id), name(name) {}
  size_t buffer_capacity() const override { return 1024; }
  bool write_fields(DebugMessageBuffer& b) const override;
  bool read_fields(DebugMessageBuffer& b) override;
  uint64_t module_id;  // identifies the module while it is loaded (its address)
  String name;
};

class DebugMessage_Stack_Frame_Push : public DebugMessage {
 public:
  DebugMessage_Stack_Frame_Push() : DebugMessage(DEBUG_STACK_FRAME_PUSH) {}
  size_t buffer_capacity() const override { return 1024; }
  bool write_fields(DebugMessageBuffer& b) const override;
  bool read_fields(DebugMessageBuffer& b) override;
  uint64_t frame_id = 0;
  uint32_t frame_number = 0;
  String program_name;
  uint32_t line = 0;
  uint32_t column = 0;
  uint64_t module_id = 0;
  uint32_t flags = 0;
};

class DebugMessage_Stack_Frame_Pop : public DebugMessage {
 public:
  explicit DebugMessage_Stack_Frame_Pop(uint64_t frame_id = 0) : DebugMessage(DEBUG_STACK_FRAME_POP), frame_id(frame_id) {}
  bool write_fields(DebugMessageBuffer& b) const override { return b.append_u64(frame_id); }
  bool read_fields(DebugMessageBuffer& b) override { return b.read_u64(&frame_id); }
  uint64_t frame_id;
};

// A variable of a frame. The value text is cut to its first 32 characters when written.
class DebugMessage_Frame_Push_Memvar : public DebugMessage {
 public:
  DebugMessage_Frame_Push_Memvar() : DebugMessage(DEBUG_FRAME_PUSH_MEMVAR) {}
  size_t buffer_capacity() const override { return 512; }
  bool write_fields(DebugMessageBuffer& b) const override;
  bool read_fields(DebugMessageBuffer& b) override;
  uint64_t frame_id = 0;
  uint64_t variable_id = 0;
  String name;
  String value_text;
  uint8_t value_kind = 0;  // a debug_value_kind code; a u32 on the wire
  String type_name;
};

class DebugMessage_Exception : public DebugMessage {
 public:
  DebugMessage_Exception(uint32_t code = 0, const String& message = String())
      : DebugMessage(DEBUG_EXCEPTION), code(code), message(message) {}
  size_t buffer_capacity() const override { return 1200; }
  bool write_fields(DebugMessageBuffer& b) const override;
  bool read_fields(DebugMessageBuffer& b) override;
  uint32_t code;
  String message;
};

// Parses one message; a new object the caller deletes. Null for an unassigned type (6, 7, 14,
// above 17) and for a buffer too short for the type's fields.
DebugMessage* debug_message_from_buffer(char* buffer, size_t size);

// The protocol's kind code of a value: .F./.T. 1, null 4, integer 5, numeric 6, money 7, date 8,
// datetime 9, string 10, object 11, array 13; any other tag is a broken invariant.
uint8_t debug_value_kind(const Variant& v);

class ProgramDebugger {
 public:
  ProgramDebugger();
  virtual ~ProgramDebugger();
  ProgramDebugger(const ProgramDebugger&) = delete;
  ProgramDebugger& operator=(const ProgramDebugger&) = delete;

  // Called by the runtime around a run of the stack (also when the run ends by an error).
  virtual int on_run_start(VmStack* stack) = 0;
  virtual int on_run_end(VmStack* stack) = 0;
  // Break mode: the host's loop, which reads front-end messages until Resume or
  // Set_Next_Statement raises an int 0 out of process_message_from_debugger.
  virtual void on_break() = 0;
  // Called after a Step or Detach message was applied.
  virtual int on_message() = 0;

  // Announces a module to the front end once; the writer's result when sending failed (the module
  // is tried again next time).
  int push_module(const Module* module);
  // Announcing the frames of a stack is not available: a broken invariant.
  void push_frame(VmStack* stack, VmStack* other);
  // Records the stack and runs the break hook; with a writer connected, refused (1).
  int enter_break_mode(VmStack* stack);
  // Applies one message from the front end (see the header comment for out-of-order messages).
  int process_message_from_debugger(DebugMessage* message);
  // Called by the handler search for every error offered to handlers: -1 lets it go on to the
  // handlers and the report.
  int on_exception(VmStack* stack, int code, const String& message);
  // Tells the front end a frame ended.
  int pop_frame(uint64_t frame_id);

  VmStack* stack = nullptr;  // the stack being debugged
  uint8_t attached = 0;
  uint8_t stepping = 0;
  std::unordered_set<const Module*> announced;  // modules push_module has sent
  DebugMessageWriter* writer = nullptr;         // null when no front end is connected
  bool in_break_mode = false;

 private:
  int answer(const DebugMessage& message);  // -1 without a writer
};

// The debugger of every run: all hooks empty.
class NoProgramDebugger : public ProgramDebugger {
 public:
  int on_run_start(VmStack*) override { return 0; }
  int on_run_end(VmStack*) override { return 0; }
  void on_break() override {}
  int on_message() override { return 0; }
};

}  // namespace qzbase
