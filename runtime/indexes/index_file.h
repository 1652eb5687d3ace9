// index_file.h - one open index file: header and node input and output at explicit offsets.
//
// Every tag of a compound file (and its tag directory) reads and writes through the one
// IndexFile of that file. What comes from the disk is checked completely before anyone uses it
// (dbf_index_file_corrupted); what goes to the disk is encoded from the decoded fields.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <deque>
#include <ios>
#include <map>
#include <unordered_map>
#include <vector>

#include "indexes/index_format.h"

namespace qzbase {

class File;
class Index;

class IndexFile {
 public:
  // Takes the file (closed and deleted with this object); charset is the table's, in which the
  // expression texts are stored.
  IndexFile(File* file, const Charset* charset);
  ~IndexFile();
  IndexFile(const IndexFile&) = delete;
  IndexFile& operator=(const IndexFile&) = delete;

  // 1024 bytes at the offset, decoded. A short read, a misaligned offset or a damaged header:
  // dbf_index_file_corrupted; option bit 4: RuntimeError 1001.
  void read_header(idx_header_st* header, std::streampos offset);
  // True when the header at the offset still holds the known root and version: its first bytes
  // only are read (counted in headers_read when unchanged). dbf_index_file_corrupted on a short
  // read.
  bool header_unchanged(const idx_header_st& known, std::streampos offset);
  // Encodes the decoded fields and writes the 1024 bytes; nothing is written when they do not
  // encode (dbf_invalid_index_key_len for texts that do not fit).
  void write_header(idx_header_st* header, std::streampos offset);
  // 512 bytes at the offset, decoded as a node of the owning tag (its options give the leaf kind);
  // served from the node cache when it holds the offset.
  void read_node(const Index* index, std::streamoff offset, index_node_st* node);
  // The cached node itself, read first when missing. The reference stays valid until 64 other
  // nodes have been read or written (or the cache is dropped): long enough for one descent.
  const index_node_st& node(const Index* index, std::streamoff offset);
  // Encodes the head, writes the 512 bytes at node->offset and caches the node.
  void write_node(index_node_st* node);

  // The exclusive lock of the byte at kIndexLockOffset: taken once, then held until unlock().
  // Taking it re-reads the file end and raises the lock generation. Returns the lock flag.
  bool lock();
  void unlock();
  bool is_locked() const { return locked_; }
  uint64_t lock_generation() const { return lock_generation_; }
  // Opened for shared use: readers must confirm the header version before trusting the cache.
  bool shared() const;
  // Forgets every cached node (another process changed the file).
  void drop_cache();
  size_t cached_nodes() const { return map_.size(); }
  bool is_cached(std::streamoff offset) const { return map_.count(offset) != 0; }

  // Makes a new compound file in the (empty) file: the tag directory's header at 0 and its empty
  // root leaf at 1024.
  void create_compound();

  // --- Deferred writes of a tag being built ---
  //
  // A tag under construction is seen by nobody until its directory entry exists, so rewriting
  // its leaves and header on every key is wasted work. While writes are deferred, every node
  // write of this file and the header writes at header_offset stay in memory (not bounded by the
  // cache) and reads are served from them; flush_deferred then writes the nodes in offset order
  // and the header last, giving the same bytes as writing each change at once. discard_deferred
  // forgets them, so the file keeps only what was written before, and gives back the blocks
  // allocated since. A shared file must stay locked throughout: unlock() discards.
  void defer_writes(std::streampos header_offset);
  void flush_deferred();
  void discard_deferred() noexcept;
  bool deferring() const { return deferring_; }
  size_t deferred_nodes() const { return deferred_.size(); }

  File* file;
  const Charset* charset;
  std::streamoff end_offset = 0;  // where new blocks go
  // Blocks read from the file (cache misses) and headers read: for tests and benchmarks.
  uint64_t nodes_read = 0;
  uint64_t headers_read = 0;

  static constexpr size_t kCacheCapacity = 64;
  static constexpr std::streamoff kIndexLockOffset = 0x7FFFFFFE;

 private:
  struct cache_entry {
    index_node_st node;
    int32_t newer = -1;  // recency list, most recently used at head_
    int32_t older = -1;
  };
  index_node_st& store(const index_node_st& node);
  void touch(int32_t slot);
  void unlink_slot(int32_t slot);

  // Slots never move (reserved once), so references into them survive later stores.
  std::vector<cache_entry> slots_;
  std::unordered_map<std::streamoff, int32_t> map_;
  int32_t head_ = -1;  // most recently used
  int32_t tail_ = -1;  // least recently used
  bool locked_ = false;
  uint64_t lock_generation_ = 0;

  bool deferring_ = false;
  std::streamoff deferred_header_offset_ = -1;
  bool deferred_header_pending_ = false;
  idx_header_st deferred_header_;
  // Deferred nodes by offset. A build allocates from the file end on, so the blocks from its
  // header up are found by position in a flat table; anything below goes to an ordered map.
  class deferred_nodes_st {
   public:
    index_node_st* find(std::streamoff offset);
    void put(const index_node_st& node);
    size_t size() const { return nodes_.size() + below_.size(); }
    void clear();
    void reset(std::streamoff base);
    // Every node in offset order.
    template <typename F>
    void each(F&& f) const {
      for (const auto& [offset, node] : below_) f(node);
      for (const int32_t slot : slots_) {
        if (slot >= 0) f(nodes_[static_cast<size_t>(slot)]);
      }
    }

   private:
    std::streamoff base_ = 0;
    std::vector<int32_t> slots_;       // block (offset - base) / 512 -> position in nodes_, or -1
    std::deque<index_node_st> nodes_;  // references stay valid as it grows
    std::map<std::streamoff, index_node_st> below_;
  };
  deferred_nodes_st deferred_;
};

// Defers the writes of one tag being built for a scope: commit() writes them, leaving the scope
// without it (an exception) discards them.
class DeferredTagWrites {
 public:
  DeferredTagWrites(IndexFile* file, std::streampos header_offset) : file_(file) { file->defer_writes(header_offset); }
  ~DeferredTagWrites() {
    if (file_ != nullptr) file_->discard_deferred();
  }
  DeferredTagWrites(const DeferredTagWrites&) = delete;
  DeferredTagWrites& operator=(const DeferredTagWrites&) = delete;
  void commit() {
    IndexFile* f = file_;
    file_ = nullptr;
    f->flush_deferred();
  }

 private:
  IndexFile* file_;
};

// The header of a new tag directory: key length 10, compact leaves, options 5 to 8, empty texts
// and collation name, root at 1024.
void init_directory_header(idx_header_st* header);

}  // namespace qzbase

namespace qzbase {

// The index files one lock_indizes call of a table took, released again by the matching unlock.
// Files already locked (by an enclosing call) and files named twice are skipped, so a nested
// take releases nothing its encloser holds. Retrying on a reported deadlock is the business of
// the table's LockAllIndizes guard, the one scope guard over a table's index locks.
class IndexLockSet {
 public:
  // Locks the files in order (null entries skipped). An exception leaves the files taken so far
  // recorded: release() gives them back.
  void take(const std::vector<IndexFile*>& files);
  void release() noexcept;
  size_t taken() const { return taken_.size(); }

 private:
  std::vector<IndexFile*> taken_;
};

}  // namespace qzbase
