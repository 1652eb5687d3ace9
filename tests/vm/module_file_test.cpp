// The compiled-module file: round trips of hand-built and compiled modules into a fresh runtime,
// the exact bytes of a file, the operand encodings at their limits, refusals, the cache's file
// names and stale files, failed writes, and damaged or truncated files.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <qzbase.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "assembler.h"
#include "compiler/build_input.h"
#include "compiler/linker.h"
#include "compiler/program_dump.h"
#include "temp_dir.h"
#include "values/charset_registry.h"
#include "vm/execute.h"
#include "vm/module.h"
#include "vm/module_file.h"
#include "vm/runtime_vm.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase {
namespace {

namespace fs = std::filesystem;
using testing_files::TempDir;
using testing_vm::Assembler;

std::string read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << data;
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
    out += ' ';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

// A runtime with its built-in library and one stack; HOME is the given directory.
class Env {
 public:
  explicit Env(const fs::path& home) : runtime(CreateRuntime(&screen)), stack(new VmStack(runtime, 1024, 256)) {
    home_entry = "HOME=" + home.native();
    const char* envp[] = {home_entry.c_str(), nullptr};
    runtime->pass_environment(envp);
  }
  ~Env() {
    for (auto& [name, module] : loaded) delete module;
    delete stack;
    ReleaseRuntime(runtime);
  }
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  Symtable* symtable() { return stack->get_symtable(); }
  symbol_id_type sym(const char* name) { return symtable()->symbolize(name); }

  // The source compiled as the module file at path, unlinked.
  Module* compile(const fs::path& path, const std::string& text) {
    BuildInput input(stack);
    input.link_built_module = false;
    return input.build_module(String(path), String(text.c_str()), &loaded);
  }
  void link(Module* module) {
    LinkerInfo linker(runtime);
    link_module(linker, module);
  }
  // Runs a procedure without arguments: its result as text, or "!" and the error number.
  std::string run(const Module* module, const char* name) {
    const UserFunction* fn = module->procedures.at(sym(name));
    Variant result;
    try {
      execute_program(stack, 0, false, fn->program(), &result);
    } catch (const RuntimeError& e) {
      return "!" + std::to_string(e.code);
    }
    std::string text = result.tag == VT_STRING ? result.string.u8str() : "tag " + std::to_string(result.tag);
    result.release(stack);
    return text;
  }

  NullScreen screen;
  Runtime* runtime;
  VmStack* stack;
  std::string home_entry;
  string_key_map<Module*> loaded;
};

// Everything the file keeps of a module, by program name: parameters, local offsets and one line
// per operation (class, operands with symbols by name and targets as slots, extra word).
std::map<std::string, std::string> listing(const Module* module, Symtable* symbols) {
  auto one = [&](const Program* program) {
    std::string out = "params=" + std::to_string(program->parameter_count());
    std::map<std::string, offset_type> offsets;
    for (const auto& [symbol, offset] : program->local_offsets()) offsets[symbols->resolve(symbol).u8str()] = offset;
    for (const auto& [name, offset] : offsets) out += " " + name + "@" + std::to_string(static_cast<int64_t>(offset));
    out += "\n";
    program_dump_options_st options;
    options.symbols = symbols;
    options.statements = true;
    out += dump_program(program, options);
    for (size_t i = 0; i < program->code_length(); ++i) out += std::string(typeid(*program->op(i)).name()) + "\n";
    return out;
  };
  std::map<std::string, std::string> programs;
  if (module->main != nullptr) {
    programs[symbols->resolve(symbols->symbolize(module->main->program()->name())).u8str()] =
        one(module->main->program());
  }
  for (const auto& [symbol, fn] : module->procedures) programs.emplace(symbols->resolve(symbol).u8str(), one(fn->program()));
  return programs;
}

// A module of hand-built programs, owning them.
std::unique_ptr<Module> module_of(const String& name, Program* main, std::vector<std::pair<symbol_id_type, Program*>> procs) {
  auto module = std::make_unique<Module>(name);
  if (main != nullptr) module->main = new UserFunction(main);
  for (auto& [symbol, program] : procs) {
    auto* fn = new UserFunction(program);
    if (!module->add_procedure(symbol, fn)) delete fn;
  }
  return module;
}

// The image of a module of one program, and the same read back.
std::string image_of(Env& env, Program* program) {
  auto module = module_of(String("m"), nullptr, {{env.sym("P"), program}});
  return module_file_image(module.get(), env.symtable(), 0);
}

std::unique_ptr<Module> read_back(Env& env, const std::string& image) {
  Module* out = nullptr;
  if (!module_read_image(image.data(), image.size(), env.symtable(), &out)) return nullptr;
  return std::unique_ptr<Module>(out);
}

// The first operation of the program P of a module read back.
template <class Op>
const Op* first_op(const Module* module, Env& env) {
  const Program* program = module->procedures.at(env.sym("P"))->program();
  return dynamic_cast<const Op*>(program->op(0));
}

// The bytes in which two images of one length differ, from the first difference to the last.
std::string difference(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return "sizes differ";
  size_t first = a.size(), last = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      first = std::min(first, i);
      last = i;
    }
  }
  return first == a.size() ? "" : hex(b.substr(first, last - first + 1));
}

class ModuleFile : public ::testing::Test {
 public:
  ModuleFile() : env(home.path) {}

  fs::path cache_dir() const { return home.path / ".qz" / "opcode"; }
  // A source file (the module's name must be a file with a time stamp).
  fs::path source(const char* name = "prog.prg", const std::string& text = "RETURN\n") {
    return dir.write(name, text);
  }

  // The source compiled (unlinked) in env as the file `name`, saved to the cache and loaded in
  // fresh; null when either fails or the programs read back differ from those written.
  std::unique_ptr<Module> through_cache(const char* name, const std::string& text, Env& fresh,
                                        Module** original = nullptr) {
    const fs::path path = source(name, text);
    Module* module = env.compile(path, text);
    if (original != nullptr) *original = module;
    const auto expected = listing(module, env.symtable());
    if (!module_save_to_opcode_cache(env.runtime, module, env.symtable())) return nullptr;
    Module* read = nullptr;
    if (!module_load_from_cache(fresh.runtime, String(path), fresh.symtable(), &read)) return nullptr;
    std::unique_ptr<Module> back(read);
    const auto got = listing(back.get(), fresh.symtable());
    EXPECT_EQ(got, expected);
    return got == expected ? std::move(back) : nullptr;
  }

  TempDir home;
  TempDir dir;
  Env env;
};

// ---- Round trips ------------------------------------------------------------------------------

// One operation of every storable family and class, jumps in every direction, a TRY handler, and
// symbols met in programs and local maps; read back in a runtime whose ids differ.
TEST_F(ModuleFile, EveryStorableOperationReadsBackInAFreshRuntime) {
  const symbol_id_type alpha = env.sym("alpha"), beta = env.sym("beta"), gamma = env.sym("gamma");
  Assembler a;
  a.parameters(2).local(alpha, 1).local(beta, 2).local(gamma, 3);
  auto first = a.new_label(), shared = a.new_label(), end = a.new_label(), handler_end = a.new_label();
  int64_t statement = 1;
  auto next = [&] { a.statement(statement++); };
  a.bind(first);
  next();
  a.op<VmOpInitLocalParameters>(2);
  auto* handler = a.handler(first, handler_end, {{shared, gamma, nullptr}, {end, 0, nullptr}});
  (void)handler;
  next();
  a.op<VmOpBinaryAdd>();
  a.op<VmOpBinarySub>();
  a.op<VmOpBinaryMul>();
  a.op<VmOpBinaryDiv>();
  a.op<VmOpBinaryPow>();
  a.op<VmOpBinaryMod>();
  a.op<VmOpBinaryEq>();
  a.op<VmOpBinaryLt>();
  a.op<VmOpBinaryLtEq>();
  a.op<VmOpBinaryGt>();
  a.op<VmOpBinaryGtEq>();
  a.op<VmOpBinaryLtGt>();
  a.op<VmOpBinaryEqEq>();
  a.op<VmOpCondTrueOrNullMerge2P>();
  a.op<VmOpEspAlloc>();
  a.op<VmOpEspFree>();
  a.op<VmOpStore>();
  a.op<VmOpTestTextmergeOn>();
  a.op<VmOpUnaryNeg>();
  a.op<VmOpUnaryNot>();
  a.op<VmOpUnwindContinue>();
  a.op<VmOpReadConstTrue>();
  a.op<VmOpReadConstFalse>();
  a.op<VmOpReadConstNull>();
  next();
  a.op<VmOpCastToBooleanImplicitly>(1);
  a.op<VmOpCastToIntegerImplicitly>(0);
  a.op<VmOpCastToNumericImplicitly>(1);
  a.op<VmOpCastToMoneyImplicitly>(0);
  a.op<VmOpCastToDateImplicitly>(1);
  a.op<VmOpCastToDatetimeImplicitly>(0);
  a.op<VmOpCastToStringImplicitly>(1);
  a.op<VmOpCastToObjectImplicitly>(0);
  a.op<VmOpCheckArgument>(VT_STRING, CHECK_ARG_MAY_BE_REFERENCE | CHECK_ARG_NULL_ALLOWED);
  a.statement(-7);
  a.op<VmOpReadAddWriteLocal>(4);
  a.op<VmOpReadLocalMemvarPointerByOffset>(5);
  a.op<VmOpWriteMemvarByOffset>(6);
  a.op<VmOpReadLocalMemvarByOffset>(7);
  next();
  a.op<VmOpReadMemvarPointerByNameDefault>(alpha);
  a.op<VmOpDefLocal>(beta);
  a.op<VmOpDefPrivateSymbol>(gamma);
  a.op<VmOpReadAddWrite>(env.sym("delta"));
  a.op<VmOpReadByName>(alpha);
  a.op<VmOpReadFileObjectOrMemvarByName>(beta);
  a.op<VmOpReadMemvarPointerByName>(gamma);
  a.op<VmOpWriteMemarByName>(alpha);
  a.op<VmOpReadMemvarByName>(beta);
  a.op<VmOpDefLocalOffset>(1, alpha);
  a.op<VmOpDefPublicOffset>(2, beta);
  a.op<VmOpInitParameter>(3, gamma);
  next();
  a.jump<VmOpCondTrueJump>(shared);  // two jumps to one target
  a.jump<VmOpCondTrueJumpKeepEsp>(shared);
  a.jump<VmOpCondFalseOrNullJump>(end);
  a.bind(shared);
  a.jump<VmOpCondFalseOrNullJumpKeepEsp>(first);  // backward, to the first operation
  a.jump<VmOpForCondFalseJump>(shared);           // backward by one
  a.bind(handler_end);
  next();
  a.op<VmOpReadConstInteger>(INT64_MIN);
  a.op<VmOpReadConstNumeric>(numeric_type_st{-0.1, 3});
  a.op<VmOpReadConstMoney>(money_type_st{-123456789});
  a.op<VmOpReadConstDate>(date_st{2460312});
  a.op<VmOpReadConstDatetime>(datetime_st{2460312, 86399999});
  a.op<VmOpReadConstString>(String("h\xC3\xA9llo"));
  a.op<VmOpReadConstString>(String());
  a.op<VmOpUnresolvedCall>(String("helper"), 2);
  a.jump<VmOpJump>(end);  // to the end of the code
  a.bind(end);
  Program* all = a.build("all");

  Assembler h;
  h.parameters(1).local(env.sym("n"), 1);
  h.op<VmOpReadLocalMemvarByOffset>(1);
  h.op<VmOpReturnValue>();
  Program* helper = h.build("helper");
  Assembler e;
  Program* empty = e.build("empty");

  const fs::path path = source();
  auto module = module_of(String(path), all, {{env.sym("helper"), helper}, {env.sym("empty"), empty}});
  const auto expected = listing(module.get(), env.symtable());
  const std::string image = module_file_image(module.get(), env.symtable(), 0);

  // Another runtime hands out its ids in another order.
  Env fresh(home.path);
  fresh.sym("gamma");
  fresh.sym("unrelated");
  fresh.sym("beta");
  ASSERT_NE(fresh.sym("alpha"), env.sym("alpha"));
  auto back = read_back(fresh, image);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->name.cmp(String(path), Collation::unicode_machine), 0);
  EXPECT_EQ(back->main, nullptr);  // every program is filed as a procedure
  EXPECT_EQ(listing(back.get(), fresh.symtable()), expected);
  // (The listing names jump targets by slot: they are elements of the code array read back.)
  const Program* read_all = back->procedures.at(fresh.sym("all"))->program();
  // The string constants keep their charsets.
  const size_t n = read_all->code_length();
  const auto* text = dynamic_cast<const VmOpReadConstString*>(read_all->op(n - 4));
  const auto* empty_text = dynamic_cast<const VmOpReadConstString*>(read_all->op(n - 3));
  ASSERT_TRUE(text != nullptr && empty_text != nullptr);
  EXPECT_EQ(text->value.get_charset(), Charset::utf8);
  EXPECT_EQ(empty_text->value.get_charset(), Charset::binary);
}

// The symbol section numbers symbols from 1 in order of first use, one index per symbol however
// often it is met; a module without programs has an empty one.
TEST_F(ModuleFile, SymbolsAreNumberedFromOneInOrderOfFirstUse) {
  Assembler a;
  a.op<VmOpReadByName>(env.sym("second"));
  a.op<VmOpReadByName>(env.sym("second"));
  a.op<VmOpWriteMemarByName>(env.sym("third"));
  const std::string image = image_of(env, a.build("P"));
  // The program's name is met first, then the operands; names are stored in upper case.
  auto entry = [](char index, const std::string& name) {
    return std::string(7, '\0') + index + std::string("\0\x01", 2) + std::string(7, '\0') +
           static_cast<char>(name.size()) + name;
  };
  const std::string entries = entry(1, "P") + entry(2, "SECOND") + entry(3, "THIRD");
  const std::string section = "\x3C" + std::string(7, '\0') + static_cast<char>(16 + entries.size()) +
                              std::string(7, '\0') + "\x03" + entries;
  ASSERT_GT(image.size(), section.size());
  EXPECT_EQ(hex(image.substr(image.size() - section.size())), hex(section));

  Module empty{String("m")};
  const std::string bare = module_file_image(&empty, env.symtable(), 0);
  EXPECT_EQ(hex(bare.substr(bare.size() - 17)), hex("\x3C" + std::string(7, '\0') + "\x10" + std::string(8, '\0')));
}

// A module compiled from source (main program, functions, every constant type, loops, branches,
// declarations, calls) through the cache on disk into a fresh runtime: the same programs, and once
// linked the same results.
TEST_F(ModuleFile, CompiledModuleRoundTripsThroughTheCache) {
  const std::string text =
      "LOCAL a, b\n"
      "a = 1\n"
      "b = a + 2.5\n"
      "PRIVATE p\n"
      "p = \"s\"\n"
      "PUBLIC q\n"
      "q = $12.34\n"
      "FOR i = 1 TO 3\n"
      "  a = a + i\n"
      "ENDFOR\n"
      "IF a > 3 AND b < 2 OR .NULL.\n"
      "  a = twice(a)\n"
      "ELSE\n"
      "  a = -a\n"
      "ENDIF\n"
      "DO WHILE a < 10\n"
      "  a = a * 2\n"
      "ENDDO\n"
      "FUNCTION twice(n)\n"
      "RETURN n + n\n"
      "FUNCTION describe\n"
      "LOCAL s, k\n"
      "s = \"\"\n"
      "FOR k = 1 TO 4\n"
      "  IF k % 2 = 0\n"
      "    s = s + \"e\"\n"
      "  ELSE\n"
      "    s = s + \"o\"\n"
      "  ENDIF\n"
      "ENDFOR\n"
      "RETURN s + \"/\" + twice(\"x\") + \"/\" + IIF({^2024-01-02} < {^2024-01-03} AND {^2024-01-02 10:00:00} > {^2024-01-02 09:59:59}, \"lt\", \"ge\")\n";
  Env fresh(home.path);
  fresh.sym("unrelated");
  Module* module = nullptr;
  std::unique_ptr<Module> back = through_cache("prog.prg", text, fresh, &module);
  ASSERT_NE(back, nullptr);

  env.link(module);
  fresh.link(back.get());
  EXPECT_EQ(env.run(module, "describe"), "oeoe/xx/lt");
  EXPECT_EQ(fresh.run(back.get(), "describe"), "oeoe/xx/lt");
}

// Linking fuses the FOR loops' operations and the name reads of LOCALs in memory; the module
// file still holds the operations as compiled, and the fused module runs as the file read back.
TEST_F(ModuleFile, FusedOperationsAreStoredAsCompiled) {
  const std::string text =
      "FUNCTION count\n"
      "LOCAL i, n\n"
      "n = 0\n"
      "FOR i = 1 TO 10 STEP 3\n"
      "  n = n + i\n"
      "ENDFOR\n"
      "RETURN IIF(n = 22 AND i = 13, \"ok\", \"wrong\")\n";
  const fs::path path = source("fused.prg", text);
  Module* module = env.compile(path, text);
  ASSERT_NE(module, nullptr);
  const std::string compiled = module_file_image(module, env.symtable(), 0);
  env.link(module);
  const Program* program = module->procedures.at(env.sym("count"))->program();
  size_t fused = 0;
  for (size_t i = 0; i < program->code_length(); ++i) fused += program->op(i)->opcode >= kVmOpCount ? 1 : 0;
  EXPECT_GE(fused, 3u);  // at least the test, the step and the read of i in the body
  EXPECT_EQ(module_file_image(module, env.symtable(), 0), compiled);
  EXPECT_EQ(env.run(module, "count"), "ok");

  Env fresh(home.path);
  Module* read = nullptr;
  ASSERT_TRUE(module_read_image(compiled.data(), compiled.size(), fresh.symtable(), &read));
  std::unique_ptr<Module> back(read);
  fresh.link(back.get());
  EXPECT_EQ(fresh.run(back.get(), "count"), "ok");
}

// TRY ... CATCH ... FINALLY code holds the handler operations and the call that raises a caught
// error again after FINALLY; read back and linked it runs as the original.
TEST_F(ModuleFile, TryFinallyModuleRoundTripsAndRaisesAgain) {
  const std::string text =
      "FUNCTION caught\n"
      "LOCAL log\n"
      "log = \"\"\n"
      "TRY\n"
      "  log = log + \"a\"\n"
      "  x = nosuch\n"
      "CATCH TO e\n"
      "  log = log + \"c\"\n"
      "FINALLY\n"
      "  log = log + \"f\"\n"
      "ENDTRY\n"
      "RETURN log\n"
      "FUNCTION uncaught\n"
      "PUBLIC glog\n"
      "glog = \"\"\n"
      "TRY\n"
      "  glog = glog + \"a\"\n"
      "  x = nosuch\n"
      "FINALLY\n"
      "  glog = glog + \"f\"\n"
      "ENDTRY\n"
      "glog = glog + \"never\"\n"
      "RETURN glog\n";
  Env fresh(home.path);
  std::unique_ptr<Module> back = through_cache("try.prg", text, fresh);
  ASSERT_NE(back, nullptr);
  fresh.link(back.get());
  EXPECT_EQ(fresh.run(back.get(), "caught"), "acf");
  EXPECT_EQ(fresh.run(back.get(), "uncaught"), "!12");
  Memvar* log = nullptr;
  ASSERT_TRUE(fresh.stack->get_memvar(fresh.sym("glog"), &log));
  ASSERT_EQ(log->value.tag, VT_STRING);
  EXPECT_EQ(log->value.string.u8str(), "af");
}

// The lookups are filled on first use, once, by whichever of several threads gets there first.
TEST_F(ModuleFile, ThreadsWriteAndReadAtFirstUse) {
  Assembler a;
  a.op<VmOpReadConstString>(String("x"));
  a.op<VmOpReadByName>(env.sym("name"));
  a.op<VmOpReturnValue>();
  auto module = module_of(String("m"), nullptr, {{env.sym("P"), a.build("P")}});
  constexpr int kThreads = 8;
  std::vector<std::string> images(kThreads);
  std::vector<int> read(kThreads, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      images[i] = module_file_image(module.get(), env.symtable(), 0);
      Module* out = nullptr;
      read[i] = module_read_image(images[i].data(), images[i].size(), env.symtable(), &out);
      delete out;
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(images[i], images[0]);
    EXPECT_TRUE(read[i]);
  }
}

// ---- The file on disk -------------------------------------------------------------------------

// A module without main program and procedures: exactly the header and an empty symbol section,
// under HOME/.qz/opcode named by the MD5 of the module's name; nothing else is left there.
TEST_F(ModuleFile, EmptyModuleFileHasExactlyTheHeaderAndAnEmptySymbolSection) {
  const fs::path path = source("empty.prg");
  const std::string name = path.native();
  Module module{String(path)};
  ASSERT_TRUE(module_save_to_opcode_cache(env.runtime, &module, env.symtable()));

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ASSERT_EQ(EVP_Digest(name.data(), name.size(), digest, &length, EVP_md5(), nullptr), 1);
  std::string md5 = hex(std::string(reinterpret_cast<char*>(digest), length));
  md5.erase(std::remove(md5.begin(), md5.end(), ' '), md5.end());
  const fs::path file = cache_dir() / ("0.9.2700." + md5 + ".0");
  ASSERT_TRUE(fs::exists(file)) << file;
  EXPECT_EQ(std::distance(fs::directory_iterator(cache_dir()), fs::directory_iterator()), 1);

  const int64_t time = module_source_time(String(path));
  auto be64 = [](uint64_t v) {
    std::string s;
    for (int shift = 56; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
    return s;
  };
  std::string expected("QZ\0\0\0\x01", 6);
  expected += std::string("\0\x01", 2) + be64(name.size()) + name;
  expected += be64(static_cast<uint64_t>(time));
  expected += be64(expected.size() + 8);
  expected += "\x3C" + be64(16) + be64(0);
  EXPECT_EQ(hex(read_bytes(file)), hex(expected));

  // The header alone, and the time stamp against the clock.
  String stored;
  int64_t stored_time = 0, symbols = 0;
  const Charset* charset = nullptr;
  ASSERT_TRUE(module_load_header_from_disk(file, &stored, &stored_time, &charset, &symbols));
  EXPECT_EQ(stored.u8str(), name);
  EXPECT_EQ(stored_time, time);
  EXPECT_EQ(charset, Charset::utf8);
  EXPECT_EQ(symbols, static_cast<int64_t>(expected.size() - 17));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(std::abs(now - time), 600);
}

TEST_F(ModuleFile, WithoutHomeNothingIsWrittenOrRead) {
  Env homeless(home.path);
  const char* envp[] = {"PATH=/bin", nullptr};
  homeless.runtime->pass_environment(envp);
  const fs::path path = source();
  Module module{String(path)};
  EXPECT_FALSE(module_save_to_opcode_cache(homeless.runtime, &module, homeless.symtable()));
  Module* out = nullptr;
  EXPECT_FALSE(module_load_from_cache(homeless.runtime, String(path), homeless.symtable(), &out));
  EXPECT_FALSE(fs::exists(home.path / ".qz"));
}

// The writer always writes index 0; a file there of another time stamp sends the reader to index 1,
// and a missing index ends the search. The source name is compared exactly.
TEST_F(ModuleFile, StaleFileAtIndexZeroSendsTheReaderToIndexOne) {
  const fs::path path = source();
  Assembler a;
  a.op<VmOpReturn>();
  auto module = module_of(String(path), nullptr, {{env.sym("p"), a.build("p")}});
  ASSERT_TRUE(module_save_to_opcode_cache(env.runtime, module.get(), env.symtable()));
  String stem;
  ASSERT_TRUE(create_stem(env.runtime, String(path), stem));
  const fs::path zero = stem.u8str() + "0", one = stem.u8str() + "1";
  const std::string current = read_bytes(zero);

  // Index 0 now holds the file of an older version of the source.
  const auto time = fs::last_write_time(path);
  fs::last_write_time(path, time - std::chrono::hours(1));
  ASSERT_TRUE(module_save_to_opcode_cache(env.runtime, module.get(), env.symtable()));
  fs::last_write_time(path, time);
  ASSERT_NE(read_bytes(zero), current);

  Module* out = nullptr;
  EXPECT_FALSE(module_load_from_cache(env.runtime, String(path), env.symtable(), &out));
  write_bytes(one, current);
  ASSERT_TRUE(module_load_from_cache(env.runtime, String(path), env.symtable(), &out));
  std::unique_ptr<Module> back(out);
  EXPECT_EQ(back->procedures.count(env.sym("p")), 1u);

  // Another way of writing the name finds nothing, even with the same stem.
  const fs::path upper = dir.path / "PROG.PRG";
  write_bytes(upper, "RETURN\n");
  fs::last_write_time(upper, time);
  String other_stem;
  ASSERT_TRUE(create_stem(env.runtime, String(upper), other_stem));
  fs::copy_file(one, other_stem.u8str() + "0");
  EXPECT_FALSE(module_load_from_cache(env.runtime, String(upper), env.symtable(), &out));
}

// A file that cannot be written is a failure, and the old file stays as it was: the new one is
// written beside it and renamed over it only when complete.
TEST_F(ModuleFile, FailedWriteReturnsFalseAndLeavesTheOldFileWhole) {
  const fs::path path = source();
  Assembler small;
  small.op<VmOpReturn>();
  auto old_module = module_of(String(path), nullptr, {{env.sym("p"), small.build("p")}});
  ASSERT_TRUE(module_save_to_opcode_cache(env.runtime, old_module.get(), env.symtable()));
  String stem;
  ASSERT_TRUE(create_stem(env.runtime, String(path), stem));
  const fs::path file = stem.u8str() + "0";
  const std::string old_bytes = read_bytes(file);

  Assembler big;
  for (int i = 0; i < 200; ++i) big.op<VmOpReadConstString>(String("a constant long enough to pass the limit"));
  auto new_module = module_of(String(path), nullptr, {{env.sym("p"), big.build("p")}});
  {
    // Files may grow to 4 KiB only; the write past it fails (EFBIG) instead of raising SIGXFSZ.
    struct sigaction ignore {}, saved {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &saved), 0);
    rlimit limit{}, saved_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved_limit), 0);
    limit.rlim_cur = 4096;
    limit.rlim_max = saved_limit.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool saved_ok = module_save_to_opcode_cache(env.runtime, new_module.get(), env.symtable());
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    sigaction(SIGXFSZ, &saved, nullptr);
    EXPECT_FALSE(saved_ok);
  }
  EXPECT_TRUE(read_bytes(file) == old_bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(cache_dir()), fs::directory_iterator()), 1);

  // A reader that opened the old file keeps reading it whole while a new one replaces it.
  std::ifstream held(file, std::ios::binary);
  ASSERT_TRUE(module_save_to_opcode_cache(env.runtime, new_module.get(), env.symtable()));
  const std::string held_bytes((std::istreambuf_iterator<char>(held)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(held_bytes == old_bytes);
  EXPECT_GT(read_bytes(file).size(), 4096u);

  // The name taken by a directory: the rename fails, nothing is left behind.
  fs::remove(file);
  fs::create_directory(file);
  EXPECT_FALSE(module_save_to_opcode_cache(env.runtime, new_module.get(), env.symtable()));
  EXPECT_TRUE(fs::is_directory(file));
  EXPECT_EQ(std::distance(fs::directory_iterator(cache_dir()), fs::directory_iterator()), 1);
}

// ---- Operand encodings at their limits --------------------------------------------------------

TEST_F(ModuleFile, GenericOperationsTakeSixBytesEach) {
  auto program_of = [&](int n) {
    Assembler a;
    for (int i = 0; i < n; ++i) a.op<VmOpBinaryAdd>();
    return a.build("P");
  };
  const std::string one = image_of(env, program_of(1)), eleven = image_of(env, program_of(11));
  EXPECT_EQ(eleven.size() - one.size(), 60u);
}

TEST_F(ModuleFile, ExtraWordIsStoredAsThirtyTwoBits) {
  auto program_of = [&](int64_t statement) {
    Assembler a;
    a.statement(statement).op<VmOpReturn>();
    return a.build("P");
  };
  const std::string zero = image_of(env, program_of(0)), minus_one = image_of(env, program_of(-1));
  EXPECT_EQ(difference(zero, minus_one), "FF FF FF FF");
  auto back = read_back(env, minus_one);
  ASSERT_NE(back, nullptr);
  ASSERT_NE(first_op<VmOpReturn>(back.get(), env), nullptr);
  EXPECT_EQ(back->procedures.at(env.sym("P"))->program()->statement_of(0), -1);

  for (int64_t beyond : {int64_t{INT32_MAX} + 1, int64_t{INT32_MIN} - 1}) {
    Program* program = program_of(beyond);
    try {
      image_of(env, program);
      ADD_FAILURE() << beyond;
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.code, 39);
    }
  }
}

// Counts and offsets stored as 32 bits read back sign-extended; the parameter count too.
TEST_F(ModuleFile, ThirtyTwoBitOperandsReadBackSignExtended) {
  const uint64_t negative = static_cast<uint64_t>(int64_t{INT32_MIN});
  struct Case {
    uint64_t written;
    uint64_t read;
  };
  for (const Case& c : {Case{2147483647, 2147483647}, Case{2147483648u, negative}, Case{0xFFFFFFFFu, ~uint64_t{0}}}) {
    SCOPED_TRACE(c.written);
    Assembler a;
    a.parameters(static_cast<size_t>(c.written));
    a.op<VmOpInitLocalParameters>(c.written);
    a.op<VmOpDefLocalOffset>(c.written, env.sym("x"));
    a.op<VmOpUnresolvedCall>(String("f"), c.written);
    a.op<VmOpReadLocalMemvarByOffset>(c.written);  // 64 bits: unchanged
    auto back = read_back(env, image_of(env, a.build("P")));
    ASSERT_NE(back, nullptr);
    const Program* p = back->procedures.at(env.sym("P"))->program();
    EXPECT_EQ(p->parameter_count(), static_cast<size_t>(c.read));
    EXPECT_EQ(static_cast<const VmOpInitLocalParameters*>(p->op(0))->count, c.read);
    EXPECT_EQ(static_cast<const VmOpDefLocalOffset*>(p->op(1))->offset, c.read);
    EXPECT_EQ(static_cast<const VmOpUnresolvedCall*>(p->op(2))->count, c.read);
    EXPECT_EQ(static_cast<const VmOpReadLocalMemvarByOffset*>(p->op(3))->offset, c.written);
  }
}

TEST_F(ModuleFile, CastAndArgumentCheckOperands) {
  Assembler a;
  a.op<VmOpCastToStringImplicitly>(7);
  a.op<VmOpCheckArgument>(VT_DATE, 0x00018001);  // only the low 16 bits are kept
  auto back = read_back(env, image_of(env, a.build("P")));
  ASSERT_NE(back, nullptr);
  const Program* p = back->procedures.at(env.sym("P"))->program();
  EXPECT_EQ(static_cast<const VmOpCastToStringImplicitly*>(p->op(0))->allow_null, 1);
  const auto* check = static_cast<const VmOpCheckArgument*>(p->op(1));
  EXPECT_EQ(check->expected_tag, VT_DATE);
  EXPECT_EQ(check->flags, static_cast<int32_t>(0xFFFF8001));  // sign-extended from 16 bits
}

TEST_F(ModuleFile, MoneyConstantsMustFitSixtyFourBits) {
  const money_raw_type min = INT64_MIN, max = INT64_MAX;
  auto program_of = [&](money_raw_type v) {
    Assembler a;
    a.op<VmOpReadConstMoney>(money_type_st{v});
    return a.build("P");
  };
  for (money_raw_type v : {min, max}) {
    auto back = read_back(env, image_of(env, program_of(v)));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(first_op<VmOpReadConstMoney>(back.get(), env)->value.value == v);
  }
  struct Case {
    money_raw_type value;
    const char* text;
  };
  for (const Case& c : {Case{min - 1, "negative overflow"}, Case{max + 1, "positive overflow"}}) {
    Program* program = program_of(c.value);
    try {
      image_of(env, program);
      ADD_FAILURE() << c.text;
    } catch (const std::overflow_error& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
  }
}

TEST_F(ModuleFile, NumericWithFreeDecimalsStoresEightFFBytes) {
  auto program_of = [&](uint64_t decimals) {
    Assembler a;
    a.op<VmOpReadConstNumeric>(numeric_type_st{1.5, decimals});
    return a.build("P");
  };
  const std::string fixed = image_of(env, program_of(0)), free = image_of(env, program_of(free_decimals));
  EXPECT_EQ(difference(fixed, free), "FF FF FF FF FF FF FF FF");
  auto back = read_back(env, free);
  ASSERT_NE(back, nullptr);
  const auto* op = first_op<VmOpReadConstNumeric>(back.get(), env);
  EXPECT_EQ(op->value.value, 1.5);
  EXPECT_EQ(op->value.decimals, free_decimals);
}

// Strings keep their bytes and charset id; text in a charset outside the table, a flagged instance
// included, is refused before anything is written.
TEST_F(ModuleFile, StringCharsets) {
  const char utf16[] = {'h', 0, 'i', 0, static_cast<char>(0xAC), 0x20};  // "hi€"
  auto program_of = [&](const String& s) {
    Assembler a;
    a.op<VmOpReadConstString>(s);
    return a.build("P");
  };
  const String text(utf16, sizeof utf16, Charset::utf16le);
  const std::string image = image_of(env, program_of(text));
  EXPECT_NE(image.find(std::string("\0\x02\0\0\0\0\0\0\0\x06", 10) + std::string(utf16, sizeof utf16)),
            std::string::npos);
  auto back = read_back(env, image);
  ASSERT_NE(back, nullptr);
  const auto* op = first_op<VmOpReadConstString>(back.get(), env);
  EXPECT_EQ(op->value.get_charset(), Charset::utf16le);
  EXPECT_EQ(std::string(op->value.read(), op->value.size()), std::string(utf16, sizeof utf16));

  const Charset* flagged = get_charset_by_csid(GetCharsetCSID(Charset::utf8) | kCharsetFlaggedBit);
  ASSERT_NE(flagged, nullptr);
  ASSERT_NE(flagged, Charset::utf8);
  for (const Charset* refused : {flagged, get_charset_by_name("iso-8859-1")}) {
    ASSERT_NE(refused, nullptr);
    const fs::path path = source();
    Assembler a;
    a.op<VmOpReadConstString>(String("x", 1, refused));
    auto module = module_of(String(path), nullptr, {{env.sym("P"), a.build("P")}});
    EXPECT_THROW(module_save_to_opcode_cache(env.runtime, module.get(), env.symtable()), assert_failed_exception);
    EXPECT_FALSE(fs::exists(cache_dir()));
  }
}

// Operations without a row or codec cannot be stored: the writer refuses the module before any
// file is touched.
TEST_F(ModuleFile, UnstorableProgramsAreRefusedBeforeAnyFileIsTouched) {
  Symtable* symbols = env.symtable();
  std::vector<std::function<VmOp*()>> unstorable = {
      [] { return new VmOpMacro(1); },
      [&] { return new VmOpObjectCall(env.sym("m"), 0); },
      [&] { return new VmOpObjectReadProperty(env.sym("m"), 0); },
      [&] { return new VmOpReadArrayItemByName(env.sym("a"), 1); },
      [] { return new VmOpWriteArrayByOffset(1, 1); },
      [] { return new VmOpReadFieldByFieldNum(1); },
      [] { return new VmOpCastToNotNull(); },
      [&] { return new VmOpReadMemvarByNameDefault(env.sym("x")); },
      [] { return new VmOpUnwind(); },
      [] { return new VmOpCallSpecDo(nullptr, 0); },
      [&] { return new VmOpCallSpecDynamic(env.sym("f"), 0); },
  };
  const fs::path path = source();
  for (auto& make : unstorable) {
    Assembler a;
    a.op<VmOpReturn>();
    const VmOp* op = a.append(make());
    SCOPED_TRACE(vmop_class_name(op->opcode));
    auto module = module_of(String(path), nullptr, {{env.sym("P"), a.build("P")}});
    EXPECT_THROW(module_save_to_opcode_cache(env.runtime, module.get(), symbols), assert_failed_exception);
  }
  // A TRY handler whose clause runs a condition program.
  Assembler a;
  auto start = a.new_label();
  a.bind(start);
  Assembler condition;
  condition.op<VmOpReadConstTrue>();
  a.handler(start, start, {{start, 0, condition.build("c")}});
  auto module = module_of(String(path), nullptr, {{env.sym("P"), a.build("P")}});
  EXPECT_THROW(module_save_to_opcode_cache(env.runtime, module.get(), symbols), assert_failed_exception);
  EXPECT_FALSE(fs::exists(cache_dir()));
}

// ---- Damaged files ----------------------------------------------------------------------------

// A valid image of a module with a procedure of several families, for damaging.
std::string sample_image(Env& env, const String& name) {
  Assembler a;
  auto back = a.new_label();
  a.parameters(1).local(env.sym("x"), 1);
  a.bind(back);
  a.op<VmOpReadConstString>(String("text"));
  a.op<VmOpReadByName>(env.sym("x"));
  a.jump<VmOpCondTrueJump>(back);
  a.op<VmOpUnresolvedCall>(String("f"), 1);
  a.op<VmOpReturn>();
  auto module = module_of(name, nullptr, {{env.sym("P"), a.build("P")}});
  return module_file_image(module.get(), env.symtable(), 0);
}

// Every prefix of a valid image, in memory; and cut files in the cache, whose header alone may
// still be whole.
TEST_F(ModuleFile, EveryTruncationOfAValidFileIsUnusable) {
  const std::string text =
      "LOCAL n\nn = 0\nTRY\n  n = n + 1.5\nCATCH TO e\n  n = -1\nFINALLY\n  n = n * 2\nENDTRY\nRETURN twice(n)\n";
  const fs::path path = source("cut.prg", text);
  ASSERT_TRUE(module_save_to_opcode_cache(env.runtime, env.compile(path, text), env.symtable()));
  String stem;
  ASSERT_TRUE(create_stem(env.runtime, String(path), stem));
  const fs::path file = stem.u8str() + "0";
  const std::string compiled = read_bytes(file);
  for (const std::string& image : {sample_image(env, String("m")), compiled}) {
    ASSERT_NE(read_back(env, image), nullptr);
    for (size_t n = 0; n < image.size(); ++n) {
      // A copy of exactly n bytes, so that ASan sees every read past them.
      std::unique_ptr<char[]> prefix(new char[n == 0 ? 1 : n]);
      std::memcpy(prefix.get(), image.data(), n);
      Module* out = nullptr;
      EXPECT_FALSE(module_read_image(prefix.get(), n, env.symtable(), &out)) << n;
      EXPECT_EQ(out, nullptr);
    }
  }

  const size_t header = 6 + 10 + path.native().size() + 16;
  for (size_t n : {size_t{3}, header - 1, header, compiled.size() / 2, compiled.size() - 1}) {
    SCOPED_TRACE(n);
    write_bytes(file, compiled.substr(0, n));
    Module* out = nullptr;
    EXPECT_FALSE(module_load_from_cache(env.runtime, String(path), env.symtable(), &out));
    String name;
    int64_t time = 0, symbols = 0;
    const Charset* charset = nullptr;
    EXPECT_EQ(module_load_header_from_disk(file, &name, &time, &charset, &symbols), n >= header);
  }
}

// Damage at known places of the sample image (module name "m"): the header is 6 + 11 + 16 = 33
// bytes, the program record starts there (marker, length, name index, parameters, offsets, count,
// operations).
TEST_F(ModuleFile, DamagedFilesAreUnusable) {
  const std::string image = sample_image(env, String("m"));
  const size_t record = 33, body = record + 9, operations = body + 8 + 4 + 4 + 12 + 8;
  auto put = [](std::string s, size_t at, std::string bytes) { return s.replace(at, bytes.size(), bytes); };
  auto be64 = [](uint64_t v) {
    std::string s;
    for (int shift = 56; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
    return s;
  };
  size_t section = 0;
  for (size_t i = 25; i < 33; ++i) section = (section << 8) | static_cast<unsigned char>(image[i]);
  ASSERT_EQ(image[section], '\x3C');
  struct Case {
    const char* what;
    std::string image;
  };
  const std::vector<Case> cases = {
      {"wrong magic", put(image, 0, "QY")},
      {"wrong version", put(image, 4, std::string("\x01\x00", 2))},
      {"name charset id outside the table", put(image, 6, std::string("\0\x09", 2))},
      {"name size beyond the file", put(image, 8, be64(~uint64_t{0}))},
      {"symbol section offset beyond the file", put(image, 25, be64(image.size()))},
      {"symbol section offset into the header", put(image, 25, be64(3))},
      {"symbol section marker wrong", put(image, section, "2")},
      {"symbol section length short", put(image, section + 1, be64(15))},
      {"symbol section length beyond the file", put(image, section + 1, be64(image.size()))},
      {"symbol count wrong", put(image, section + 9, be64(3))},
      {"record length zero", put(image, record + 1, be64(0))},
      {"record length beyond the file", put(image, record + 1, be64(~uint64_t{0} - 3))},
      {"record length one short", put(image, record + 1, be64(section - record - 1 - 1))},
      {"record length one long", put(image, record + 1, be64(section - record - 1 + 1))},
      {"program name index undefined", put(image, body, be64(99))},
      {"offset entry count huge", put(image, body + 12, std::string("\xFF\xFF\xFF\xFF", 4))},
      {"offset entry symbol undefined", put(image, body + 16, be64(0))},
      {"operation count huge", put(image, body + 28, be64(~uint64_t{0}))},
      {"unknown file opcode", put(image, operations, std::string("\0\x2E", 2))},
      {"file opcode without codec", put(image, operations, std::string("\0\x27", 2))},
      {"file opcode beyond the table", put(image, operations, std::string("\xFF\xFF", 2))},
      {"string charset id outside the table", put(image, operations + 6, std::string("\0\x63", 2))},
      {"string size huge", put(image, operations + 8, be64(uint64_t{1} << 62))},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.image.size(), image.size()) << c.what;
    ASSERT_NE(c.image, image) << c.what;
    Module* out = nullptr;
    EXPECT_FALSE(module_read_image(c.image.data(), c.image.size(), env.symtable(), &out)) << c.what;
    EXPECT_EQ(out, nullptr) << c.what;
  }
}

}  // namespace
}  // namespace qzbase
