// Helpers shared by the frontend tests: text conversion, tokenizing a UTF-8 text, rendering of
// path items and binary operators, and the corpus files.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "frontend/parser.h"

namespace qzbase {
namespace test {

inline std::string utf8_of(const String& s) {
  String copy = s;
  if (copy.get_charset() != Charset::utf8 && copy.get_charset() != Charset::ascii) copy.convert(Charset::utf8, CON_NONE, 0);
  return std::string(copy.read(), copy.size());
}

inline std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// A UTF-8 text and its tokens; the parse runs keep both alive for as long as the result.
struct tokenized_text_st {
  String source;
  token_list_type tokens;

  void tokenize_utf8(const std::string& text) {
    source = String::fromBytes(text.data(), text.size(), Charset::utf8);
    tokenize(source.read(), source.end(), source.get_charset(), &tokens);
  }
};

// One path item; the indexes and arguments go through the caller's render_list.
template <class RenderList>
std::string render_path_item(const PathItem* item, RenderList render_list) {
  switch (item->kind) {
    case PATH_ITEM_NAME:
      return utf8_of(static_cast<const NamePathItem*>(item)->name);
    case PATH_ITEM_NAME_INDEX: {
      auto* it = static_cast<const NameIndexPathItem*>(item);
      return utf8_of(it->name) + "[" + render_list(it->indexes) + "]";
    }
    case PATH_ITEM_FUNCTION: {
      auto* it = static_cast<const FunctionPathItem*>(item);
      return utf8_of(it->name) + "(" + render_list(it->arguments) + ")";
    }
    case PATH_ITEM_INDEX:
      return "[" + render_list(static_cast<const IndexPathItem*>(item)->indexes) + "]";
    case PATH_ITEM_WITH:
      return "<with>";
  }
  return "<item?>";
}

inline const char* binary_text(uint32_t op) {
  static const char* const texts[] = {"+", "-", "*", "/", "%", "^", "=", "<", "<=", ">", ">=", "<>", "==",
                                      "and", "or", "$"};
  return op < 16 ? texts[op] : "?";
}

// The path of a corpus file kept next to the frontend tests.
inline std::string corpus_path(const char* name) {
  return std::string(QZ_TEST_SOURCE_DIR) + "/frontend/" + name;
}

// The lines of a corpus file, as std::getline reads them; false when the file cannot be read.
inline bool read_corpus(const char* name, std::vector<std::string>* lines) {
  std::ifstream in(corpus_path(name));
  if (!in.good()) return false;
  std::string line;
  while (std::getline(in, line)) lines->push_back(line);
  return true;
}

}  // namespace test
}  // namespace qzbase
