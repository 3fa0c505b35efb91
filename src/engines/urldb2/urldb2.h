// The URL blacklist engine: blocked entries held as digest keys (see
// urldb2_format.h) in three tables, read from imblacklist.dat.
//
// The tables, in file order: full URLs (the one the blacklist filter asks
// about any text), sub-domains, domains. Each maps a key to the number of
// entries its table held when the key went in, its load position; lookups
// only ask whether a key is present.
//
// The tables change only through Load and Clear, which the owner must not run
// while lookups are going on. Lookups change nothing, so any number of threads
// may look up on one engine at once.
#ifndef TERVO_SRC_ENGINES_URLDB2_URLDB2_H_
#define TERVO_SRC_ENGINES_URLDB2_URLDB2_H_

#include <stddef.h>
#include <stdint.h>

#include "common/binstreamer.h"
#include "common/sstring.h"
#include "src/common/array.h"

namespace ascommon {
class CBinaryStreamer;
}

namespace nsUrlDb2 {

class UrlDbFileReader;

// Result codes of Load.
inline constexpr int32_t kUrlDbOk = ascommon::kDataOk;
inline constexpr int32_t kUrlDbWrongWidth = -9;
inline constexpr int32_t kUrlDbFileNotFound = ascommon::kDataFileNotFound;
inline constexpr int32_t kUrlDbFileCorrupt = ascommon::kDataFileCorrupt;

// The source name of the engine.
inline constexpr const char* kUrlDbSourceName = "urldb2";

typedef ascommon::CMap<uint64_t, uint32_t> KeyTable;

}  // namespace nsUrlDb2

class CUrlDb2Engine {
 public:
  // Three empty tables of 32 buckets.
  CUrlDb2Engine();
  // Frees every entry of the three tables, then their buckets.
  ~CUrlDb2Engine();
  CUrlDb2Engine(const CUrlDb2Engine&) = delete;
  CUrlDb2Engine& operator=(const CUrlDb2Engine&) = delete;

  // Adds the keys of the blacklist file at `path` to the tables;
  // `temp_folder` is the streamer's work folder. Each table first gets its
  // file count plus 10 buckets (what it holds is re-chained), the count taken
  // as at most the keys the payload has room for: a damaged count cannot ask
  // for more memory than the file's size justifies. A key its table already
  // holds is not added again; a key whose entry cannot be allocated is
  // skipped. Answers 0; -13 when the file cannot be opened or closed; -9 when
  // its digest width is not 2 (no table touched); -14 when it ends early or is
  // otherwise unreadable (the keys read before the damage stay). Logs the
  // failures and never raises.
  int32_t Load(const char* path, const ascommon::sstring& temp_folder);

  // Frees every entry of the three tables; the tables keep their buckets.
  void Clear();

  // Whether the digest key of the `length` bytes at `text` is in the table.
  // `text` may be null only with `length` 0 (then it is the empty text); a
  // null `text` with a length is never listed.
  bool IsListedUrl(const char* text, size_t length) const;
  bool IsListedSubdomain(const char* text, size_t length) const;
  bool IsListedDomain(const char* text, size_t length) const;

  uint32_t GetUrlCount() const { return url_table_.GetCount(); }
  uint32_t GetSubdomainCount() const { return subdomain_table_.GetCount(); }
  uint32_t GetDomainCount() const { return domain_table_.GetCount(); }

  const nsUrlDb2::KeyTable& url_table() const { return url_table_; }
  const nsUrlDb2::KeyTable& subdomain_table() const { return subdomain_table_; }
  const nsUrlDb2::KeyTable& domain_table() const { return domain_table_; }

 private:
  static bool IsListed(const nsUrlDb2::KeyTable& table, const char* text, size_t length);
  // Reads `count` keys into `table`; `words_left` is how many u32 the
  // payload still holds, and goes down by what is read. Raises what the
  // stream raises.
  static void LoadKeys(nsUrlDb2::UrlDbFileReader* reader, uint32_t count, uint64_t* words_left,
                       nsUrlDb2::KeyTable* table);
  // Closes the stream; false (after logging) when closing raised.
  static bool CloseStream(ascommon::CBinaryStreamer* stream);

  nsUrlDb2::KeyTable url_table_;
  nsUrlDb2::KeyTable subdomain_table_;
  nsUrlDb2::KeyTable domain_table_;
};

#endif  // TERVO_SRC_ENGINES_URLDB2_URLDB2_H_
