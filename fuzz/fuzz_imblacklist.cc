// Fuzzes the imblacklist.dat payload through CUrlDb2Engine::Load: the input
// is the payload of a valid container. Each load is checked against the keys
// the payload holds, read here straight from the bytes: every key before the
// end of the payload must be in its table (also when the file ends early), and
// nothing else. Then a few fixed texts are looked up.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>

#include "common/sstring.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/data_files.h"
#include "tervo/tervo_names.h"
#include "src/engines/urldb2/urldb2.h"
#include "src/engines/urldb2/urldb2_format.h"

namespace {

using nsUrlDb2::KeyTable;

// Entries counted by walking every chain.
uint32_t WalkCount(const KeyTable& table) {
  uint32_t n = 0;
  // CMap has no const walk; the walk changes nothing.
  for (auto& entry : const_cast<KeyTable&>(table)) {
    (void)entry;
    ++n;
  }
  return n;
}

// Checks `table` against the keys its part of the payload announces:
// `count` keys from byte `*offset`, which moves past them.
void CheckTable(const KeyTable& table, const char* name, const uint8_t* data, size_t size,
                uint32_t count, size_t* offset) {
  std::set<uint64_t> keys;
  for (uint32_t i = 0; i < count && *offset + 8 <= size; ++i, *offset += 8) {
    const uint64_t key = static_cast<uint64_t>(tervo_fuzz::LoadU32(data + *offset + 4)) << 32 |
                         tervo_fuzz::LoadU32(data + *offset);
    keys.insert(key);
    FUZZ_CHECK(table.Lookup(key) != nullptr,
               std::string("a key of the file is missing from the ") + name + " table");
  }
  FUZZ_CHECK(table.GetCount() == keys.size(),
             std::string("the ") + name + " table holds another number of keys than the file");
  FUZZ_CHECK(WalkCount(table) == table.GetCount(),
             std::string("the ") + name + " table's chains disagree with its count");
}

void CheckLoad(const CUrlDb2Engine& engine, int32_t rc, const uint8_t* data, size_t size) {
  if (rc == nsUrlDb2::kUrlDbWrongWidth || size < 16) {
    FUZZ_CHECK(engine.GetUrlCount() == 0 && engine.GetSubdomainCount() == 0 &&
                   engine.GetDomainCount() == 0,
               "a file refused before its keys left keys");
    return;
  }
  const uint32_t counts[3] = {tervo_fuzz::LoadU32(data + 4), tervo_fuzz::LoadU32(data + 8),
                              tervo_fuzz::LoadU32(data + 12)};
  const uint64_t announced = uint64_t{counts[0]} + counts[1] + counts[2];
  const bool complete = 16 + 8 * announced <= size;
  FUZZ_CHECK(complete == (rc == nsUrlDb2::kUrlDbOk),
             "Load answered " + std::to_string(rc) + " for a file " +
                 (complete ? "holding" : "short of") + " its keys");
  size_t offset = 16;
  CheckTable(engine.url_table(), "url", data, size, counts[0], &offset);
  CheckTable(engine.subdomain_table(), "sub-domain", data, size, counts[1], &offset);
  CheckTable(engine.domain_table(), "domain", data, size, counts[2], &offset);
}

void Exercise(const CUrlDb2Engine& engine) {
  static const char* const kTexts[] = {"", "stranger_danger88", "FreeGiftCards4U",
                                       "creepy.uncle@example.net", "example.net", "net"};
  for (const char* text : kTexts) {
    const size_t n = strlen(text);
    const bool url = engine.IsListedUrl(text, n);
    const bool sub = engine.IsListedSubdomain(text, n);
    const bool domain = engine.IsListedDomain(text, n);
    const uint64_t key = nsUrlDb2::DigestKey(text, n);
    FUZZ_CHECK(url == (engine.url_table().Lookup(key) != nullptr) &&
                   sub == (engine.subdomain_table().Lookup(key) != nullptr) &&
                   domain == (engine.domain_table().Lookup(key) != nullptr),
               "a lookup disagrees with the table");
  }
  FUZZ_CHECK(!engine.IsListedUrl(nullptr, 1), "a null text with a length is listed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tervo_fuzz::Folders& dirs = tervo_fuzz::TargetFolders("imblacklist");
  const std::string path = dirs.input.File(nsImModules::kBlacklistDataFile);
  tervo_test::WriteRawDataFile(path, nsUrlDb2::kUrlDbFileVersion, data, size);

  CUrlDb2Engine engine;
  const int32_t rc = engine.Load(path.c_str(), ascommon::sstring(dirs.work.path().c_str()));
  tervo_fuzz::CheckFolderEmpty(dirs.work.path(), "Load");
  FUZZ_CHECK(rc == nsUrlDb2::kUrlDbOk || rc == nsUrlDb2::kUrlDbFileCorrupt ||
                 rc == nsUrlDb2::kUrlDbWrongWidth,
             "Load answered " + std::to_string(rc));
  const bool other_width = size >= 4 && tervo_fuzz::LoadU32(data) != nsUrlDb2::kDigestWidth;
  FUZZ_CHECK(other_width == (rc == nsUrlDb2::kUrlDbWrongWidth),
             "Load answered " + std::to_string(rc) + " for the digest width " +
                 (size >= 4 ? std::to_string(tervo_fuzz::LoadU32(data)) : "(none)"));
  CheckLoad(engine, rc, data, size);
  Exercise(engine);
  engine.Clear();
  FUZZ_CHECK(engine.GetUrlCount() == 0 && engine.GetSubdomainCount() == 0 &&
                 engine.GetDomainCount() == 0,
             "Clear left keys");
  return 0;
}
