// build_messages.cpp - the build-message list and format_build_error.
#include "compiler/build_messages.h"

#include <qzbase.h>

#include <cstdio>
#include <string>

#include "compiler/compiler_state.h"
#include "frontend/preprocessor.h"
#include "frontend/scanner.h"
#include "platform/errors.h"

namespace qzbase {

namespace {

constexpr size_t kBlockBufferSize = 8192;
constexpr size_t kNameBufferSize = 1024;
constexpr char kCommandPrompt[] = "<command prompt>";

// Characters [begin, end) of the source, non-printable ones as <HH> groups, in UTF-8.
std::string excerpt(const String& source, uint32_t begin, uint32_t end) {
  if (end <= begin) return std::string();
  size_t length = source.length();
  if (begin >= length) return std::string();
  size_t count = end - begin;
  if (begin + count > length) count = length - begin;
  return Scanner::canoncializeDocumentContent(source.substr(begin, count)).u8str();
}

}  // namespace

void BuildMessages::add(uint32_t category, uint32_t code, const document_location_st& location,
                        const document_location_st& context_location) {
  QZ_TRACE;
  build_message_record_st record;
  record.category = category;
  record.code = code;
  record.location = location;
  record.context_location = context_location;
  records.push_back(std::move(record));
}

void BuildMessages::add_preprocessor_messages(const std::list<preprocessor_message_st>& messages,
                                              const std::filesystem::path& main_file) {
  QZ_TRACE;
  for (const preprocessor_message_st& message : messages) {
    if (message.origin != PP_ORIGIN_PREPROCESSOR && message.origin != PP_ORIGIN_PARSER) continue;
    uint32_t category = message.origin == PP_ORIGIN_PREPROCESSOR ? BUILD_MESSAGE_PREPROCESSOR
                                                                 : BUILD_MESSAGE_PARSER;
    add(category, message.code, message.location, message.span);
    if (!message.file.empty() && message.file != main_file) {
      build_message_record_st& record = records.back();
      record.has_source = true;
      record.file = message.file;
      record.text = message.text;
    }
  }
}

void BuildMessages::add_compiler_messages(const Compiler& compiler) {
  QZ_TRACE;
  for (const build_message_st& message : compiler.messages) {
    add(BUILD_MESSAGE_COMPILER, message.code, message.location, message.location);
  }
}

const char* build_message_category_text(uint32_t category) {
  QZ_TRACE;
  switch (category) {
    case BUILD_MESSAGE_PREPROCESSOR:
      return "(Preprocessor error)";
    case BUILD_MESSAGE_PARSER:
      return "(Parser error)";
    case BUILD_MESSAGE_COMPILER:
      return "(Compiler error)";
    default:
      return "(Generic error)";
  }
}

String format_build_message(const build_message_record_st& message, const String& source,
                            const std::filesystem::path& main_file) {
  QZ_TRACE;
  const String& text = message.has_source ? message.text : source;
  std::string at = excerpt(text, message.location.begin_char, message.location.end_char);
  std::string behind =
      excerpt(text, message.context_location.begin_char, message.location.begin_char);

  // The name: the message's own file, else the build's file, else the command prompt. A path
  // that does not fit the name buffer is cut to fit.
  const std::filesystem::path& file = message.has_source ? message.file : main_file;
  std::string name = file.has_filename() ? file.string() : std::string(kCommandPrompt);
  if (name.size() >= kNameBufferSize) name.resize(kNameBufferSize - 1);

  // A code the error table does not hold gets an empty message text.
  const error_st* row = nullptr;
  const char* message_text = find_error(static_cast<int>(message.code), &row) >= 0 && row != nullptr &&
                                     row->message != nullptr
                                 ? row->message
                                 : "";
  char headline[kNameBufferSize];
  std::snprintf(headline, sizeof headline, "%s %d - %s", build_message_category_text(message.category),
                static_cast<int>(message.code), message_text);

  std::string block = std::string(headline) + "\n in " + name + ", line " +
                      std::to_string(static_cast<int>(message.location.begin_line)) + ", column " +
                      std::to_string(static_cast<int>(message.location.begin_column)) + ", somewhere at: " + at;
  if (!behind.empty()) block += "\n  somwhere behind: " + behind;
  // A block longer than the buffer is cut at a character boundary and still ends its message
  // (cut blindly, it split a UTF-8 sequence and the next message ran on in the same line).
  constexpr size_t kRoom = kBlockBufferSize - 1 - 2;
  if (block.size() > kRoom) {
    size_t n = kRoom;
    while (n > 0 && (static_cast<unsigned char>(block[n]) & 0xC0) == 0x80) --n;
    block.resize(n);
  }
  block += "\n\n";
  return String::fromBytes(block.data(), block.size(), Charset::utf8);
}

void format_build_error(const BuildMessages& messages, const String& source,
                        const std::filesystem::path& main_file, Screen* screen) {
  QZ_TRACE;
  for (const build_message_record_st& message : messages.records) {
    screen->err(format_build_message(message, source, main_file));
  }
}

}  // namespace qzbase
