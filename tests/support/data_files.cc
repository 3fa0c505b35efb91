#include "tests/support/data_files.h"

namespace tervo_test {

void WriteDataFile(const std::string& path, uint32_t version,
                   const std::function<void(ascommon::IStreamer*)>& write) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite,
                                folder.c_str(), version);
  write(&out);
  out.Close();
}

void WriteRawDataFile(const std::string& path, uint32_t version, const void* data, size_t size) {
  WriteDataFile(path, version, [&](ascommon::IStreamer* out) {
    // The streamer counts a zero-byte write as failed: an empty payload is no write.
    if (size != 0) out->WriteBytes(data, static_cast<uint32_t>(size));
  });
}

void WriteWordsFile(const std::string& path,
                    const std::vector<nsWordsHeur::WordsCategory>& categories) {
  WriteDataFile(path, nsWordsHeur::kWordsFileVersion,
                [&](ascommon::IStreamer* out) { nsWordsHeur::WriteWordsPayload(out, categories); });
}

void WriteMarkovianFile(const std::string& path,
                        const std::vector<nsMarkovian::MarkovianClass>& classes) {
  WriteDataFile(path, nsMarkovian::kMarkovianFileVersion, [&](ascommon::IStreamer* out) {
    nsMarkovian::WriteMarkovianPayload(out, classes);
  });
}

void WriteBlacklistFile(const std::string& path, const nsUrlDb2::BlacklistKeys& keys) {
  WriteDataFile(path, nsUrlDb2::kUrlDbFileVersion,
                [&](ascommon::IStreamer* out) { nsUrlDb2::WriteBlacklistPayload(out, keys); });
}

void WriteBlacklistFile(const std::string& path, const std::vector<std::string>& users) {
  nsUrlDb2::BlacklistKeys keys;
  for (const std::string& user : users) {
    keys.urls.push_back(nsUrlDb2::DigestKey(user.data(), user.size()));
  }
  WriteBlacklistFile(path, keys);
}

}  // namespace tervo_test
