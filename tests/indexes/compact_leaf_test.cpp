// Compact leaves: geometry, the exact bytes of small leaves, widening, deletes, splits, and a
// property test that checks every step of random inserts and deletes against a sorted
// reference and a decoder written from the layout alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index_support.h"
#include "tables/dbf_exceptions.h"

using namespace qzbase;
using namespace qzbase::index_testing;

namespace {

using KeyList = std::vector<std::pair<std::string, uint32_t>>;

struct Leaf {
  Index tag{nullptr, 0, cp1252()};
  index_node_st node;
  explicit Leaf(uint16_t length, uint64_t max_record = 255) {
    make_compact_tag(&tag, length);
    tag.init_compact_node(&node, length, max_record, length, length, true);
  }
  // Inserts before key `at` (count: at the end).
  bool insert_at(uint32_t at, const std::string& key, uint32_t record) {
    key_iterator_st it;
    tag.goto_key(node, &it, at);
    return tag.insert_compact_key(&node, &it, key.data(), record);
  }
  // Inserts at the key's place in (key, record) order.
  bool insert(const std::string& key, uint32_t record) {
    const KeyList now = forward();
    uint32_t at = 0;
    while (at < now.size() && now[at] < std::make_pair(key, record)) ++at;
    return insert_at(at, key, record);
  }
  void remove_at(uint32_t at) {
    key_iterator_st it;
    tag.goto_key(node, &it, at);
    tag.delete_compact_key(&node, &it);
  }
  KeyList forward() const {
    KeyList out;
    key_iterator_st it;
    tag.goto_first_key(node, &it);
    while (it.index < static_cast<int32_t>(node.count)) {
      out.emplace_back(std::string(it.key(), node.key_length), it.record);
      tag.goto_next_key(node, &it);
    }
    return out;
  }
  KeyList backward() const {
    KeyList out;
    key_iterator_st it;
    tag.goto_last_key(node, &it);
    while (it.index >= 0) {
      out.emplace_back(std::string(it.key(), node.key_length), it.record);
      tag.goto_prev_key(node, &it);
    }
    std::reverse(out.begin(), out.end());
    return out;
  }
  // Bytes of entries and data in use; with the free bytes they fill the room.
  uint32_t used() const {
    uint32_t data = 0;
    key_iterator_st it;
    tag.goto_first_key(node, &it);
    while (it.index < static_cast<int32_t>(node.count)) {
      data += it.stored;
      tag.goto_next_key(node, &it);
    }
    return node.count * node.geometry.entry_bytes + data;
  }
};

}  // namespace

TEST(CompactGeometry, BitFieldsAndEntryBytes) {
  struct Case {
    uint64_t max_record;
    uint32_t max_dup, max_trail;
    uint32_t mask;
    unsigned record_bits, dup_bits, trail_bits, e;
  };
  const Case cases[] = {
      {255, 10, 10, 0xFF, 8, 4, 4, 2},
      {1000, 10, 10, 0xFFFF, 16, 4, 4, 3},            // 18 bits: the record field grows to 16
      {0xFFFFFFFF, 10, 10, 0xFFFFFFFF, 32, 4, 4, 5},  // the tag directory
      {(1u << 26) - 1, 10, 10, (1u << 26) - 1, 26, 4, 4, 5},  // 34 bits: no room to round up
      {1, 240, 240, 0xFF, 8, 8, 8, 3},
  };
  for (const Case& c : cases) {
    const compact_geometry_st g = calc_compact_node_geometry(c.max_record, c.max_dup, c.max_trail);
    EXPECT_EQ(g.record_mask, c.mask) << c.max_record;
    EXPECT_EQ(g.record_bits, c.record_bits) << c.max_record;
    EXPECT_EQ(g.dup_bits, c.dup_bits);
    EXPECT_EQ(g.trail_bits, c.trail_bits);
    EXPECT_EQ(g.dup_mask, (1u << c.dup_bits) - 1);
    EXPECT_EQ(g.entry_bytes, c.e) << c.max_record;
  }
  EXPECT_THROW(calc_compact_node_geometry(1ull << 32, 10, 10), dbf_error_not_impl);
  EXPECT_THROW(calc_compact_node_geometry(255, 256, 10), dbf_error_not_impl);
}

TEST(CompactLeaf, EntryOfRecord5WithDuplicates3AndTrailing2) {
  Leaf leaf(10);  // record maximum 255: 8 + 4 + 4 bits, E = 2
  ASSERT_TRUE(leaf.insert_at(0, "ABCDEFGH  ", 1));
  ASSERT_TRUE(leaf.insert_at(1, "ABCXYZQR  ", 5));
  EXPECT_EQ(hex(bytes_of(leaf.node.raw + 26, 2)), "05 23");  // 0x2305
}

TEST(CompactLeaf, SecondKeyStoresOnlyWhatDiffers) {
  Leaf leaf(4);
  ASSERT_TRUE(leaf.insert_at(0, "AB  ", 1));
  ASSERT_TRUE(leaf.insert_at(1, "ABX ", 2));
  key_iterator_st it;
  leaf.tag.goto_key(leaf.node, &it, 1);
  EXPECT_EQ(it.dup, 2u);
  EXPECT_EQ(it.trail, 1u);
  EXPECT_EQ(it.stored, 1u);
  EXPECT_EQ(leaf.node.raw[509], 'X');
  EXPECT_EQ(std::string(leaf.node.raw + 510, 2), "AB");
  EXPECT_EQ(leaf.node.free_bytes, 488u - 2 * 2 - 3);
  EXPECT_EQ(reference_decode(leaf.node, ' '), (KeyList{{"AB  ", 1}, {"ABX ", 2}}));
}

TEST(CompactLeaf, KeyOfPadBytesOnlyStoresNothing) {
  Leaf leaf(6);
  ASSERT_TRUE(leaf.insert_at(0, "      ", 9));
  key_iterator_st it;
  leaf.tag.goto_first_key(leaf.node, &it);
  EXPECT_EQ(it.trail, 6u);
  EXPECT_EQ(it.stored, 0u);
  EXPECT_EQ(leaf.node.free_bytes, 488u - leaf.node.geometry.entry_bytes);
  EXPECT_EQ(leaf.forward(), (KeyList{{"      ", 9}}));
}

TEST(CompactLeaf, InsertingBeforeAKeyReencodesOnlyThatKey) {
  Leaf leaf(6);
  ASSERT_TRUE(leaf.insert_at(0, "ABCDEF", 1));
  ASSERT_TRUE(leaf.insert_at(1, "ABZZZZ", 3));
  ASSERT_TRUE(leaf.insert_at(1, "ABCDXX", 2));  // the following key now shares only AB with it
  EXPECT_EQ(leaf.forward(), (KeyList{{"ABCDEF", 1}, {"ABCDXX", 2}, {"ABZZZZ", 3}}));
  EXPECT_EQ(reference_decode(leaf.node, ' '), leaf.forward());
  ASSERT_TRUE(leaf.insert_at(0, "AAAAAA", 4));  // the old first key gains a shared prefix
  key_iterator_st it;
  leaf.tag.goto_key(leaf.node, &it, 1);
  EXPECT_EQ(it.dup, 1u);
  EXPECT_EQ(reference_decode(leaf.node, ' '), leaf.backward());
  EXPECT_EQ(leaf.used() + leaf.node.free_bytes, 488u);
}

TEST(CompactLeaf, DeletingTheFirstKeyRestoresThePrefixOfTheSecond) {
  Leaf leaf(6);
  ASSERT_TRUE(leaf.insert_at(0, "PREFIX", 1));
  ASSERT_TRUE(leaf.insert_at(1, "PREFIZ", 2));
  ASSERT_TRUE(leaf.insert_at(2, "PRUNE ", 3));
  leaf.remove_at(0);
  key_iterator_st it;
  leaf.tag.goto_first_key(leaf.node, &it);
  EXPECT_EQ(it.dup, 0u);
  EXPECT_EQ(it.stored, 6u);
  EXPECT_EQ(std::string(leaf.node.raw + 506, 6), "PREFIZ");
  EXPECT_EQ(leaf.forward(), (KeyList{{"PREFIZ", 2}, {"PRUNE ", 3}}));
  EXPECT_EQ(leaf.used() + leaf.node.free_bytes, 488u);
  leaf.remove_at(1);
  leaf.remove_at(0);
  EXPECT_EQ(leaf.node.count, 0u);
  EXPECT_EQ(leaf.node.free_bytes, 488u);
  EXPECT_EQ(std::string(leaf.node.raw + 24, 488), std::string(488, '\0'));  // nothing left behind
}

TEST(CompactLeaf, IteratorStandsOnTheNewKeyAndSteps) {
  Leaf leaf(3);
  key_iterator_st it;
  leaf.tag.goto_first_key(leaf.node, &it);
  EXPECT_EQ(it.index, 0);  // an empty leaf: beyond its (no) last key
  ASSERT_TRUE(leaf.tag.insert_compact_key(&leaf.node, &it, "BBB", 2));
  EXPECT_EQ(it.index, 0);
  EXPECT_EQ(std::string(it.key(), 3), "BBB");
  leaf.tag.goto_next_key(leaf.node, &it);
  EXPECT_EQ(it.index, 1);
  ASSERT_TRUE(leaf.tag.insert_compact_key(&leaf.node, &it, "CCC", 3));  // appended
  EXPECT_EQ(it.index, 1);
  // The iterator's own key as the new key (inserted before itself).
  ASSERT_TRUE(leaf.tag.insert_compact_key(&leaf.node, &it, it.key(), 1));
  EXPECT_EQ(leaf.forward(), (KeyList{{"BBB", 2}, {"CCC", 1}, {"CCC", 3}}));
  leaf.tag.goto_last_key(leaf.node, &it);
  EXPECT_EQ(it.index, 2);
  leaf.tag.goto_next_key(leaf.node, &it);
  EXPECT_EQ(it.index, 3);
  EXPECT_THROW(leaf.tag.goto_next_key(leaf.node, &it), dbf_error_eof);
  leaf.tag.goto_prev_key(leaf.node, &it);
  EXPECT_EQ(it.index, 2);
  leaf.tag.goto_first_key(leaf.node, &it);
  leaf.tag.goto_prev_key(leaf.node, &it);
  EXPECT_EQ(it.index, -1);
  EXPECT_THROW(leaf.tag.goto_prev_key(leaf.node, &it), dbf_error_bof);
  leaf.tag.goto_next_key(leaf.node, &it);
  EXPECT_EQ(std::string(it.key(), 3), "BBB");
}

TEST(CompactLeaf, FieldsBeyondTheMasksAreAGeometryMismatch) {
  Leaf leaf(8);
  leaf.tag.init_compact_node(&leaf.node, 8, 255, 8, 8, true);
  leaf.node.geometry = calc_compact_node_geometry(255, 3, 15);  // duplicates up to 3 only
  ASSERT_TRUE(leaf.insert_at(0, "ABCDEFGH", 1));
  EXPECT_THROW(leaf.insert_at(1, "ABCDEFGX", 2), idx_error_compact_node_geometry_missmatch);
  EXPECT_EQ(leaf.forward(), (KeyList{{"ABCDEFGH", 1}}));
  // Not a compact leaf at all.
  index_node_st branch;
  key_iterator_st it;
  it.index = 0;
  EXPECT_THROW(leaf.tag.insert_compact_key(&branch, &it, "ABCDEFGH", 1), assert_failed_exception);
}

TEST(CompactLeaf, ARecordAboveTheMaskWidensTheLeaf) {
  Leaf leaf(10);  // made for at most 255 records: E = 2
  for (uint32_t r = 1; r <= 20; ++r) ASSERT_TRUE(leaf.insert("KEY" + std::to_string(100 + r) + "    ", r));
  const KeyList before = leaf.forward();
  ASSERT_TRUE(leaf.insert("KEY050    ", 256));
  EXPECT_EQ(leaf.node.geometry.entry_bytes, 3);
  EXPECT_EQ(leaf.node.geometry.record_mask, 0xFFFFu);
  KeyList expected = before;
  expected.insert(expected.begin(), {"KEY050    ", 256});
  EXPECT_EQ(leaf.forward(), expected);
  EXPECT_EQ(reference_decode(leaf.node, ' '), expected);
  EXPECT_EQ(leaf.used() + leaf.node.free_bytes, 488u);
}

TEST(CompactLeaf, WideningWithoutRoomReturnsFalseAndChangesNothing) {
  Leaf leaf(4);
  uint32_t r = 1;
  // Fill with keys that store 2 bytes each: E 2 + 2 bytes a key.
  while (leaf.insert_at(leaf.node.count, std::string(1, 'A' + r / 26) + std::string(1, 'A' + r % 26) + "  ", r)) ++r;
  const std::string image(leaf.node.raw, 512);
  const uint32_t free_bytes = leaf.node.free_bytes;
  EXPECT_FALSE(leaf.insert_at(0, "AAAA", 300));
  EXPECT_EQ(std::string(leaf.node.raw, 512), image);
  EXPECT_EQ(leaf.node.free_bytes, free_bytes);
  EXPECT_EQ(leaf.node.geometry.entry_bytes, 2);
  EXPECT_FALSE(leaf.insert_at(0, "ZZZZ", 3));  // and without widening
  EXPECT_EQ(std::string(leaf.node.raw, 512), image);
}

TEST(CompactLeaf, SplitLeavesAtMost243BytesOnTheLeft) {
  Leaf leaf(12);
  std::mt19937 rng(3);
  uint32_t r = 1;
  for (;;) {
    std::string key(12, ' ');
    for (int i = 0; i < 8; ++i) key[i] = static_cast<char>('A' + rng() % 26);
    if (!leaf.insert(key, r)) break;
    ++r;
  }
  const KeyList all = leaf.forward();
  index_node_st left, right;
  left.offset = 2048;
  right.offset = 2560;
  key_iterator_st lit, rit;
  leaf.tag.split_compact_node(leaf.node, &left, &lit, &right, &rit);
  EXPECT_EQ(left.offset, 2048);
  EXPECT_EQ(lit.index, static_cast<int32_t>(left.count));
  EXPECT_EQ(rit.index, static_cast<int32_t>(right.count));
  Leaf l(12), rr(12);
  l.node = left;
  rr.node = right;
  EXPECT_LE(l.used(), 243u);
  EXPECT_GT(l.node.count, 0u);
  EXPECT_GT(rr.node.count, 0u);
  KeyList joined = l.forward();
  for (const auto& k : rr.forward()) joined.push_back(k);
  EXPECT_EQ(joined, all);
  // The left half took every key whose entries and source data fit in 243 bytes.
  uint32_t data = 0;
  key_iterator_st it;
  leaf.tag.goto_first_key(leaf.node, &it);
  for (uint32_t k = 0; k <= left.count; ++k) {
    data += it.stored;
    if (k < left.count) EXPECT_LE((k + 1) * left.geometry.entry_bytes + data, 243u);
    else EXPECT_GT((k + 1) * left.geometry.entry_bytes + data, 243u);
    leaf.tag.goto_next_key(leaf.node, &it);
  }
}

TEST(CompactLeaf, SplitOfLongKeysAlwaysKeepsOneKeyLeft) {
  Leaf leaf(238, 0xFFFFFFFF);  // E 6 + 238 bytes: one key alone is over 243, two fill the leaf
  ASSERT_TRUE(leaf.insert_at(0, std::string(238, 'a'), 1));
  ASSERT_TRUE(leaf.insert_at(1, std::string(238, 'b'), 2));
  EXPECT_EQ(leaf.node.free_bytes, 0u);
  index_node_st left, right;
  key_iterator_st lit, rit;
  leaf.tag.split_compact_node(leaf.node, &left, &lit, &right, &rit);
  EXPECT_EQ(left.count, 1u);
  EXPECT_EQ(right.count, 1u);
}

TEST(CompactLeaf, RandomInsertsAndDeletesMatchASortedReference) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    const uint16_t length = static_cast<uint16_t>(4 + rng() % 20);
    Leaf leaf(length, 100);  // record numbers above 100 force a widening
    std::map<std::pair<std::string, uint32_t>, bool> reference;
    const char* prefixes[] = {"", "AB", "ABC", "ABCD", "X"};
    for (int step = 0; step < 400; ++step) {
      const bool remove = !reference.empty() && (rng() % 3 == 0 || leaf.node.free_bytes < 40);
      if (remove) {
        auto victim = reference.begin();
        std::advance(victim, rng() % reference.size());
        const uint32_t at = static_cast<uint32_t>(std::distance(reference.begin(), victim));
        leaf.remove_at(at);
        reference.erase(victim);
      } else {
        std::string key = prefixes[rng() % 5];
        const size_t body = rng() % (length + 1);
        while (key.size() < body) key += static_cast<char>("ABC ÿ"[rng() % 6]);
        key.resize(length, ' ');  // trailing pad bytes
        const uint32_t record = 1 + static_cast<uint32_t>(rng() % (step < 200 ? 100 : 70000));
        if (reference.count({key, record})) continue;
        reference[{key, record}] = true;
        const bool fitted = leaf.insert(key, record);
        if (!fitted) {
          reference.erase({key, record});
          continue;
        }
      }
      KeyList expected;
      for (const auto& kv : reference) expected.push_back(kv.first);
      ASSERT_EQ(leaf.forward(), expected) << "seed " << seed << " step " << step;
      ASSERT_EQ(leaf.backward(), expected) << "seed " << seed << " step " << step;
      ASSERT_EQ(reference_decode(leaf.node, ' '), expected) << "seed " << seed << " step " << step;
      ASSERT_EQ(leaf.used() + leaf.node.free_bytes, 488u) << "seed " << seed << " step " << step;
      // The image also passes the checks a reader of the file makes.
      index_node_st copy = leaf.node;
      encode_index_node(&copy);
      index_node_st read = copy;
      decode_index_node(&read, length, IndexLeafKind::compact);
      ASSERT_EQ(read.free_bytes, leaf.node.free_bytes);
    }
    EXPECT_GT(leaf.node.geometry.record_mask, 0xFFu) << "seed " << seed << ": never widened";
  }
}
