// index_file.cpp - header and node input and output of one index file.
#include "indexes/index_file.h"

#include <algorithm>

#include "platform/file.h"
#include "indexes/index.h"
#include "tables/dbf_exceptions.h"

namespace qzbase {

namespace {

constexpr uint32_t kDirectoryKeyLength = 10;
constexpr uint32_t kDirectoryRoot = kIndexHeaderSize;

// The file end rounded up to whole blocks: new blocks stay on the 512-byte grid.
std::streamoff block_end(const File* file) {
  const auto size = static_cast<std::streamoff>(file->get_size());
  const auto block = static_cast<std::streamoff>(kIndexBlockSize);
  return (size + block - 1) / block * block;
}

}  // namespace

IndexFile::IndexFile(File* file, const Charset* charset) : file(file), charset(charset) {
  QZ_TRACE;
  end_offset = static_cast<std::streamoff>(file->get_size());
  slots_.reserve(kCacheCapacity);
}

IndexFile::~IndexFile() {
  QZ_TRACE;
  if (file != nullptr) {
    try {
      unlock();
      file->close();
    } catch (const file_error&) {
      // Nothing is left to write: a failing close has nothing to lose.
    }
    delete file;
  }
}

void IndexFile::read_header(idx_header_st* header, std::streampos offset) {
  QZ_TRACE;
  if (offset < 0 || static_cast<std::streamoff>(offset) % static_cast<std::streamoff>(kIndexBlockSize) != 0) {
    throw dbf_index_file_corrupted();
  }
  if (deferring_ && deferred_header_pending_ && static_cast<std::streamoff>(offset) == deferred_header_offset_) {
    *header = deferred_header_;
    return;
  }
  idx_header_st fresh;
  if (file->readex(offset, fresh.raw, kIndexHeaderSize) != kIndexHeaderSize) throw dbf_index_file_corrupted();
  ++headers_read;
  decode_index_header(&fresh, charset);
  *header = std::move(fresh);
}

bool IndexFile::header_unchanged(const idx_header_st& known, std::streampos offset) {
  QZ_TRACE;
  if (deferring_ && deferred_header_pending_ && static_cast<std::streamoff>(offset) == deferred_header_offset_) {
    return deferred_header_.root == known.root && deferred_header_.version == known.version;
  }
  constexpr size_t kHead = idx_header_at::version + 4;
  char head[kHead];
  if (offset < 0 || file->readex(offset, head, kHead) != kHead) throw dbf_index_file_corrupted();
  const bool same = idx_load_le32(head + idx_header_at::root) == known.root &&
                    idx_load_le32(head + idx_header_at::version) == static_cast<uint32_t>(known.version);
  if (same) ++headers_read;  // a change is counted by the whole header's read that follows
  return same;
}

void IndexFile::write_header(idx_header_st* header, std::streampos offset) {
  QZ_TRACE;
  QZ_ASSERT(offset >= 0 && static_cast<std::streamoff>(offset) % static_cast<std::streamoff>(kIndexBlockSize) == 0);
  encode_index_header(header, charset);
  if (deferring_ && static_cast<std::streamoff>(offset) == deferred_header_offset_) {
    deferred_header_ = *header;
    deferred_header_pending_ = true;
  } else {
    file->writeex(offset, header->raw, kIndexHeaderSize);
  }
  const std::streamoff end = static_cast<std::streamoff>(offset) + static_cast<std::streamoff>(kIndexHeaderSize);
  if (end > end_offset) end_offset = end;
}

void IndexFile::read_node(const Index* index, std::streamoff offset, index_node_st* node) {
  QZ_TRACE;
  *node = this->node(index, offset);
}

const index_node_st& IndexFile::node(const Index* index, std::streamoff offset) {
  QZ_TRACE;
  if (deferring_) {
    if (const index_node_st* held = deferred_.find(offset)) return *held;
  }
  const auto found = map_.find(offset);
  if (found != map_.end()) {
    touch(found->second);
    return slots_[static_cast<size_t>(found->second)].node;
  }
  if (offset < 0 || offset % static_cast<std::streamoff>(kIndexBlockSize) != 0) throw dbf_index_file_corrupted();
  index_node_st fresh;
  fresh.offset = offset;
  if (file->readex(offset, fresh.raw, kIndexNodeSize) != kIndexNodeSize) throw dbf_index_file_corrupted();
  ++nodes_read;
  decode_index_node(&fresh, index->header.key_length, index_leaf_kind(index->header.options));
  return store(fresh);
}

void IndexFile::write_node(index_node_st* node) {
  QZ_TRACE;
  QZ_ASSERT(node->offset >= 0 && node->offset % static_cast<std::streamoff>(kIndexBlockSize) == 0);
  encode_index_node(node);
  const std::streamoff end = node->offset + static_cast<std::streamoff>(kIndexNodeSize);
  if (deferring_) {
    // The cache keeps what the disk holds; the deferred copy shadows it until the flush.
    deferred_.put(*node);
    if (end > end_offset) end_offset = end;
    return;
  }
  file->writeex(node->offset, node->raw, kIndexNodeSize);
  if (end > end_offset) end_offset = end;
  store(*node);
}

void IndexFile::unlink_slot(int32_t slot) {
  QZ_TRACE;
  cache_entry& e = slots_[static_cast<size_t>(slot)];
  if (e.newer >= 0) slots_[static_cast<size_t>(e.newer)].older = e.older; else head_ = e.older;
  if (e.older >= 0) slots_[static_cast<size_t>(e.older)].newer = e.newer; else tail_ = e.newer;
  e.newer = e.older = -1;
}

void IndexFile::touch(int32_t slot) {
  QZ_TRACE;
  if (slot == head_) return;
  unlink_slot(slot);
  cache_entry& e = slots_[static_cast<size_t>(slot)];
  e.older = head_;
  if (head_ >= 0) slots_[static_cast<size_t>(head_)].newer = slot;
  head_ = slot;
  if (tail_ < 0) tail_ = slot;
}

index_node_st& IndexFile::store(const index_node_st& node) {
  QZ_TRACE;
  int32_t slot;
  bool fresh = false;
  const auto found = map_.find(node.offset);
  if (found != map_.end()) {
    slot = found->second;
  } else if (slots_.size() < kCacheCapacity) {
    slot = static_cast<int32_t>(slots_.size());
    slots_.emplace_back();
    map_.emplace(node.offset, slot);
    fresh = true;
  } else {
    slot = tail_;  // the least recently used entry is taken over
    map_.erase(slots_[static_cast<size_t>(slot)].node.offset);
    map_.emplace(node.offset, slot);
  }
  cache_entry& e = slots_[static_cast<size_t>(slot)];
  if (&e.node != &node) e.node = node;
  if (fresh) {
    // Not in the recency list yet: goes straight to its front.
    e.newer = -1;
    e.older = head_;
    if (head_ >= 0) slots_[static_cast<size_t>(head_)].newer = slot;
    head_ = slot;
    if (tail_ < 0) tail_ = slot;
  } else {
    touch(slot);
  }
  return e.node;
}

void IndexFile::drop_cache() {
  QZ_TRACE;
  map_.clear();
  slots_.clear();  // capacity stays: the slots never reallocate
  head_ = tail_ = -1;
}

bool IndexFile::shared() const {
  QZ_TRACE;
  return (file->mode & OPEN_SHARED) != 0;
}

bool IndexFile::lock() {
  QZ_TRACE;
  if (locked_) return true;
  // A refused lock is a broken invariant of the file layer.
  if (!file->lock(kIndexLockOffset, 1)) throw_assert_failed();
  locked_ = true;
  // Others may have appended blocks since we last looked. Blocks a deferred build has taken are
  // not on the disk yet: they stay taken (only an exclusive file defers without the lock).
  const std::streamoff disk_end = block_end(file);
  end_offset = deferring_ ? std::max(disk_end, end_offset) : disk_end;
  ++lock_generation_;
  return true;
}

void IndexFile::unlock() {
  QZ_TRACE;
  if (!locked_) return;
  // Blocks allocated under the lock may be taken by others once it is gone.
  if (deferring_) discard_deferred();
  locked_ = false;
  file->unlock(kIndexLockOffset, 1);
}

void IndexFile::defer_writes(std::streampos header_offset) {
  QZ_TRACE;
  QZ_ASSERT(!deferring_);
  // Unlocked, another process could allocate the blocks this build has taken.
  QZ_ASSERT(!shared() || locked_);
  deferring_ = true;
  deferred_header_offset_ = static_cast<std::streamoff>(header_offset);
  deferred_header_pending_ = false;
  deferred_.reset(deferred_header_offset_);
}

void IndexFile::flush_deferred() {
  QZ_TRACE;
  QZ_ASSERT(deferring_);
  try {
    // Adjacent blocks go out in one write.
    constexpr size_t kRunBlocks = 256;
    std::vector<char> run;
    run.reserve(kRunBlocks * kIndexNodeSize);
    std::streamoff run_start = 0;
    auto write_run = [&] {
      if (!run.empty()) file->writeex(run_start, run.data(), run.size());
      run.clear();
    };
    deferred_.each([&](const index_node_st& node) {
      const bool adjacent = !run.empty() && run_start + static_cast<std::streamoff>(run.size()) == node.offset &&
                            run.size() < kRunBlocks * kIndexNodeSize;
      if (!adjacent) {
        write_run();
        run_start = node.offset;
      }
      run.insert(run.end(), node.raw, node.raw + kIndexNodeSize);
    });
    write_run();
    if (deferred_header_pending_) file->writeex(deferred_header_offset_, deferred_header_.raw, kIndexHeaderSize);
  } catch (...) {
    // Part of it may be on the disk: nothing cached can be trusted.
    deferred_.clear();
    deferring_ = false;
    drop_cache();
    end_offset = block_end(file);
    throw;
  }
  // Cached copies of rewritten nodes take the new content.
  deferred_.each([&](const index_node_st& node) {
    const auto found = map_.find(node.offset);
    if (found != map_.end()) slots_[static_cast<size_t>(found->second)].node = node;
  });
  deferred_.clear();
  deferring_ = false;
  deferred_header_pending_ = false;
}

void IndexFile::discard_deferred() noexcept {
  QZ_TRACE;
  if (!deferring_) return;
  deferred_.clear();
  deferring_ = false;
  deferred_header_pending_ = false;
  // Nothing allocated since reached the file: its end is where new blocks go again.
  try {
    end_offset = block_end(file);
  } catch (...) {
    // The end stays advanced: a gap in the file, never an overlap.
  }
}

index_node_st* IndexFile::deferred_nodes_st::find(std::streamoff offset) {
  if (offset < base_) {
    const auto found = below_.find(offset);
    return found != below_.end() ? &found->second : nullptr;
  }
  const auto size = static_cast<std::streamoff>(kIndexBlockSize);
  if ((offset - base_) % size != 0) return nullptr;  // off the block grid: never a node of ours
  const auto block = static_cast<size_t>((offset - base_) / size);
  if (block >= slots_.size() || slots_[block] < 0) return nullptr;
  return &nodes_[static_cast<size_t>(slots_[block])];
}

void IndexFile::deferred_nodes_st::put(const index_node_st& node) {
  if (index_node_st* held = find(node.offset)) {
    if (held != &node) *held = node;
    return;
  }
  if (node.offset < base_) {
    below_.emplace(node.offset, node);
    return;
  }
  const auto block = static_cast<size_t>((node.offset - base_) / static_cast<std::streamoff>(kIndexBlockSize));
  if (block >= slots_.size()) slots_.resize(std::max(block + 1, slots_.size() * 2), -1);
  slots_[block] = static_cast<int32_t>(nodes_.size());
  nodes_.push_back(node);
}

void IndexFile::deferred_nodes_st::clear() {
  slots_.clear();
  nodes_.clear();
  below_.clear();
}

void IndexFile::deferred_nodes_st::reset(std::streamoff base) {
  clear();
  base_ = base;
}

void init_directory_header(idx_header_st* header) {
  QZ_TRACE;
  *header = idx_header_st();
  header->root = kDirectoryRoot;
  header->key_length = kDirectoryKeyLength;
  header->options = IDX_OPT_COMPACT | IDX_OPT_CREATED | IDX_OPT_DIRECTORY | IDX_OPT_MACHINE;
  header->key_expression = String::fromBytes("", 0, Charset::ascii);
  header->for_expression = String::fromBytes("", 0, Charset::ascii);
  header->collation_name = String::fromBytes("", 0, Charset::ascii);
}

void IndexFile::create_compound() {
  QZ_TRACE;
  QZ_ASSERT(file->get_size() == 0);
  Index directory(this, 0);
  init_directory_header(&directory.header);
  write_header(&directory.header, 0);
  // Tag names are the keys, header offsets the record numbers: any 32-bit offset must fit.
  index_node_st root;
  directory.init_compact_node(&root, kDirectoryKeyLength, 0xFFFFFFFFu, kDirectoryKeyLength, kDirectoryKeyLength,
                              true);
  root.offset = kDirectoryRoot;
  root.root = true;
  write_node(&root);
}

}  // namespace qzbase

namespace qzbase {

void IndexLockSet::take(const std::vector<IndexFile*>& files) {
  QZ_TRACE;
  for (IndexFile* f : files) {
    if (f == nullptr || f->is_locked()) continue;
    f->lock();
    taken_.push_back(f);
  }
}

void IndexLockSet::release() noexcept {
  QZ_TRACE;
  for (IndexFile* f : taken_) {
    try {
      f->unlock();
    } catch (...) {
      // An unlock the system refuses leaves nothing better to do than go on with the others.
    }
  }
  taken_.clear();
}

}  // namespace qzbase
