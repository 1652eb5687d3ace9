// charset.h - the kinds of character set. Internal header.
//
// The base class Charset and the record charset_st are public (qzbase.h). This header adds the
// concrete kinds the registry (charset_registry.h) creates:
//   Binary               raw bytes
//   Manual_SBCSCharset   table-driven single-byte code pages
//   _ICUConverterCharset ICU converters, with GenericCharset, UTF8, UTF16LE and UTF32LE
#pragma once

#include <qzbase.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

struct UConverter;

namespace qzbase {

// Size of the UTF-16 chunk of the pivot and of the scratch area of Charset::calculate.
constexpr size_t kPivotChunkUnits = 2048;
constexpr size_t kPivotScratchBytes = 4096;

class Binary : public Charset {
 public:
  Binary(const charset_st& record, bool flagged);
  ~Binary() override;

  int calculate(const char* src, const char* end, const Charset* target, size_t* out_bytes,
                CstranRecovery rec) const override;
  int convert(const char** src, const char* end, char** dst, const char* dst_end, const Charset* target,
              CstranRecovery rec) const override;
  using Charset::convert;
  char32_t next(const char** p, const char* end) const override;
  void verify(const char* data, size_t size, size_t* valid_bytes, size_t* valid_chars,
              size_t* invalid_chars, size_t* first_invalid) const override;
};

// A single-byte code page driven by a 256-entry table (byte -> UTF-16 unit, U+FFFD = unmapped).
class Manual_SBCSCharset : public Charset {
 public:
  Manual_SBCSCharset(const charset_st& record, bool flagged, const uint16_t* map, uint8_t substitution);
  ~Manual_SBCSCharset() override;

  char32_t next(const char** p, const char* end) const override;
  void verify(const char* data, size_t size, size_t* valid_bytes, size_t* valid_chars,
              size_t* invalid_chars, size_t* first_invalid) const override;
  CstranError out(const char** src, const char* end, char16_t** dst, const char16_t* dst_end) const override;
  CstranError in(const char16_t** src, const char16_t* end, char** dst, const char* dst_end,
                 CstranRecovery rec) const override;

  const uint16_t* map() const { return map_; }
  uint8_t substitution() const { return substitution_; }
  // The byte of a UTF-16 unit, or -1 when the code page has none (lowest byte wins).
  int reverse(char16_t unit) const {
    const int16_t* page = reverse_[unit >> 8].get();
    return page ? page[unit & 0xFF] : -1;
  }

 private:
  const uint16_t* map_;
  uint8_t substitution_;
  // Reverse map: 256 pages of 256 entries, a page allocated only when one of its units is mapped.
  std::unique_ptr<int16_t[]> reverse_[256];
};

// Every ICU-backed kind. Holds the shared converter; each thread converts with its own clone.
class _ICUConverterCharset : public Charset {
 public:
  // Opens the shared converter from record.icu_name; a failure raises assert_failed_exception.
  _ICUConverterCharset(const charset_st& record, bool flagged);
  ~_ICUConverterCharset() override;

  char32_t next(const char** p, const char* end) const override;
  void verify(const char* data, size_t size, size_t* valid_bytes, size_t* valid_chars,
              size_t* invalid_chars, size_t* first_invalid) const override;
  CstranError out(const char** src, const char* end, char16_t** dst, const char16_t* dst_end) const override;
  CstranError in(const char16_t** src, const char16_t* end, char** dst, const char* dst_end,
                 CstranRecovery rec) const override;

  // `in` with an explicit flush flag: the pivot passes flush = false for every chunk but the last,
  // so the converter keeps its state (UTF-7 shift state, a pending surrogate) between chunks.
  CstranError in_chunk(const char16_t** src, const char16_t* end, char** dst, const char* dst_end,
                       CstranRecovery rec, bool flush) const;
  // Drops whatever state the calling thread's clone keeps (both directions). The pivot calls it
  // before it starts and after it stops early, so no abandoned state leaks into the next use.
  void reset_thread_converter() const;

  // The calling thread's clone (created on first use in the thread; closed when it ends).
  UConverter* thread_converter() const;
  UConverter* shared_converter() const;

 protected:
  // The Unicode encodings: their converter is opened on first use, and text is encoded into them
  // here (utf_width 8, 16 or 32) without ICU wherever no error or partial character is involved,
  // so that a program which never meets such a case never loads ICU's converters.
  _ICUConverterCharset(const charset_st& record, bool flagged, int utf_width);

 private:
  void open_shared() const;

  mutable std::atomic<UConverter*> shared_{nullptr};
  mutable std::once_flag opened_;
  int utf_width_ = 0;  // 0: any other converter, opened with the object
  uint64_t serial_;    // unique per object: the key of the per-thread clone map
};

class GenericCharset : public _ICUConverterCharset {
 public:
  using _ICUConverterCharset::_ICUConverterCharset;
  ~GenericCharset() override;
};

class UTF8 : public _ICUConverterCharset {
 public:
  UTF8(const charset_st& record, bool flagged) : _ICUConverterCharset(record, flagged, 8) {}
  ~UTF8() override;
  char32_t next(const char** p, const char* end) const override;
};

class UTF16LE : public _ICUConverterCharset {
 public:
  UTF16LE(const charset_st& record, bool flagged) : _ICUConverterCharset(record, flagged, 16) {}
  ~UTF16LE() override;
  char32_t next(const char** p, const char* end) const override;
};

class UTF32LE : public _ICUConverterCharset {
 public:
  UTF32LE(const charset_st& record, bool flagged) : _ICUConverterCharset(record, flagged, 32) {}
  ~UTF32LE() override;
  char32_t next(const char** p, const char* end) const override;
};

}  // namespace qzbase
