// Seeded randomised differential test of the B-tree against an ordered set: inserts and deletes in
// random, ascending and descending order with many duplicate keys, every batch followed by a full
// check of the tree's shape, of both walks and of seeks of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "btree_support.h"
#include "temp_dir.h"

namespace qzbase::index_testing {
namespace {

enum class Order { random, ascending, descending };

struct Case {
  uint16_t key_length;
  Order order;
  bool disk;
  int operations;
};

std::string order_name(Order o) {
  return o == Order::random ? "random" : (o == Order::ascending ? "ascending" : "descending");
}

// Keys from a small alphabet (0x00, 'A'..'D', 0xFF) so that duplicates and shared prefixes are
// common; long keys are mostly short texts padded with blanks, sometimes raw bytes throughout.
class KeySource {
 public:
  KeySource(uint16_t length, std::mt19937* rng) : length_(length), rng_(rng) {}
  std::string next() {
    static const char alphabet[] = {'\x00', 'A', 'B', 'C', 'D', '\xFF'};
    std::string k(length_, ' ');
    const size_t meaningful =
        length_ <= 10 ? length_ : ((*rng_)() % 8 == 0 ? length_ : 1 + (*rng_)() % 12);
    for (size_t i = 0; i < meaningful; ++i) k[i] = alphabet[(*rng_)() % sizeof alphabet];
    return k;
  }

 private:
  uint16_t length_;
  std::mt19937* rng_;
};

class Differential {
 public:
  Differential(const Case& c, uint32_t seed) : c_(c), rng_(seed), keys_(c.key_length, &rng_) {
    if (c.disk) {
      const std::string path = (dir_.path / "t.cdx").native();
      file_ = std::make_unique<IndexFile>(create_file(String(path.c_str()), OPEN_SHARED), cp1252());
    } else {
      file_ = memory_index_file();
    }
    tag_ = std::make_unique<Index>(file_.get(), 0);
    create_tag(file_.get(), tag_.get(), c.key_length, kCompactOptions);
    file_->lock();
    version_ = tag_->header.version;
  }

  void run() {
    // Ascending and descending runs walk a sorted stream of pairs; random ones draw pairs freely.
    std::vector<Pair> stream;
    if (c_.order != Order::random) {
      for (int i = 0; i < c_.operations / 2; ++i) stream.emplace_back(keys_.next(), 1 + rng_() % 100000);
      std::sort(stream.begin(), stream.end());
      stream.erase(std::unique(stream.begin(), stream.end()), stream.end());
      if (c_.order == Order::descending) std::reverse(stream.begin(), stream.end());
    }
    const int batch = 250;
    int done = 0;
    size_t next = 0;
    bool growing = true;
    while (done < c_.operations) {
      for (int i = 0; i < batch && done < c_.operations; ++i, ++done) {
        if (c_.order == Order::random) {
          random_step();
        } else if (growing) {
          insert(stream[next++]);
          if (next == stream.size()) growing = false;
        } else {
          // Delete in the same order as inserted, which empties the tree from one end.
          remove(stream[--next]);
          if (next == 0) growing = true;
        }
      }
      verify();
      if (::testing::Test::HasFailure()) return;
    }
    // Empty the tree completely: only the root leaf stays.
    std::vector<Pair> all(ref_.begin(), ref_.end());
    std::shuffle(all.begin(), all.end(), rng_);
    for (const Pair& p : all) remove(p);
    verify();
    // And it grows again from there.
    for (int i = 0; i < 200; ++i) {
      const Pair p{keys_.next(), 1 + static_cast<uint32_t>(rng_() % 5000)};
      if (ref_.count(p) == 0) insert(p);
    }
    verify();
  }

 private:
  void random_step() {
    const bool do_insert = ref_.empty() || rng_() % 100 < 58;
    if (do_insert) {
      Pair p{keys_.next(), 1 + static_cast<uint32_t>(rng_() % 100000)};
      if (ref_.count(p) != 0) {
        EXPECT_THROW(tag_->insert_key(p.first.data(), p.second), dbf_index_file_corrupted);
        return;
      }
      insert(p);
    } else if (rng_() % 10 == 0) {
      // A pair that is not there.
      Pair p{keys_.next(), 100001 + static_cast<uint32_t>(rng_() % 1000)};
      EXPECT_FALSE(tag_->delete_key(p.first.data(), p.second));
    } else {
      auto it = ref_.begin();
      std::advance(it, static_cast<long>(rng_() % ref_.size()));
      remove(*it);
    }
  }

  void insert(const Pair& p) {
    ASSERT_TRUE(tag_->insert_key(p.first.data(), p.second));
    ref_.insert(p);
    ++version_;
  }

  void remove(Pair p) {
    ASSERT_TRUE(tag_->delete_key(p.first.data(), p.second)) << "pair missing";
    ref_.erase(p);
    ++version_;
  }

  void verify() {
    const size_t length = c_.key_length;
    ASSERT_EQ(tag_->header.version, version_) << "one version step per change";
    TreeChecker checker(tag_.get());
    const std::vector<Pair> descent = checker.check();
    const std::vector<Pair> expected(ref_.begin(), ref_.end());
    ASSERT_EQ(descent, expected) << "descent walk";
    // Walks through the cursor: forward and backward.
    std::vector<Pair> walked;
    index_node_st node;
    key_iterator_st it;
    for (bool on = tag_->go_top(&node, &it); on; on = tag_->go_next(&node, &it)) {
      walked.emplace_back(key_of(it, length), it.record);
    }
    ASSERT_EQ(walked, expected) << "forward walk";
    walked.clear();
    for (bool on = tag_->go_bottom(&node, &it); on; on = tag_->go_prev(&node, &it)) {
      walked.emplace_back(key_of(it, length), it.record);
    }
    std::reverse(walked.begin(), walked.end());
    ASSERT_EQ(walked, expected) << "backward walk";
    // Seeks of every kind: both directions, inclusive and exclusive, prefix lengths, and keys of
    // all 0x00 and all 0xFF bytes.
    std::vector<std::string> probes;
    for (int i = 0; i < 12; ++i) probes.push_back(keys_.next());
    if (!ref_.empty()) {
      for (int i = 0; i < 6; ++i) {
        auto at = ref_.begin();
        std::advance(at, static_cast<long>(rng_() % ref_.size()));
        probes.push_back(at->first);
      }
    }
    probes.emplace_back(length, '\x00');
    probes.emplace_back(length, '\xFF');
    for (const std::string& probe : probes) {
      for (size_t n : {size_t{1}, std::min<size_t>(3, length), length}) {
        for (const SeekDir dir : {SEEK_DIR_FORWARD, SEEK_DIR_BACKWARD}) {
          for (const int rng : {0, 1, 2, 3}) {
            const std::string k = probe.substr(0, n);
            const SeekAnswer want = reference_seek_fast(ref_, k, dir == SEEK_DIR_FORWARD, rng == 2);
            const int got = tag_->seek(k.data(), n, &node, &it, dir, rng);
            ASSERT_EQ(got, want.result) << "seek n=" << n << " dir=" << dir << " rng=" << rng;
            if (got != SEEK_RESULT_NONE) {
              ASSERT_EQ(Pair(key_of(it, length), it.record), want.at)
                  << "seek position n=" << n << " dir=" << dir << " rng=" << rng;
            }
          }
        }
      }
    }
    // Seek record: present pairs are found exactly, absent ones are not.
    for (int i = 0; i < 8 && !ref_.empty(); ++i) {
      auto at = ref_.begin();
      std::advance(at, static_cast<long>(rng_() % ref_.size()));
      ASSERT_EQ(tag_->seek_record(at->first.data(), at->second, &node, &it), SEEK_RESULT_FOUND);
      ASSERT_EQ(it.record, at->second);
      ASSERT_NE(tag_->seek_record(at->first.data(), at->second + 200000, &node, &it), SEEK_RESULT_FOUND);
    }
  }

  Case c_;
  std::mt19937 rng_;
  KeySource keys_;
  testing_files::TempDir dir_;
  std::unique_ptr<IndexFile> file_;
  std::unique_ptr<Index> tag_;
  Reference ref_;
  uint64_t version_ = 0;
};

class BTreeDifferential : public ::testing::TestWithParam<Case> {};

TEST_P(BTreeDifferential, AgreesWithAnOrderedSet) {
  Differential d(GetParam(), 20261211u + GetParam().key_length * 7u + static_cast<uint32_t>(GetParam().order));
  d.run();
}

// 10^5 and more operations in all: every key length in every order, on memory and disk files.
INSTANTIATE_TEST_SUITE_P(
    Keys, BTreeDifferential,
    ::testing::Values(Case{1, Order::random, false, 6000}, Case{1, Order::ascending, true, 4000},
                      Case{1, Order::descending, false, 4000}, Case{8, Order::random, false, 16000},
                      Case{8, Order::ascending, false, 10000}, Case{8, Order::descending, true, 10000},
                      Case{10, Order::random, true, 16000}, Case{10, Order::ascending, false, 10000},
                      Case{10, Order::descending, false, 10000}, Case{240, Order::random, false, 8000},
                      Case{240, Order::ascending, true, 6000}, Case{240, Order::descending, false, 6000}),
    [](const ::testing::TestParamInfo<Case>& info) {
      return "len" + std::to_string(info.param.key_length) + "_" + order_name(info.param.order) +
             (info.param.disk ? "_disk" : "_memory");
    });

// Bitmap tags: records join at the end (with gaps), bits change at random; the leaves' bits agree
// with a map of record to bit after every batch.
TEST(BTreeBitmapDifferential, AgreesWithAMapOfRecordToBit) {
  std::mt19937 rng(4242);
  auto file = memory_index_file();
  Index tag(file.get(), 0);
  create_tag(file.get(), &tag, 1, kBinaryOptions);
  file->lock();
  std::map<uint32_t, bool> ref;
  uint32_t record = 0;
  uint64_t version = tag.header.version;
  for (int batch = 0; batch < 40; ++batch) {  // enough records for dozens of leaves
    for (int i = 0; i < 250; ++i) {
      if (ref.empty() || rng() % 3 != 0) {
        record += 1 + (rng() % 5 == 0 ? rng() % 120 : 0);
        const bool bit = rng() % 2 == 0;
        ASSERT_TRUE(tag.insert_key(bit ? "T" : "F", record));
        ref[record] = bit;
      } else {
        auto at = ref.begin();
        std::advance(at, static_cast<long>(rng() % ref.size()));
        const bool bit = rng() % 2 == 0;
        ASSERT_TRUE(tag.replace_bit(at->first, bit ? "T" : "F"));
        at->second = bit;
      }
      ++version;
    }
    ASSERT_EQ(tag.header.version, version);
    TreeChecker checker(&tag);
    const std::map<uint32_t, bool> bits = checker.bits();
    for (const auto& [r, bit] : ref) {
      ASSERT_EQ(bits.count(r), 1u) << "record " << r << " batch " << batch;
      ASSERT_EQ(bits.at(r), bit) << "record " << r << " batch " << batch;
    }
    // Records skipped inside a leaf read back as cleared bits.
    for (const auto& [r, bit] : bits) {
      if (ref.count(r) == 0) {
        ASSERT_FALSE(bit) << "gap record " << r;
      }
    }
  }
  // An existing record again is a damaged tree, not a second entry.
  EXPECT_THROW(tag.insert_key("T", ref.begin()->first), dbf_index_file_corrupted);
}

}  // namespace
}  // namespace qzbase::index_testing
