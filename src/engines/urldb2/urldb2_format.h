// The payload of imblacklist.dat, the blocked entries of the URL blacklist
// engine, a reader and a writer for it over any IStreamer (the file itself is
// a CBinaryStreamer container), and the digest key every entry is stored as.
//
// An entry is never stored as text: it is the digest key of its bytes, the
// first 8 bytes of their MD5 digest read as a little-endian number (digest
// byte 0 is the lowest byte of the key).
//
// Payload, in this order, every field a u32 (little-endian):
//   u32  digest width         (words of 4 digest bytes per key; always 2)
//   u32  URL count
//   u32  sub-domain count
//   u32  domain count
//   URL count keys, then sub-domain count keys, then domain count keys, each
//   as two u32: the low half (digest bytes 0..3), then the high half
//   (digest bytes 4..7).
// Nothing follows the domain keys; readers do not look past them.
//
// Every read and write passes on what the streamer raises (ASException and
// its subclasses) for a short read or a failed write.
#ifndef TERVO_SRC_ENGINES_URLDB2_URLDB2_FORMAT_H_
#define TERVO_SRC_ENGINES_URLDB2_URLDB2_FORMAT_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "common/binstreamer.h"

namespace nsUrlDb2 {

// The container version written into new files.
inline constexpr uint32_t kUrlDbFileVersion = 1;
// The only digest width the engine reads.
inline constexpr uint32_t kDigestWidth = 2;

// The digest key of `n` bytes at `bytes` (null is allowed when `n` is 0).
// Uses no heap memory.
uint64_t DigestKey(const void* bytes, size_t n);

// Reads the payload field by field: the width, the counts, then the keys of
// the three tables one after another.
class UrlDbFileReader {
 public:
  // `stream` must stay open while the reader is used; it is not owned.
  explicit UrlDbFileReader(ascommon::IStreamer* stream) : stream_(stream) {}

  uint32_t ReadWidth();
  void ReadCounts(uint32_t* url_count, uint32_t* sub_count, uint32_t* dom_count);
  // One key: its low half, then its high half.
  uint64_t ReadKey();
  // `count` keys, read kKeysPerRead at a time with one array read each
  // instead of two reads per key. When this raises, `keys` holds nothing
  // usable and the stream position is unknown: a caller that must keep every
  // key before a damage reads only what the stream still holds this way.
  void ReadKeys(uint64_t* keys, uint32_t count);

  static constexpr uint32_t kKeysPerRead = 1024;

 private:
  ascommon::IStreamer* stream_;
};

// Writes the payload in the order UrlDbFileReader reads it. The caller keeps
// the counts consistent with the keys that follow them.
class UrlDbFileWriter {
 public:
  explicit UrlDbFileWriter(ascommon::IStreamer* stream) : stream_(stream) {}

  // The width and the three counts.
  void WriteHeader(uint32_t width, uint32_t url_count, uint32_t sub_count, uint32_t dom_count);
  void WriteKey(uint64_t key);
  // As WriteKey for each of `count` keys, written in large pieces.
  void WriteKeys(const uint64_t* keys, size_t count);

 private:
  ascommon::IStreamer* stream_;
};

// A whole payload in memory, for the tools that build data files (the tervo
// command, the tests, benchmarks and fuzz targets), not for the engine.
struct BlacklistKeys {
  // Digest keys per table, in order.
  std::vector<uint64_t> urls, subdomains, domains;
  size_t repeats = 0;  // for a parser: entries whose key was already in their table
};

// Writes `keys` as a payload of digest width kDigestWidth.
void WriteBlacklistPayload(ascommon::IStreamer* out, const BlacklistKeys& keys);

}  // namespace nsUrlDb2

#endif  // TERVO_SRC_ENGINES_URLDB2_URLDB2_FORMAT_H_
