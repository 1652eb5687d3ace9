// The built-in library's registration, lookups, deducers, system variables, classes and hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "builtins_support.h"
#include "builtins/library.h"
#include "builtins/registry.h"
#include "builtins/tables.h"
#include "frontend/syntax_tables.h"
#include "objects/class.h"
#include "tables/data_session.h"
#include "platform/errors.h"

namespace qzbase {
namespace {

using namespace testing_builtins;

TEST(BuiltinRegistry, CountsMatchAndEveryNameAndAbbreviationIsRegistered) {
  RuntimeFixture f;
  Library* lib = f.runtime->builtin_library();
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(builtin_function_count, 251u);
  EXPECT_EQ(builtin_command_count, 71u);
  EXPECT_EQ(builtin_result_width_count, 7u);
  EXPECT_EQ(builtin_sysvar_count, 85u);
  EXPECT_EQ(builtin_class_count, 15u);  // "Map.ForwardIterator" among them: FOR EACH over a map needs it
  EXPECT_EQ(lib->function_count(), 251u);
  EXPECT_EQ(lib->command_count(), 71u);
  EXPECT_EQ(lib->width_deducer_count(), 7u);
  EXPECT_EQ(lib->sysvar_count(), 85u);
  EXPECT_EQ(lib->class_count(), 15u);
  // Registration raises on a clash, so reaching here proves the table clash-free; the key count
  // proves no prefix was dropped.
  size_t keys = 0;
  size_t abbreviated = 0;
  for (const module_function_st* row = builtin_functions; row->name; ++row) {
    keys += 1 + (row->abbreviation ? std::strlen(row->name) - row->abbreviation : 0);
    abbreviated += row->abbreviation != 0;
  }
  EXPECT_EQ(abbreviated, 14u);
  EXPECT_EQ(lib->abbreviation_count(), keys);
}

TEST(BuiltinRegistry, FunctionLookupByNameAndAbbreviation) {
  RuntimeFixture f;
  Library* lib = f.runtime->builtin_library();
  struct Case {
    const char* key;
    const char* found;  // null: not a function name
  } cases[] = {
      {"subs", "substr"},         {"SUBST", "substr"},     {"substr", "substr"},   {"sub", nullptr},
      {"substrc", "substrc"},     {"filet", "filetostr"},  {"filetost", "filetostr"}, {"file", "file"},
      {"strtof", "strtofile"},    {"strto", "strtofile"},  {"strt", "strtran"},      {"json.encode", "Json.Encode"},
      {"PROG", "program"},        {"pro", nullptr},        {"alltrim", "alltrim"}, {"allt", "alltrim"},
      {"sele", "select"},         {"sel", nullptr},        {"seco", "seconds"},    {"at_", nullptr},
  };
  for (const Case& c : cases) {
    const library_func_def_st* def = lib->find_function(String(c.key));
    if (c.found == nullptr) {
      EXPECT_EQ(def, nullptr) << c.key;
    } else {
      ASSERT_NE(def, nullptr) << c.key;
      EXPECT_EQ(def->name.u8str(), c.found) << c.key;
    }
  }
  // Aliases are separate rows with one entry point.
  EXPECT_EQ(lib->find_function(String("at"))->function, lib->find_function(String("at_c"))->function);
  EXPECT_EQ(lib->find_function(String("substr"))->signature.required_count, 2u);
  EXPECT_NE(lib->find_command(String("SET_ORDER_TO")), nullptr);
  EXPECT_EQ(lib->find_command(String("set_order")), nullptr);
}

TEST(BuiltinRegistry, EveryFrontEndCommandHasARowTakingItsGrammarsArguments) {
  RuntimeFixture f;
  Library* lib = f.runtime->builtin_library();
  for (const basic_command_st& row : command_table) {
    const library_command_def_st* def = lib->find_command(String(row.name));
    ASSERT_NE(def, nullptr) << row.name;
    // Every grammar option (a flag group counts once) is one argument.
    size_t options = 0;
    bool in_group = false;
    std::string g = row.grammar ? row.grammar : "";
    for (size_t i = 0; i < g.size(); ++i) {
      if (g[i] == '(') in_group = true;
      if (g[i] == ')') in_group = false;
      if ((g[i] == ',' && !in_group) || i + 1 == g.size()) ++options;
    }
    EXPECT_EQ(def->signature.entry_count, options) << row.name;
  }
}

TEST(BuiltinRegistry, StubsRaise1001WithTheirName) {
  RuntimeFixture f;
  Library* lib = f.runtime->builtin_library();
  auto e = error_of(
      [&] { call(f.stack, lib->find_function(String("dtor"))->function, {integer(1)}).release(f.stack); });
  EXPECT_EQ(e.first, 1001);
  EXPECT_EQ(e.second, "dtor");
  EXPECT_EQ(error_message_formatted(1001, String("dtor")).u8str(), "Feature 'dtor' is not available.");
  e = error_of([&] { call(f.stack, lib->find_function(String("lupdate"))->function, {}).release(f.stack); });
  EXPECT_EQ(e, std::make_pair(1001, std::string("lupdate")));
  // INDEX ON is no stub any more: it reaches for its table.
  e = error_of([&] {
    run(f.stack, lib->find_command(String("index"))->function,
        {integer(0), str("n"), str("t"), null_value(), null_value()});
  });
  EXPECT_EQ(e.first, 52);
}

TEST(BuiltinRegistry, SystemVariables) {
  RuntimeFixture f;
  Library* lib = f.runtime->builtin_library();
  auto read = [&](const char* name) { return call(f.stack, lib->find_sysvar_reader(String(name))->function, {}); };
  EXPECT_EQ(read("_UNIX").tag, VT_TRUE);
  for (const char* name : {"_DOS", "_MAC", "_WINDOWS"}) EXPECT_EQ(read(name).tag, VT_FALSE) << name;
  auto e = error_of([&] { read("_PAGENO"); });
  EXPECT_EQ(e, std::make_pair(1001, std::string("Read system variable")));
  EXPECT_EQ(error_message_formatted(1001, String(e.second.c_str())).u8str(),
            "Feature 'Read system variable' is not available.");
  for (const module_sysvar_st* row = builtin_sysvars; row->name; ++row) {
    const library_command_def_st* w = lib->find_sysvar_writer(String(row->name));
    ASSERT_NE(w, nullptr);
    e = error_of([&] { run(f.stack, w->function, {integer(1)}); });
    EXPECT_EQ(e, std::make_pair(1001, std::string("Write to system variable"))) << row->name;
  }
}

// The deducers as the compiler calls them.
compiler_type_info_st deduce(Library* lib, const char* fn, std::vector<compiler_type_info_st> args,
                             std::vector<Variant> consts) {
  consts.resize(args.size());
  compiler_type_info_st out;
  lib->find_width_deducer(String(fn))(args.size(), args.data(), consts.data(), &out);
  return out;
}

TEST(BuiltinRegistry, ResultWidthDeducers) {
  RuntimeFixture f;
  Library* lib = f.runtime->builtin_library();
  const compiler_type_info_st s10{10, false, 10};
  const compiler_type_info_st s10null{10 | 16, false, 10};
  const compiler_type_info_st k{5, true, -1};
  const compiler_type_info_st var{5, false, -1};
  struct Case {
    const char* fn;
    std::vector<compiler_type_info_st> args;
    std::vector<Variant> consts;
    uint32_t type;
    bool known;
    int64_t width;
  } cases[] = {
      {"left", {s10, k}, {Variant(), integer(3)}, 10, false, 3},
      {"left", {s10null, var}, {}, 26, false, 10},
      {"substr", {s10, k}, {Variant(), integer(1)}, 10, false, 10},
      {"substr", {s10, k}, {Variant(), integer(4)}, 10, false, 7},
      {"substr", {s10, k}, {Variant(), integer(20)}, 10, false, 0},
      {"substr", {s10, var}, {}, 10, false, 10},
      {"substr", {s10, k, k}, {Variant(), integer(2), integer(5)}, 10, false, 5},
      {"substr", {s10, var, {5 | 16, false, -1}}, {}, 26, false, 10},
      {"rtrim", {s10null}, {}, 26, false, 10},
      {"trim", {s10, {10 | 16, false, 1}}, {}, 10, false, 10},
      {"alltrim", {{10, true, 4}}, {str("ab  ")}, 10, true, 4},
  };
  for (auto& c : cases) {
    compiler_type_info_st out = deduce(lib, c.fn, c.args, std::move(c.consts));
    EXPECT_EQ(out.type, c.type) << c.fn;
    EXPECT_EQ(out.constant, c.known) << c.fn;
    EXPECT_EQ(out.width, c.width) << c.fn;
  }
  compiler_type_info_st b = deduce(lib, "bintoc", {{5 | 16, true, -1}}, {null_value()});
  EXPECT_EQ(b.type, 26u);
  EXPECT_TRUE(b.constant);
  EXPECT_EQ(b.width, -1);
  compiler_type_info_st l = deduce(lib, "left", {{10, true, 10}, k}, {str("abcdefghij"), integer(2)});
  EXPECT_TRUE(l.constant);
  EXPECT_EQ(l.width, 2);
}

TEST(BuiltinRegistry, ClassesThroughTheLibrary) {
  RuntimeFixture f;
  String unknown("NoSuchClass");
  auto e = error_of([&] { GetClass(f.stack, &unknown); });
  EXPECT_EQ(e, std::make_pair(1733, std::string("NoSuchClass")));
  String session("SESSION");
  Class* cls = GetClass(f.stack, &session);
  EXPECT_EQ(cls->get_name().u8str(), "Session");
  ObjectPointer p = CreateObject(f.stack, String("session"), nullptr, 0);
  EXPECT_NE(dynamic_cast<DataSession_Object*>(p.get()), nullptr);
  p.release(f.stack);
  ObjectPointer x = CreateObject(f.stack, String("Exception"), nullptr, 0);
  EXPECT_NE(x.get(), nullptr);
  x.release(f.stack);
  ObjectPointer c = CreateObject(f.stack, String("collection"), nullptr, 0);
  EXPECT_EQ(c.get()->get_class()->get_name().u8str(), "Collection");
  c.release(f.stack);
  ObjectPointer m = CreateObject(f.stack, String("map.forwarditerator"), nullptr, 0);
  EXPECT_EQ(m.get()->get_class()->get_name().u8str(), "Map.ForwardIterator");
  m.release(f.stack);
  e = error_of([&] { CreateObject(f.stack, String("file"), nullptr, 0); });
  EXPECT_EQ(e, std::make_pair(9005, std::string("File")));
}

TEST(BuiltinRegistry, AttachKeepsTheFirstStateAndDetachFreesIt) {
  int64_t before = live_sql_environments();
  Runtime* rt = CreateRuntime(nullptr);
  FileHandleRegistry* files = find_file_handle_registry(rt);
  SqlSingleton* sql = find_sql_singleton(rt);
  EXPECT_NE(sql->environment, nullptr);
  EXPECT_EQ(live_sql_environments(), before + 1);
  attach_runtime(rt);  // a second attach: the new state is freed, the first kept
  EXPECT_EQ(find_file_handle_registry(rt), files);
  EXPECT_EQ(find_sql_singleton(rt), sql);
  EXPECT_EQ(live_sql_environments(), before + 1);
  ReleaseRuntime(rt);
  EXPECT_EQ(live_sql_environments(), before);
  // A runtime destroyed without shutdown detaches too.
  {
    Runtime local(nullptr);
    local.init();
    EXPECT_EQ(live_sql_environments(), before + 1);
  }
  EXPECT_EQ(live_sql_environments(), before);
}

}  // namespace
}  // namespace qzbase
