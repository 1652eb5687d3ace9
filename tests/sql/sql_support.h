// sql_support.h - a runtime whose result sets land in recorded cursors, and the private ODBC
// configuration of the SQL tests (QZ_SQL_STATE, written by sql_fixture.sh).
#pragma once

#include <gtest/gtest.h>
#include <qzbase.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "builtins/sql.h"
#include "values/julian.h"
#include "builtins_support.h"
#include "temp_dir.h"

namespace qzbase::testing_sql {

using testing_builtins::CaptureScreen;

// The PostgreSQL connection string of the private cluster.
inline std::string pg_connection() {
  const char* state = std::getenv("QZ_SQL_STATE");
  if (state == nullptr) return "";
  std::ifstream in(std::string(state) + "/pg.conn");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A result set as the cursor would have received it.
struct RecordedCursor {
  std::string alias;
  std::vector<fielddef_st> fields;
  std::vector<std::vector<Variant>> rows;
  bool moved_first = false;
};

// Every cursor made by the runtimes of the process, in order.
struct CursorLog {
  std::mutex mutex;
  std::vector<std::shared_ptr<RecordedCursor>> cursors;
  // Called while a row is appended, with the cursor's alias (threads tests watch overlaps).
  void (*on_append)(const std::string& alias) = nullptr;

  static CursorLog& get() {
    static CursorLog log;
    return log;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    cursors.clear();
  }
  std::vector<std::shared_ptr<RecordedCursor>> snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return cursors;
  }
};

class RecordingCursor : public SqlCursor {
 public:
  explicit RecordingCursor(std::shared_ptr<RecordedCursor> target) : target_(std::move(target)) {}
  void begin_append() override {
    row_.clear();
    row_.resize(target_->fields.size());
    if (CursorLog::get().on_append != nullptr) CursorLog::get().on_append(target_->alias);
  }
  void set_field_null(size_t i) override { put(i).set_null(); }
  void set_field_string(size_t i, const String& v) override { put(i).set_string(v); }
  void set_field_integer(size_t i, int64_t v) override { put(i).set_integer(static_cast<long>(v)); }
  void set_field_money(size_t i, const money_type_st& v) override { put(i).set(v); }
  void set_field_date(size_t i, date_st v) override { put(i).set(v); }
  void set_field_datetime(size_t i, datetime_st v) override { put(i).set(v); }
  void set_field_numeric(size_t i, const numeric_type_st& v) override { put(i).set(v); }
  void set_field_bool(size_t i, bool v) override { put(i).set_bool(v); }
  void update() override { target_->rows.push_back(std::move(row_)); }
  void movefirst() override { target_->moved_first = true; }

 private:
  Variant& put(size_t i) {
    EXPECT_LT(i, row_.size());
    EXPECT_TRUE(row_.at(i).empty()) << "field " << i << " stored twice";
    row_.at(i).release(nullptr);
    return row_.at(i);
  }
  std::shared_ptr<RecordedCursor> target_;
  std::vector<Variant> row_;
};

inline SqlCursor* record_cursor(VmStack*, const String& alias, const fielddef_st* fields, size_t count) {
  auto recorded = std::make_shared<RecordedCursor>();
  recorded->alias = alias.u8str();
  recorded->fields.assign(fields, fields + count);
  {
    std::lock_guard<std::mutex> lock(CursorLog::get().mutex);
    CursorLog::get().cursors.push_back(recorded);
  }
  return new RecordingCursor(recorded);
}

// The text of a recorded value: strings as UTF-8 (binary as bytes), other values as the language
// prints them is not needed here.
inline std::string text_of(const Variant& v) {
  if (v.tag != VT_STRING) return "<not a string>";
  return v.string.get_charset() == Charset::binary ? std::string(v.string.read(), v.string.size()) : v.string.u8str();
}

// A recorded value in a compact form: "null", "L:true", "I:5", "N:5.5", "Y:<raw>", "D:2024-02-29",
// "T:2024-02-29 13:45:30", "C:<UTF-8 text>", "B:<hex bytes>".
inline std::string describe(const Variant& v) {
  char buffer[64];
  switch (v.tag) {
    case VT_NULL: return "null";
    case VT_FALSE: return "L:false";
    case VT_TRUE: return "L:true";
    case VT_INTEGER: return "I:" + std::to_string(v.integer.value);
    case VT_NUMERIC: std::snprintf(buffer, sizeof buffer, "N:%.6g", v.numeric.value); return buffer;
    case VT_MONEY: return "Y:" + std::to_string(static_cast<long long>(v.money.value));
    case VT_DATE: {
      if (v.date.day == 0) return "D:empty";
      int y = 0, m = 0, d = 0;
      unserial_julian_date(v.date, &y, &m, &d);
      std::snprintf(buffer, sizeof buffer, "D:%04d-%02d-%02d", y, m, d);
      return buffer;
    }
    case VT_DATETIME: {
      if (v.datetime.day == 0) return "T:empty";
      int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
      unserial_julian_date(v.datetime, &y, &mo, &d, &h, &mi, &s, &ms);
      std::snprintf(buffer, sizeof buffer, "T:%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
      return buffer;
    }
    case VT_STRING: {
      if (v.string.get_charset() != Charset::binary) return "C:" + v.string.u8str();
      std::string hex = "B:";
      for (size_t i = 0; i < v.string.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(v.string.read()[i]));
        hex += buffer;
      }
      return hex;
    }
    default: return "?";
  }
}

// The type letter of a field definition.
inline char type_letter(const fielddef_st& f) {
  static const char letters[] = "?WCIYDTBGLMNFQV";
  return f.type < sizeof letters - 1 ? letters[f.type] : '?';
}

// A runtime whose result sets are recorded; scripts run on its main stack.
class SqlRuntime : public testing_builtins::RuntimeFixture {
 public:
  SqlRuntime() {
    find_sql_singleton(runtime)->create_cursor = record_cursor;
    CursorLog::get().clear();
  }
  // Runs the script as a program file; the output it printed (errors fail the test).
  std::string run(const std::string& script) {
    std::string err;
    std::string out = run_with_errors(script, &err);
    EXPECT_EQ(err, "") << script;
    return out;
  }
  // The same, keeping the error output.
  std::string run_with_errors(const std::string& script, std::string* err) {
    screen.out.clear();
    screen.err.clear();
    std::filesystem::path file = programs.write("p" + std::to_string(++count) + ".prg", script);
    RunProgram(runtime, String(file.string().c_str()));
    *err = screen.err;
    return screen.out;
  }
  testing_files::TempDir programs;
  int count = 0;
};

// A script that evaluates each expression in its own TRY: "<n> <value>" or "<n> error <number>"
// per line, n counting from 1.
inline std::string try_each(const std::vector<std::string>& expressions) {
  std::string script = "LOCAL e__\n";
  int n = 0;
  for (const std::string& x : expressions) {
    ++n;
    script += "TRY\n  ? " + std::to_string(n) + ", " + x + "\nCATCH TO e__\n  ? " + std::to_string(n) +
              ", 'error', e__.ErrorNo\nENDTRY\n";
  }
  return script;
}

// A connection string for an SQLite database file of its own.
inline std::string sqlite_connection(const testing_files::TempDir& dir, const char* name = "test.db") {
  return "DSN=qz_sqlite;Database=" + (dir.path / name).string();
}

}  // namespace qzbase::testing_sql
