#include "host/cli/blacklist_source.h"

#include <stdio.h>

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

void WriteBlacklistPayload(ascommon::IStreamer* out, const BlacklistKeys& keys) {
  nsUrlDb2::UrlDbFileWriter writer(out);
  writer.WriteHeader(nsUrlDb2::kDigestWidth, static_cast<uint32_t>(keys.urls.size()),
                     static_cast<uint32_t>(keys.subdomains.size()),
                     static_cast<uint32_t>(keys.domains.size()));
  writer.WriteKeys(keys.urls.data(), keys.urls.size());
  writer.WriteKeys(keys.subdomains.data(), keys.subdomains.size());
  writer.WriteKeys(keys.domains.data(), keys.domains.size());
}

std::string ReadBlacklistPayloadAsText(ascommon::IStreamer* in) {
  nsUrlDb2::UrlDbFileReader reader(in);
  std::string out = "# digest width: " + std::to_string(reader.ReadWidth()) + "\n";
  uint32_t counts[3] = {};
  reader.ReadCounts(&counts[0], &counts[1], &counts[2]);
  out += "# urls: " + std::to_string(counts[0]) + ", subdomains: " + std::to_string(counts[1]) +
         ", domains: " + std::to_string(counts[2]) + "\n";
  out += "# Only the first 8 bytes of each entry's MD5 are stored: the listed texts\n"
         "# cannot be recovered. Keys are shown as 16 hexadecimal digits.\n";
  const char* const kSections[] = {"[urls]", "[subdomains]", "[domains]"};
  for (int t = 0; t < 3; ++t) {
    out += std::string(kSections[t]) + "\n";
    for (uint32_t i = 0; i < counts[t]; ++i) {
      char hex[24];
      snprintf(hex, sizeof hex, "%016llx\n", static_cast<unsigned long long>(reader.ReadKey()));
      out += hex;
    }
  }
  return out;
}

}  // namespace tervo_cli
