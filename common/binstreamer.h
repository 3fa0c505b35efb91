// IStreamer, the interface of the binary data files, and CBinaryStreamer, its
// implementation over a scrambled file with an MD5-checked payload.
//
// File layout, as seen after unscrambling (numbers little-endian):
//   0    16 bytes   MD5 digest of the payload (bytes 128 to the end)
//   16   100 bytes  description: kDescription, then zero bytes
//   116  u32        first header word, 0
//   120  u32        second header word, 0
//   124  u32        version, given when the file is written
//   128  ...        payload
// On disk every byte of the file, header included, is XOR kScrambleKey.
// Files larger than kMaxFileSize are refused.
//
// Payload encodings: 8-bit values take 1 byte, 16-bit 2, 32-bit 4; raw bytes
// go as given; arrays are their values one after another, without a count; a
// string (WriteSString) is a u32 length and then its bytes, no terminator.
// A zero-length string can be neither written nor read, and every primitive
// with a count of zero counts as a failed transfer.
//
// Every failure is logged and raised as ASException, ASFileException (text
// carrying the code -700) or ASBadPtrException. A streamer is used by one
// thread at a time.
#ifndef TERVO_COMMON_BINSTREAMER_H_
#define TERVO_COMMON_BINSTREAMER_H_

#include <stdint.h>
#include <stdio.h>

#include <optional>

#include "common/sstring.h"

namespace ascommon {

class IStreamer {
 public:
  virtual ~IStreamer();

  // Writers. Each raises on a read-only stream, a closed stream, a null
  // pointer argument and a short write.
  virtual void WriteU16(uint16_t value) = 0;
  virtual void WriteI16(int16_t value) = 0;
  virtual void WriteU32(uint32_t value) = 0;
  virtual void WriteI32(int32_t value) = 0;
  virtual void WriteU8(uint8_t value) = 0;
  // Writes `count` bytes as they are; answers `count`.
  virtual uint32_t WriteBytes(const void* data, uint32_t count) = 0;
  virtual void WriteArrayU16(const uint16_t* values, uint32_t count) = 0;
  virtual void WriteArrayI16(const int16_t* values, uint32_t count) = 0;
  virtual void WriteArrayU32(const uint32_t* values, uint32_t count) = 0;
  virtual void WriteArrayI32(const int32_t* values, uint32_t count) = 0;
  // The length() characters of `text`, as WriteBytes; answers the count. A
  // null string raises "invalid argument string".
  virtual uint32_t WriteChars(const sstring& text) = 0;
  // The formatted characters as raw bytes; answers their count (0 writes
  // nothing).
  __attribute__((format(printf, 2, 3))) virtual uint32_t WriteFormat(const char* format, ...) = 0;

  // Readers. Each raises on a write-only stream, a closed stream, a null
  // buffer and a short read.
  virtual uint16_t ReadU16() = 0;
  virtual int16_t ReadI16() = 0;
  virtual uint32_t ReadU32() = 0;
  virtual int32_t ReadI32() = 0;
  virtual uint8_t ReadU8() = 0;
  // Reads exactly `count` bytes; answers `count`.
  virtual uint32_t ReadBytes(void* buffer, uint32_t count) = 0;
  // Read exactly `count` values; answer `count`.
  virtual uint32_t ReadArrayU16(uint16_t* values, uint32_t count) = 0;
  virtual uint32_t ReadArrayI16(int16_t* values, uint32_t count) = 0;
  virtual uint32_t ReadArrayU32(uint32_t* values, uint32_t count) = 0;
  virtual uint32_t ReadArrayI32(int32_t* values, uint32_t count) = 0;
  // Reads `length` bytes into `*text` and answers `length`. Bytes holding a
  // zero raise "read string contains terminating characters!".
  virtual uint32_t ReadString(sstring* text, uint32_t length) = 0;

  // WriteU32(length), then WriteChars(text).
  void WriteSString(const sstring& text);
  // ReadU32() for the length, then ReadString(text, length).
  void ReadSString(sstring* text);
};

class CBinaryStreamer final : public IStreamer {
 public:
  // Open modes; any value other than kModeWrite reads.
  static constexpr uint32_t kModeWrite = 1;
  static constexpr uint32_t kModeRead = 0;

  static constexpr uint32_t kHeaderSize = 128;
  static constexpr uint32_t kDigestSize = 16;
  static constexpr uint32_t kDescriptionSize = 100;
  static constexpr uint64_t kMaxFileSize = 52428800;  // 50 MB
  static constexpr uint8_t kScrambleKey = 0xA7;
  static constexpr const char* kDescription = "File description should go here!";
  // The prefix of the unscrambled working copy made in the work folder.
  static constexpr const char* kTempPrefix = "qxas";

  struct Header {
    uint8_t digest[kDigestSize];
    char description[kDescriptionSize];
    uint32_t word1;
    uint32_t word2;
    uint32_t version;
  };
  static_assert(sizeof(Header) == kHeaderSize, "the header is 128 bytes");

  // Opens `path` (backslashes allowed). For writing the file is created or
  // truncated and gets a header with `version`; for reading it is
  // unscrambled into a "qxas" file in `work_folder` (null or empty: "."),
  // its digest checked, and the stream left at the payload. Raises on any
  // failure, leaving no working copy behind.
  CBinaryStreamer(const char* path, uint32_t mode, const char* work_folder, uint32_t version);
  // Closes; never throws (a failure is only logged).
  ~CBinaryStreamer() override;
  CBinaryStreamer(const CBinaryStreamer&) = delete;
  CBinaryStreamer& operator=(const CBinaryStreamer&) = delete;

  // Finishes the file; does nothing unless it is open. A written file gets
  // its digest and is scrambled; a read file's working copy is deleted. The
  // stream is closed even when this raises.
  void Close();

  void WriteU16(uint16_t value) override;
  void WriteI16(int16_t value) override;
  void WriteU32(uint32_t value) override;
  void WriteI32(int32_t value) override;
  void WriteU8(uint8_t value) override;
  uint32_t WriteBytes(const void* data, uint32_t count) override;
  void WriteArrayU16(const uint16_t* values, uint32_t count) override;
  void WriteArrayI16(const int16_t* values, uint32_t count) override;
  void WriteArrayU32(const uint32_t* values, uint32_t count) override;
  void WriteArrayI32(const int32_t* values, uint32_t count) override;
  uint32_t WriteChars(const sstring& text) override;
  __attribute__((format(printf, 2, 3))) uint32_t WriteFormat(const char* format, ...) override;

  uint16_t ReadU16() override;
  int16_t ReadI16() override;
  uint32_t ReadU32() override;
  int32_t ReadI32() override;
  uint8_t ReadU8() override;
  uint32_t ReadBytes(void* buffer, uint32_t count) override;
  uint32_t ReadArrayU16(uint16_t* values, uint32_t count) override;
  uint32_t ReadArrayI16(int16_t* values, uint32_t count) override;
  uint32_t ReadArrayU32(uint32_t* values, uint32_t count) override;
  uint32_t ReadArrayI32(int32_t* values, uint32_t count) override;
  uint32_t ReadString(sstring* text, uint32_t length) override;

  // The MD5 digest of `size` bytes at `data` into `digest` (16 bytes). A
  // null `data` or `digest` raises ASBadPtrException.
  static void ComputeCRC(const void* data, uint64_t size, uint8_t* digest);

  // The header as last read or written (the digest of a written file is set
  // by Close).
  const Header& header() const { return header_; }
  uint32_t version() const { return header_.version; }
  const uint8_t* digest() const { return header_.digest; }
  // The description up to its first zero byte (at most 100 characters).
  sstring description() const;
  // Read: the payload bytes of the file. Write: the payload bytes written so
  // far (the final count once closed).
  uint64_t payload_size() const;

  bool is_open() const { return opened_; }
  bool is_write() const { return mode_ == kModeWrite; }
  const sstring& path() const { return path_; }
  // The working copy of a file open for reading (empty once closed).
  const sstring& temp_file() const { return temp_file_; }

 private:
  void OpenForWrite(uint32_t version);
  void OpenForRead();
  void MakeTempFile();
  // Reads the data file, unscrambles it into the working copy; answers the
  // file's size.
  uint64_t Unscramble();
  // Checks the working copy's digest against its payload.
  void CheckDigest(uint64_t file_size);
  void WriteHeader(FILE* file);
  void ReadHeader(FILE* file);
  void FinishWrite();
  // Closes the stream and deletes the working copy, quietly.
  void Release();

  void CheckWritable(bool blank_texts);
  void CheckReadable();
  void Put(const void* data, uint64_t size, bool blank_texts);
  void Get(void* buffer, uint64_t size);
  template <class T>
  void WriteValue(T value, bool blank_texts);
  template <class T>
  T ReadValue();
  template <class T>
  void WriteArray(const T* values, uint32_t count);
  template <class T>
  uint32_t ReadArray(T* values, uint32_t count);

  uint32_t mode_;
  sstring path_;
  sstring work_folder_;
  sstring temp_file_;
  FILE* stream_ = nullptr;
  Header header_ = {};
  bool opened_ = false;
  bool swap_;
  uint64_t payload_size_ = 0;
};

// The result codes every engine that loads a data file answers with.
inline constexpr int32_t kDataOk = 0;
inline constexpr int32_t kDataNoMemory = -10;
inline constexpr int32_t kDataFileNotFound = -13;
inline constexpr int32_t kDataFileCorrupt = -14;

// The engines' first loading step: opens the data file at `path` for reading
// into `*stream` (its working copy in `work_folder`, its version checked).
// False when the streamer refuses it (missing, unreadable, damaged, another
// version), `*stream` then left empty; the engine logs its own line and
// answers kDataFileNotFound.
bool OpenDataFile(std::optional<CBinaryStreamer>* stream, const char* path,
                  const char* work_folder, uint32_t version);

}  // namespace ascommon

#endif  // TERVO_COMMON_BINSTREAMER_H_
