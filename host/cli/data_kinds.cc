#include "host/cli/data_kinds.h"

#include <memory>

#include "common/item.h"
#include "host/cli/blacklist_source.h"
#include "host/cli/markovian_source.h"
#include "host/cli/words_source.h"
#include "src/engines/markovian/markovian_format.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "tervo/tervo_names.h"

namespace tervo_cli {

namespace {

// Parses into a `Model` with `Parse`; the payload is written from it with
// `Write` and described by `Summary`.
template <class Model, auto Parse, auto Write, auto Summary>
bool CompileWith(const std::string& text, const std::string& source_name, CompiledPayload* out,
                 std::string* error) {
  auto model = std::make_shared<Model>();
  if (!Parse(text, source_name, model.get(), error)) return false;
  out->write = [model](ascommon::IStreamer* stream) { Write(stream, *model); };
  out->summary = Summary(*model);
  return true;
}

std::string WordsSummary(const std::vector<WordsCategory>& categories) {
  size_t words = 0;
  for (const WordsCategory& c : categories) words += c.words.size();
  return std::to_string(categories.size()) + " categories, " + std::to_string(words) + " words";
}

std::string BlacklistSummary(const BlacklistKeys& keys) {
  return std::to_string(keys.urls.size()) + " urls, " + std::to_string(keys.subdomains.size()) +
         " subdomains, " + std::to_string(keys.domains.size()) + " domains (" +
         std::to_string(keys.repeats) + " repeats left out)";
}

std::string MarkovianSummary(const std::vector<MarkovianClass>& classes) {
  size_t sequences = 0;
  for (const MarkovianClass& c : classes) sequences += c.sequences.size();
  return std::to_string(classes.size()) + " classes, " + std::to_string(sequences) +
         " sequences";
}

}  // namespace

const std::vector<DataKind>& DataKinds() {
  static const std::vector<DataKind> kinds = {
      {"words", nsImModules::kWordsDataFile, nsImModules::kWordsFilterName,
       {ascommon::IM_WORDS_VERDICT_KEY}, true, nsWordsHeur::kWordsFileVersion, "Build imwords.dat (word lists per category)",
       CompileWith<std::vector<WordsCategory>, ParseWordsSource, WriteWordsPayload,
                   WordsSummary>,
       ReadWordsPayloadAsSource, nullptr},
      {"blacklist", nsImModules::kBlacklistDataFile, nsImModules::kBlacklistFilterName,
       {ascommon::IM_BLACKLIST_FLAG_KEY}, false, nsUrlDb2::kUrlDbFileVersion,
       "Build imblacklist.dat (blocked correspondents, stored as digests)",
       CompileWith<BlacklistKeys, ParseBlacklistSource, WriteBlacklistPayload,
                   BlacklistSummary>,
       ReadBlacklistPayloadAsText, CheckBlacklistPayload},
      {"markovian", nsImModules::kMarkovianDataFile, nsImModules::kMarkovianFilterName,
       {ascommon::IM_MARKOVIAN_FLAG_KEY, ascommon::IM_MARKOVIAN_VALUE_KEY,
        ascommon::IM_MARKOVIAN_TEXT_KEY},
       false, nsMarkovian::kMarkovianFileVersion,
       "Build im_markovian.dat (word sequences per class)",
       CompileWith<std::vector<MarkovianClass>, ParseMarkovianSource, WriteMarkovianPayload,
                   MarkovianSummary>,
       ReadMarkovianPayloadAsSource, nullptr},
  };
  return kinds;
}

namespace {

template <class F>
const DataKind* Find(F&& matches) {
  for (const DataKind& kind : DataKinds()) {
    if (matches(kind)) return &kind;
  }
  return nullptr;
}

}  // namespace

const DataKind* DataKindByFormat(const std::string& format) {
  return Find([&](const DataKind& k) { return format == k.format; });
}

const DataKind* DataKindByFileName(const std::string& file_name) {
  return Find([&](const DataKind& k) { return file_name == k.file_name; });
}

const DataKind* DataKindOfFilter(const std::string& filter) {
  return Find([&](const DataKind& k) { return filter == k.filter; });
}

}  // namespace tervo_cli
