// The GLR parser on expressions: 20,000 mixed expression lines, each parsed on its own with
// START_EXPRESSION (the way index keys, filters and EVALUATE() texts arrive), and one long chain.
//
// Lines per second is the items-per-second counter. The lines are tokenized once beforehand for
// the parse-only benchmark; the second benchmark tokenizes and parses, as a caller does.
#include <benchmark/benchmark.h>
#include <qzbase.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/parser.h"

using namespace qzbase;

namespace {

constexpr int kLines = 20000;

// Expression lines of the kinds programs write: arithmetic, comparisons and logical chains,
// calls, paths and WITH-relative paths, array elements, M. variables, every literal kind.
std::vector<std::string> make_lines(int count) {
  std::vector<std::string> lines;
  lines.reserve(count);
  for (int i = 0; lines.size() < static_cast<size_t>(count); ++i) {
    std::string n = std::to_string(i);
    lines.push_back("a" + n + " + b" + n + " * 3");
    lines.push_back("lnTotal" + n + " >= 1000 .AND. !EMPTY(lcName" + n + ")");
    lines.push_back("customer.orders[" + n + "].amount * 1.19");
    lines.push_back("IIF(x" + n + " > 0, 'positive', \"negative\")");
    lines.push_back("{^2024-01-15} + " + n);
    lines.push_back("this.items(i).value - -5");
    lines.push_back("m.x" + n + " = UPPER(ALLTRIM(cName)) .OR. EOF()");
    lines.push_back("(a + b) / (c - d) ^ 2 % 7");
    lines.push_back("f(@arr, , 3, .T., .NULL.)");
    lines.push_back("x $ 'abc' .AND. NOT y" + n);
    lines.push_back(".Caption + [ text " + n + " ]");
    lines.push_back("0x1F + 0h0A0B + 12.50");
    lines.push_back("a.b.c.d(1, 2)[3] <> SUBSTR(s, 1, " + n + ")");
    lines.push_back("x.AND.y.OR.z .AND. cDone == 'N'");
    lines.push_back("CAST(nValue AS Integer) * -1 + {^2024-01-15 10:20:30} - {..}");
    lines.push_back("SELECT(1) # nArea .OR. aData[nRow, nCol] != nValue" + n);
  }
  lines.resize(count);
  return lines;
}

struct tokenized_line_st {
  String text;
  token_list_type tokens;
};

const std::vector<std::string>& lines() {
  static const std::vector<std::string> l = make_lines(kLines);
  return l;
}

// Every line tokenized once; the check that each parses runs when the set is built.
const std::vector<tokenized_line_st>& tokenized_lines() {
  static const std::vector<tokenized_line_st> set = [] {
    std::vector<tokenized_line_st> out(lines().size());
    for (size_t i = 0; i < out.size(); ++i) {
      out[i].text = String::fromBytes(lines()[i].data(), lines()[i].size(), Charset::utf8);
      tokenize(out[i].text.read(), out[i].text.end(), Charset::utf8, &out[i].tokens);
      parse_status_st status;
      Operand* op = parse_expression_tokens(out[i].tokens.cbegin(), out[i].tokens.cend(), &status);
      if (!op) {
        std::fprintf(stderr, "bench line does not parse (%u): %s\n", status.error_code, lines()[i].c_str());
        std::abort();
      }
      delete op;
    }
    return out;
  }();
  return set;
}

void BM_ParseExpressionLines(benchmark::State& state) {
  const auto& set = tokenized_lines();
  size_t tokens = 0;
  for (const auto& line : set) tokens += line.tokens.size();
  for (auto _ : state) {
    for (const auto& line : set) {
      Operand* op = parse_expression_tokens(line.tokens.cbegin(), line.tokens.cend());
      benchmark::DoNotOptimize(op);
      delete op;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * set.size()));
  state.counters["lines"] = static_cast<double>(set.size());
  state.counters["tokens_per_line"] = static_cast<double>(tokens) / set.size();
}
BENCHMARK(BM_ParseExpressionLines)->Unit(benchmark::kMillisecond);

void BM_TokenizeAndParseExpressionLines(benchmark::State& state) {
  const auto& text = lines();
  tokenized_lines();  // the check that every line parses
  token_list_type tokens;
  for (auto _ : state) {
    for (const std::string& line : text) {
      tokens.clear();
      tokenize(line.data(), line.data() + line.size(), Charset::utf8, &tokens);
      Operand* op = parse_expression_tokens(tokens.cbegin(), tokens.cend());
      benchmark::DoNotOptimize(op);
      delete op;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_TokenizeAndParseExpressionLines)->Unit(benchmark::kMillisecond);

// One expression of 10,000 terms joined by .AND. (a logical chain after names).
void BM_ParseAndChain10000(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 10000; ++i) {
    if (i) text += " .AND. ";
    text += 'v';
    text += std::to_string(i);
  }
  String source = String::fromBytes(text.data(), text.size(), Charset::utf8);
  token_list_type tokens;
  tokenize(source.read(), source.end(), Charset::utf8, &tokens);
  for (auto _ : state) {
    Operand* op = parse_expression_tokens(tokens.cbegin(), tokens.cend());
    if (!op) {
      state.SkipWithError("the chain does not parse");
      return;
    }
    // Take the 9,999-deep left spine apart without recursion.
    while (op && op->kind == OPERAND_BINARY) {
      auto* b = static_cast<BinaryOperator*>(op);
      Operand* left = b->left;
      b->left = nullptr;
      delete b;
      op = left;
    }
    delete op;
  }
  state.counters["tokens"] = static_cast<double>(tokens.size());
}
// A range this long parses on a helper thread (parser.h): wall-clock time.
BENCHMARK(BM_ParseAndChain10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
