// keyword_map.cpp - case-insensitive keyword maps with abbreviations.
#include "frontend/keyword_map.h"

namespace qzbase {

namespace {

size_t utf32_length(const char32_t* word) {
  size_t n = 0;
  while (word[n] != 0) ++n;
  return n;
}

}  // namespace

keyword_map_base::~keyword_map_base() {
  QZ_TRACE;
  for (node_st* head : buckets_) {
    while (head) {
      node_st* next = head->next;
      delete head;
      head = next;
    }
  }
}

const keyword_map_base::node_st* keyword_map_base::find_in_bucket(size_t bucket, const keyword_key_st& key,
                                                                  uint32_t hash) const {
  QZ_TRACE;
  if (bucket >= buckets_.size()) return nullptr;
  for (const node_st* node = buckets_[bucket]; node; node = node->next) {
    if (node->hash == hash &&
        keyword_ci_compare(node->key.begin, node->key.begin + node->key.size, node->key.charset, key.begin,
                           key.begin + key.size, key.charset) == 0) {
      return node;
    }
  }
  return nullptr;
}

void keyword_map_base::insert(const keyword_key_st& key, uint32_t hash, const void* row) {
  QZ_TRACE;
  size_t b = bucket(hash);
  buckets_[b] = new node_st{key, hash, row, buckets_[b]};
  ++size_;
}

void keyword_map_base::init(const std::vector<const char32_t*>& words, const std::vector<uint64_t>& min_lengths,
                            const std::vector<const void*>& rows) {
  QZ_TRACE;
  QZ_ASSERT(buckets_.empty());
  const Charset* cs = Charset::utf32le;
  QZ_ASSERT(cs != nullptr && Collation::unicode_machine_ci != nullptr);

  // Size the bucket array once: a power of two at least twice the number of keys.
  size_t keys = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    size_t n = utf32_length(words[i]);
    uint64_t m = min_lengths[i];
    keys += 1 + ((m != 0 && m < n) ? n - m : 0);
  }
  size_t buckets = 16;
  while (buckets < keys * 2) buckets *= 2;
  buckets_.assign(buckets, nullptr);

  for (size_t i = 0; i < words.size(); ++i) {
    const char* word = reinterpret_cast<const char*>(words[i]);
    size_t n = utf32_length(words[i]);
    uint64_t m = min_lengths[i];

    keyword_key_st whole{word, n * sizeof(char32_t), cs};
    uint32_t h = keyword_ci_hash(word, word + whole.size, cs);
    if (!find_in_bucket(bucket(h), whole, h)) insert(whole, h, rows[i]);  // else the first row stays

    if (m != 0 && m < n) {
      for (size_t len = m; len < n; ++len) {
        keyword_key_st prefix{word, len * sizeof(char32_t), cs};
        uint32_t ph = keyword_ci_hash(word, word + prefix.size, cs);
        if (find_in_bucket(bucket(ph), prefix, ph)) throw duplicate_keyword_exception();
        insert(prefix, ph, rows[i]);
      }
    }
  }
}

}  // namespace qzbase
