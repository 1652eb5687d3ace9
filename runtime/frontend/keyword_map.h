// keyword_map.h - case-insensitive keyword maps with abbreviations.
//
// keyword_map_init fills a hash map from a zero-terminated table of keyword rows: each row's whole
// word and, when the row has a minimum abbreviation length m below the word's length, every prefix
// of m up to one less than the word's length characters. Keys are text slices (pointer, byte
// length, charset) hashed and compared without regard to case (the hash and order of
// Collation::unicode_machine_ci: FNV-1a and comparison over upper-cased code points, whatever the
// charsets of the two sides), so a key held in UTF-32 matches a program text in any charset.
// The collations must be initialised (library start-up) before a map is built or searched.
//
// Users (the scanner's keyword table, SET DATE TO, CURSORGETPROP/CURSORSETPROP) keep their map in
// a function-local static: built once under the thread-safe initialisation of statics, read-only
// afterwards, freed at exit.
//
// A row type is any struct with the members
//   const char32_t* word;   upper case, NUL-terminated UTF-32; null in the terminating row
//   uint64_t min_length;    minimum abbreviation length, 0 = whole word only
// (the scanner's three-word rows and the five-word date rows both qualify).
#pragma once

#include <qzbase.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzbase {

// A prefix that is already a key while a map is built (cannot happen with the shipped tables).
struct duplicate_keyword_exception {};

// A text slice: bytes [begin, begin + size) in charset.
struct keyword_key_st {
  const char* begin;
  size_t size;
  const Charset* charset;
};

// The case-insensitive hash and three-way comparison of keys: those of
// Collation::unicode_machine_ci, over two text slices in any charsets.
inline uint32_t keyword_ci_hash(const char* begin, const char* end, const Charset* cs) {
  return Collation::unicode_machine_ci->hash(begin, end, cs);
}
inline int keyword_ci_compare(const char* a_begin, const char* a_end, const Charset* a_cs, const char* b_begin,
                              const char* b_end, const Charset* b_cs) {
  return Collation::unicode_machine_ci->compare(a_begin, a_end, a_cs, b_begin, b_end, b_cs);
}

// The map's untyped core: a fixed bucket array of singly linked nodes (the bucket count is chosen
// from the number of keys when the map is filled; the map never rehashes).
class keyword_map_base {
 public:
  struct node_st {
    keyword_key_st key;
    uint32_t hash;
    const void* row;
    node_st* next;
  };

  keyword_map_base() = default;
  ~keyword_map_base();
  keyword_map_base(const keyword_map_base&) = delete;
  keyword_map_base& operator=(const keyword_map_base&) = delete;

  size_t size() const { return size_; }
  size_t bucket_count() const { return buckets_.size(); }
  size_t bucket(uint32_t hash) const { return buckets_.empty() ? 0 : hash & (buckets_.size() - 1); }
  const node_st* find_in_bucket(size_t bucket, const keyword_key_st& key, uint32_t hash) const;

 protected:
  // words: the rows' word pointers; min_lengths: their minimum lengths (same count).
  void init(const std::vector<const char32_t*>& words, const std::vector<uint64_t>& min_lengths,
            const std::vector<const void*>& rows);

 private:
  void insert(const keyword_key_st& key, uint32_t hash, const void* row);

  std::vector<node_st*> buckets_;
  size_t size_ = 0;
};

template <class Row>
class keyword_map : public keyword_map_base {
 public:
  // The row of a key, or null.
  const Row* find(const char* begin, const char* end, const Charset* cs) const {
    keyword_key_st key{begin, static_cast<size_t>(end - begin), cs};
    uint32_t hash = keyword_ci_hash(begin, end, cs);
    const node_st* node = find_in_bucket(bucket(hash), key, hash);
    return node ? static_cast<const Row*>(node->row) : nullptr;
  }

  template <class R>
  friend void keyword_map_init(keyword_map<R>& map, const R* table);
};

// Fills an empty map from the table (rows until the one whose word is null). Each row's whole word
// is entered (a whole word already present keeps its first row); then, when 0 < m < n (n the
// word's length in characters), each prefix of m .. n - 1 characters; a prefix that is already a
// key throws duplicate_keyword_exception, so row order decides which clash is reported.
template <class Row>
void keyword_map_init(keyword_map<Row>& map, const Row* table) {
  std::vector<const char32_t*> words;
  std::vector<uint64_t> min_lengths;
  std::vector<const void*> rows;
  for (const Row* row = table; row->word != nullptr; ++row) {
    words.push_back(row->word);
    min_lengths.push_back(static_cast<uint64_t>(row->min_length));
    rows.push_back(row);
  }
  map.init(words, min_lengths, rows);
}

// The bucket lookup of a map: the node of the key in that bucket (hash precomputed with
// keyword_ci_hash), or null.
template <class Row>
const keyword_map_base::node_st* keyword_map_find(const keyword_map<Row>& map, size_t bucket,
                                                  const keyword_key_st& key, uint32_t hash) {
  return map.find_in_bucket(bucket, key, hash);
}

}  // namespace qzbase
