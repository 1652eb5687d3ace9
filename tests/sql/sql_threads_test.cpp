// sql_threads_test.cpp - SQL handles under threads: language threads querying through handles of
// their own at once, and threads sharing one handle, which take turns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sql_support.h"

namespace qzbase::testing_sql {
namespace {

TEST(SqlThreads, LanguageThreadsQueryThroughTheirOwnHandles) {
  SqlRuntime rt;
  std::string out = rt.run(
      "LOCAL w1, w2\n"
      "w1 = CREATEOBJECT('Querying', 1)\n"
      "w2 = CREATEOBJECT('Querying', 2)\n"
      "w1.Start()\n"
      "w2.Start()\n"
      "w1.Join()\n"
      "w2.Join()\n"
      "? w1.Good, w2.Good, w1.Handle <> w2.Handle\n"
      "DEFINE CLASS Querying AS Thread\n"
      "  Id = 0\n"
      "  Good = 0\n"
      "  Handle = 0\n"
      "  FUNCTION Init(id)\n"
      "    This.Id = id\n"
      "  ENDFUNC\n"
      "  FUNCTION Run()\n"
      "    LOCAL h, i, n\n"
      "    h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "    This.Handle = h\n"
      "    n = This.Id\n"
      "    FOR i = 1 TO 20\n"
      "      IF SQLEXEC(h, 'SELECT ?n AS id, g FROM generate_series(1, 30) AS g', 't' + TRANSFORM(n)) = 1\n"
      "        This.Good = This.Good + 1\n"
      "      ENDIF\n"
      "    ENDFOR\n"
      "    SQLDISCONNECT(h)\n"
      "  ENDFUNC\n"
      "ENDDEFINE\n");
  EXPECT_EQ(out, "20 20 true\n");
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 40u);
  for (const auto& c : cursors) {
    ASSERT_EQ(c->rows.size(), 30u);
    // Each thread's parameter reached its own statement.
    EXPECT_EQ(describe(c->rows[0][0]), c->alias == "t1" ? "C:1" : "C:2") << c->alias;
  }
}

// Each language thread fills cursors in its own data session: the rows it reads back are its own,
// and neither its cursors nor the other thread's reach the creating program's session.
TEST(SqlThreads, LanguageThreadsFillCursorsOfTheirOwnSessions) {
  testing_files::TempDir dir;
  testing_builtins::RuntimeFixture plain;
  std::string script =
      "LOCAL w1, w2\n"
      "w1 = CREATEOBJECT('Querying', 1)\n"
      "w2 = CREATEOBJECT('Querying', 2)\n"
      "w1.Start()\n"
      "w2.Start()\n"
      "w1.Join()\n"
      "w2.Join()\n"
      "? w1.Good, w2.Good, w1.Seen, w2.Seen, USED('t1'), USED('t2')\n"
      "DEFINE CLASS Querying AS Thread\n"
      "  Id = 0\n"
      "  Good = 0\n"
      "  Seen = ''\n"
      "  FUNCTION Init(id)\n"
      "    This.Id = id\n"
      "  ENDFUNC\n"
      "  FUNCTION Run()\n"
      "    LOCAL h, i, n, s, cName\n"
      "    h = SQLSTRINGCONNECT('" + pg_connection() + "')\n"
      "    n = This.Id\n"
      "    cName = 't' + TRANSFORM(n)\n"
      "    FOR i = 1 TO 20\n"
      "      IF SQLEXEC(h, 'SELECT ?n AS id, g FROM generate_series(1, 30 * ?n) AS g', cName) = 1 AND "
      "RECCOUNT() = 30 * n AND ALIAS() == cName\n"
      "        s = 0\n"
      "        SCAN\n"
      "          s = s + g\n"
      "        ENDSCAN\n"
      "        IF s = (30 * n) * (30 * n + 1) / 2\n"
      "          This.Good = This.Good + 1\n"
      "        ENDIF\n"
      "      ENDIF\n"
      "    ENDFOR\n"
      "    This.Seen = TRANSFORM(USED('t1')) + '/' + TRANSFORM(USED('t2'))\n"
      "    SQLDISCONNECT(h)\n"
      "  ENDFUNC\n"
      "ENDDEFINE\n";
  std::filesystem::path file = dir.write("p.prg", script);
  RunProgram(plain.runtime, String(file.string().c_str()));
  EXPECT_EQ(plain.screen.out, "20 20 true/false false/true false false\n");
  EXPECT_EQ(plain.screen.err, "");
}

std::atomic<int> g_inside{0};
std::atomic<bool> g_overlap{false};

void watch_append(const std::string&) {
  if (g_inside.fetch_add(1) != 0) g_overlap = true;
  std::this_thread::sleep_for(std::chrono::microseconds(200));
  g_inside.fetch_sub(1);
}

// Two threads sharing one handle never run their statements at the same time.
TEST(SqlThreads, ThreadsSharingAHandleTakeTurns) {
  testing_files::TempDir dir;
  SqlRuntime rt;
  std::string out = rt.run("PUBLIC h\nh = SQLSTRINGCONNECT('" + pg_connection() + "')\n? h\n");
  ASSERT_EQ(out, "1\n");
  g_overlap = false;
  CursorLog::get().on_append = watch_append;
  std::vector<VmStack*> stacks = {new VmStack(rt.runtime, 256, 64), new VmStack(rt.runtime, 256, 64)};
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (VmStack* stack : stacks) {
    threads.emplace_back([stack, &good] {
      for (int i = 0; i < 10; ++i) {
        Variant handle;
        handle.set_integer(1);
        Variant r = testing_builtins::call(stack, bi_sqlexec,
                                           {handle, testing_builtins::str("SELECT g FROM generate_series(1, 20) AS g")});
        if (r.tag == VT_INTEGER && r.integer.value == 1) ++good;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (VmStack* stack : stacks) delete stack;
  CursorLog::get().on_append = nullptr;
  EXPECT_EQ(good.load(), 20);
  EXPECT_FALSE(g_overlap.load());
  auto cursors = CursorLog::get().snapshot();
  ASSERT_EQ(cursors.size(), 20u);
  for (const auto& c : cursors) EXPECT_EQ(c->rows.size(), 20u);
}

}  // namespace
}  // namespace qzbase::testing_sql
