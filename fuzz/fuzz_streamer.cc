// Fuzzes the data-file container: the input becomes a file on disk, which
// CBinaryStreamer opens for reading and reads through with typed reads until
// one raises.
//
// Input layout:
//   byte 0        flags; bit 0: give the file the digest of its payload, so
//                 that the reader gets past the digest check
//   byte 1        n, the number of read operations (0: every kind in turn)
//   n bytes       the operations, used in turn, round and round: the low
//                 4 bits pick the read, the high 4 bits its count (0 to 15)
//   the rest      the file as it lies on disk (scrambled)
//
// What the streamer raises by design (the ASException family) ends the reads;
// a crash, a leak, undefined behaviour, a broken promise of binstreamer.h or a
// working copy left in the work folder is a finding.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/asfile.h"
#include "common/binstreamer.h"
#include "common/sstring.h"
#include "fuzz/fuzz_support.h"
#include "src/exceptions/asexception.h"

namespace {

using ascommon::CBinaryStreamer;
using ascommon::sstring;

constexpr uint8_t kSealFlag = 1;

enum Operation : uint8_t {
  kU8,
  kU16,
  kI16,
  kU32,
  kI32,
  kBytes,
  kArrayU16,
  kArrayI16,
  kArrayU32,
  kArrayI32,
  kString,
  kSString,
  kBigBytes,  // count * 64 bytes
  kClose,     // closes the stream; the next read must raise
  kOperationCount
};

// The on-disk bytes of `file`, given the digest of their payload when they
// are long enough to hold a header.
std::vector<uint8_t> Sealed(const uint8_t* file, size_t size) {
  std::vector<uint8_t> bytes(file, file + size);
  if (size < CBinaryStreamer::kHeaderSize) return bytes;
  for (uint8_t& b : bytes) b ^= CBinaryStreamer::kScrambleKey;
  CBinaryStreamer::ComputeCRC(bytes.data() + CBinaryStreamer::kHeaderSize,
                              size - CBinaryStreamer::kHeaderSize, bytes.data());
  for (uint8_t& b : bytes) b ^= CBinaryStreamer::kScrambleKey;
  return bytes;
}

// The header fields must be the unscrambled bytes of the file.
void CheckHeader(const CBinaryStreamer& stream, const std::vector<uint8_t>& file) {
  uint8_t plain[CBinaryStreamer::kHeaderSize];
  for (size_t i = 0; i < sizeof plain; ++i) plain[i] = file[i] ^ CBinaryStreamer::kScrambleKey;
  FUZZ_CHECK(memcmp(stream.digest(), plain, CBinaryStreamer::kDigestSize) == 0,
             "the digest is not the file's");
  FUZZ_CHECK(stream.version() == tervo_fuzz::LoadU32(plain + 124), "the version is not the file's");
  const char* description = reinterpret_cast<const char*>(plain + CBinaryStreamer::kDigestSize);
  const size_t length = strnlen(description, CBinaryStreamer::kDescriptionSize);
  const sstring read = stream.description();
  FUZZ_CHECK(read.length() == length && memcmp(read.data(), description, length) == 0,
             "the description is not the file's");
  FUZZ_CHECK(stream.payload_size() == file.size() - CBinaryStreamer::kHeaderSize,
             "the payload size is not the file's size less the header");
}

// Checks that a read of `count` items answered `count`; answers `bytes`, the
// payload bytes it consumed.
uint64_t Counted(uint32_t answered, uint32_t count, const char* read, uint64_t bytes) {
  FUZZ_CHECK(answered == count, std::string(read) + " answered another count");
  return bytes;
}

// Performs one read; answers the payload bytes it consumed. Raises what the
// streamer raises.
uint64_t Read(CBinaryStreamer* stream, uint8_t op) {
  const uint32_t count = op >> 4;
  uint8_t bytes[15 * 64];
  uint16_t u16[15];
  int16_t i16[15];
  uint32_t u32[15];
  int32_t i32[15];
  sstring text;
  switch ((op & 15) % kOperationCount) {
    case kU8:
      stream->ReadU8();
      return 1;
    case kU16:
      stream->ReadU16();
      return 2;
    case kI16:
      stream->ReadI16();
      return 2;
    case kU32:
      stream->ReadU32();
      return 4;
    case kI32:
      stream->ReadI32();
      return 4;
    case kBytes:
      return Counted(stream->ReadBytes(bytes, count), count, "ReadBytes", count);
    case kArrayU16:
      return Counted(stream->ReadArrayU16(u16, count), count, "ReadArrayU16", 2 * count);
    case kArrayI16:
      return Counted(stream->ReadArrayI16(i16, count), count, "ReadArrayI16", 2 * count);
    case kArrayU32:
      return Counted(stream->ReadArrayU32(u32, count), count, "ReadArrayU32", 4 * count);
    case kArrayI32:
      return Counted(stream->ReadArrayI32(i32, count), count, "ReadArrayI32", 4 * count);
    case kString:
      Counted(stream->ReadString(&text, count), count, "ReadString", count);
      FUZZ_CHECK(text.length() == count && memchr(text.data(), 0, count) == nullptr,
                 "ReadString gave a text of another length");
      return count;
    case kSString:
      stream->ReadSString(&text);
      FUZZ_CHECK(!text.is_null() && memchr(text.data(), 0, text.length()) == nullptr,
                 "ReadSString gave a text holding a zero byte");
      return 4 + text.length();
    case kBigBytes:
      return Counted(stream->ReadBytes(bytes, 64 * count), 64 * count, "ReadBytes", 64 * count);
    default:
      stream->Close();
      FUZZ_CHECK(!stream->is_open() && stream->temp_file().length() == 0,
                 "a closed stream keeps its working copy");
      stream->ReadU8();
      tervo_fuzz::Fail(__FILE__, __LINE__, "a closed stream answered a read");
  }
}

// Whether `op` asks for nothing: the streamer must refuse it.
bool IsZeroCount(uint8_t op) {
  const uint8_t kind = (op & 15) % kOperationCount;
  return (op >> 4) == 0 && kind >= kBytes && kind != kSString && kind != kClose;
}

void ReadThrough(CBinaryStreamer* stream, const uint8_t* ops, size_t op_count) {
  uint8_t every_kind[kOperationCount];
  if (op_count == 0) {
    for (uint8_t k = 0; k < kOperationCount; ++k) every_kind[k] = static_cast<uint8_t>(k | 0x30);
    ops = every_kind;
    op_count = kOperationCount;
  }
  const uint64_t payload = stream->payload_size();
  uint64_t consumed = 0;
  // Every read that does not raise consumes a byte at least, so the reads end.
  for (uint64_t i = 0;; ++i) {
    FUZZ_CHECK(i <= payload, "more reads succeeded than the payload has bytes");
    const uint8_t op = ops[i % op_count];
    try {
      consumed += Read(stream, op);
    } catch (const ASException&) {
      return;
    }
    FUZZ_CHECK(!IsZeroCount(op), "a read of zero items did not raise");
    FUZZ_CHECK(consumed <= payload, "the reads went past the end of the payload");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  const size_t op_count = data[1];
  if (size < 2 + op_count) return 0;
  const uint8_t* ops = data + 2;
  const uint8_t* file = ops + op_count;
  const size_t file_size = size - 2 - op_count;

  const tervo_fuzz::Folders& dirs = tervo_fuzz::TargetFolders("streamer");
  const std::string path = dirs.input.File("data.dat");
  const std::vector<uint8_t> bytes = (flags & kSealFlag) != 0
                                         ? Sealed(file, file_size)
                                         : std::vector<uint8_t>(file, file + file_size);
  tervo_fuzz::WriteInput(path, bytes.data(), bytes.size());

  try {
    CBinaryStreamer stream(path.c_str(), CBinaryStreamer::kModeRead, dirs.work.path().c_str(), 0);
    FUZZ_CHECK(stream.is_open() && !stream.is_write(), "an opened stream is not open for reading");
    FUZZ_CHECK(ascommon::FileExists(stream.temp_file().c_str()),
               "an open stream has no working copy");
    CheckHeader(stream, bytes);
    ReadThrough(&stream, ops, op_count);
  } catch (const ASException&) {
    // Refused at opening: a damaged container.
  }
  tervo_fuzz::CheckFolderEmpty(dirs.work.path(), "reading the file");
  return 0;
}
