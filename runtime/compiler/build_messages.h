// build_messages.h - the build-message list of one build and its printed form.
//
// The preprocessor, the parser and the compiler each record what went wrong and carry on; a
// build gathers all of it here, in order, before it raises one RuntimeError. format_build_error
// prints one block per message: category, number and text, the file (or the command prompt),
// line and column, and an excerpt of the source at and before the problem.
#pragma once

#include <qzbase.h>

#include <cstdint>
#include <filesystem>
#include <list>

namespace qzbase {

class Compiler;
class Screen;
struct preprocessor_message_st;

enum BuildMessageCategory : uint32_t {
  BUILD_MESSAGE_PREPROCESSOR = 0,
  BUILD_MESSAGE_PARSER = 1,
  BUILD_MESSAGE_COMPILER = 2,
};

struct build_message_record_st {
  uint32_t category;
  uint32_t code;
  document_location_st location;          // "somewhere at"
  document_location_st context_location;  // its begin up to location's begin: "somwhere behind"
  // The source the locations point into when it is not the built text (a message of an
  // included file, as the preprocessor recorded it); has_source is false otherwise.
  bool has_source = false;
  std::filesystem::path file;
  String text;
};

class BuildMessages {
 public:
  void add(uint32_t category, uint32_t code, const document_location_st& location,
           const document_location_st& context_location);
  // Preprocessor messages of origin 0 become category 0, origin 1 category 1 (other origins are
  // not copied), each with its code, both locations, and the file and text it was recorded in
  // when that is an included file (a file other than main_file).
  void add_preprocessor_messages(const std::list<preprocessor_message_st>& messages,
                                 const std::filesystem::path& main_file);
  // One compiler-category message per compiler message, its location twice.
  void add_compiler_messages(const Compiler& compiler);

  bool empty() const { return records.empty(); }
  size_t size() const { return records.size(); }

  std::list<build_message_record_st> records;
};

// The category's text: "(Preprocessor error)", "(Parser error)", "(Compiler error)", else
// "(Generic error)".
const char* build_message_category_text(uint32_t category);

// The printed block of one message. source is the built text; main_file the current file path
// of the build (empty for text from no file: the name is then "<command prompt>").
String format_build_message(const build_message_record_st& message, const String& source,
                            const std::filesystem::path& main_file);

// Writes every message's block, in order, through Screen::err. The list is not changed.
void format_build_error(const BuildMessages& messages, const String& source,
                        const std::filesystem::path& main_file, Screen* screen);

}  // namespace qzbase
