// index_file.h - one open index file: header and node input and output at explicit offsets.
//
// Every tag of a compound file (and its tag directory) reads and writes through the one
// IndexFile of that file. What comes from the disk is checked completely before anyone uses it
// (dbf_index_file_corrupted); what goes to the disk is encoded from the decoded fields.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <ios>

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
  // Encodes the decoded fields and writes the 1024 bytes; nothing is written when they do not
  // encode (dbf_invalid_index_key_len for texts that do not fit).
  void write_header(idx_header_st* header, std::streampos offset);
  // 512 bytes at the offset, decoded as a node of the owning tag (its options give the leaf kind).
  void read_node(const Index* index, std::streamoff offset, index_node_st* node);
  // Encodes the head and writes the 512 bytes at node->offset.
  void write_node(index_node_st* node);

  // Makes a new compound file in the (empty) file: the tag directory's header at 0 and its empty
  // root leaf at 1024.
  void create_compound();

  File* file;
  const Charset* charset;
  std::streamoff end_offset = 0;  // where new blocks go
};

// The header of a new tag directory: key length 10, compact leaves, options 5 to 8, empty texts
// and collation name, root at 1024.
void init_directory_header(idx_header_st* header);

}  // namespace qzbase
