// parser.cpp - the glue around the generated GLR parser: lexer, error report, parse helpers.
#include "frontend/parser.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace qzbase {

thread_local parser_slices_probe_fn parser_slices_probe = nullptr;

namespace {

// A code that names no grammar symbol: the parser treats it as an undefined token.
constexpr int kUndefinedToken = 1024;

// Stack for the recursion of the GLR parser (see parser.h): ranges up to kDirectTokens parse on
// the calling thread; longer ones on a helper thread with kStackBase plus kStackPerToken per
// token (measured: about 3.5 KB per token in the deepest shapes, with or without AddressSanitizer).
// The parse stack never holds more than 100,000 items, so no range needs more than that many
// levels.
constexpr size_t kDirectTokens = 256;
constexpr size_t kStackBase = size_t{1} << 20;
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kStackPerToken = size_t{16} << 10;
#else
constexpr size_t kStackPerToken = size_t{8} << 10;
#endif
constexpr size_t kMaxStackTokens = 100000;

struct parse_job_st {
  Scanner* scanner;
  void* callback_data;
  QzparseCallback callback;
  parser_slices_probe_fn probe;  // the caller's thread-local test seam, carried over
  int result;
};

void* run_parse_job(void* argument) {
  auto* job = static_cast<parse_job_st*>(argument);
  parser_slices_probe = job->probe;
  job->result = qz_glr_parse(job->scanner, job->callback_data, job->callback);
  return nullptr;
}

// Collects the result of an expression or operand parse and forwards every other event.
struct operand_receiver_st {
  Operand* result;
  QzparseCallback forward;
  void* forward_data;
};

void operand_receiver(void* data, int event, intptr_t value, const document_location_st& location) {
  auto* receiver = static_cast<operand_receiver_st*>(data);
  if (event == QZPARSE_EVENT_OPERAND) {
    delete receiver->result;  // a start form reports once; never more than one is kept
    receiver->result = reinterpret_cast<Operand*>(value);
    return;
  }
  if (receiver->forward) receiver->forward(receiver->forward_data, event, value, location);
}

Operand* parse_one(Scanner::iterator begin, Scanner::iterator end, int start_token, parse_status_st* status,
                   QzparseCallback forward, void* forward_data) {
  QZ_TRACE;
  operand_receiver_st receiver{nullptr, forward, forward_data};
  int result = parse_tokens(begin, end, start_token, &receiver, &operand_receiver, status);
  if (result != 0) {
    delete receiver.result;
    return nullptr;
  }
  return receiver.result;
}

}  // namespace

int yylex(QZSTYPE* value, document_location_st* location, Scanner* scanner) {
  QZ_TRACE;
  value->object = nullptr;
  value->slices = nullptr;
  try {
    int token = scanner->lex(value, location);
    constexpr int kNot = 404, kBlank = 32;
    if (token == kNot) {
      if (++scanner->not_run > kMaxNotRun) {
        scanner->not_run_exceeded = true;
        return kUndefinedToken;  // the parse ends here; yyerror reports 103
      }
    } else if (token != kBlank && token != '.') {
      scanner->not_run = 0;
    }
    return token;
  } catch (...) {
    // tokenizer_returned_unsupported_token_type_exception (the token's text and location are
    // already set): no grammar symbol, so the parse ends with a syntax error at that token.
    return kUndefinedToken;
  }
}

}  // namespace qzbase

int yyparse(qzbase::Scanner* scanner, void* callback_data, qzbase::QzparseCallback callback) {
  QZ_TRACE;
  using namespace qzbase;
  size_t tokens = static_cast<size_t>(scanner->end - scanner->current);
  if (tokens <= kDirectTokens) return qz_glr_parse(scanner, callback_data, callback);
  parse_job_st job{scanner, callback_data, callback, parser_slices_probe, 2};
  size_t stack = kStackBase + std::min(tokens, kMaxStackTokens) * kStackPerToken;
  pthread_attr_t attributes;
  pthread_t thread;
  bool started = pthread_attr_init(&attributes) == 0;
  if (started) {
    started = pthread_attr_setstacksize(&attributes, stack) == 0 &&
              pthread_create(&thread, &attributes, &run_parse_job, &job) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) {
    // No stack for the parse: as when the parser's own stack cannot be allocated.
    scanner->error_code = PARSER_ERROR_STACK_EXHAUSTED;
    scanner->error_location = scanner->current->location;
    return 2;
  }
  pthread_join(thread, nullptr);
  return job.result;
}

namespace qzbase {

void yyerror(const document_location_st& location, Scanner* scanner, void*, QzparseCallback, const char* message) {
  QZ_TRACE;
  scanner->error_location = location;
  if (scanner->not_run_exceeded) {
    scanner->error_code = PARSER_ERROR_NESTING;
  } else if (std::strcmp(message, "memory exhausted") == 0) {
    scanner->error_code = PARSER_ERROR_STACK_EXHAUSTED;
  } else if (std::strcmp(message, "syntax is ambiguous") == 0) {
    scanner->error_code = PARSER_ERROR_AMBIGUOUS;
  } else {
    scanner->error_code = PARSER_ERROR_SYNTAX;
  }
}

void yyerror(const document_location_st* location, Scanner* scanner, void* callback_data, QzparseCallback callback,
             const char* message) {
  QZ_TRACE;
  yyerror(*location, scanner, callback_data, callback, message);
}

int parse_tokens(Scanner::iterator begin, Scanner::iterator end, int start_token, void* callback_data,
                 QzparseCallback callback, parse_status_st* status) {
  QZ_TRACE;
  token_st start{};
  start.kind = static_cast<uint32_t>(start_token);
  Scanner scanner(begin, end, start);
  int result = yyparse(&scanner, callback_data, callback);
  if (status) {
    status->result = result;
    status->error_code = result == 0 ? 0 : scanner.error_code;
    status->error_location = result == 0 ? document_location_st{} : scanner.error_location;
    status->position = *scanner.get_position();
  }
  return result;
}

Operand* parse_expression_tokens(Scanner::iterator begin, Scanner::iterator end, parse_status_st* status,
                                 QzparseCallback forward, void* forward_data) {
  QZ_TRACE;
  return parse_one(begin, end, QZ_TOKEN_START_EXPRESSION, status, forward, forward_data);
}

Operand* parse_operand_tokens(Scanner::iterator begin, Scanner::iterator end, parse_status_st* status,
                              QzparseCallback forward, void* forward_data) {
  QZ_TRACE;
  return parse_one(begin, end, QZ_TOKEN_START_OPERAND, status, forward, forward_data);
}

}  // namespace qzbase
