// debugger_test.cpp - the debugger messages and their wire format, and ProgramDebugger's handling
// of the front end's messages (through a fake writer).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "vm/debugger.h"
#include "vm/error_handlers.h"
#include "vm_support.h"

namespace qzbase::testing_vm {
namespace {

// Records every message sent; answers with result.
class FakeWriter : public DebugMessageWriter {
 public:
  int send(const DebugMessageBuffer& buffer) override {
    sent.emplace_back(buffer.data(), buffer.size());
    capacities.push_back(buffer.capacity());
    return result;
  }
  // The parsed message n (owned by the caller).
  std::unique_ptr<DebugMessage> message(size_t n) {
    std::string& bytes = sent.at(n);
    return std::unique_ptr<DebugMessage>(debug_message_from_buffer(bytes.data(), bytes.size()));
  }
  std::vector<std::string> sent;
  std::vector<size_t> capacities;
  int result = 0;
};

std::string round_trip_bytes(const DebugMessage& m, size_t* capacity = nullptr) {
  FakeWriter w;
  EXPECT_EQ(m.serialize(&w), 0);
  if (capacity != nullptr) *capacity = w.capacities.at(0);
  return w.sent.at(0);
}

std::unique_ptr<DebugMessage> round_trip(const DebugMessage& m) {
  std::string bytes = round_trip_bytes(m);
  return std::unique_ptr<DebugMessage>(debug_message_from_buffer(bytes.data(), bytes.size()));
}

template <class T>
const T& as(const std::unique_ptr<DebugMessage>& m) {
  EXPECT_NE(dynamic_cast<const T*>(m.get()), nullptr);
  return *dynamic_cast<const T*>(m.get());
}

TEST(DebugMessages, AllFifteenRoundTripWithTheirFieldsAndCapacities) {
  DebugMessage_Stack_Frame_Push frame;
  frame.frame_id = 0x1122334455667788ull;
  frame.frame_number = 3;
  frame.program_name = String("MAIN");
  frame.line = 42;
  frame.column = 7;
  frame.module_id = 99;
  frame.flags = 0xABCDEF01u;
  DebugMessage_Frame_Push_Memvar memvar;
  memvar.frame_id = 5;
  memvar.variable_id = 1ull << 40;
  memvar.name = String("NÄME");
  memvar.value_text = String("short");
  memvar.value_kind = 10;
  memvar.type_name = String("C");

  struct Row {
    const DebugMessage* m;
    uint32_t type;
    size_t capacity;
    size_t size;  // bytes on the wire
  };
  DebugMessage_Attach attach;
  DebugMessage_Attached_Running running(7);
  DebugMessage_Attached_Break brk_attached(8);
  DebugMessage_Step step(1, 9);
  DebugMessage_Resume resume;
  DebugMessage_Break brk;
  DebugMessage_Detach detach;
  DebugMessage_Detached detached;
  DebugMessage_Module_Push module(0xFEEDull, String("LIB.PRG"));
  DebugMessage_Step_Completed completed;
  DebugMessage_Stack_Frame_Pop pop(77);
  DebugMessage_Exception exception(1234, String("Sömething failed"));
  DebugMessage_Set_Next_Statement next(12);
  const Row rows[] = {
      {&attach, 0, 32, 4},
      {&running, 1, 32, 8},
      {&brk_attached, 2, 32, 8},
      {&step, 3, 64, 12},
      {&resume, 4, 32, 4},
      {&brk, 5, 32, 4},
      {&detach, 8, 32, 4},
      {&detached, 9, 32, 4},
      {&module, 10, 1024, 4 + 8 + 4 + 7},
      {&frame, 11, 1024, 4 + 8 + 4 + 4 + 4 + 4 + 4 + 8 + 4},
      {&completed, 12, 32, 4},
      {&pop, 13, 32, 12},
      {&memvar, 15, 512, 4 + 8 + 8 + 4 + 5 + 4 + 5 + 4 + 4 + 1},
      {&exception, 16, 1200, 4 + 4 + 4 + 17},
      {&next, 17, 32, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    size_t capacity = 0;
    std::string bytes = round_trip_bytes(*row.m, &capacity);
    EXPECT_EQ(capacity, row.capacity);
    EXPECT_EQ(bytes.size(), row.size);
    uint32_t type;
    std::memcpy(&type, bytes.data(), 4);
    EXPECT_EQ(type, row.type);
    std::unique_ptr<DebugMessage> back(debug_message_from_buffer(bytes.data(), bytes.size()));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->type, row.type);
    EXPECT_EQ(typeid(*back), typeid(*row.m));
    // Serialized again, the copy gives the same bytes: every field came back.
    EXPECT_EQ(round_trip_bytes(*back), bytes);
  }
  // A few fields by name, the strings as text.
  EXPECT_EQ(as<DebugMessage_Step>(round_trip(step)).value, 9u);
  EXPECT_EQ(as<DebugMessage_Module_Push>(round_trip(module)).name.u8str(), "LIB.PRG");
  EXPECT_EQ(as<DebugMessage_Stack_Frame_Push>(round_trip(frame)).frame_id, 0x1122334455667788ull);
  EXPECT_EQ(as<DebugMessage_Frame_Push_Memvar>(round_trip(memvar)).name.u8str(), "NÄME");
  EXPECT_EQ(as<DebugMessage_Exception>(round_trip(exception)).message.u8str(), "Sömething failed");
}

TEST(DebugMessages, WireLayoutIsTypeThenFieldsInHostOrder) {
  std::string bytes = round_trip_bytes(DebugMessage_Module_Push(0x0102030405060708ull, String("AB")));
  const unsigned char expect[] = {10, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 2, 0, 0, 0, 'A', 'B'};
  ASSERT_EQ(bytes.size(), sizeof expect);
  EXPECT_EQ(std::memcmp(bytes.data(), expect, sizeof expect), 0);
}

TEST(DebugMessages, UnassignedTypesAndShortBuffersParseToNull) {
  for (uint32_t type : {6u, 7u, 14u, 18u, 0xFFFFFFFFu}) {
    char b[64] = {};
    std::memcpy(b, &type, 4);
    EXPECT_EQ(debug_message_from_buffer(b, sizeof b), nullptr) << type;
  }
  char empty[1] = {};
  EXPECT_EQ(debug_message_from_buffer(empty, 0), nullptr);
  EXPECT_EQ(debug_message_from_buffer(empty, 1), nullptr);  // not even the type
  // Every proper prefix of a message with fields is too short.
  DebugMessage_Stack_Frame_Push frame;
  frame.program_name = String("PROGRAM");
  DebugMessage_Frame_Push_Memvar memvar;
  memvar.value_text = String("v");
  const DebugMessage* with_fields[] = {&frame, &memvar};
  for (const DebugMessage* m : with_fields) {
    std::string bytes = round_trip_bytes(*m);
    for (size_t n = 0; n < bytes.size(); ++n) {
      std::vector<char> prefix(bytes.begin(), bytes.begin() + static_cast<long>(n));
      EXPECT_EQ(debug_message_from_buffer(prefix.data(), n), nullptr) << m->type << " cut at " << n;
    }
  }
  // A string length pointing past the end.
  char lying[] = {10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 'x'};
  EXPECT_EQ(debug_message_from_buffer(lying, sizeof lying), nullptr);
}

TEST(DebugMessages, MemvarValueTextIsCutToThirtyTwoCharacters) {
  DebugMessage_Frame_Push_Memvar m;
  m.value_text = String("ääääääääää" "bbbbbbbbbb" "cccccccccc" "dddddddddd");  // 40 characters
  auto back = round_trip(m);
  EXPECT_EQ(as<DebugMessage_Frame_Push_Memvar>(back).value_text.u8str(), "ääääääääää" "bbbbbbbbbb" "cccccccccc" "dd");
}

TEST(DebugMessages, AMessageLongerThanItsBufferIsNotSent) {
  FakeWriter w;
  std::string long_text(2000, 'x');
  DebugMessage_Exception m(1, String(long_text.c_str()));
  EXPECT_EQ(m.serialize(&w), -1);
  EXPECT_TRUE(w.sent.empty());
}

TEST(DebugMessages, ValueKindCodes) {
  Variant v;
  EXPECT_EQ(debug_value_kind(v), 1);
  v.set_true();
  EXPECT_EQ(debug_value_kind(v), 1);
  v.release(nullptr);
  v.set_null();
  EXPECT_EQ(debug_value_kind(v), 4);
  v.release(nullptr);
  v.set_integer(1);
  EXPECT_EQ(debug_value_kind(v), 5);
  v.release(nullptr);
  v.set_string(String("s"));
  EXPECT_EQ(debug_value_kind(v), 10);
  v.release(nullptr);
  Variant bad;
  bad.tag = VT_REFERENCE;
  EXPECT_THROW(debug_value_kind(bad), assert_failed_exception);
  bad.tag = VT_FALSE;
}

// --- ProgramDebugger ----------------------------------------------------------------------------

int g_token_a, g_token_b;

TEST(ProgramDebuggerTest, PushModuleSendsOnceAndRetriesAfterAFailure) {
  String (*saved)(const Module*) = vm_module_name;
  vm_module_name = [](const Module* m) {
    return String(m == reinterpret_cast<const Module*>(&g_token_a) ? "A.PRG" : "B.PRG");
  };
  NoProgramDebugger d;
  FakeWriter w;
  d.writer = &w;
  auto* a = reinterpret_cast<const Module*>(&g_token_a);
  auto* b = reinterpret_cast<const Module*>(&g_token_b);
  EXPECT_EQ(d.push_module(a), 0);
  EXPECT_EQ(d.push_module(a), 0);
  ASSERT_EQ(w.sent.size(), 1u);
  auto m = w.message(0);
  EXPECT_EQ(as<DebugMessage_Module_Push>(m).module_id, reinterpret_cast<uint64_t>(a));
  EXPECT_EQ(as<DebugMessage_Module_Push>(m).name.u8str(), "A.PRG");
  w.result = 5;
  EXPECT_EQ(d.push_module(b), 5);  // not sent: tried again next time
  w.result = 0;
  EXPECT_EQ(d.push_module(b), 0);
  EXPECT_EQ(d.push_module(b), 0);
  EXPECT_EQ(w.sent.size(), 3u);
  vm_module_name = saved;
}

class Messages : public ::testing::Test {
 public:
  Messages() : stack(rt.get(), 64, 16) {
    d.writer = &w;
    d.stack = &stack;
  }
  int process(DebugMessage* m) {
    std::unique_ptr<DebugMessage> owned(m);
    return d.process_message_from_debugger(m);
  }
  TestRuntime rt;
  VmStack stack;
  NoProgramDebugger d;
  FakeWriter w;
};

TEST_F(Messages, AttachAnswersAttachedRunningAndDetachAnswersDetached) {
  EXPECT_EQ(process(new DebugMessage_Attach()), 0);
  ASSERT_EQ(w.sent.size(), 1u);
  EXPECT_EQ(as<DebugMessage_Attached_Running>(w.message(0)).value, 0u);
  EXPECT_EQ(d.attached, 1);
  stack.step_request = 1;
  EXPECT_EQ(process(new DebugMessage_Detach()), 0);
  EXPECT_EQ(w.message(1)->type, DEBUG_DETACHED);
  EXPECT_EQ(stack.step_request, 0);
  EXPECT_EQ(d.attached, 0);
  // Detach when not attached answers too.
  EXPECT_EQ(process(new DebugMessage_Detach()), 0);
  EXPECT_EQ(w.message(2)->type, DEBUG_DETACHED);
}

TEST_F(Messages, StepSetsOrClearsTheStepRequest) {
  ASSERT_EQ(process(new DebugMessage_Attach()), 0);
  EXPECT_EQ(process(new DebugMessage_Step(0, 0)), 0);
  EXPECT_EQ(stack.step_request, 1);
  EXPECT_EQ(d.stepping, 1);
  EXPECT_EQ(process(new DebugMessage_Step(1, 0)), 0);
  EXPECT_EQ(stack.step_request, 0);
  // Other messages are accepted and do nothing.
  EXPECT_EQ(process(new DebugMessage_Step_Completed()), 0);
}

// Fault: out-of-order messages were broken invariants, so a peer could abort the runtime.
TEST_F(Messages, OutOfOrderMessagesAreIgnoredWithANonZeroResult) {
  EXPECT_NE(process(new DebugMessage_Step(0, 0)), 0);  // not attached
  EXPECT_EQ(stack.step_request, 0);
  EXPECT_NE(process(new DebugMessage_Resume()), 0);
  EXPECT_NE(process(new DebugMessage_Set_Next_Statement(3)), 0);
  ASSERT_EQ(process(new DebugMessage_Attach()), 0);
  EXPECT_NE(process(new DebugMessage_Attach()), 0);  // attached already
  EXPECT_EQ(w.sent.size(), 1u);
  EXPECT_NE(process(new DebugMessage_Resume()), 0);  // not in break mode
  EXPECT_NE(process(new DebugMessage_Set_Next_Statement(3)), 0);
  EXPECT_NE(d.process_message_from_debugger(nullptr), 0);
}

// The host's break-mode loop: reads messages until Resume leaves it.
class LoopDebugger : public NoProgramDebugger {
 public:
  void on_break() override {
    try {
      for (DebugMessage* m : script) {
        std::unique_ptr<DebugMessage> owned(m);
        ++handled;
        process_message_from_debugger(m);
      }
    } catch (int code) {
      left_with = code;
    }
  }
  std::vector<DebugMessage*> script;
  int handled = 0;
  int left_with = -1;
};

TEST(ProgramDebuggerTest, ResumeLeavesTheBreakModeLoop) {
  TestRuntime rt;
  VmStack stack(rt.get(), 64, 16);
  LoopDebugger d;
  d.attached = 1;  // the front end talks through the host's loop
  stack.step_request = 1;
  d.script = {new DebugMessage_Step_Completed(), new DebugMessage_Resume(), new DebugMessage_Break()};
  EXPECT_EQ(d.enter_break_mode(&stack), 0);
  EXPECT_EQ(d.handled, 2);
  EXPECT_EQ(d.left_with, 0);
  EXPECT_EQ(stack.step_request, 0);
  EXPECT_FALSE(d.in_break_mode);
  delete d.script[2];
  EXPECT_EQ(d.stack, &stack);
}

TEST_F(Messages, ExceptionHookReportsToTheFrontEndAndLetsTheErrorGoOn) {
  EXPECT_EQ(d.on_exception(&stack, 12, String("Variable 'X' is not found.")), -1);
  ASSERT_EQ(w.sent.size(), 1u);
  auto m = w.message(0);
  EXPECT_EQ(as<DebugMessage_Exception>(m).code, 12u);
  d.writer = nullptr;
  EXPECT_EQ(d.on_exception(&stack, 12, String("x")), -1);
  EXPECT_EQ(w.sent.size(), 1u);
  EXPECT_NE(d.enter_break_mode(&stack), 1);  // no front end: the (empty) break hook runs
  d.writer = &w;
  EXPECT_EQ(d.enter_break_mode(&stack), 1);  // refused with a front end connected
  EXPECT_EQ(d.pop_frame(9), 0);
  EXPECT_EQ(as<DebugMessage_Stack_Frame_Pop>(w.message(1)).frame_id, 9u);
  EXPECT_THROW(d.push_frame(&stack, &stack), assert_failed_exception);
}

}  // namespace
}  // namespace qzbase::testing_vm
