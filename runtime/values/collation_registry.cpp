// collation_registry.cpp - the 77 collation records and the collation cache.
//
// The cache is a slot per record row (the first row of each COLID), read without a lock and filled
// under a mutex, so two threads that look up an uncached COLID at the same moment get one object.
// Everything here is constant-initialized (the record table, the atomic slots, the mutex), so the
// registry may be used from a library constructor before any dynamic initializer has run.
#include <atomic>
#include <mutex>

#include "values/charset_registry.h"
#include "values/collation.h"

namespace qzbase {

const collation_st collation_table[kCollationTableSize] = {
    {1, "unicode_machine", 39, 0, &generic_collation_factory<Unicode_Machine>},
    {1002, "unicode_machine_ci", 39, 0, &generic_collation_factory<Unicode_Machine_CI>},
    {3, "ibm_437_machine", 437, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {16003, "ibm_437_dutch_ci", 437, 16, &mapped_collation_factory<sizeof(codepage_437_dutch_ci_table), codepage_437_dutch_ci_table>},
    {2003, "ibm_437_general_ci", 437, 2, &mapped_collation_factory<sizeof(codepage_437_general_ci_table), codepage_437_general_ci_table>},
    {4003, "ibm_437_german_ci", 437, 4, &mapped_collation_factory<sizeof(codepage_437_german_ci_table), codepage_437_german_ci_table>},
    {7003, "ibm_437_iceland_ci", 437, 7, &mapped_collation_factory<sizeof(codepage_437_iceland_ci_table), codepage_437_iceland_ci_table>},
    {8003, "ibm_437_nordan_ci", 437, 8, &mapped_collation_factory<sizeof(codepage_437_nordan_ci_table), codepage_437_nordan_ci_table>},
    {15003, "ibm_437_spanish_ci", 437, 15, &mapped_collation_factory<sizeof(codepage_437_spanish_ci_table), codepage_437_spanish_ci_table>},
    {9003, "ibm_437_swefin_ci", 437, 9, &mapped_collation_factory<sizeof(codepage_437_swefin_ci_table), codepage_437_swefin_ci_table>},
    {5, "qz_620_machine", 620, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2005, "qz_620_general_ci", 620, 2, &mapped_collation_factory<sizeof(codepage_620_general_ci_table), codepage_620_general_ci_table>},
    {5005, "qz_620_polish_ci", 620, 5, &mapped_collation_factory<sizeof(codepage_620_polish_ci_table), codepage_620_polish_ci_table>},
    {4, "ibm_737_machine", 737, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {3004, "ibm_737_greek_ci", 737, 3, &mapped_collation_factory<sizeof(codepage_737_greek_ci_table), codepage_737_greek_ci_table>},
    {6, "ibm_850_machine", 850, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {16006, "ibm_850_dutch_ci", 850, 16, &mapped_collation_factory<sizeof(codepage_850_dutch_ci_table), codepage_850_dutch_ci_table>},
    {2006, "ibm_850_general_ci", 850, 2, &mapped_collation_factory<sizeof(codepage_850_general_ci_table), codepage_850_general_ci_table>},
    {7006, "ibm_850_iceland_ci", 850, 7, &mapped_collation_factory<sizeof(codepage_850_iceland_ci_table), codepage_850_iceland_ci_table>},
    {8006, "ibm_850_nordan_ci", 850, 8, &mapped_collation_factory<sizeof(codepage_850_nordan_ci_table), codepage_850_nordan_ci_table>},
    {15006, "ibm_850_spanish_ci", 850, 15, &mapped_collation_factory<sizeof(codepage_850_spanish_ci_table), codepage_850_spanish_ci_table>},
    {9006, "ibm_850_swefin_ci", 850, 9, &mapped_collation_factory<sizeof(codepage_850_swefin_ci_table), codepage_850_swefin_ci_table>},
    {7, "ibm_852_machine", 852, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2007, "ibm_852_general_ci", 852, 2, &mapped_collation_factory<sizeof(codepage_852_general_ci_table), codepage_852_general_ci_table>},
    {8, "ibm_857_machine", 857, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2008, "ibm_857_general_ci", 857, 2, &mapped_collation_factory<sizeof(codepage_857_general_ci_table), codepage_857_general_ci_table>},
    {6008, "ibm_857_turkish_ci", 857, 6, &mapped_collation_factory<sizeof(codepage_857_turkish_ci_table), codepage_857_turkish_ci_table>},
    {9, "ibm_861_machine", 861, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2009, "ibm_861_general_ci", 861, 2, &mapped_collation_factory<sizeof(codepage_861_general_ci_table), codepage_861_general_ci_table>},
    {7009, "ibm_861_iceland_ci", 861, 7, &mapped_collation_factory<sizeof(codepage_861_iceland_ci_table), codepage_861_iceland_ci_table>},
    {10, "ibm_865_machine", 865, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2010, "ibm_865_general_ci", 865, 2, &mapped_collation_factory<sizeof(codepage_865_general_ci_table), codepage_865_general_ci_table>},
    {8010, "ibm_865_nordan_ci", 865, 8, &mapped_collation_factory<sizeof(codepage_865_nordan_ci_table), codepage_865_nordan_ci_table>},
    {9010, "ibm_865_swefin_ci", 865, 9, &mapped_collation_factory<sizeof(codepage_865_swefin_ci_table), codepage_865_swefin_ci_table>},
    {11, "ibm_866_machine", 866, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {10011, "ibm_866_russian_ci", 866, 10, &mapped_collation_factory<sizeof(codepage_866_russian_ci_table), codepage_866_russian_ci_table>},
    {12, "windows_874_machine", 874, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {13, "qz_895_machine", 895, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2013, "qz_895_general_ci", 895, 2, &mapped_collation_factory<sizeof(codepage_895_general_ci_table), codepage_895_general_ci_table>},
    {12013, "qz_895_czech_ci", 895, 12, &mapped_collation_factory<sizeof(codepage_895_czech_ci_table), codepage_895_czech_ci_table>},
    {13013, "qz_895_slovak_ci", 895, 13, &mapped_collation_factory<sizeof(codepage_895_slovak_ci_table), codepage_895_slovak_ci_table>},
    {14, "windows_932_machine", 932, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {15, "windows_936_machine", 936, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {16, "windows_949_machine", 949, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {17, "windows_950_machine", 950, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {18, "windows_1250_machine", 1250, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2018, "windows_1250_general_ci", 1250, 2, &mapped_collation_factory<sizeof(codepage_1250_general_ci_table), codepage_1250_general_ci_table>},
    {5018, "windows_1250_polish_ci", 1250, 5, &mapped_collation_factory<sizeof(codepage_1250_polish_ci_table), codepage_1250_polish_ci_table>},
    {12018, "windows_1250_czech_ci", 1250, 12, &mapped_collation_factory<sizeof(codepage_1250_czech_ci_table), codepage_1250_czech_ci_table>},
    {13018, "windows_1250_slovak_ci", 1250, 13, &mapped_collation_factory<sizeof(codepage_1250_slovak_ci_table), codepage_1250_slovak_ci_table>},
    {14018, "windows_1250_hungary_ci", 1250, 14, &mapped_collation_factory<sizeof(codepage_1250_hungary_ci_table), codepage_1250_hungary_ci_table>},
    {19, "windows_1251_machine", 1251, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {10019, "windows_1251_russian_ci", 1251, 10, &mapped_collation_factory<sizeof(codepage_1251_russian_ci_table), codepage_1251_russian_ci_table>},
    {20, "windows_1252_machine", 1252, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2020, "windows_1252_general_ci", 1252, 2, &mapped_collation_factory<sizeof(codepage_1252_general_ci_table), codepage_1252_general_ci_table>},
    {4020, "windows_1252_german_ci", 1252, 4, &mapped_collation_factory<sizeof(codepage_1252_german_ci_table), codepage_1252_german_ci_table>},
    {8020, "windows_1252_nordan_ci", 1252, 8, &mapped_collation_factory<sizeof(codepage_1252_nordan_ci_table), codepage_1252_nordan_ci_table>},
    {15020, "windows_1252_spanish_ci", 1252, 15, &mapped_collation_factory<sizeof(codepage_1252_spanish_ci_table), codepage_1252_spanish_ci_table>},
    {9020, "windows_1252_swefin_ci", 1252, 9, &mapped_collation_factory<sizeof(codepage_1252_swefin_ci_table), codepage_1252_swefin_ci_table>},
    {21, "windows_1253_machine", 1253, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {3021, "windows_1253_greek_ci", 1253, 3, &mapped_collation_factory<sizeof(codepage_1253_greek_ci_table), codepage_1253_greek_ci_table>},
    {22, "windows_1254_machine", 1254, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2022, "windows_1254_general_ci", 1254, 2, &mapped_collation_factory<sizeof(codepage_1254_general_ci_table), codepage_1254_general_ci_table>},
    {6022, "windows_1254_turkish_ci", 1254, 6, &mapped_collation_factory<sizeof(codepage_1254_turkish_ci_table), codepage_1254_turkish_ci_table>},
    {23, "windows_1255_machine", 1255, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {24, "windows_1256_machine", 1256, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {25, "mac_10000_machine", 10000, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {16025, "mac_10000_dutch_ci", 10000, 16, &mapped_collation_factory<sizeof(codepage_10000_dutch_ci_table), codepage_10000_dutch_ci_table>},
    {2025, "mac_10000_general_ci", 10000, 2, &mapped_collation_factory<sizeof(codepage_10000_general_ci_table), codepage_10000_general_ci_table>},
    {4025, "mac_10000_german_ci", 10000, 4, &mapped_collation_factory<sizeof(codepage_10000_german_ci_table), codepage_10000_german_ci_table>},
    {8025, "mac_10000_nordan_ci", 10000, 8, &mapped_collation_factory<sizeof(codepage_10000_nordan_ci_table), codepage_10000_nordan_ci_table>},
    {15025, "mac_10000_spanish_ci", 10000, 15, &mapped_collation_factory<sizeof(codepage_10000_spanish_ci_table), codepage_10000_spanish_ci_table>},
    {9025, "mac_10000_swefin_ci", 10000, 9, &mapped_collation_factory<sizeof(codepage_10000_swefin_ci_table), codepage_10000_swefin_ci_table>},
    {26, "mac_10006_machine", 10006, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {27, "mac_10007_machine", 10007, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {28, "mac_10029_machine", 10029, 1, &generic_collation_factory<Generic_Machine_Coll>},
    {2, "utf8_machine", 65001, 1, &generic_collation_factory<Generic_Machine_Coll>},
};

namespace {

constinit std::atomic<Collation*> g_slots[kCollationTableSize] = {};
constinit std::mutex g_mutex;

// The row of the first record with this COLID, or -1.
int row_of(int colid) {
  if (colid <= 0) return -1;
  for (size_t i = 0; i < kCollationTableSize; ++i)
    if (collation_table[i].colid == static_cast<uint64_t>(colid)) return static_cast<int>(i);
  return -1;
}

// With g_mutex held.
Collation* make_locked(int row) {
  Collation* c = g_slots[row].load(std::memory_order_acquire);
  if (c) return c;
  const collation_st* rec = &collation_table[row];
  c = rec->factory(rec);
  g_slots[row].store(c, std::memory_order_release);
  return c;
}

}  // namespace

Collation* GetCollationByCOLID(int colid) {
  QZ_TRACE;
  int row = row_of(colid);
  if (row < 0) return nullptr;
  Collation* c = g_slots[row].load(std::memory_order_acquire);
  if (c) return c;
  std::lock_guard<std::mutex> lock(g_mutex);
  return make_locked(row);
}

Collation* GetCollationFromGroup(int codepage, int group) {
  QZ_TRACE;
  for (const collation_st& rec : collation_table) {
    if (rec.codepage == static_cast<uint32_t>(codepage) && rec.group == static_cast<uint32_t>(group))
      return GetCollationByCOLID(static_cast<int>(rec.colid));
  }
  return nullptr;
}

void __init_collations() {
  QZ_TRACE;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (Collation::unicode_machine_ci != nullptr) return;
  Collation::unicode_machine = make_locked(row_of(1));
  Collation::unicode_machine_ci = make_locked(row_of(1002));
}

void __cleanup_collations() {
  QZ_TRACE;
  std::lock_guard<std::mutex> lock(g_mutex);
  Collation::unicode_machine = nullptr;
  Collation::unicode_machine_ci = nullptr;
  for (auto& slot : g_slots) {
    Collation* c = slot.exchange(nullptr, std::memory_order_acq_rel);
    delete c;
  }
}

}  // namespace qzbase
