#include "common/binstreamer.h"

#include <nettle/md5.h>
#include <stdarg.h>
#include <string.h>

#include <bit>
#include <type_traits>

#include "common/asalloc.h"
#include "common/asfile.h"
#include "src/exceptions/asexception.h"

namespace ascommon {

namespace {

constexpr int32_t kFileError = -700;

// A block from the non-throwing allocation, freed when it goes out of scope.
// Never asks for zero bytes, so an empty payload still gets a valid pointer.
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { as_delete_nt_2_9(data_, &kNoThrow); }

  bool Allocate(uint64_t size) {
    data_ = static_cast<uint8_t*>(as_new_nt_2_9(size == 0 ? 1 : size, &kNoThrow));
    return data_ != nullptr;
  }
  uint8_t* get() { return data_; }

 private:
  uint8_t* data_ = nullptr;
};

// Closes a FILE* when it goes out of scope.
class FileGuard {
 public:
  explicit FileGuard(FILE* file) : file_(file) {}
  FileGuard(const FileGuard&) = delete;
  FileGuard& operator=(const FileGuard&) = delete;
  ~FileGuard() {
    if (file_ != nullptr) fclose(file_);
  }
  // Closes now; false when the C library reports a failed flush.
  bool Close() {
    FILE* file = file_;
    file_ = nullptr;
    return file == nullptr || fclose(file) == 0;
  }

 private:
  FILE* file_;
};

void Scramble(uint8_t* data, uint64_t size) {
  for (uint64_t i = 0; i < size; ++i) data[i] ^= CBinaryStreamer::kScrambleKey;
}

template <class T>
T ByteSwapped(T value) {
  using U = std::make_unsigned_t<T>;
  U u = static_cast<U>(value);
  if constexpr (sizeof(T) == 2) {
    u = __builtin_bswap16(u);
  } else if constexpr (sizeof(T) == 4) {
    u = __builtin_bswap32(u);
  }
  return static_cast<T>(u);
}

}  // namespace

IStreamer::~IStreamer() = default;

void IStreamer::WriteSString(const sstring& text) {
  WriteU32(static_cast<uint32_t>(text.length()));
  WriteChars(text);
}

void IStreamer::ReadSString(sstring* text) {
  const uint32_t length = ReadU32();
  ReadString(text, length);
}

CBinaryStreamer::CBinaryStreamer(const char* path, uint32_t mode, const char* work_folder,
                                 uint32_t version)
    : mode_(mode),
      path_(path),
      work_folder_(work_folder != nullptr && *work_folder != '\0' ? work_folder : "."),
      swap_(std::endian::native == std::endian::big) {
  if (path_.is_null() || path_.is_empty()) AS_RAISE(ASBadPtrException, __LINE__, "invalid file path");
  try {
    if (mode_ == kModeWrite) {
      OpenForWrite(version);
    } else {
      OpenForRead();
    }
  } catch (...) {
    Release();
    throw;
  }
}

CBinaryStreamer::~CBinaryStreamer() {
  AS_LOG(3, 139, "Closing file [%s]", path_.c_str());
  try {
    Close();
  } catch (...) {
    // Already logged by the raise; a destructor must not pass it on.
    Release();
  }
}

void CBinaryStreamer::MakeTempFile() {
  if (MakeTempFileName(work_folder_.c_str(), kTempPrefix, &temp_file_) != 1) {
    AS_RAISE(ASFileException, 54, "Could not create a temp filename in folder \"%s\"",
             work_folder_.c_str());
  }
  AS_LOG(3, 57, "Bin Streamer temp file: %s", temp_file_.c_str());
}

void CBinaryStreamer::OpenForWrite(uint32_t version) {
  MakeTempFile();
  AS_LOG(3, 63, "Opening file [%s] for write", path_.c_str());
  // Only the name was wanted; writing goes straight to the data file.
  if (FileExists(temp_file_.c_str())) DeleteFile(temp_file_.c_str());

  stream_ = OpenFile(path_.c_str(), "wb");
  if (stream_ == nullptr) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not open file [%s] for write",
                  path_.c_str());
  }
  header_ = Header{};
  strncpy(header_.description, kDescription, kDescriptionSize);
  header_.version = version;
  WriteHeader(stream_);
  payload_size_ = 0;
  opened_ = true;
}

void CBinaryStreamer::OpenForRead() {
  MakeTempFile();
  AS_LOG(3, 90, "Opening file [%s] for read", path_.c_str());
  const uint64_t size = Unscramble();
  CheckDigest(size);
  stream_ = OpenFile(temp_file_.c_str(), "rb");
  if (stream_ == nullptr) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not access file [%s]",
                  temp_file_.c_str());
  }
  ReadHeader(stream_);
  payload_size_ = size - kHeaderSize;
  opened_ = true;
}

uint64_t CBinaryStreamer::Unscramble() {
  uint64_t size = 0;
  if (!FileSize64(path_.c_str(), &size)) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not access file [%s]",
                  path_.c_str());
  }
  if (size > kMaxFileSize) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError,
                  "file [%s]ize exceeds 50 MB. It is to large [%s]", path_.c_str(), path_.c_str());
  }
  Block data;
  if (!data.Allocate(size)) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError,
                  "Not enough memory to read the entire file [%s]", path_.c_str());
  }
  FILE* const in_file = OpenFile(path_.c_str(), "rb");
  FileGuard in_guard(in_file);
  if (in_file == nullptr) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not access file [%s]",
                  path_.c_str());
  }
  if (size != 0 && fread(data.get(), 1, size, in_file) != size) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not read entire file [%s]",
                  path_.c_str());
  }
  in_guard.Close();
  Scramble(data.get(), size);

  FILE* const out_file = OpenFile(temp_file_.c_str(), "wb");
  FileGuard out_guard(out_file);
  const bool written = out_file != nullptr &&
                       (size == 0 || fwrite(data.get(), 1, size, out_file) == size) &&
                       out_guard.Close();
  if (!written) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not write to file [%s]",
                  temp_file_.c_str());
  }
  return size;
}

void CBinaryStreamer::CheckDigest(uint64_t file_size) {
  if (file_size < kHeaderSize) {
    AS_RAISE(ASException, __LINE__, "File [%s] is too short for its header: %llu of %u bytes",
             path_.c_str(), static_cast<unsigned long long>(file_size), kHeaderSize);
  }
  FILE* const file = OpenFile(temp_file_.c_str(), "rb");
  FileGuard guard(file);
  if (file == nullptr) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not access file [%s]",
                  temp_file_.c_str());
  }
  ReadHeader(file);
  const uint64_t payload = file_size - kHeaderSize;
  Block data;
  if (!data.Allocate(payload)) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError,
                  "Cannot allocate enough memory for the entire file [%s], size needed: %d",
                  path_.c_str(), static_cast<int>(payload));
  }
  if (payload != 0 && fread(data.get(), 1, payload, file) != payload) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Unable to read from file [%s]",
                  path_.c_str());
  }
  uint8_t digest[kDigestSize];
  ComputeCRC(data.get(), payload, digest);
  for (uint32_t i = 0; i < kDigestSize; ++i) {
    if (digest[i] != header_.digest[i]) {
      AS_RAISE(ASException, __LINE__, "File CRC does not match with its stored CRC! [%s] position %d",
               path_.c_str(), static_cast<int>(i));
    }
  }
}

void CBinaryStreamer::WriteHeader(FILE* file) {
  const uint32_t words[3] = {header_.word1, header_.word2, header_.version};
  bool ok = fwrite(header_.digest, kDigestSize, 1, file) == 1 &&
            fwrite(header_.description, kDescriptionSize, 1, file) == 1;
  for (uint32_t word : words) {
    const uint32_t stored = swap_ ? ByteSwapped(word) : word;
    ok = ok && fwrite(&stored, sizeof stored, 1, file) == 1;
  }
  if (!ok) AS_RAISE(ASException, __LINE__, "Could not write header component from file");
}

void CBinaryStreamer::ReadHeader(FILE* file) {
  Header read = {};
  uint32_t words[3] = {};
  bool ok = fread(read.digest, kDigestSize, 1, file) == 1 &&
            fread(read.description, kDescriptionSize, 1, file) == 1;
  for (uint32_t& word : words) {
    ok = ok && fread(&word, sizeof word, 1, file) == 1;
    if (swap_) word = ByteSwapped(word);
  }
  if (!ok) AS_RAISE(ASException, __LINE__, "Could not read header component from file");
  read.word1 = words[0];
  read.word2 = words[1];
  read.version = words[2];
  header_ = read;
}

void CBinaryStreamer::Close() {
  if (!opened_) return;
  opened_ = false;
  if (mode_ != kModeWrite) {
    Release();
    return;
  }
  FILE* const file = stream_;
  stream_ = nullptr;
  if (fclose(file) != 0) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not write to file [%s]",
                  path_.c_str());
  }
  FinishWrite();
}

// Puts the payload's digest into the header and scrambles the whole file, in
// one read and one write of the file.
void CBinaryStreamer::FinishWrite() {
  uint64_t size = 0;
  if (!FileSize64(path_.c_str(), &size) || size < kHeaderSize) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not access file [%s]",
                  path_.c_str());
  }
  Block data;
  if (!data.Allocate(size)) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError,
                  "Not enough memory to read the entire file [%s]", path_.c_str());
  }
  FILE* const file = OpenFile(path_.c_str(), "r+b");
  FileGuard guard(file);
  if (file == nullptr) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not access file [%s]",
                  path_.c_str());
  }
  if (fread(data.get(), 1, size, file) != size) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError, "Could not read entire file [%s]",
                  path_.c_str());
  }
  payload_size_ = size - kHeaderSize;
  ComputeCRC(data.get() + kHeaderSize, payload_size_, header_.digest);
  memcpy(data.get(), header_.digest, kDigestSize);
  Scramble(data.get(), size);
  const bool written = fseek(file, 0, SEEK_SET) == 0 && fwrite(data.get(), 1, size, file) == size &&
                       guard.Close();
  if (!written) {
    AS_RAISE_CODE(ASFileException, __LINE__, kFileError,
                  "Could not write the entire file during crc [%s]", path_.c_str());
  }
}

void CBinaryStreamer::Release() {
  if (stream_ != nullptr) {
    fclose(stream_);
    stream_ = nullptr;
  }
  opened_ = false;
  if (mode_ != kModeWrite && !temp_file_.is_null()) {
    DeleteFile(temp_file_.c_str());
    temp_file_.clear();
  }
}

void CBinaryStreamer::ComputeCRC(const void* data, uint64_t size, uint8_t* digest) {
  if (data == nullptr || digest == nullptr) {
    AS_RAISE(ASBadPtrException, 391, "Invalid parameters in ComputeCRC");
  }
  struct md5_ctx ctx;
  md5_init(&ctx);
  md5_update(&ctx, size, static_cast<const uint8_t*>(data));
  md5_digest(&ctx, MD5_DIGEST_SIZE, digest);
}

sstring CBinaryStreamer::description() const {
  return sstring(header_.description, strnlen(header_.description, kDescriptionSize));
}

uint64_t CBinaryStreamer::payload_size() const {
  if (mode_ == kModeWrite && stream_ != nullptr) {
    const long pos = ftell(stream_);
    return pos > static_cast<long>(kHeaderSize) ? static_cast<uint64_t>(pos) - kHeaderSize : 0;
  }
  return payload_size_;
}

// The 16-bit and 32-bit writers word two of their texts with a leading blank,
// and logs and callers match those texts as they are.
void CBinaryStreamer::CheckWritable(bool blank_texts) {
  if (mode_ != kModeWrite) AS_RAISE(ASException, __LINE__, "wrong stream mode: read-only");
  if (stream_ == nullptr) {
    if (blank_texts) AS_RAISE(ASException, __LINE__, " invalid reference to file");
    AS_RAISE(ASException, __LINE__, "invalid reference to file");
  }
}

void CBinaryStreamer::CheckReadable() {
  if (mode_ == kModeWrite) AS_RAISE(ASException, __LINE__, "wrong stream mode: write-only");
  if (stream_ == nullptr) AS_RAISE(ASException, __LINE__, "invalid reference to file");
}

// One thread uses a streamer at a time, so the stream's own lock is skipped.
void CBinaryStreamer::Put(const void* data, uint64_t size, bool blank_texts) {
  if (size != 0 && fwrite_unlocked(data, size, 1, stream_) == 1) return;
  if (blank_texts) AS_RAISE(ASException, __LINE__, " Cannot write to file");
  AS_RAISE(ASException, __LINE__, "Cannot write to file");
}

void CBinaryStreamer::Get(void* buffer, uint64_t size) {
  if (size == 0 || fread_unlocked(buffer, size, 1, stream_) != 1) {
    AS_RAISE(ASException, __LINE__, "cannot read from file");
  }
}

template <class T>
void CBinaryStreamer::WriteValue(T value, bool blank_texts) {
  CheckWritable(blank_texts);
  const T stored = swap_ ? ByteSwapped(value) : value;
  Put(&stored, sizeof stored, blank_texts);
}

template <class T>
T CBinaryStreamer::ReadValue() {
  CheckReadable();
  T value;
  Get(&value, sizeof value);
  return swap_ ? ByteSwapped(value) : value;
}

template <class T>
void CBinaryStreamer::WriteArray(const T* values, uint32_t count) {
  CheckWritable(false);
  if (values == nullptr) AS_RAISE(ASException, __LINE__, "invalid argument string");
  if (!swap_ || count == 0) {
    Put(values, static_cast<uint64_t>(count) * sizeof(T), false);
    return;
  }
  T chunk[256];
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = count - done < 256 ? count - done : 256;
    for (uint32_t i = 0; i < n; ++i) chunk[i] = ByteSwapped(values[done + i]);
    Put(chunk, static_cast<uint64_t>(n) * sizeof(T), false);
    done += n;
  }
}

template <class T>
uint32_t CBinaryStreamer::ReadArray(T* values, uint32_t count) {
  CheckReadable();
  if (values == nullptr) AS_RAISE(ASException, __LINE__, "invalid argument string");
  Get(values, static_cast<uint64_t>(count) * sizeof(T));
  if (swap_) {
    for (uint32_t i = 0; i < count; ++i) values[i] = ByteSwapped(values[i]);
  }
  return count;
}

void CBinaryStreamer::WriteU16(uint16_t value) { WriteValue(value, true); }
void CBinaryStreamer::WriteI16(int16_t value) { WriteValue(value, true); }
void CBinaryStreamer::WriteU32(uint32_t value) { WriteValue(value, true); }
void CBinaryStreamer::WriteI32(int32_t value) { WriteValue(value, true); }
void CBinaryStreamer::WriteU8(uint8_t value) { WriteValue(value, false); }

uint32_t CBinaryStreamer::WriteBytes(const void* data, uint32_t count) {
  CheckWritable(false);
  if (data == nullptr) AS_RAISE(ASException, __LINE__, "invalid argument string");
  Put(data, count, false);
  return count;
}

void CBinaryStreamer::WriteArrayU16(const uint16_t* values, uint32_t count) { WriteArray(values, count); }
void CBinaryStreamer::WriteArrayI16(const int16_t* values, uint32_t count) { WriteArray(values, count); }
void CBinaryStreamer::WriteArrayU32(const uint32_t* values, uint32_t count) { WriteArray(values, count); }
void CBinaryStreamer::WriteArrayI32(const int32_t* values, uint32_t count) { WriteArray(values, count); }

uint32_t CBinaryStreamer::WriteChars(const sstring& text) {
  return WriteBytes(text.data(), static_cast<uint32_t>(text.length()));
}

uint32_t CBinaryStreamer::WriteFormat(const char* format, ...) {
  CheckWritable(false);
  if (format == nullptr) AS_RAISE(ASException, __LINE__, "invalid format string");
  va_list args;
  va_start(args, format);
  const int written = vfprintf(stream_, format, args);
  va_end(args);
  if (written < 0) AS_RAISE(ASException, __LINE__, "Cannot write to file");
  return static_cast<uint32_t>(written);
}

uint16_t CBinaryStreamer::ReadU16() { return ReadValue<uint16_t>(); }
int16_t CBinaryStreamer::ReadI16() { return ReadValue<int16_t>(); }
uint32_t CBinaryStreamer::ReadU32() { return ReadValue<uint32_t>(); }
int32_t CBinaryStreamer::ReadI32() { return ReadValue<int32_t>(); }
uint8_t CBinaryStreamer::ReadU8() { return ReadValue<uint8_t>(); }

uint32_t CBinaryStreamer::ReadBytes(void* buffer, uint32_t count) {
  CheckReadable();
  if (buffer == nullptr) AS_RAISE(ASException, __LINE__, "invalid argument string");
  Get(buffer, count);
  return count;
}

uint32_t CBinaryStreamer::ReadArrayU16(uint16_t* values, uint32_t count) { return ReadArray(values, count); }
uint32_t CBinaryStreamer::ReadArrayI16(int16_t* values, uint32_t count) { return ReadArray(values, count); }
uint32_t CBinaryStreamer::ReadArrayU32(uint32_t* values, uint32_t count) { return ReadArray(values, count); }
uint32_t CBinaryStreamer::ReadArrayI32(int32_t* values, uint32_t count) { return ReadArray(values, count); }

uint32_t CBinaryStreamer::ReadString(sstring* text, uint32_t length) {
  CheckReadable();
  if (text == nullptr) AS_RAISE(ASException, __LINE__, "invalid argument string");
  // A length beyond the rest of the stream (a damaged length word) cannot be
  // read; refuse it before asking for that much memory.
  const long pos = ftell(stream_);
  const uint64_t end = payload_size_ + kHeaderSize;
  if (pos < 0 || static_cast<uint64_t>(pos) + length > end) {
    AS_RAISE(ASException, __LINE__, "cannot read from file");
  }
  Block buffer;
  if (!buffer.Allocate(static_cast<uint64_t>(length) + 1)) {
    AS_RAISE(ASException, __LINE__, "could not allocate temporary buffer");
  }
  Get(buffer.get(), length);
  if (memchr(buffer.get(), 0, length) != nullptr) {
    AS_RAISE(ASException, __LINE__, "read string contains terminating characters!");
  }
  buffer.get()[length] = 0;
  if (text->assign(reinterpret_cast<const char*>(buffer.get()), length) != 0) {
    AS_RAISE(ASException, __LINE__, "problems duplicating string");
  }
  return length;
}

bool OpenDataFile(std::optional<CBinaryStreamer>* stream, const char* path,
                  const char* work_folder, uint32_t version) {
  try {
    stream->emplace(path, CBinaryStreamer::kModeRead, work_folder, version);
    return true;
  } catch (...) {
    stream->reset();
    return false;
  }
}

}  // namespace ascommon
