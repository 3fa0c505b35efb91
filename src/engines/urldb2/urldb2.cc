#include "src/engines/urldb2/urldb2.h"

#include <stdint.h>

#include <algorithm>
#include <optional>

#include "common/binstreamer.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "src/trace/trace.h"

using ascommon::CBinaryStreamer;
using nsUrlDb2::KeyTable;
using nsUrlDb2::UrlDbFileReader;

namespace {

// Buckets a table gets on top of the count its file announces.
constexpr uint32_t kExtraBuckets = 10;
// Bytes of the payload before the first key: the width and three counts.
constexpr uint64_t kPayloadHeaderBytes = 16;

// The buckets of a table whose file announces `count` keys, with `words_left`
// u32 words of keys in the payload: a count beyond the keys those words hold
// comes from a damaged file and is taken as that many keys.
uint32_t BucketsFor(uint32_t count, uint64_t words_left) {
  const uint64_t keys = std::min<uint64_t>(count, words_left / 2);
  return static_cast<uint32_t>(std::min<uint64_t>(keys + kExtraBuckets, UINT32_MAX));
}

void Insert(KeyTable* table, uint64_t key) {
  // A duplicate (-451) or an entry that cannot be allocated (-2) is left
  // out; loading goes on either way.
  table->Insert(key, table->GetCount());
}

}  // namespace

CUrlDb2Engine::CUrlDb2Engine() = default;

// Each table frees its entries and its buckets in one pass: clearing them
// first and leaving the buckets to the tables' own destructors would walk and
// wipe every bucket array a second time.
CUrlDb2Engine::~CUrlDb2Engine() {
  url_table_.Clear();
  subdomain_table_.Clear();
  domain_table_.Clear();
}

void CUrlDb2Engine::Clear() {
  url_table_.RemoveAll();
  subdomain_table_.RemoveAll();
  domain_table_.RemoveAll();
}

bool CUrlDb2Engine::IsListed(const KeyTable& table, const char* text, size_t length) {
  if (text == nullptr && length != 0) return false;
  return table.Lookup(nsUrlDb2::DigestKey(text, length)) != nullptr;
}

bool CUrlDb2Engine::IsListedUrl(const char* text, size_t length) const {
  return IsListed(url_table_, text, length);
}

bool CUrlDb2Engine::IsListedSubdomain(const char* text, size_t length) const {
  return IsListed(subdomain_table_, text, length);
}

bool CUrlDb2Engine::IsListedDomain(const char* text, size_t length) const {
  return IsListed(domain_table_, text, length);
}

void CUrlDb2Engine::LoadKeys(UrlDbFileReader* reader, uint32_t count, uint64_t* words_left,
                             KeyTable* table) {
  uint64_t keys[UrlDbFileReader::kKeysPerRead];
  uint32_t done = 0;
  while (done < count) {
    // Whole pieces only while the payload surely holds them, so that a file
    // that ends early still gives every key before its end.
    uint64_t n = count - done;
    if (n > UrlDbFileReader::kKeysPerRead) n = UrlDbFileReader::kKeysPerRead;
    if (n > *words_left / 2) n = *words_left / 2;
    if (n == 0) {
      // The payload is short of this key: this read raises.
      Insert(table, reader->ReadKey());
      *words_left = 0;
      ++done;
      continue;
    }
    reader->ReadKeys(keys, static_cast<uint32_t>(n));
    *words_left -= 2 * n;
    for (uint64_t i = 0; i < n; ++i) Insert(table, keys[i]);
    done += static_cast<uint32_t>(n);
  }
}

bool CUrlDb2Engine::CloseStream(CBinaryStreamer* stream) {
  try {
    stream->Close();
    return true;
  } catch (...) {
    AS_LOG(0, 733, "[URLDB2 Engine] Signature file not found");
    return false;
  }
}

int32_t CUrlDb2Engine::Load(const char* path, const ascommon::sstring& temp_folder) {
  std::optional<CBinaryStreamer> stream;
  if (!ascommon::OpenDataFile(&stream, path, temp_folder.c_str(), nsUrlDb2::kUrlDbFileVersion)) {
    AS_LOG(0, 733, "[URLDB2 Engine] Signature file not found");
    return nsUrlDb2::kUrlDbFileNotFound;
  }

  UrlDbFileReader reader(&*stream);
  try {
    if (reader.ReadWidth() != nsUrlDb2::kDigestWidth) {
      AS_LOG(0, 696, "[URLDB2 Engine] The data file was created using another number of md5 bytes!");
      return CloseStream(&*stream) ? nsUrlDb2::kUrlDbWrongWidth : nsUrlDb2::kUrlDbFileNotFound;
    }
    uint32_t url_count = 0;
    uint32_t sub_count = 0;
    uint32_t dom_count = 0;
    reader.ReadCounts(&url_count, &sub_count, &dom_count);
    const uint64_t payload = stream->payload_size();
    uint64_t words_left = payload > kPayloadHeaderBytes ? (payload - kPayloadHeaderBytes) / 4 : 0;
    // A table that cannot have more buckets keeps the ones it has.
    url_table_.ReHash(BucketsFor(url_count, words_left));
    subdomain_table_.ReHash(BucketsFor(sub_count, words_left));
    domain_table_.ReHash(BucketsFor(dom_count, words_left));

    LoadKeys(&reader, url_count, &words_left, &url_table_);
    LoadKeys(&reader, sub_count, &words_left, &subdomain_table_);
    LoadKeys(&reader, dom_count, &words_left, &domain_table_);
  } catch (...) {
    AS_LOG(0, 727, "[URLDB2 Engine] Data File Corrupt!");
    return CloseStream(&*stream) ? nsUrlDb2::kUrlDbFileCorrupt : nsUrlDb2::kUrlDbFileNotFound;
  }
  return CloseStream(&*stream) ? nsUrlDb2::kUrlDbOk : nsUrlDb2::kUrlDbFileNotFound;
}
