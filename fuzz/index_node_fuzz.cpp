// index_node_fuzz.cpp - arbitrary bytes as an index file: the first 1024 as a tag header, the
// rest as 512-byte nodes of that tag, each read and walked forwards and backwards. Only
// dbf_index_file_corrupted (and error 1001 for a header with option bit 4) may come out; any
// other exception, a crash or a sanitizer report is a fault.
#include <qzbase.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "indexes/index.h"
#include "indexes/index_file.h"
#include "tables/dbf_exceptions.h"
#include "values/charset_registry.h"

namespace {

using namespace qzbase;

void walk(const Index& tag, const index_node_st& node) {
  if (node.bitmap) return;
  key_iterator_st it;
  tag.goto_first_key(node, &it);
  while (it.index < static_cast<int32_t>(node.count)) tag.goto_next_key(node, &it);
  tag.goto_last_key(node, &it);
  while (it.index >= 0) tag.goto_prev_key(node, &it);
}

void run(const uint8_t* data, size_t size) {
  IndexFile file(create_file(String("memory:///fuzz.cdx"), OPEN_WRITE), get_charset_by_codepage(1252, false));
  file.file->writeex(0, reinterpret_cast<const char*>(data), size);
  Index tag(&file, 0);
  bool header_read = false;
  try {
    file.read_header(&tag.header, 0);
    header_read = true;
  } catch (const dbf_index_file_corrupted&) {
  } catch (const RuntimeError& e) {
    if (e.code != 1001 || size < 16 || (data[14] & 0x10) == 0) std::abort();
  }
  if (!header_read) {
    // Nodes are still worth decoding: under a compact tag of a key length the input chooses.
    tag.header.key_length = static_cast<uint16_t>(1 + (size > 12 ? data[12] % 240 : 9));
    tag.header.options = IDX_OPT_COMPACT;
  }
  for (size_t at = 1024; at + 512 <= size; at += 512) {
    try {
      index_node_st node;
      file.read_node(&tag, static_cast<std::streamoff>(at), &node);
      walk(tag, node);
      // A node that reads back is written and read again unchanged (attribute bits other than
      // root and leaf are not kept).
      if (node.compact == node.leaf) {
        index_node_st copy = node;
        file.write_node(&copy);
        index_node_st again;
        file.read_node(&tag, static_cast<std::streamoff>(at), &again);
        if (std::memcmp(again.raw + 2, node.raw + 2, sizeof node.raw - 2) != 0 || again.count != node.count) std::abort();
      }
    } catch (const dbf_index_file_corrupted&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  run(data, size);
  return 0;
}
