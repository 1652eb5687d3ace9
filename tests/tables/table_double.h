// table_double.h - an in-memory Table_Object for the base's navigation: records in a vector with
// deleted flags, and an ordered key list standing in for an index tag (seek_lowlevel and the key
// reads). Field 0 is KEY (the record's key as text), field 1 is N (an integer); further fields are
// computed by functions a test supplies, so reading one can move tables or fail.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "objects/class_registry.h"
#include "platform/file.h"
#include "tables/table_object.h"
#include "vm/symtable.h"
#include "vm/vm_stack.h"

namespace qzbase::testing_tables {

struct MemRecord {
  std::string key;
  int64_t n = 0;
  bool deleted = false;
};

class MemTable : public Table_Object {
 public:
  using computed_field = std::function<void(Variant* out)>;

  MemTable(VmStack* stack, std::vector<MemRecord> records, std::string name = "mem.dbf",
           std::vector<std::pair<std::string, computed_field>> computed = {})
      : Table_Object(find_bare_class(stack, String("File"))),
        records(std::move(records)),
        name_(std::move(name)),
        computed_(std::move(computed)),
        file_(String(name_.c_str()), OpenMode{}) {
    Symtable* symtable = stack->symtable;
    set_field_symbol(0, symtable->symbolize("KEY"));
    set_field_symbol(1, symtable->symbolize("N"));
    for (size_t i = 0; i < computed_.size(); ++i) set_field_symbol(2 + i, symtable->symbolize(computed_[i].first.c_str()));
    charset = Charset::utf8;
    reorder();
    movefirst_lowlevel();
  }

  // Selects the key order (true) or the physical order.
  void set_order(bool by_key) {
    ordered = by_key;
    reorder();
    movefirst_lowlevel();
  }
  // The record number under the cursor (reccount + 1 at EOF).
  size_t recno() override { return eof_ ? records.size() + 1 : order_[pos_] + 1; }
  size_t reccount() override { return records.size(); }
  bool bof_lowlevel() override { return bof_; }
  bool eof_lowlevel() override { return eof_; }
  bool deleted() override { return !eof_ && records[order_[pos_]].deleted; }

  void movefirst_lowlevel() override {
    bof_ = eof_ = order_.empty();
    pos_ = 0;
  }
  void movelast_lowlevel() override {
    bof_ = eof_ = order_.empty();
    pos_ = order_.empty() ? 0 : order_.size() - 1;
  }
  void movenext_lowlevel() override {
    bof_ = false;
    if (eof_) return;
    if (pos_ + 1 >= order_.size()) {
      pos_ = order_.size();
      eof_ = true;
    } else {
      ++pos_;
    }
  }
  void moveprevious_lowlevel() override {
    if (eof_) {
      eof_ = false;
      if (order_.empty()) {
        bof_ = eof_ = true;
      } else {
        pos_ = order_.size() - 1;
      }
      return;
    }
    if (pos_ == 0) {
      bof_ = true;
    } else {
      --pos_;
    }
  }
  void movetoeof() override {
    pos_ = order_.size();
    eof_ = true;
    bof_ = false;
  }
  void go(VmStack*, int64_t recno) override {
    auto it = std::find(order_.begin(), order_.end(), static_cast<size_t>(recno - 1));
    if (it == order_.end()) {
      movetoeof();
      return;
    }
    pos_ = static_cast<size_t>(it - order_.begin());
    bof_ = eof_ = false;
  }

  // The seek of an ascending tag: forward the first key not below the searched bytes (above
  // them when the bound is exclusive), backward the last key not above them (below). Found when
  // the first length bytes match, or on a nearer key with an exclusive bound; the cursor stays
  // on the nearer key when found or near, else goes to EOF.
  bool seek_lowlevel(VmStack*, const char* key, size_t length, SeekRng range, SeekDir dir, bool near) override {
    if (!ordered) throw RuntimeError(26);
    ++seeks;
    const std::string k(key, length);
    const bool exclusive = range == SEEK_RNG_OPEN;
    auto cmp = [&](size_t i) { return records[order_[i]].key.compare(0, length, k); };
    size_t hit = order_.size();
    if (dir != SEEK_DIR_BACKWARD) {
      for (size_t i = 0; i < order_.size(); ++i) {
        int c = cmp(i);
        if (exclusive ? c > 0 : c >= 0) {
          hit = i;
          break;
        }
      }
    } else {
      for (size_t i = order_.size(); i-- > 0;) {
        int c = cmp(i);
        if (exclusive ? c < 0 : c <= 0) {
          hit = i;
          break;
        }
      }
    }
    if (hit == order_.size()) {
      movetoeof();
      return false;
    }
    const bool ok = cmp(hit) == 0 || exclusive;
    if (ok || near) {
      pos_ = hit;
      bof_ = eof_ = false;
    } else {
      movetoeof();
    }
    return ok;
  }

  size_t get_index_key(char* buffer, size_t size) override {
    if (eof_ || order_.empty()) return 0;
    const std::string& k = records[order_[pos_]].key;
    size_t n = std::min(size, k.size());
    std::memcpy(buffer, k.data(), n);
    return n;
  }
  size_t eval_index_key(VmStack*, char* buffer, size_t size) override {
    ++key_evaluations;
    return get_index_key(buffer, size);
  }
  size_t create_index_key(const Variant* value, char* buffer, size_t size, bool) override {
    if (value->tag != VT_STRING) throw RuntimeError(11);
    size_t n = std::min(size, value->string.size());
    std::memcpy(buffer, value->string.read(), n);
    return n;
  }
  SeekDir get_index_dir() override { return SEEK_DIR_FORWARD; }
  bool is_index_scan() override { return ordered; }

  void get_field(uint16_t field, Variant* result) override {
    ++field_reads;
    if (field >= 2) {
      computed_.at(field - 2).second(result);
      return;
    }
    if (eof_) {
      if (field == 0) result->set_string(String(""));
      if (field == 1) result->set_integer(0);
      return;
    }
    const MemRecord& r = records[order_[pos_]];
    if (field == 0) {
      result->set_string(String(r.key.data(), r.key.size(), Charset::utf8));
    } else {
      result->set_integer(static_cast<long>(r.n));
    }
  }
  void get_field_info(size_t field, fielddef_st* out) override {
    *out = fielddef_st{};
    const std::string name = field == 0 ? "KEY" : field == 1 ? "N" : computed_.at(field - 2).first;
    std::strncpy(out->name, name.c_str(), sizeof out->name - 1);
    out->type = field == 1 ? FIELDINFO_INTEGER : FIELDINFO_CHAR;
    out->length = field == 1 ? 4 : 10;
  }
  FieldinfoType get_field_type(size_t field) override { return field == 1 ? FIELDINFO_INTEGER : FIELDINFO_CHAR; }
  size_t cnt_fields() override { return 2 + computed_.size(); }

  void set_field_integer(uint16_t field, integer_type_st value) override {
    writes.push_back("I" + std::to_string(field) + "=" + std::to_string(value.value));
  }
  void set_field_string(uint16_t field, String value) override {
    writes.push_back("C" + std::to_string(field) + "=" + value.u8str());
  }
  void set_field_null(uint16_t field) override { writes.push_back("X" + std::to_string(field)); }
  void set_field_bool(uint16_t field, bool value) override {
    writes.push_back("L" + std::to_string(field) + "=" + (value ? "T" : "F"));
  }
  void set_field_numeric(uint16_t field, numeric_type_st) override { writes.push_back("N" + std::to_string(field)); }
  void set_field_datetime(uint16_t field, const datetime_st&) override { writes.push_back("T" + std::to_string(field)); }
  void set_field_date(uint16_t field, const date_st& value) override {
    writes.push_back("D" + std::to_string(field) + "=" + std::to_string(value.day));
  }
  void set_field_money(uint16_t field, money_type_st) override { writes.push_back("Y" + std::to_string(field)); }

  String filename() override { return String(name_.c_str()); }
  const File* get_file() const override { return &file_; }
  int close(bool final) override {
    closes.push_back(final);
    return 0;
  }
  bool lock_lowlevel() override { return lock_result; }

  // Unused by the base's navigation.
  void get_old_value(uint16_t, Variant*) override { throw RuntimeError(1001); }
  void get_blank(uint16_t, Variant*) override { throw RuntimeError(1001); }
  void get_chars(uint16_t, char*, size_t*, const Charset**) override { throw RuntimeError(1001); }
  size_t get_memo_size(uint16_t) override { return 0; }
  void set_field_readonly(uint16_t, bool) override {}
  bool isrlocked() override { return false; }
  bool isrlocked(size_t) override { return false; }
  bool unlock() override { return true; }
  void unlock_all() override {}
  void begin_append() override {}
  void delete_record() override {}
  void recall_record() override {}
  void create_index(VmStack*, const createopts_st*, const internal_indexdef_st*) override {}
  void select_index_tag(VmStack*, String, SeekDir) override {}
  void select_index(VmStack*, size_t, SeekDir) override {}
  void unselect_index() override {}
  size_t cnt_indizes() override { return 0; }
  bool get_index_info(size_t, internal_indexdef_st*) override { return false; }
  bool get_current_index_info(internal_indexdef_st*) override { return false; }
  double get_index_pos() override { return 0; }
  size_t get_leaf_num_keys() override { return 0; }
  size_t get_leaf_key_num() override { return 0; }
  size_t get_compact_max_prefix() override { return 0; }
  size_t get_compact_max_suffix() override { return 0; }
  bool descending() override { return false; }
  void copyto(VmStack*, const String&, bool) override {}
  void remove() override {}
  bool seek_record(const Variant*, size_t) override { return false; }
  void last_modified_yyyymmdd(int*, int*, int*) override {}
  int get_version() override { return 0; }
  int codepage() override { return 0; }
  void update(VmStack*) override {}
  void revert() override {}

  std::vector<MemRecord> records;
  bool ordered = false;
  bool lock_result = true;
  size_t field_reads = 0;
  size_t key_evaluations = 0;
  size_t seeks = 0;
  std::vector<std::string> writes;
  std::vector<bool> closes;

 private:
  void reorder() {
    order_.resize(records.size());
    std::iota(order_.begin(), order_.end(), size_t{0});
    if (ordered) {
      std::stable_sort(order_.begin(), order_.end(),
                       [&](size_t a, size_t b) { return records[a].key < records[b].key; });
    }
  }

  std::string name_;
  std::vector<std::pair<std::string, computed_field>> computed_;
  FileRamdisk file_;
  std::vector<size_t> order_;
  size_t pos_ = 0;
  bool bof_ = false;
  bool eof_ = false;
};

}  // namespace qzbase::testing_tables
