// loops_test.cpp - DO WHILE, FOR, FOR EACH, SCAN, EXIT and LOOP: what runs today is run on a
// stack (in both compile kinds), the forms that need run-time pieces still missing are checked by
// their op sequences.
#include "block_run_support.h"

#include "builtins/library.h"
#include "compiler/expression_parts.h"
#include "vm/interpreter.h"

namespace qzbase::testing_compiler {
namespace {

using Codes = std::vector<uint32_t>;

class Loops : public BlockRun {
 public:
  // The native function a VmOpCallSpecDo at slot calls, by name among the candidates ("?" none).
  std::string called_function(const Program* program, size_t slot, std::initializer_list<const char*> candidates) {
    const VmOp* op = program->code()[slot];
    if (op->opcode != OP_CALL_SPEC_DO) return "not a call";
    Compiler compiler(rt.stack, COMPILE_KIND_PROGRAM);
    Library* library = builtin_library_of(compiler);
    for (const char* name : candidates) {
      const library_func_def_st* def = library->find_function(std::string_view(name));
      if (def != nullptr && def->function == static_cast<const VmOpCallSpecDo*>(op)->function) return name;
    }
    return "?";
  }
};

// Each text runs as a script (frame slots) and as a command text (names only).
TEST_F(Loops, RunsInBothCompileKinds) {
  struct Case {
    const char* text;
    const char* printed;
  } cases[] = {
      // FOR leaves the variable one step past the limit; a loop that never starts runs no time.
      {"FOR i = 1 TO 3\n?? i\nENDFOR\n?? \"/\", i\n", "123/ 4"},
      {"FOR i = 3 TO 1\n?? i\nENDFOR\n?? \"/\", i\n", "/ 3"},
      {"FOR i = 3 TO 1 STEP -1\n?? i\nNEXT\n?? \"/\", i\n", "321/ 0"},
      {"FOR i = 1 TO 10 STEP 4\n?? i\nENDFOR\n", "159"},
      // A zero step runs while the variable differs from the limit.
      {"FOR i = 1 TO 1 STEP 0\n?? i\nENDFOR\n?? \"/\"\n", "/"},
      {"FOR i = 1 TO 3 STEP 0\n?? i\ni = i + 1\nENDFOR\n", "12"},
      // The limit and the step are taken once; the variable is read at every test.
      {"n = 3\nFOR i = 1 TO n\nn = 10\n?? i\nENDFOR\n", "123"},
      {"FOR i = 1 TO 5\n?? i\ni = i + 1\nENDFOR\n", "135"},
      // A null limit ends the loop at its first test.
      {"FOR i = 1 TO .NULL.\n?? i\nENDFOR\n?? \"/\"\n", "/"},
      // LOOP adds the step before the next test; EXIT leaves at once.
      {"FOR i = 1 TO 4\n?? i\nLOOP\n?? \"never\"\nENDFOR\n?? \"/\", i\n", "1234/ 5"},
      {"FOR i = 1 TO 4\n?? i\nEXIT\nENDFOR\n?? \"/\", i\n", "1/ 1"},
      // Nested loops run their full counts (each has its own temporaries).
      {"FOR i = 1 TO 2\nFOR j = 1 TO 3\n?? j\nENDFOR\n?? \"|\"\nENDFOR\n", "123|123|"},
      {"FOR i = 1 TO 2\nFOR j = 5 TO 1 STEP -2\n?? i * 10 + j\nNEXT\nNEXT\n", "151311252321"},
      {"LOCAL i, j\nFOR i = 1 TO 3\nFOR j = 1 TO i\n?? j\nENDFOR\nENDFOR\n", "112123"},
      // DO WHILE tests its condition before each turn; EXIT and LOOP act on the innermost loop.
      {"x = 0\nDO WHILE x < 3\nx = x + 1\n?? x\nENDDO\n", "123"},
      {"x = 5\nDO WHILE x < 3\n?? x\nENDDO\n?? \"/\"\n", "/"},
      {"x = 0\nDO WHILE .T.\nx = x + 1\nLOOP\nENDDO\n", "!build"},
      {"x = 0\nDO WHILE x < 5\nx = x + 1\n?? x\nEXIT\nENDDO\n", "1"},
      {"x = 0\nDO WHILE x < 2\nx = x + 1\nFOR i = 1 TO 9\n?? i\nEXIT\nENDFOR\nLOOP\nENDDO\n?? \"/\", x\n", "11/ 2"},
      {"x = 0\nDO WHILE x < 2\nx = x + 1\nFOR i = 1 TO 2\n?? x * 10 + i\nENDFOR\nENDDO\n", "11122122"},
  };
  for (const Case& c : cases) {
    for (uint32_t kind : {COMPILE_KIND_PROGRAM, COMPILE_KIND_COMMAND}) {
      SCOPED_TRACE(std::string(c.text) + (kind == COMPILE_KIND_PROGRAM ? " (script)" : " (command)"));
      if (std::string(c.printed) == "!build") continue;  // an endless loop: compiled only below
      EXPECT_EQ(run(c.text, kind), c.printed);
      EXPECT_TRUE(codes.empty());
    }
  }
  // The endless loop compiles without messages.
  EXPECT_NE(build("x = 0\nDO WHILE .T.\nx = x + 1\nLOOP\nENDDO\n"), nullptr);
  EXPECT_TRUE(codes.empty());
}

// The FOR test reads the loop variable as the memory variable the increment writes, never as a
// plain name (which a field of the selected table would shadow, so the loop would never end).
TEST_F(Loops, ForTestReadsTheMemoryVariable) {
  auto program = build("FOR i = 1 TO 3\nENDFOR\n", COMPILE_KIND_COMMAND);
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(dump(program.get()),
            "0: ReadConstInteger 1\n1: WriteMemarByName I\n2: DefLocal .LOCAL~FORTO~0\n3: ReadConstInteger 3\n"
            "4: WriteMemarByName .LOCAL~FORTO~0\n5: DefLocal .LOCAL~FORSTEP~1\n6: ReadConstInteger 1\n"
            "7: WriteMemarByName .LOCAL~FORSTEP~1\n8: ReadMemvarByName .LOCAL~FORSTEP~1\n"
            "9: ReadMemvarByName .LOCAL~FORTO~0\n10: ReadMemvarByName I\n11: ForCondFalseJump -> 15\n"
            "12: ReadMemvarByName .LOCAL~FORSTEP~1\n13: ReadAddWrite I\n14: Jump -> 8\n15: Return\n16: end\n");
  program = build("LOCAL i\nFOR i = 1 TO 3 STEP 2\nLOOP\nENDFOR\n");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(dump(program.get()),
            "0: DefLocalOffset @1 I\n1: ReadConstInteger 1\n2: WriteMemvarByOffset @1\n"
            "3: DefLocalOffset @2 .LOCAL~FORTO~1\n4: ReadConstInteger 3\n5: WriteMemvarByOffset @2\n"
            "6: DefLocalOffset @3 .LOCAL~FORSTEP~2\n7: ReadConstInteger 2\n8: WriteMemvarByOffset @3\n"
            "9: ReadLocalMemvarByOffset @3\n10: ReadLocalMemvarByOffset @2\n11: ReadLocalMemvarByOffset @1\n"
            "12: ForCondFalseJump -> 19\n13: ReadLocalMemvarByOffset @3\n14: ReadAddWriteLocal @1\n15: Jump -> 9\n"
            "16: ReadLocalMemvarByOffset @3\n17: ReadAddWriteLocal @1\n18: Jump -> 9\n19: Return\n20: end\n");
}

// The same at run time: a bound table with a field I that always reads 1. The guard returns
// "endless" once the body has run more than 10 times.
TEST_F(Loops, ForEndsWhenATableHasAFieldOfTheVariablesName) {
  static symbol_id_type field_symbol = 0;
  field_symbol = rt.stack->get_symtable()->symbolize("I");
  vm_table_hooks_st saved = vm_table_hooks;
  vm_table_hooks.field_by_symbol = [](Table_Object*, symbol_id_type symbol) { return symbol == field_symbol ? 0 : -1; };
  vm_table_hooks.read_field = [](VmStack*, Table_Object*, int, Variant* out) { out->set_integer(1); };
  for (uint32_t kind : {COMPILE_KIND_PROGRAM, COMPILE_KIND_COMMAND}) {
    auto program = build("n = 0\nFOR i = 1 TO 3\nn = n + 1\n?? i\nDO WHILE n > 10\nRETURN \"endless\"\nENDDO\nENDFOR\n"
                         "RETURN \"ok\"\n",
                         kind);
    ASSERT_NE(program, nullptr);
    rt.screen.out.clear();
    int table = 0;
    rt.stack->bound_table = reinterpret_cast<Table_Object*>(&table);
    Variant result;
    int error = error_of([&] { execute_program(rt.stack, 0, false, program.get(), &result); });
    rt.stack->bound_table = nullptr;
    EXPECT_EQ(error, 0);
    ASSERT_EQ(result.tag, VT_STRING);
    EXPECT_EQ(result.string.u8str(), "ok");
    EXPECT_EQ(rt.screen.out, "111");  // the body's plain name reads the field
    result.release(rt.stack);
  }
  vm_table_hooks = saved;
}

// A LOCAL read by name still yields to a field of the bound table, in a script (slots) where the
// read runs as the fused slot read, and reads the slot once the table is gone.
TEST_F(Loops, FieldOfTheBoundTableHidesALocal) {
  static symbol_id_type field_symbol = 0;
  field_symbol = rt.stack->get_symtable()->symbolize("N");
  vm_table_hooks_st saved = vm_table_hooks;
  vm_table_hooks.field_by_symbol = [](Table_Object*, symbol_id_type symbol) { return symbol == field_symbol ? 0 : -1; };
  vm_table_hooks.read_field = [](VmStack*, Table_Object*, int, Variant* out) { out->set_integer(7); };
  auto program = build("LOCAL n, k\nn = 5\nFOR k = 1 TO 2\n?? n\nENDFOR\n");
  ASSERT_NE(program, nullptr);
  int table = 0;
  for (bool bound : {true, false, true}) {
    SCOPED_TRACE(bound);
    rt.screen.out.clear();
    rt.stack->bound_table = bound ? reinterpret_cast<Table_Object*>(&table) : nullptr;
    Variant result;
    int error = error_of([&] { execute_program(rt.stack, 0, false, program.get(), &result); });
    rt.stack->bound_table = nullptr;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(rt.screen.out, bound ? "77" : "55");
    result.release(rt.stack);
  }
  vm_table_hooks = saved;
}

// The fused loop operations keep the slots they reach in 16 bits each: a frame with more LOCALs
// than that holds runs its loops through the plain operations, and the slots on either side of the
// boundary are read and written where they are. "filler" LOCALs come first, then the named ones.
TEST_F(Loops, FusedLoopsBesideManyLocals) {
  struct Case {
    int filler_before_s;  // LOCALs declared before s
    int filler_after_s;   // LOCALs declared between s and i, n (the FOR's own slots follow n)
    bool fused_add;       // whether s = s + i runs as one operation
  } cases[] = {
      {0, 0, true},
      {1360, 0, true},  // the FOR's slots are the last that fit: 1361 .. 1365
      {1361, 0, true},  // the step's slot (read through its own operation) is past them
      {1362, 0, true},  // the limit's too: the test and the step run as the plain operations
      {1400, 0, false},
      {0, 1400, false},  // i read from a low slot, its sum written past the boundary
      {1400, 1400, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.filler_before_s) + "/" + std::to_string(c.filler_after_s));
    auto locals = [](const char* prefix, int count) {
      std::string text;
      for (int k = 0; k < count; ++k) text += "LOCAL " + std::string(prefix) + std::to_string(k) + "\n";
      return text;
    };
    std::string text = locals("a", c.filler_before_s) + "LOCAL s\n" + locals("b", c.filler_after_s) +
                       "LOCAL i, n\ns = 0\nn = VAL(\"4.5\")\nFOR i = 1 TO n\ns = s + i\nENDFOR\n"
                       "FOR i = 10 TO 1 STEP -3\ns = s + i\nENDFOR\n?? s, i\n";
    auto program = build(text);
    ASSERT_NE(program, nullptr);
    bool fused_add = false;
    for (size_t k = 0; k < program->code_length(); ++k) {
      fused_add = fused_add || program->code()[k]->opcode == OP_FUSED_ADD_LOCAL_BY_NAME;
    }
    EXPECT_EQ(fused_add, c.fused_add);
    VmStack stack(rt.runtime, 8192, 64);  // room for the frame
    Variant result;
    rt.screen.out.clear();
    int error = error_of([&] { execute_program(&stack, 0, false, program.get(), &result); });
    EXPECT_EQ(error, 0);
    EXPECT_EQ(rt.screen.out, "32 -2");  // 1+2+3+4 and 10+7+4+1
    result.release(&stack);
  }
}

TEST_F(Loops, DoWhileMacroForm) {
  auto program = build("DO WHILE &c\nENDDO\n");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(dump(program.get()),
            "0: DefLocalOffset @1 .LOCAL~DOWHILE~0\n1: EspAlloc\n2: EspAlloc\n3: ReadConstString \"DO WHILE\"\n"
            "4: ReadConstString \" \"\n5: ReadMemvarByNameDefault C\n6: CastToStringImplicitly\n7: CallSpecDo 3\n"
            "8: ReadMemvarPointerByName .LOCAL~DOWHILE~0\n9: CallSpecDo 2\n10: EspFree\n"
            "11: EspAlloc\n12: ReadLocalMemvarByOffset @1\n13: ObjectCall EVALUATE 0\n"
            "14: CondFalseOrNullJump -> 16\n15: Jump -> 11\n16: Return\n17: end\n");
  EXPECT_EQ(called_function(program.get(), 7, {"concat"}), "concat");
  EXPECT_EQ(called_function(program.get(), 9, {"__init_do_while_from_macro"}), "__init_do_while_from_macro");
}

TEST_F(Loops, ForEachDumps) {
  auto program = build("FOR EACH v IN arr\nENDFOR\n");
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(dump(program.get()),
            "0: DefLocalOffset @1 .LOCAL~FOR_EACH~0\n1: EspAlloc\n2: ReadByName ARR\n3: CastToNotNull\n"
            "4: CallSpecDo 1\n5: WriteMemarByName .LOCAL~FOR_EACH~0\n6: EspAlloc\n"
            "7: ReadMemvarByName .LOCAL~FOR_EACH~0\n8: ObjectCall MOVENEXT 0\n9: CondFalseOrNullJump -> 15\n"
            "10: EspAlloc\n11: ReadMemvarByName .LOCAL~FOR_EACH~0\n12: ObjectReadProperty VALUE 0\n"
            "13: WriteMemarByName V\n14: Jump -> 6\n15: Return\n16: end\n");
  EXPECT_EQ(called_function(program.get(), 4, {"get_enumerator", "get_qzobject_enumerator"}), "get_enumerator");
  // KEY before VALUE; a nested FOR inside is closed by the first ENDFOR, the FOR EACH by the
  // second (ENDFOR closes whichever of the two is innermost).
  program = build("FOR EACH KEY k VALUE v IN arr QZOBJECT\nFOR i = 1 TO 2\nENDFOR\nNEXT\n");
  ASSERT_NE(program, nullptr);
  EXPECT_TRUE(codes.empty());
  std::string text = dump(program.get());
  EXPECT_NE(text.find("10: EspAlloc\n11: ReadMemvarByName .LOCAL~FOR_EACH~0\n12: ObjectReadProperty KEY 0\n"
                      "13: WriteMemarByName K\n14: EspAlloc\n15: ReadMemvarByName .LOCAL~FOR_EACH~0\n"
                      "16: ObjectReadProperty VALUE 0\n17: WriteMemarByName V\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("9: CondFalseOrNullJump -> 34\n"), std::string::npos) << text;
  EXPECT_NE(text.find("32: Jump -> 26\n33: Jump -> 6\n34: Return\n"), std::string::npos) << text;
  EXPECT_EQ(called_function(program.get(), 4, {"get_enumerator", "get_qzobject_enumerator"}),
            "get_qzobject_enumerator");
}

TEST_F(Loops, ScanDumps) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      // Without scope options: from the top of the area saved when the SCAN began.
      {"SCAN\nENDSCAN\n",
       "0: DefLocalOffset @1 .LOCAL~SCAN~0\n1: EspAlloc\n2: CallSpecDo 0\n3: WriteMemvarByOffset @1\n"
       "4: ReadConstInteger 0\n5: ReadLocalMemvarByOffset @1\n6: CallSpecVoid 2\n"
       "7: ReadLocalMemvarByOffset @1\n8: CallSpecVoid 1\n9: EspAlloc\n10: CallSpecDo 0\n"
       "11: CondTrueJump -> 19\n12: ReadLocalMemvarByOffset @1\n13: CallSpecVoid 1\n14: ReadConstNull\n"
       "15: CastToIntegerImplicitly null\n16: ReadConstNull\n17: CallSpecVoid 2\n18: Jump -> 7\n"
       "19: Return\n20: end\n"},
      // REST starts at the current record; a failed FOR skips the record; LOOP reselects and skips.
      {"SCAN REST FOR a > 1\nLOOP\nENDSCAN\n",
       "0: DefLocalOffset @1 .LOCAL~SCAN~0\n1: EspAlloc\n2: CallSpecDo 0\n3: WriteMemvarByOffset @1\n"
       "4: ReadLocalMemvarByOffset @1\n5: CallSpecVoid 1\n6: EspAlloc\n7: CallSpecDo 0\n"
       "8: CondTrueJump -> 27\n9: ReadByName A\n10: ReadConstInteger 1\n11: BinaryGt\n"
       "12: CondFalseOrNullJump -> 22\n13: ReadLocalMemvarByOffset @1\n14: CallSpecVoid 1\n"
       "15: ReadConstNull\n16: CastToIntegerImplicitly null\n17: ReadConstNull\n18: CallSpecVoid 2\n"
       "19: Jump -> 4\n20: ReadLocalMemvarByOffset @1\n21: CallSpecVoid 1\n22: ReadConstNull\n"
       "23: CastToIntegerImplicitly null\n24: ReadConstNull\n25: CallSpecVoid 2\n26: Jump -> 4\n"
       "27: Return\n28: end\n"},
      // WHILE starts at the current record; FOR is tested before WHILE, WHILE ends the scan.
      {"SCAN WHILE b FOR a\nENDSCAN\n",
       "0: DefLocalOffset @1 .LOCAL~SCAN~0\n1: EspAlloc\n2: CallSpecDo 0\n3: WriteMemvarByOffset @1\n"
       "4: ReadLocalMemvarByOffset @1\n5: CallSpecVoid 1\n6: EspAlloc\n7: CallSpecDo 0\n"
       "8: CondTrueJump -> 20\n9: ReadByName A\n10: CondFalseOrNullJump -> 15\n11: ReadByName B\n"
       "12: CondFalseOrNullJump -> 20\n13: ReadLocalMemvarByOffset @1\n14: CallSpecVoid 1\n"
       "15: ReadConstNull\n16: CastToIntegerImplicitly null\n17: ReadConstNull\n18: CallSpecVoid 2\n"
       "19: Jump -> 4\n20: Return\n21: end\n"},
      // The macro form positions no record and evaluates the conditions the initializer compiled.
      {"SCAN &c\nENDSCAN\n",
       "0: DefLocalOffset @1 .LOCAL~SCAN~0\n1: EspAlloc\n2: CallSpecDo 0\n3: WriteMemvarByOffset @1\n"
       "4: DefLocalOffset @2 .LOCAL~SCANFOR~1\n5: DefLocalOffset @3 .LOCAL~SCANWHILE~2\n6: EspAlloc\n"
       "7: EspAlloc\n8: ReadConstString \"SCAN\"\n9: ReadConstString \" \"\n10: ReadMemvarByNameDefault C\n"
       "11: CastToStringImplicitly\n12: CallSpecDo 3\n13: ReadMemvarPointerByName .LOCAL~SCANFOR~1\n"
       "14: ReadMemvarPointerByName .LOCAL~SCANWHILE~2\n15: CallSpecDo 3\n16: EspFree\n"
       "17: ReadLocalMemvarByOffset @1\n18: CallSpecVoid 1\n19: EspAlloc\n20: CallSpecDo 0\n"
       "21: CondTrueJump -> 37\n22: EspAlloc\n23: ReadLocalMemvarByOffset @2\n24: ObjectCall EVALUATE 0\n"
       "25: CondFalseOrNullJump -> 32\n26: EspAlloc\n27: ReadLocalMemvarByOffset @3\n"
       "28: ObjectCall EVALUATE 0\n29: CondFalseOrNullJump -> 37\n30: ReadLocalMemvarByOffset @1\n"
       "31: CallSpecVoid 1\n32: ReadConstNull\n33: CastToIntegerImplicitly null\n34: ReadConstNull\n"
       "35: CallSpecVoid 2\n36: Jump -> 17\n37: Return\n38: end\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto program = build(c.text);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(dump(program.get()), c.expected);
  }
  auto program = build("SCAN &c\nENDSCAN\n");
  EXPECT_EQ(called_function(program.get(), 15, {"__init_scan_from_macro"}), "__init_scan_from_macro");
  EXPECT_EQ(called_function(program.get(), 20, {"eof"}), "eof");
}

// Misplaced and unclosed blocks: message 96 where it belongs, and labels resolve.
// A statement that keeps hidden values while it runs gives their slots back when it ends: a unit
// of many such statements in a row needs no more slots than one, while a block nested inside
// another of its kind needs slots of its own. IF and STORE are done with theirs before any
// statement inside them runs.
TEST_F(Loops, StatementsInARowShareTheirTemporarySlots) {
  struct Case {
    const char* open;
    const char* close;
    bool nested_needs_more;
  } cases[] = {
      {"FOR i = 1 TO 2", "ENDFOR", true},
      {"FOR i = 1 TO 2 STEP 2", "NEXT", true},
      {"FOR EACH x IN o", "ENDFOR", true},
      {"DO WHILE &c", "ENDDO", true},
      {"SCAN", "ENDSCAN", true},
      {"SCAN &c", "ENDSCAN", true},
      {"TRY", "CATCH TO e\nENDTRY", true},
      {"TRY", "FINALLY\nn = 2\nENDTRY", true},
      {"WITH o", "ENDWITH", true},
      {"IF &c", "ENDIF", false},
      {"STORE 1 TO a, b", "", false},
      {"STORE 1 TO o.x, o.y", "", false},
  };
  auto slots = [&](const std::string& text) -> size_t {
    std::unique_ptr<Program> program = build(text);
    EXPECT_NE(program, nullptr) << text;
    return program != nullptr ? program->slot_count() : 0;
  };
  for (const Case& c : cases) {
    const std::string block = std::string(c.open) + "\nn = 1\n" + c.close + "\n";
    std::string many;
    for (int i = 0; i < 20; ++i) many += block;
    const std::string nested = std::string(c.open) + "\n" + block + c.close + "\n";
    const size_t one = slots(block);
    EXPECT_EQ(slots(many), one) << c.open;
    EXPECT_EQ(slots(block + nested + block), slots(nested)) << c.open;
    if (c.nested_needs_more) {
      EXPECT_GT(slots(nested), one) << c.open;
    } else {
      EXPECT_EQ(slots(nested), one) << c.open;
    }
  }
}

TEST_F(Loops, NestingErrors) {
  struct Case {
    const char* text;
    Codes codes;
  } cases[] = {
      {"EXIT\n", {96}},
      {"LOOP\n", {96}},
      {"ENDDO\n", {96}},
      {"NEXT\n", {96}},
      {"ENDSCAN\n", {96}},
      {"DO WHILE .T.\n", {96}},
      {"FOR i = 1 TO 2\n", {96}},
      {"FOR EACH v IN a\n", {96}},
      {"SCAN\n", {96}},
      {"SCAN\nLOOP\n", {96}},
      {"DO WHILE .T.\nENDFOR\nENDDO\n", {96}},
      {"FOR i = 1 TO 2\nENDDO\nENDFOR\n", {96}},
      {"FOR i = 1 TO 2\nDO WHILE .T.\nNEXT\n", {96, 96}},  // NEXT acts as LOOP of the FOR; both stay open
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto program = build(c.text);
    EXPECT_EQ(program, nullptr);
    EXPECT_EQ(build_error, 10);
    EXPECT_EQ(codes, c.codes);
  }
}

// The location of a message for an unclosed loop is the loop statement's.
TEST_F(Loops, UnclosedLoopReportsAtTheLoop) {
  BuildInput input(rt.stack);
  EXPECT_EQ(error_of([&] { delete input.build_script(String("x = 1\nDO WHILE .T.\n  x = 2\n"), nullptr); }), 10);
  ASSERT_EQ(input.messages.size(), 1u);
  EXPECT_EQ(input.messages.records.front().code, 96u);
  EXPECT_EQ(input.messages.records.front().location.begin_line, 2u);
}

}  // namespace
}  // namespace qzbase::testing_compiler
