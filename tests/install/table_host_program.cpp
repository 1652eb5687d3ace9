// table_host_program.cpp - a host that reaches tables through the exported table-handle
// interface alone (qzbase.h, the installed library): creating, field access of every type,
// navigation, deletion, locks, tags, seeks and scopes, opening by path, renaming and dropping.
#include <qzbase.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace qzbase;

namespace {

VmStack* stack = nullptr;

template <typename F>
int code_of(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.code;
  }
  return 0;
}

template <typename F>
void report(const char* what, F&& f) {
  std::printf("%s -> %d\n", what, code_of(f));
}

fielddef_st field(const char* name, FieldinfoType type, size_t length = 0, size_t decimals = 0) {
  fielddef_st f;
  std::memset(&f, 0, sizeof f);
  std::strncpy(f.name, name, sizeof f.name - 1);
  f.type = type;
  f.length = length;
  f.length_omitted = length == 0;
  f.decimals = decimals;
  f.decimals_omitted = decimals == 0 && type != FIELDINFO_NUMERIC;
  return f;
}

std::string text(void* t, size_t n) {
  char buffer[64];
  size_t size = sizeof buffer;
  const Charset* cs = nullptr;
  GetFieldText(t, n, buffer, &size, &cs);
  return std::string(buffer, size);
}

std::string money(void* t, size_t n) {
  char buffer[64];
  size_t size = sizeof buffer;
  GetFieldMoneyString(t, n, buffer, &size);
  return std::string(buffer, size);
}

bool exists(const char* name) { return access(name, F_OK) == 0; }

enum { NAME, QTY, PRICE, BORN, SEEN, OK, NOTE, RATE, AUTO, RAW };

void print_record(void* t) {
  size_t y = 0, m = 0, d = 0, h = 0, i = 0, s = 0;
  std::printf("#%zu name=[%s] qty=%d price=%s", RecordNumber(t), text(t, NAME).c_str(), GetFieldInt32(t, QTY),
              money(t, PRICE).c_str());
  if (IsFieldNull(t, BORN)) {
    std::printf(" born=null");
  } else {
    GetFieldDateYMD(t, BORN, &y, &m, &d, nullptr);
    std::printf(" born=%zu-%zu-%zu", y, m, d);
  }
  GetFieldDateTimeYMDHIS(t, SEEN, &y, &m, &d, &h, &i, &s, nullptr);
  std::printf(" seen=%zu-%zu-%zu %zu:%zu:%zu ok=%d rate=%.2f auto=%d memo=%zu\n", y, m, d, h, i, s,
              GetFieldLogical(t, OK), GetFieldDouble(t, RATE), GetFieldInt32(t, AUTO), GetMemoSize(t, NOTE));
}

}  // namespace

int main() {
  char dir[] = "/tmp/qz_table_host_XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) return 1;
  Screen* screen = CreateScreen(0);
  Runtime* runtime = CreateRuntime(screen);
  GetMainStack(runtime, &stack);

  fielddef_st fields[] = {field("NAME", FIELDINFO_CHAR, 10), field("QTY", FIELDINFO_INTEGER),
                          field("PRICE", FIELDINFO_CURRENCY),  field("BORN", FIELDINFO_DATE),
                          field("SEEN", FIELDINFO_DATETIME),   field("OK", FIELDINFO_LOGICAL),
                          field("NOTE", FIELDINFO_MEMO),       field("RATE", FIELDINFO_DOUBLE, 0, 2),
                          field("AUTO", FIELDINFO_INTEGER),    field("RAW", FIELDINFO_CHAR, 6)};
  fields[BORN].null_mode = FIELDINFO_NULL;
  fields[AUTO].autoinc = 1;
  fields[AUTO].autoinc_next = 5;
  fields[AUTO].autoinc_next_given = 1;
  fields[AUTO].autoinc_step = 2;
  fields[AUTO].autoinc_step_given = 1;
  fields[RAW].binary = 1;
  createopts_st options;
  std::memset(&options, 0, sizeof options);
  options.codepage = 1252;
  options.blocksize = 64;
  void* t = CreateTable(stack, String("items"), &options, fields, sizeof fields / sizeof *fields, nullptr, 0);

  std::printf("fields %zu, qty is %zu, auto next %zu step %zu\n", GetFieldCount(t), GetFieldNum(t, String("qty")),
              GetNextAutoInc(t, AUTO), GetAutoIncStep(t, AUTO));
  report("GetFieldNum(missing)", [&] { GetFieldNum(t, String("missing")); });
  fielddef_st info;
  GetFieldInfo(t, NAME, &info);
  std::printf("field 0: %s type %d length %zu\n", info.name, info.type, info.length);
  std::printf("charset is cp1252: %s\n", GetTableCharset(t) == GetCharsetByWindowsCodepage(1252) ? "yes" : "no");

  // Three records with a value of every type.
  const char* names[] = {"apple", "pear", "plum"};
  for (int r = 0; r < 3; ++r) {
    BeginAppendRecord(t, 0);
    SetFieldText(t, NAME, names[r], std::strlen(names[r]), Charset::utf8);
    SetFieldInt32(t, QTY, (r + 1) * 10);
    char price[] = "12.3456";
    SetFieldMoneyString(t, PRICE, price, std::strlen(price));
    if (r == 1) {
      SetFieldNull(t, BORN);
    } else {
      SetFieldDateYMD(t, BORN, 2024, 2, 29 - static_cast<size_t>(r), false);
    }
    SetFieldDateTimeYMDHIS(t, SEEN, 2024, 3, 1, 13, 14, 15 + r);
    SetFieldLogical(t, OK, r != 1);
    std::string memo(static_cast<size_t>(r + 1) * 100, 'm');
    SetFieldBinary(t, NOTE, memo.data(), memo.size());
    SetFieldDouble(t, RATE, 1.25 * (r + 1));
    SetFieldBinary(t, RAW, "\x01\x02\xff", 3);
    TableUpdate(stack, t, 0);
  }
  // Dates that do not exist are refused, never rolled over into the next month or year; the
  // record keeps its values (shown after the revert below).
  struct BadDate {
    const char* what;
    intptr_t year;
    size_t month, day;
  };
  const BadDate bad_dates[] = {
      {"2023-00-05", 2023, 0, 5},  {"2023-02-29", 2023, 2, 29}, {"2024-02-30", 2024, 2, 30},
      {"2023-04-31", 2023, 4, 31}, {"2023-13-01", 2023, 13, 1}, {"2023-01-32", 2023, 1, 32},
      {"2023-(2^32+1)-01", 2023, (size_t{1} << 32) + 1, 1},
  };
  for (const BadDate& b : bad_dates) {
    report((std::string("SetFieldDateYMD(") + b.what + ")").c_str(),
           [&] { SetFieldDateYMD(t, BORN, b.year, b.month, b.day, false); });
  }
  report("SetFieldDateTimeYMDHIS(hour 25)", [&] { SetFieldDateTimeYMDHIS(t, SEEN, 2024, 1, 1, 25, 0, 0); });
  report("SetFieldDateTimeYMDHIS(2023-02-29)", [&] { SetFieldDateTimeYMDHIS(t, SEEN, 2023, 2, 29, 10, 0, 0); });
  report("SetFieldDateTimeYMDHIS(month -1)", [&] { SetFieldDateTimeYMDHIS(t, SEEN, 2023, -1, 1, 10, 0, 0); });
  report("SetFieldDateTimeYMDHIS(minute 2^32)", [&] { SetFieldDateTimeYMDHIS(t, SEEN, 2023, 1, 1, 10, 1L << 32, 0); });
  TableRevert(t, 0);
  std::printf("records %zu, size %s, times %s\n", RecordCount(t), GetTableFileSize(t) > 0 ? "set" : "zero",
              TableLastModified(t) > 0 && TableCreateTime(t) > 0 ? "set" : "zero");

  GotoTop(stack, t);
  while (!Eof(t)) {
    print_record(t);
    Skip(stack, t, SKIP_DIR_FORWARD, 1);
  }
  // Binary reads: a short buffer gets a prefix and the full length.
  GotoRecord(stack, t, 1);
  char raw[8];
  size_t size = sizeof raw;
  GetFieldBinary(t, RAW, raw, &size);
  std::printf("raw %zu bytes: %02x %02x %02x %02x\n", size, raw[0] & 0xff, raw[1] & 0xff, raw[2] & 0xff,
              raw[3] & 0xff);
  char memo[40];
  std::memset(memo, 0, sizeof memo);
  size = 4;
  GetFieldBinary(t, NOTE, memo, &size);
  std::printf("memo cut: size %zu, copied [%s]\n", size, memo);
  Variant v;
  GetFieldVariant(t, QTY, &v);
  std::printf("qty as a variant: %d\n", VarGetInt(&v));
  ReleaseVar(stack, &v);

  // Navigation: backwards to BOF, then once more is 38.
  GotoBottom(stack, t);
  Skip(stack, t, SKIP_DIR_BACKWARD, 1);
  std::printf("back one: #%zu bof %d\n", RecordNumber(t), Bof(t));
  Skip(stack, t, SKIP_DIR_BACKWARD, 5);
  std::printf("back five: #%zu bof %d\n", RecordNumber(t), Bof(t));
  report("Skip backward at BOF", [&] { Skip(stack, t, SKIP_DIR_BACKWARD, 1); });
  GotoEof(t);
  std::printf("GotoEof: eof %d\n", Eof(t));

  // Deletion, SET DELETED, read-only fields, locks.
  GotoRecord(stack, t, 2);
  DeleteRecord(t);
  TableRevert(t, 0);
  std::printf("reverted delete: %d\n", IsRecordDeleted(t));
  DeleteRecord(t);
  TableUpdate(stack, t, 0);
  std::printf("deleted: %d\n", IsRecordDeleted(t));
  SetDeleted(stack, true);
  GotoTop(stack, t);
  Skip(stack, t, SKIP_DIR_FORWARD, 1);
  std::printf("with SET DELETED the second visible record is #%zu\n", RecordNumber(t));
  SetDeleted(stack, false);
  SetFieldReadonly(t, QTY, true);
  report("SetFieldInt32 on a read-only field", [&] { SetFieldInt32(t, QTY, 1); });
  SetFieldReadonly(t, QTY, false);
  SetFieldInt32(t, QTY, 99);
  TableUpdate(stack, t, 0);

  // Without tags: no keys, and a scope cannot be tested; ClearScope takes the bounds away again.
  std::printf("tags %zu\n", GetIndexCount(t));
  report("EvalIndexKey without an order", [&] {
    char key[16];
    size_t n = sizeof key;
    EvalIndexKey(stack, t, key, &n);
  });
  SetScope(stack, t, "a", 1, SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  SetScope(stack, t, "z", 1, SEEK_DIR_BACKWARD, SEEK_RNG_EQUAL);
  report("GotoTop with a scope and no order", [&] { GotoTop(stack, t); });
  ClearScope(stack, t);
  report("GotoTop after ClearScope", [&] { GotoTop(stack, t); });
  UnselectIndex(t);
  CloseTable(stack, t);

  // Tags: made with the table, described, walked, sought and scoped.
  fielddef_st pair[] = {field("NAME", FIELDINFO_CHAR, 6), field("QTY", FIELDINFO_INTEGER)};
  char tag1[] = "BYNAME", key1[] = "UPPER(NAME)", tag2[] = "BIG", key2[] = "QTY", for2[] = "QTY > 10";
  indexdef_st tags[2];
  std::memset(tags, 0, sizeof tags);
  tags[0].tag_name = tag1;
  tags[0].key_expression = key1;
  tags[1].tag_name = tag2;
  tags[1].key_expression = key2;
  tags[1].for_expression = for2;
  void* g = CreateTable(stack, String("tagged"), &options, pair, 2, tags, 2);
  const char* fruit[] = {"pear", "apple", "fig", "kiwi"};
  const int qty[] = {5, 20, 30, 15};
  for (int r = 0; r < 4; ++r) {
    BeginAppendRecord(g, 0);
    SetFieldText(g, 0, fruit[r], std::strlen(fruit[r]), Charset::utf8);
    SetFieldInt32(g, 1, qty[r]);
    TableUpdate(stack, g, 0);
  }
  std::printf("tags %zu\n", GetIndexCount(g));
  for (size_t n = 0; n < GetIndexCount(g); ++n) {
    indexdef_st* d = GetIndexInfo(g, n);
    std::printf("  %s key %s flag %d for [%s] collation [%s] unique %d candidate %d binary %d\n", d->tag_name,
                d->key_expression, d->key_flag, d->for_expression, d->collation_name, d->unique, d->candidate,
                d->binary);
    FreeIndexInfo(d);
  }
  auto walk = [&](const char* what) {
    std::printf("%s:", what);
    for (GotoTop(stack, g); !Eof(g); Skip(stack, g, SKIP_DIR_FORWARD, 1)) std::printf(" %s", text(g, 0).c_str());
    std::printf("\n");
  };
  SelectIndex(stack, g, 0);
  walk("by name");
  GotoTop(stack, g);
  char key[32];
  size_t key_size = sizeof key;
  EvalIndexKey(stack, g, key, &key_size);
  std::printf("first key %zu bytes:", key_size);
  for (size_t i = 0; i < key_size; ++i) std::printf(" %02x", key[i] & 0xff);
  char stored[32];
  size_t stored_size = sizeof stored;
  GetIndexKey(g, stored, &stored_size);
  std::printf(", stored the same: %d, position %.2f\n",
              stored_size == key_size && std::memcmp(stored, key, key_size) == 0, GetIndexPos(g));
  // Raw keys of this tag: the first byte as in the key above, then the upper-case name.
  auto raw_key = [&](const char* name) { return std::string(1, key[0]) + name; };
  std::string k = raw_key("KIWI");
  bool found = SeekRawKey(stack, g, k.data(), k.size(), SEEK_RNG_EQUAL, SEEK_DIR_SELECTED, false);
  std::printf("seek KIWI: %d #%zu\n", found, RecordNumber(g));
  k = raw_key("LIME");
  found = SeekRawKey(stack, g, k.data(), k.size(), SEEK_RNG_EQUAL, SEEK_DIR_SELECTED, false);
  std::printf("seek LIME: %d eof %d\n", found, Eof(g));
  found = SeekRawKey(stack, g, k.data(), k.size(), SEEK_RNG_EQUAL, SEEK_DIR_SELECTED, true);
  std::printf("seek LIME near: %d #%zu\n", found, RecordNumber(g));
  const std::string low = raw_key("F"), high = raw_key("K");
  SetScope(stack, g, low.data(), low.size(), SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  SetScope(stack, g, high.data(), high.size(), SEEK_DIR_BACKWARD, SEEK_RNG_EQUAL);
  walk("scoped F to K");
  // Bounds that no key starts with: the keys between them are still in scope, at either end.
  const std::string below = raw_key("B"), between = raw_key("J");
  SetScope(stack, g, below.data(), below.size(), SEEK_DIR_FORWARD, SEEK_RNG_EQUAL);
  SetScope(stack, g, between.data(), between.size(), SEEK_DIR_BACKWARD, SEEK_RNG_EQUAL);
  walk("scoped B to J");
  GotoBottom(stack, g);
  std::printf("bottom of B to J: %s\n", Eof(g) ? "EOF" : text(g, 0).c_str());
  ClearScope(stack, g);
  walk("scope cleared");
  SelectIndex(stack, g, 1);
  walk("big ones by qty");
  UnselectIndex(g);
  walk("physical");
  CloseTable(stack, g);
  DropTable(stack, String("tagged"));

  // A tag that cannot be made: its error, and no file of the table is left.
  char bad[] = "NOSUCHFIELD + 1";
  tags[0].key_expression = bad;
  report("CreateTable with an invalid key", [&] { CreateTable(stack, String("broken"), &options, pair, 2, tags, 1); });
  std::printf("files left: %d %d\n", exists("broken.dbf"), exists("broken.cdx"));

  // By path: open, rename, drop.
  t = OpenTable(stack, String("items"));
  std::printf("opened again: %zu records\n", RecordCount(t));
  // Opened shared: record locks are taken and given back.
  GotoRecord(stack, t, 3);
  LockState state = LOCK_STATE_OUT_OF_RANGE;
  bool locked = LockCurrentRecord(stack, t, state);
  std::printf("locked %d state %d is locked %d\n", locked, state, IsCurrentRecordLocked(t));
  UnlockCurrentRecord(t);
  std::printf("after unlock %d\n", IsCurrentRecordLocked(t));
  LockCurrentRecord(stack, t, state);
  UnlockAll(t);
  std::printf("after unlock all %d\n", IsCurrentRecordLocked(t));
  // A deleted record is locked but reported out of range while SET DELETED is on.
  SetDeleted(stack, true);
  GotoRecord(stack, t, 2);
  locked = LockCurrentRecord(stack, t, state);
  std::printf("deleted record: locked %d state %d\n", locked, state);
  UnlockAll(t);
  SetDeleted(stack, false);
  CloseTable(stack, t);
  RenameTable(stack, String("items"), String("moved"));
  std::printf("renamed: %d %d %d\n", exists("items.dbf"), exists("moved.dbf"), exists("moved.fpt"));
  fielddef_st one[] = {field("K", FIELDINFO_INTEGER)};
  CloseTable(stack, CreateTable(stack, String("other"), &options, one, 1, nullptr, 0));
  report("RenameTable onto an existing table", [&] { RenameTable(stack, String("moved"), String("other")); });

  // Another process holds the table: DropTable is refused and leaves every file.
  int ready[2], done[2];
  if (pipe(ready) != 0 || pipe(done) != 0) return 1;
  pid_t child = fork();
  if (child == 0) {
    int fd = open("moved.dbf", O_RDONLY);
    flock(fd, LOCK_SH);
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(1);
    if (read(done[0], &c, 1) != 1) _exit(1);
    _exit(0);
  }
  char c = 0;
  if (read(ready[0], &c, 1) != 1) return 1;
  report("DropTable while another process holds it", [&] { DropTable(stack, String("moved")); });
  std::printf("still there: %d %d\n", exists("moved.dbf"), exists("moved.fpt"));
  if (write(done[1], &c, 1) != 1) return 1;
  waitpid(child, nullptr, 0);
  DropTable(stack, String("moved"));
  std::printf("dropped: %d %d\n", exists("moved.dbf"), exists("moved.fpt"));
  DropTable(stack, String("other"));

  ReleaseRuntime(runtime);
  ReleaseScreen(screen);
  if (chdir("/") != 0 || rmdir(dir) != 0) std::printf("directory not empty\n");
  return 0;
}
