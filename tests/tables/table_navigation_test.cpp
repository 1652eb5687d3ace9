// The table base's moves, filter, scopes, SEEK and LOCATE, and the table binding, over an
// in-memory table whose key list stands in for an index tag.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture_screen.h"
#include "temp_dir.h"
#include "table_double.h"
#include "tables/data_session.h"
#include "vm/interpreter.h"

namespace qzbase {
namespace {

using testing_tables::MemRecord;
using testing_tables::MemTable;

class TableNavigation : public ::testing::Test {
 protected:
  TableNavigation() : runtime(CreateRuntime(&screen)) { GetMainStack(runtime, &stack); }
  ~TableNavigation() override {
    for (auto& t : tables) t.release(stack);
    ReleaseRuntime(runtime);
  }

  MemTable* make(std::vector<MemRecord> records, std::vector<std::pair<std::string, MemTable::computed_field>> computed = {}) {
    auto* t = new MemTable(stack, std::move(records), "mem.dbf", std::move(computed));
    tables.emplace_back(t);
    return t;
  }
  // Five keys in order; record numbers follow the vector.
  MemTable* keyed(bool b2_deleted = false) {
    MemTable* t = make({{"C1", 5}, {"B2", 3, b2_deleted}, {"A1", 1}, {"B1", 2}, {"B3", 4}});
    t->set_order(true);
    return t;
  }
  void deleted_on() { stack->current_data_session->settings.deleted = true; }
  int error_of(const std::function<void()>& f) {
    try {
      f();
    } catch (const RuntimeError& e) {
      return e.code;
    }
    return 0;
  }
  // Key of the current record, "EOF" or "BOF".
  std::string at(MemTable* t) {
    if (t->eof()) return "EOF";
    if (t->bof()) return "BOF";
    return t->records[t->recno() - 1].key;
  }

  testing_screen::CaptureScreen screen;
  Runtime* runtime;
  VmStack* stack = nullptr;
  std::vector<ObjectPointer> tables;
};

TEST_F(TableNavigation, SkipForwardRestsAtEofThenRaises4) {
  MemTable* t = make({{"a", 1}, {"b", 2}});
  t->movefirst(stack);
  t->movenext(stack, 1);
  EXPECT_EQ(t->recno(), 2u);
  t->movenext(stack, 1);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(error_of([&] { t->movenext(stack, 1); }), 4);
  // A count larger than what is left also rests at EOF without error.
  t->movefirst(stack);
  t->movenext(stack, 10);
  EXPECT_TRUE(t->eof());
}

TEST_F(TableNavigation, SkipBackOnTheFirstVisibleRecordRestsAtBofThenRaises38) {
  deleted_on();
  MemTable* t = make({{"a", 1, true}, {"b", 2}, {"c", 3}});
  t->movefirst(stack);
  EXPECT_EQ(t->recno(), 2u);  // the deleted first record is stepped over
  t->moveprevious(stack, 1);
  EXPECT_TRUE(t->bof());
  EXPECT_FALSE(t->eof());
  EXPECT_EQ(error_of([&] { t->moveprevious(stack, 1); }), 38);
  // From EOF one step back lands on the last record.
  t->movelast(stack);
  t->movenext(stack, 1);
  t->moveprevious(stack, 1);
  EXPECT_EQ(t->recno(), 3u);
}

TEST_F(TableNavigation, EveryRecordDeletedLeavesGoTopAtEof) {
  deleted_on();
  MemTable* t = make({{"a", 1, true}, {"b", 2, true}});
  t->movefirst(stack);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(error_of([&] { t->movenext(stack, 1); }), 4);
  t->movelast(stack);
  EXPECT_TRUE(t->bof());
  // With SET DELETED OFF the same records are visible.
  stack->current_data_session->settings.deleted = false;
  t->movefirst(stack);
  EXPECT_EQ(t->recno(), 1u);
}

TEST_F(TableNavigation, SkipZeroStaysOnTheRecord) {
  MemTable* t = make({{"a", 1}, {"b", 2}});
  t->movefirst(stack);
  t->movenext(stack, 0);
  EXPECT_EQ(t->recno(), 1u);
  t->moveprevious(stack, 0);
  EXPECT_EQ(t->recno(), 1u);
}

TEST_F(TableNavigation, FilterHidesRecordsInEveryDirection) {
  MemTable* t = make({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}});
  t->set_filter_to(stack, String("N % 2 = 1"));
  t->movefirst(stack);
  EXPECT_EQ(t->recno(), 1u);
  t->movenext(stack, 2);
  EXPECT_EQ(t->recno(), 5u);
  t->moveprevious(stack, 1);
  EXPECT_EQ(t->recno(), 3u);
  t->movelast(stack);
  EXPECT_EQ(t->recno(), 5u);
  t->set_filter_to();
  t->moveprevious(stack, 1);
  EXPECT_EQ(t->recno(), 4u);
}

TEST_F(TableNavigation, NonLogicalFilterRaises37OnTheFirstMove) {
  MemTable* t = make({{"a", 1}});
  t->set_filter_to(stack, String("N + 1"));
  EXPECT_EQ(error_of([&] { t->movefirst(stack); }), 37);
  EXPECT_EQ(stack->bound_table, nullptr);
  // Null counts as false.
  t->set_filter_to(stack, String(".NULL."));
  t->movefirst(stack);
  EXPECT_TRUE(t->eof());
}

TEST_F(TableNavigation, ScopesBoundTopBottomAndSteps) {
  MemTable* t = keyed();
  t->set_scope_to(stack, "B", 1, SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  t->set_scope_to(stack, "B", 1, SEEK_DIR_BACKWARD, SEEK_RNG_EQUAL);
  t->movefirst(stack);
  EXPECT_EQ(at(t), "B1");
  t->movenext(stack, 2);
  EXPECT_EQ(at(t), "B3");
  t->movenext(stack, 1);
  EXPECT_EQ(at(t), "EOF");  // C1 lies beyond the upper bound
  EXPECT_FALSE(t->eof_lowlevel());
  EXPECT_EQ(error_of([&] { t->movenext(stack, 1); }), 4);
  t->movelast(stack);
  EXPECT_EQ(at(t), "B3");
  t->movefirst(stack);
  t->moveprevious(stack, 1);
  EXPECT_TRUE(t->bof());  // A1 lies below the lower bound
  EXPECT_FALSE(t->bof_lowlevel());
  EXPECT_EQ(error_of([&] { t->moveprevious(stack, 1); }), 38);
}

TEST_F(TableNavigation, ScopeModesIncludeOrExcludeTheBoundKey) {
  struct Case {
    const char* low;
    SeekRng low_mode;
    const char* high;
    SeekRng high_mode;
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {"B1", SEEK_RNG_EQUAL, "B3", SEEK_RNG_EQUAL, "B1", "B3"},
      {"B1", SEEK_RNG_OPEN, "B3", SEEK_RNG_OPEN, "B2", "B2"},  // bit 0 clear: the bound key is outside
      {"A", SEEK_RNG_EQUAL, nullptr, SEEK_RNG_NONE, "A1", "C1"},
      {nullptr, SEEK_RNG_NONE, "B2", SEEK_RNG_EQUAL, "A1", "B2"},
      // Bounds that are no key of the table: the scope still holds the keys between them.
      {"B15", SEEK_RNG_EQUAL, "B25", SEEK_RNG_EQUAL, "B2", "B2"},
      {"B15", SEEK_RNG_OPEN, nullptr, SEEK_RNG_NONE, "B2", "C1"},
      {nullptr, SEEK_RNG_NONE, "A5", SEEK_RNG_EQUAL, "A1", "A1"},
  };
  for (const Case& c : cases) {
    MemTable* t = keyed();
    if (c.low) t->set_scope_to(stack, c.low, strlen(c.low), SEEK_DIR_FORWARD, c.low_mode);
    if (c.high) t->set_scope_to(stack, c.high, strlen(c.high), SEEK_DIR_BACKWARD, c.high_mode);
    t->movefirst(stack);
    EXPECT_EQ(at(t), c.first) << (c.low ? c.low : "-") << " " << (c.high ? c.high : "-");
    t->movelast(stack);
    EXPECT_EQ(at(t), c.last) << (c.low ? c.low : "-") << " " << (c.high ? c.high : "-");
  }
  // Mode 0 removes a bound but keeps the key for nothing.
  MemTable* t = keyed();
  t->set_scope_to(stack, "B", 1, SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  t->set_scope_to(stack, nullptr, 0, SEEK_DIR_FORWARD, SEEK_RNG_NONE);
  t->movefirst(stack);
  EXPECT_EQ(at(t), "A1");
}

TEST_F(TableNavigation, TheFilterNeverRunsOutsideTheScope) {
  MemTable* t = keyed();
  t->set_filter_to(stack, String("N > 0"));
  t->set_scope_to(stack, "B", 1, SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  t->set_scope_to(stack, "B", 1, SEEK_DIR_BACKWARD, SEEK_RNG_EQUAL);
  t->field_reads = 0;
  t->movefirst(stack);       // B1
  t->movenext(stack, 5);     // B2, B3, then C1 is out of scope: EOF
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(t->field_reads, 3u);  // N read once for each of B1, B2, B3 only
  t->field_reads = 0;
  t->movelast(stack);        // B3
  t->moveprevious(stack, 5); // B2, B1, then A1 is out of scope: BOF
  EXPECT_TRUE(t->bof());
  EXPECT_EQ(t->field_reads, 3u);
}

TEST_F(TableNavigation, SeekFindsTheFirstVisibleMatch) {
  MemTable* t = keyed(/*b2_deleted=*/true);
  deleted_on();
  EXPECT_TRUE(t->seek(stack, "B", 1, SEEK_RNG_EQUAL, SEEK_DIR_SELECTED, false));
  EXPECT_TRUE(t->found);
  EXPECT_EQ(at(t), "B1");
  EXPECT_TRUE(t->seek(stack, "B2", 2, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false) == false);
  EXPECT_FALSE(t->found);
  EXPECT_EQ(at(t), "EOF");
  // With NEAR the cursor stays where the search left it: the next visible key.
  EXPECT_FALSE(t->seek(stack, "B2", 2, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, true));
  EXPECT_FALSE(t->found);
  EXPECT_EQ(at(t), "B3");
  // A key beyond every key: EOF either way.
  EXPECT_FALSE(t->seek(stack, "Z", 1, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, true));
  EXPECT_EQ(at(t), "EOF");
  // The value form builds the key through the table.
  Variant v;
  v.set_string(String("C"));
  EXPECT_TRUE(t->seek(stack, &v, KEY_OPT_PREFIX, SEEK_RNG_EQUAL, SEEK_DIR_SELECTED, false));
  EXPECT_EQ(at(t), "C1");
  v.release(stack);
}

TEST_F(TableNavigation, SeekOfAKeyOnlyOnHiddenRecordsAnswersFalse) {
  // Deleted, filtered out, or outside the scope: each hides the only record with key B2.
  for (int hide = 0; hide < 3; ++hide) {
    MemTable* t = keyed(hide == 0);
    stack->current_data_session->settings.deleted = hide == 0;
    if (hide == 1) t->set_filter_to(stack, String("N <> 3"));
    if (hide == 2) t->set_scope_to(stack, "B3", 2, SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
    EXPECT_FALSE(t->seek(stack, "B2", 2, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false)) << hide;
    EXPECT_FALSE(t->found) << hide;
    EXPECT_TRUE(t->eof()) << hide;
  }
}

TEST_F(TableNavigation, SeekKeepsTheScopesInForce) {
  MemTable* t = keyed();
  t->set_scope_to(stack, "B", 1, SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  t->set_scope_to(stack, "B", 1, SEEK_DIR_BACKWARD, SEEK_RNG_EQUAL);
  EXPECT_TRUE(t->seek(stack, "B2", 2, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false));
  EXPECT_EQ(t->top_scope_mode, SEEK_RNG_EQUAL);
  EXPECT_EQ(std::string(t->top_scope_key, t->top_scope_length), "B");
  EXPECT_EQ(std::string(t->bottom_scope_key, t->bottom_scope_length), "B");
  t->movenext(stack, 1);
  EXPECT_EQ(at(t), "B3");  // not stopped by the temporary scope of the seek
  t->movenext(stack, 1);
  EXPECT_EQ(at(t), "EOF");  // but by the user's
  // Also after a seek that fails, and one that raises.
  EXPECT_FALSE(t->seek(stack, "Q", 1, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false));
  t->set_filter_to(stack, String("1"));
  EXPECT_EQ(error_of([&] { t->seek(stack, "B2", 2, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false); }), 37);
  EXPECT_EQ(std::string(t->top_scope_key, t->top_scope_length), "B");
  EXPECT_EQ(t->bottom_scope_mode, SEEK_RNG_EQUAL);
}

TEST_F(TableNavigation, SeekWithAnOpenRangeAndBackward) {
  MemTable* t = keyed();
  // Bit 1 alone: the first key after every B key.
  EXPECT_TRUE(t->seek(stack, "B", 1, SEEK_RNG_OPEN, SEEK_DIR_FORWARD, false));
  EXPECT_EQ(at(t), "C1");
  // Backward: the last B key; with it deleted the one before, still a B key.
  EXPECT_TRUE(t->seek(stack, "B", 1, SEEK_RNG_EQUAL, SEEK_DIR_BACKWARD, false));
  EXPECT_EQ(at(t), "B3");
  deleted_on();
  t->records[4].deleted = true;  // B3
  EXPECT_TRUE(t->seek(stack, "B", 1, SEEK_RNG_EQUAL, SEEK_DIR_BACKWARD, false));
  EXPECT_EQ(at(t), "B2");
  // Every B key deleted: a backward seek does not answer with the A key before them.
  t->records[1].deleted = t->records[3].deleted = true;
  EXPECT_FALSE(t->seek(stack, "B", 1, SEEK_RNG_EQUAL, SEEK_DIR_BACKWARD, false));
  EXPECT_FALSE(t->found);
  EXPECT_TRUE(t->eof());
}

TEST_F(TableNavigation, SeekWithoutAnOrderPassesTheLowLevelError) {
  MemTable* t = make({{"a", 1}});
  EXPECT_EQ(error_of([&] { t->seek(stack, "a", 1, SEEK_RNG_EQUAL, SEEK_DIR_FORWARD, false); }), 26);
}

TEST_F(TableNavigation, LocateAndContinue) {
  MemTable* t = make({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 2}, {"e", 5}});
  t->locate_for(stack, String("N = 2"), false);
  EXPECT_TRUE(t->found);
  EXPECT_EQ(t->recno(), 2u);
  t->locate_continue(stack);
  EXPECT_TRUE(t->found);
  EXPECT_EQ(t->recno(), 4u);
  t->locate_continue(stack);
  EXPECT_FALSE(t->found);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(error_of([&] { t->locate_continue(stack); }), 4);
  // REST starts from the current record.
  t->go(stack, 3);
  t->locate_for(stack, String("N = 2"), true);
  EXPECT_EQ(t->recno(), 4u);
  // No match at all.
  t->locate_for(stack, String("N = 9"), false);
  EXPECT_FALSE(t->found);
  EXPECT_TRUE(t->eof());
  EXPECT_EQ(error_of([&] { t->locate_for(stack, String("KEY"), false); }), 1127);
}

TEST_F(TableNavigation, LocateWhileStopsWhereTheWhileConditionFails) {
  MemTable* t = make({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 9}, {"e", 5}});
  t->movefirst(stack);
  t->locate_for_while(stack, String("N = 5"), String("N < 4"));
  EXPECT_FALSE(t->found);
  EXPECT_EQ(t->recno(), 4u);  // the first record where the WHILE is false
  t->go(stack, 1);
  t->locate_for_while(stack, String("N = 3"), String("N < 4"));
  EXPECT_TRUE(t->found);
  EXPECT_EQ(t->recno(), 3u);
  // CONTINUE keeps the WHILE condition.
  t->locate_continue(stack);
  EXPECT_FALSE(t->found);
  EXPECT_EQ(t->recno(), 4u);
  // A plain LOCATE drops it.
  t->locate_for(stack, String("N = 5"), false);
  EXPECT_EQ(t->locate_while_program, nullptr);
  EXPECT_EQ(t->recno(), 5u);
  EXPECT_EQ(error_of([&] { t->locate_for_while(stack, String("N = 5"), String("N")); }), 1127);
}

TEST_F(TableNavigation, LockReportsARecordOutsideTheRange) {
  MemTable* t = make({{"a", 1}, {"b", 2}});
  t->movefirst(stack);
  LockState state = LOCK_STATE_OUT_OF_RANGE;
  EXPECT_TRUE(t->lock_current_record(stack, state));
  EXPECT_EQ(state, LOCK_STATE_IN_RANGE);
  t->set_filter_to(stack, String("N = 2"));
  EXPECT_TRUE(t->lock_current_record(stack, state));
  EXPECT_EQ(state, LOCK_STATE_OUT_OF_RANGE);
  t->lock_result = false;
  state = LOCK_STATE_IN_RANGE;
  EXPECT_FALSE(t->lock_current_record(stack, state));
  EXPECT_EQ(state, LOCK_STATE_IN_RANGE);  // untouched
}

// ---- the binding ----

TEST_F(TableNavigation, AnErrorInsideAFilterRestoresSessionAndArea) {
  DataSession_Object* before = stack->current_data_session;
  ObjectPointer other = CreateObject(stack, String("Session"), nullptr, 0);
  MemTable* t = nullptr;
  t = make({{"a", 1}}, {{"BOOM", [&](Variant*) {
                           // What a function called from the filter might do before it fails.
                           stack->current_data_session->select(9);
                           stack->set_current_data_session(static_cast<DataSession_Object*>(other.get()));
                           throw RuntimeError(1234);
                         }}});
  before->select(3);
  t->set_filter_to(stack, String("BOOM"));
  EXPECT_EQ(error_of([&] { t->movefirst(stack); }), 1234);
  EXPECT_EQ(stack->current_data_session, before);
  EXPECT_EQ(before->current_area, 3);
  EXPECT_EQ(stack->bound_table, nullptr);
  EXPECT_EQ(bound_table_of_thread(), nullptr);
  other.release(stack);
}

TEST_F(TableNavigation, MovingATableFromInsideItsFilterRaises1887) {
  MemTable* t = nullptr;
  MemTable* other = make({{"x", 1}, {"y", 2}});
  t = make({{"a", 1}, {"b", 2}}, {{"STEP", [&](Variant* out) {
                                     t->movenext(stack, 1);
                                     out->set_true();
                                   }},
                                  {"OTHER", [&](Variant* out) {
                                     other->movefirst(stack);
                                     out->set_true();
                                   }},
                                  {"GUARD", [&](Variant* out) {
                                     Current_Table_Guard again(stack, other);
                                     out->set_true();
                                   }}});
  for (const char* filter : {"STEP", "OTHER", "GUARD"}) {
    t->set_filter_to(stack, String(filter));
    EXPECT_EQ(error_of([&] { t->movefirst(stack); }), 1887) << filter;
    EXPECT_EQ(stack->bound_table, nullptr) << filter;
  }
  // The same from a LOCATE condition.
  t->set_filter_to();
  EXPECT_EQ(error_of([&] { t->locate_for(stack, String("STEP"), false); }), 1887);
  EXPECT_EQ(stack->bound_table, nullptr);
}

TEST_F(TableNavigation, AFilterCallingAProgramFunctionThatSkipsRaises1887) {
  // The program sets the filter itself (reading SETF), so the filter is compiled in the program's
  // module and can call its function; reading TOP moves to the first record (through a call, as a
  // command would), STEP skips.
  MemTable* t = nullptr;
  t = make({{"a", 1}, {"b", 2}}, {{"SETF", [&](Variant* out) {
                                     t->set_filter_to(stack, String("skipper()"));
                                     out->set_true();
                                   }},
                                  {"TOP", [&](Variant* out) {
                                     t->movefirst(stack);
                                     out->set_true();
                                   }},
                                  {"STEP", [&](Variant* out) {
                                     t->movenext(stack, 1);
                                     out->set_true();
                                   }}});
  stack->current_data_session->assign(tables.back(), stack->symtable, String("mem"), 1, false);
  testing_files::TempDir dir;
  testing_files::CwdGuard cwd(dir.path);
  dir.write("main.prg",
           "x = SETF\n"
           "TRY\n"
           "  x = EVALUATE('TOP')\n"
           "  ? 'no error'\n"
           "CATCH TO e\n"
           "  ? e.ErrorNo\n"
           "ENDTRY\n"
           "FUNCTION skipper\n"
           "  RETURN STEP\n"
           "ENDFUNC\n");
  runtime->run_program(String("main.prg"), 0, nullptr);
  EXPECT_EQ(screen.out, "1887\n") << screen.err;
  EXPECT_EQ(screen.err, "");
  EXPECT_EQ(stack->bound_table, nullptr);
  EXPECT_EQ(stack->current_data_session->current_area, 1);
  stack->current_data_session->close(1);
}

// ---- fields by name ----

TEST_F(TableNavigation, FieldsByName) {
  MemTable* t = make({{"a", 7}});
  Symtable* sym = stack->symtable;
  Variant v;
  v.tag = VT_FALSE;
  t->virtual_access(stack, sym->symbolize("n"), 0, &v);
  EXPECT_EQ(v.tag, VT_INTEGER);
  EXPECT_EQ(v.integer.value, 7);
  v.release(stack);
  EXPECT_EQ(error_of([&] { t->virtual_access(stack, sym->symbolize("nosuch"), 0, &v); }), 1734);
  EXPECT_EQ(t->get_field_by_symbol_id(sym->symbolize("nosuch")), -1);
  EXPECT_EQ(t->get_symbol_id_by_field(1), sym->symbolize("N"));

  // Writes dispatch on the value's tag, following a reference.
  Variant date;
  date.set(date_st{2460000});
  Variant ref;
  ref.tag = VT_REFERENCE;
  ref.reference.target = &date;
  t->set_field_by_symbol(sym->symbolize("key"), &ref);
  Variant s;
  s.set_string(String("zz"));
  t->set_field(0, &s);
  s.release(stack);
  Variant n;
  n.set_null();
  t->set_field(1, &n);
  EXPECT_EQ(t->writes, (std::vector<std::string>{"D0=2460000", "C0=zz", "X1"}));
  EXPECT_EQ(error_of([&] { t->set_field_by_symbol(sym->symbolize("nosuch"), &n); }), 12);
  Variant arr;
  arr.tag = VT_FALSE;
  Array* a = arr.dimension(stack, 1, 0);
  (void)a;
  EXPECT_EQ(error_of([&] { t->set_field(0, &arr); }), 11);
  arr.release(stack);
  // An indexed assignment to a field.
  EXPECT_EQ(error_of([&] { t->virtual_assign(stack, sym->symbolize("n"), 2); }), 11);
}

TEST_F(TableNavigation, OperationsATableKindLeavesOutAnswer1718WithItsFile) {
  MemTable* t = make({{"a", 1}});
  const std::vector<std::function<void()>> ops = {
      [&] { t->pack(stack, nullptr); },         [&] { t->zap(stack, nullptr); },
      [&] { t->reindex(stack); },               [&] { t->drop_all_indizes(stack); },
      [&] { t->drop_index(stack, String("x")); }, [&] { t->drop_column(stack, nullptr, String("x")); },
      [&] { t->add_column(stack, nullptr, nullptr); },
  };
  for (const auto& op : ops) {
    try {
      op();
      ADD_FAILURE();
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 1718);
      EXPECT_EQ(e.detail.u8str(), "mem.dbf");
    }
  }
  try {
    t->get_idx_leaf_offset();
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.code, 1001);
    EXPECT_EQ(e.detail.u8str(), "get index leaf node offset");
  }
}

TEST_F(TableNavigation, ChangingFieldsMovesTheTableEpoch) {
  MemTable* t = make({{"a", 1}});
  uint64_t before = vm_table_epoch.load();
  t->set_field_symbol(5, stack->symtable->symbolize("EXTRA"));
  EXPECT_GT(vm_table_epoch.load(), before);
  EXPECT_EQ(t->get_field_by_symbol_id(stack->symtable->symbolize("extra")), 5);
  before = vm_table_epoch.load();
  t->clear_field_symbols();
  EXPECT_GT(vm_table_epoch.load(), before);
  EXPECT_EQ(t->get_field_by_symbol_id(stack->symtable->symbolize("extra")), -1);
}

TEST(FieldSymbolMap, FindsEveryEntryAcrossGrowth) {
  FieldSymbolMap m;
  EXPECT_EQ(m.find(1024), -1);
  for (symbol_id_type s = 1; s <= 2000; s += 3) m.insert(s, static_cast<int32_t>(s * 2));
  for (symbol_id_type s = 1; s <= 2000; ++s) {
    ASSERT_EQ(m.find(s), (s % 3 == 1) ? static_cast<int32_t>(s * 2) : -1) << s;
  }
  m.insert(4, 9);  // replaces
  EXPECT_EQ(m.find(4), 9);
  m.clear();
  EXPECT_EQ(m.find(4), -1);
  EXPECT_EQ(m.find(0), -1);
}

}  // namespace
}  // namespace qzbase
