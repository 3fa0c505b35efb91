#include "host/cli/blacklist_source.h"

#include <stdio.h>

#include <algorithm>
#include <sstream>
#include <unordered_set>

#include "src/engines/urldb2/urldb2_format.h"

namespace tervo_cli {

bool ParseBlacklistSource(const std::string& text, const std::string& file_name,
                          BlacklistKeys* keys, std::string* error) {
  std::vector<uint64_t>* table = &keys->urls;
  std::unordered_set<uint64_t> seen[3];
  std::unordered_set<uint64_t>* seen_here = &seen[0];
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line == "[urls]") {
        table = &keys->urls;
        seen_here = &seen[0];
      } else if (line == "[subdomains]") {
        table = &keys->subdomains;
        seen_here = &seen[1];
      } else if (line == "[domains]") {
        table = &keys->domains;
        seen_here = &seen[2];
      } else {
        *error = file_name + ":" + std::to_string(number) + ": unknown section " + line +
                 " (urls, subdomains or domains)";
        return false;
      }
      continue;
    }
    const uint64_t key = nsUrlDb2::DigestKey(line.data(), line.size());
    if (!seen_here->insert(key).second) {
      ++keys->repeats;
      continue;
    }
    table->push_back(key);
  }
  return true;
}

namespace {

// Reads the three counts and every key after them with the format's reader,
// in pieces, handing each key to `key(table, key)`. A count beyond what the
// payload holds raises at its end, as loading does.
template <class F>
void ReadBlacklistTables(nsUrlDb2::UrlDbFileReader* reader, uint32_t counts[3], F&& key) {
  reader->ReadCounts(&counts[0], &counts[1], &counts[2]);
  uint64_t keys[nsUrlDb2::UrlDbFileReader::kKeysPerRead];
  for (int t = 0; t < 3; ++t) {
    for (uint32_t done = 0; done < counts[t];) {
      const uint32_t n = std::min(counts[t] - done, nsUrlDb2::UrlDbFileReader::kKeysPerRead);
      reader->ReadKeys(keys, n);
      for (uint32_t i = 0; i < n; ++i) key(t, keys[i]);
      done += n;
    }
  }
}

}  // namespace

std::string ReadBlacklistPayloadAsText(ascommon::IStreamer* in) {
  nsUrlDb2::UrlDbFileReader reader(in);
  std::string out = "# digest width: " + std::to_string(reader.ReadWidth()) + "\n";
  const char* const kSections[] = {"[urls]", "[subdomains]", "[domains]"};
  std::string tables;
  int section = -1;
  uint32_t counts[3] = {};
  ReadBlacklistTables(&reader, counts, [&](int table, uint64_t key) {
    while (section < table) tables += std::string(kSections[++section]) + "\n";
    char hex[24];
    snprintf(hex, sizeof hex, "%016llx\n", static_cast<unsigned long long>(key));
    tables += hex;
  });
  while (section < 2) tables += std::string(kSections[++section]) + "\n";
  out += "# urls: " + std::to_string(counts[0]) + ", subdomains: " + std::to_string(counts[1]) +
         ", domains: " + std::to_string(counts[2]) + "\n";
  out += "# Only the first 8 bytes of each entry's MD5 are stored: the listed texts\n"
         "# cannot be recovered. Keys are shown as 16 hexadecimal digits.\n";
  return out + tables;
}

std::string CheckBlacklistPayload(ascommon::IStreamer* in) {
  nsUrlDb2::UrlDbFileReader reader(in);
  const uint32_t width = reader.ReadWidth();
  if (width != nsUrlDb2::kDigestWidth) {
    return "keys of " + std::to_string(width) + " digest words, not " +
           std::to_string(nsUrlDb2::kDigestWidth);
  }
  uint32_t counts[3] = {};
  ReadBlacklistTables(&reader, counts, [](int, uint64_t) {});
  return "";
}

}  // namespace tervo_cli
