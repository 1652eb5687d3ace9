// Tokenizing 10 MB of source text: throughput, and the peak memory of one call.
//
// The peak is measured in a fresh child process (this program started again with --peak-child),
// so that no memory the allocator kept from earlier work hides it: the child builds the text,
// notes its resident size, resets the high-water mark (/proc/self/clear_refs), tokenizes, and
// reports the rise of the high-water mark.
#include <benchmark/benchmark.h>
#include <qzbase.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>
#include "values/tokenizer.h"

using namespace qzbase;

namespace {

constexpr size_t kTextBytes = 10u << 20;

// Qz-like source: statements, expressions, literals, comments with a few non-ASCII letters.
std::string make_source(size_t bytes) {
  std::string s;
  s.reserve(bytes + 512);
  for (unsigned i = 0; s.size() < bytes; ++i) {
    std::string n = std::to_string(i);
    s += "* Auftragsprüfung Nr. " + n + " für Kunde_" + n + "\r\n";
    s += "LOCAL lnTotal" + n + ", lcName" + n + "\r\n";
    s += "lnTotal" + n + " = 0\r\n";
    s += "FOR lnI = 1 TO " + n + "\r\n";
    s += "\tlnTotal" + n + " = lnTotal" + n + " + lnI * 0x1F / 3.5\r\n";
    s += "\tlcName" + n + " = \"Customer_\" + TRANSFORM(lnI, \"@Z 999\")\r\n";
    s += "ENDFOR\r\n";
    s += "IF lnTotal" + n + " >= 1000 AND !EMPTY(lcName" + n + ") && größer\r\n";
    s += "    ? \"Total:\", lnTotal" + n + ", 0h0A0B\r\n";
    s += "ENDIF\r\n";
  }
  s.resize(bytes);
  return s;
}

std::string to_utf16le(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (size_t i = 0; i < utf8.size();) {
    unsigned char b = static_cast<unsigned char>(utf8[i]);
    uint32_t c;
    int n;
    if (b < 0x80) {
      c = b;
      n = 1;
    } else if (b < 0xE0) {
      c = b & 0x1F;
      n = 2;
    } else if (b < 0xF0) {
      c = b & 0x0F;
      n = 3;
    } else {
      c = b & 0x07;
      n = 4;
    }
    if (i + n > utf8.size()) break;
    for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    auto unit = [&](uint32_t u) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    };
    if (c < 0x10000)
      unit(c);
    else {
      c -= 0x10000;
      unit(0xD800 | (c >> 10));
      unit(0xDC00 | (c & 0x3FF));
    }
  }
  return out;
}

const std::string& source_utf8() {
  static const std::string s = make_source(kTextBytes);
  return s;
}
const std::string& source_utf16() {
  static const std::string s = to_utf16le(make_source(kTextBytes / 2));  // 10 MB of UTF-16
  return s;
}

void run_tokenize(benchmark::State& state, const std::string& text, const Charset* cs) {
  size_t count = 0;
  for (auto _ : state) {
    token_list_type tokens;
    tokenize(text.data(), text.data() + text.size(), cs, &tokens);
    count = tokens.size();
    benchmark::DoNotOptimize(tokens.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
  state.counters["tokens"] = static_cast<double>(count);
  state.counters["bytes_per_token"] = static_cast<double>(text.size()) / count;
}

void BM_Tokenize10MB_Utf8(benchmark::State& state) {
  run_tokenize(state, source_utf8(), Charset::utf8);
}
BENCHMARK(BM_Tokenize10MB_Utf8)->Unit(benchmark::kMillisecond);

void BM_Tokenize10MB_Utf16le(benchmark::State& state) {
  run_tokenize(state, source_utf16(), Charset::utf16le);
}
BENCHMARK(BM_Tokenize10MB_Utf16le)->Unit(benchmark::kMillisecond);

// The list kept across iterations (cleared, capacity kept): the cost of tokenizing alone.
void BM_Tokenize10MB_Utf8_ReusedList(benchmark::State& state) {
  const std::string& text = source_utf8();
  token_list_type tokens;
  for (auto _ : state) {
    tokens.clear();
    tokenize(text.data(), text.data() + text.size(), Charset::utf8, &tokens);
    benchmark::DoNotOptimize(tokens.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Tokenize10MB_Utf8_ReusedList)->Unit(benchmark::kMillisecond);

long status_kb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  size_t n = std::strlen(field);
  while (std::getline(f, line))
    if (line.compare(0, n, field) == 0 && line[n] == ':') return std::atol(line.c_str() + n + 1);
  return -1;
}

// The child: prints "text_bytes tokens capacity_bytes peak_rise_kb baseline_kb" on stdout.
int peak_child(const char* which) {
  const bool utf16 = std::strcmp(which, "utf16le") == 0;
  const std::string text =
      utf16 ? to_utf16le(make_source(kTextBytes / 2)) : make_source(kTextBytes);
  const Charset* cs = utf16 ? Charset::utf16le : Charset::utf8;
  long baseline = status_kb("VmRSS");
  {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";  // reset VmHWM to the current resident size
  }
  token_list_type tokens;
  tokenize(text.data(), text.data() + text.size(), cs, &tokens);
  long hwm = status_kb("VmHWM");
  std::printf("%zu %zu %zu %ld %ld\n", text.size(), tokens.size(),
              tokens.capacity() * sizeof(token_st), hwm - baseline, baseline);
  return 0;
}

std::string self_path;

void BM_TokenizePeakMemory(benchmark::State& state, const char* which) {
  size_t text = 0, tokens = 0, reserved = 0;
  long rise_kb = 0;
  for (auto _ : state) {
    int fd[2];
    if (pipe(fd) != 0) {
      state.SkipWithError("pipe");
      return;
    }
    pid_t pid = fork();
    if (pid == 0) {
      dup2(fd[1], 1);
      close(fd[0]);
      execl(self_path.c_str(), self_path.c_str(), "--peak-child", which,
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fd[1]);
    char buf[256] = {};
    ssize_t n = read(fd[0], buf, sizeof buf - 1);
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long baseline = 0;
    if (n <= 0 || std::sscanf(buf, "%zu %zu %zu %ld %ld", &text, &tokens, &reserved, &rise_kb,
                              &baseline) != 5) {
      state.SkipWithError("child failed");
      return;
    }
  }
  state.counters["text_MB"] = text / 1048576.0;
  state.counters["tokens"] = static_cast<double>(tokens);
  state.counters["token_bytes"] = static_cast<double>(sizeof(token_st));
  state.counters["reserved_MB"] = reserved / 1048576.0;
  state.counters["used_MB"] = tokens * sizeof(token_st) / 1048576.0;
  state.counters["peak_rise_MB"] = rise_kb / 1024.0;
  state.counters["peak_per_text_byte"] = rise_kb * 1024.0 / text;
}
BENCHMARK_CAPTURE(BM_TokenizePeakMemory, utf8, "utf8")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TokenizePeakMemory, utf16le, "utf16le")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak-child") == 0) return peak_child(argv[2]);
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  self_path = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv[0]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
