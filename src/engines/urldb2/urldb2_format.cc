#include "src/engines/urldb2/urldb2_format.h"

#include <nettle/md5.h>

namespace nsUrlDb2 {

uint64_t DigestKey(const void* bytes, size_t n) {
  struct md5_ctx ctx;
  md5_init(&ctx);
  if (n != 0) md5_update(&ctx, n, static_cast<const uint8_t*>(bytes));
  uint8_t digest[MD5_DIGEST_SIZE];
  md5_digest(&ctx, MD5_DIGEST_SIZE, digest);
  uint64_t key = 0;
  for (int i = 7; i >= 0; --i) key = (key << 8) | digest[i];
  return key;
}

namespace {

uint64_t Join(uint32_t low, uint32_t high) {
  return static_cast<uint64_t>(high) << 32 | low;
}

}  // namespace

uint32_t UrlDbFileReader::ReadWidth() { return stream_->ReadU32(); }

void UrlDbFileReader::ReadCounts(uint32_t* url_count, uint32_t* sub_count, uint32_t* dom_count) {
  *url_count = stream_->ReadU32();
  *sub_count = stream_->ReadU32();
  *dom_count = stream_->ReadU32();
}

uint64_t UrlDbFileReader::ReadKey() {
  const uint32_t low = stream_->ReadU32();
  const uint32_t high = stream_->ReadU32();
  return Join(low, high);
}

void UrlDbFileReader::ReadKeys(uint64_t* keys, uint32_t count) {
  uint32_t words[2 * kKeysPerRead];
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = count - done < kKeysPerRead ? count - done : kKeysPerRead;
    stream_->ReadArrayU32(words, 2 * n);
    for (uint32_t i = 0; i < n; ++i) keys[done + i] = Join(words[2 * i], words[2 * i + 1]);
    done += n;
  }
}

void UrlDbFileWriter::WriteHeader(uint32_t width, uint32_t url_count, uint32_t sub_count,
                                  uint32_t dom_count) {
  stream_->WriteU32(width);
  stream_->WriteU32(url_count);
  stream_->WriteU32(sub_count);
  stream_->WriteU32(dom_count);
}

void UrlDbFileWriter::WriteKey(uint64_t key) {
  stream_->WriteU32(static_cast<uint32_t>(key));
  stream_->WriteU32(static_cast<uint32_t>(key >> 32));
}

void UrlDbFileWriter::WriteKeys(const uint64_t* keys, size_t count) {
  constexpr size_t kPiece = 1024;
  uint32_t words[2 * kPiece];
  for (size_t done = 0; done < count;) {
    const size_t n = count - done < kPiece ? count - done : kPiece;
    for (size_t i = 0; i < n; ++i) {
      words[2 * i] = static_cast<uint32_t>(keys[done + i]);
      words[2 * i + 1] = static_cast<uint32_t>(keys[done + i] >> 32);
    }
    stream_->WriteArrayU32(words, static_cast<uint32_t>(2 * n));
    done += n;
  }
}

void WriteBlacklistPayload(ascommon::IStreamer* out, const BlacklistKeys& keys) {
  UrlDbFileWriter writer(out);
  writer.WriteHeader(kDigestWidth, static_cast<uint32_t>(keys.urls.size()),
                     static_cast<uint32_t>(keys.subdomains.size()),
                     static_cast<uint32_t>(keys.domains.size()));
  writer.WriteKeys(keys.urls.data(), keys.urls.size());
  writer.WriteKeys(keys.subdomains.data(), keys.subdomains.size());
  writer.WriteKeys(keys.domains.data(), keys.domains.size());
}

}  // namespace nsUrlDb2
