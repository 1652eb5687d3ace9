// truncation_test.cpp - every prefix and every one-line-removed variant of a corpus of valid
// programs builds to a module or to build messages: never an internal consistency failure.
#include "compiler_support.h"

#include <string>
#include <vector>

#include "compiler/build_input.h"
#include "vm/module.h"

namespace qzbase::testing_compiler {
namespace {

const char* const kCorpus[] = {
    // Blocks nested in one another, with a FUNCTION after the main program.
    "LOCAL i, s\n"
    "s = 0\n"
    "FOR i = 1 TO 10 STEP 2\n"
    "  IF i > 5\n"
    "    DO CASE\n"
    "    CASE i = 7\n"
    "      s = s + twice(i)\n"
    "    OTHERWISE\n"
    "      LOOP\n"
    "    ENDCASE\n"
    "  ELSE\n"
    "    DO WHILE s < 3\n"
    "      s = s + 1\n"
    "      IF s = 2\n"
    "        EXIT\n"
    "      ENDIF\n"
    "    ENDDO\n"
    "  ENDIF\n"
    "ENDFOR\n"
    "? s\n"
    "FUNCTION twice(n)\n"
    "RETURN n * 2\n"
    "ENDFUNC\n",
    // TRY with every clause, WITH, TEXT and text-merge lines.
    "TRY\n"
    "  x = 1\n"
    "  TRY\n"
    "    THROW 'inner'\n"
    "  CATCH TO e WHEN x = 1\n"
    "    ? 'caught'\n"
    "  FINALLY\n"
    "    ? 'inner finally'\n"
    "  ENDTRY\n"
    "CATCH TO e\n"
    "  WITH e\n"
    "    ? .Message\n"
    "  ENDWITH\n"
    "FINALLY\n"
    "  ? 'finally'\n"
    "ENDTRY\n"
    "TEXT TO out TEXTMERGE NOSHOW\n"
    "value: <<x>>\n"
    "ENDTEXT\n"
    "\\ line <<x + 1>>\n"
    "\\\\ more\n",
    // Classes between FUNCTIONs, table statements and SCAN.
    "SCAN FOR .T.\n"
    "  ? 'row'\n"
    "ENDSCAN\n"
    "FOR EACH item IN coll\n"
    "  ? item\n"
    "ENDFOR\n"
    "CREATE CURSOR c (a C(10), b N(5, 2))\n"
    "ALTER TABLE c ADD COLUMN d I\n"
    "ALTER TABLE c DROP COLUMN d\n"
    "DEFINE CLASS box AS Custom\n"
    "  width = 2\n"
    "  PROTECTED height\n"
    "  DIMENSION cells(2, 2)\n"
    "  FUNCTION area\n"
    "    RETURN this.width * 2\n"
    "  ENDFUNC\n"
    "  PROCEDURE empty\n"
    "ENDDEFINE\n"
    "FUNCTION after\n"
    "  PARAMETERS a, b\n"
    "  RETURN a + b\n",
};

std::vector<std::string> lines_of(const char* text) {
  std::vector<std::string> lines;
  std::string current;
  for (const char* p = text; *p != '\0'; ++p) {
    current += *p;
    if (*p == '\n') {
      lines.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

class Truncation : public ::testing::Test {
 public:
  // Builds the text as a module and as a script; a build error is fine, a broken invariant not.
  void build_both(const std::string& text) {
    try {
      string_key_map<Module*> loaded;
      {
        BuildInput input(rt.stack);
        try {
          input.build_module(String("/corpus/t.prg"), String(text), &loaded);
        } catch (const RuntimeError&) {
        }
      }
      for (auto& [name, module] : loaded) delete module;
      BuildInput script(rt.stack);
      try {
        delete script.build_script(String(text), nullptr);
      } catch (const RuntimeError&) {
      }
    } catch (const assert_failed_exception&) {
      ADD_FAILURE() << "consistency failure building:\n" << text;
    }
  }

  RuntimeFixture rt;
};

TEST_F(Truncation, PrefixesAndGapsBuildOrFail) {
  for (const char* program : kCorpus) {
    std::vector<std::string> lines = lines_of(program);
    // The whole program builds.
    {
      string_key_map<Module*> loaded;
      BuildInput input(rt.stack);
      EXPECT_EQ(error_of([&] { input.build_module(String("/corpus/t.prg"), String(program), &loaded); }), 0)
          << program;
      for (auto& [name, module] : loaded) delete module;
    }
    for (size_t cut = 0; cut <= lines.size(); ++cut) {
      std::string prefix;
      for (size_t i = 0; i < cut; ++i) prefix += lines[i];
      build_both(prefix);
      std::string gap;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (i != cut) gap += lines[i];
      }
      build_both(gap);
    }
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
