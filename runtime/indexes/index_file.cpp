// index_file.cpp - header and node input and output of one index file.
#include "indexes/index_file.h"

#include "platform/file.h"
#include "indexes/index.h"
#include "tables/dbf_exceptions.h"

namespace qzbase {

namespace {

constexpr uint32_t kDirectoryKeyLength = 10;
constexpr uint32_t kDirectoryRoot = kIndexHeaderSize;

}  // namespace

IndexFile::IndexFile(File* file, const Charset* charset) : file(file), charset(charset) {
  QZ_TRACE;
  end_offset = static_cast<std::streamoff>(file->get_size());
}

IndexFile::~IndexFile() {
  QZ_TRACE;
  if (file != nullptr) {
    try {
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
  idx_header_st fresh;
  if (file->readex(offset, fresh.raw, kIndexHeaderSize) != kIndexHeaderSize) throw dbf_index_file_corrupted();
  decode_index_header(&fresh, charset);
  *header = std::move(fresh);
}

void IndexFile::write_header(idx_header_st* header, std::streampos offset) {
  QZ_TRACE;
  QZ_ASSERT(offset >= 0 && static_cast<std::streamoff>(offset) % static_cast<std::streamoff>(kIndexBlockSize) == 0);
  encode_index_header(header, charset);
  file->writeex(offset, header->raw, kIndexHeaderSize);
  const std::streamoff end = static_cast<std::streamoff>(offset) + static_cast<std::streamoff>(kIndexHeaderSize);
  if (end > end_offset) end_offset = end;
}

void IndexFile::read_node(const Index* index, std::streamoff offset, index_node_st* node) {
  QZ_TRACE;
  if (offset < 0 || offset % static_cast<std::streamoff>(kIndexBlockSize) != 0) throw dbf_index_file_corrupted();
  index_node_st fresh;
  fresh.offset = offset;
  if (file->readex(offset, fresh.raw, kIndexNodeSize) != kIndexNodeSize) throw dbf_index_file_corrupted();
  decode_index_node(&fresh, index->header.key_length, index_leaf_kind(index->header.options));
  *node = fresh;
}

void IndexFile::write_node(index_node_st* node) {
  QZ_TRACE;
  QZ_ASSERT(node->offset >= 0 && node->offset % static_cast<std::streamoff>(kIndexBlockSize) == 0);
  encode_index_node(node);
  file->writeex(node->offset, node->raw, kIndexNodeSize);
  const std::streamoff end = node->offset + static_cast<std::streamoff>(kIndexNodeSize);
  if (end > end_offset) end_offset = end;
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
