// text_blocks_test.cpp - TEXT ... ENDTEXT blocks and the \ and \\ text-merge lines.
#include "statement_support.h"

#include <string>

#include "compiler/build_input.h"
#include "compiler/text_blocks.h"

namespace qzbase::testing_compiler {
namespace {

class TextBlocks : public StatementTest {
 public:
  TextBlocks() { compiler.libraries.push_back(builtin_library_of(compiler)); }
};

TEST_F(TextBlocks, Explore) {
  const char* texts[] = {
      "TEXT\na\nb\nENDTEXT\n",
      "TEXT TO v ADDITIVE NOSHOW PRETEXT 3\n x <<1+1>> y\nENDTEXT\n",
      "TEXT TO v TEXTMERGE\n<< x >>\nENDTEXT\n",
      "\\ a <<x>>\n",
      "\\\\ b\n",
  };
  for (const char* t : texts) {
    for (Statement* s : statements) delete s;
    statements.clear();
    compiler.reset(COMPILE_KIND_PROGRAM, true);
    compiler.libraries.push_back(builtin_library_of(compiler));
    int r = compile_all(t);
    printf("%s-> %d msgs=%zu\n%s\n", t, r, compiler.messages.size(), dump().c_str());
    for (auto& m : compiler.messages) printf("msg %u line %u col %u\n", m.code, m.location.begin_line, m.location.begin_column);
  }
}

}  // namespace
}  // namespace qzbase::testing_compiler
