#include "common/asfile.h"

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/dynlib.h"
#include "common/utf8.h"

namespace ascommon {

namespace {

namespace fs = std::filesystem;

// The UTF-8 form of a caller's path, separators untouched.
std::string Utf8Of(std::string_view s) { return std::string(s); }
std::string Utf8Of(std::u16string_view s) { return Utf16ToUtf8(s); }

// The UTF-16 form of a caller's text.
std::u16string Utf16Of(std::string_view s) { return Utf8ToUtf16(s); }
std::u16string Utf16Of(std::u16string_view s) { return std::u16string(s); }

// The path as the system gets it: UTF-8 with '/' for every backslash.
template <class C>
std::string OsPath(std::basic_string_view<C> path) {
  std::string os = Utf8Of(path);
  std::replace(os.begin(), os.end(), '\\', '/');
  return os;
}

template <class C>
std::string OsPath(const C* path) {
  return OsPath(std::basic_string_view<C>(path));
}

bool IsSeparator(char32_t c) { return c == '/' || c == '\\'; }

bool StatPath(const std::string& os, struct stat* st) { return stat(os.c_str(), st) == 0; }

template <class C>
bool Exists(const C* path) {
  struct stat st;
  return path != nullptr && StatPath(OsPath(path), &st) && !S_ISDIR(st.st_mode);
}

template <class C>
bool Size64(const C* path, uint64_t* size) {
  struct stat st;
  if (path == nullptr || size == nullptr || !StatPath(OsPath(path), &st) || S_ISDIR(st.st_mode)) {
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

template <class C>
int32_t Delete(const C* path) {
  return path != nullptr && unlink(OsPath(path).c_str()) == 0 ? 1 : 0;
}

bool CopyOs(const std::string& from, const std::string& to) {
  std::error_code ec;
  return fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec;
}

template <class C>
int32_t Copy(const C* from, const C* to) {
  if (from == nullptr || to == nullptr) return 0;
  return CopyOs(OsPath(from), OsPath(to)) ? 1 : 0;
}

template <class C>
int32_t Move(const C* from, const C* to) {
  if (from == nullptr || to == nullptr) return 0;
  const std::string src = OsPath(from);
  const std::string dst = OsPath(to);
  if (rename(src.c_str(), dst.c_str()) == 0) return 1;
  if (errno != EXDEV) return 0;
  // Another file system: copy, then drop the source; undo the copy when the
  // source cannot go, so a failed move leaves one name only.
  if (!CopyOs(src, dst)) return 0;
  if (unlink(src.c_str()) != 0) {
    unlink(dst.c_str());
    return 0;
  }
  return 1;
}

// Reserves "<folder><sep><prefix>XXXXXX" as a file (mkstemp) or a folder
// (mkdtemp) and gives the name with the caller's folder text in `*name`.
template <class C>
bool MakeTempEntry(const C* folder, const C* prefix, bool as_folder, std::basic_string<C>* name) {
  std::basic_string<C> path;
  if (folder == nullptr || *folder == 0) {
    path.push_back(C('.'));
  } else {
    path = folder;
  }
  if (!IsSeparator(path.back())) {
    const bool backslashes = path.find(C('\\')) != path.npos && path.find(C('/')) == path.npos;
    path.push_back(backslashes ? C('\\') : C('/'));
  }
  if (prefix != nullptr) path += prefix;
  std::string pattern = OsPath(std::basic_string_view<C>(path)) + "XXXXXX";
  if (as_folder) {
    if (mkdtemp(pattern.data()) == nullptr) return false;
  } else {
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return false;
    close(fd);
  }
  for (size_t i = pattern.size() - 6; i < pattern.size(); ++i) path.push_back(C(pattern[i]));
  *name = std::move(path);
  return true;
}

bool Store(const std::u16string& s, usstring* out) { return out->assign(s.data(), s.size()) == 0; }
bool Store(const std::string& s, sstring* out) { return out->assign(s.data(), s.size()) == 0; }

template <class C, class S>
bool MakeTemp(const C* folder, const C* prefix, bool as_folder, S* out) {
  if (out == nullptr) return false;
  std::basic_string<C> name;
  if (!MakeTempEntry(folder, prefix, as_folder, &name)) return false;
  if (Store(name, out)) return true;
  const std::string os = OsPath(std::basic_string_view<C>(name));
  if (as_folder) {
    rmdir(os.c_str());
  } else {
    unlink(os.c_str());
  }
  return false;
}

template <class C>
int32_t RemoveTree(const C* path) {
  if (path == nullptr) return 0;
  const std::string os = OsPath(path);
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(os, ec))) return 0;
  fs::remove_all(os, ec);
  return ec ? 0 : 1;
}

char32_t Fold(char16_t u) {
  return (u >= 0xD800 && u < 0xE000) ? u : UnicodeToLower(u);
}

// '*' and '?' matching over UTF-16 units, case folded; a '*' that fails to
// place the rest backs up to the latest star and lets it take one more unit.
bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
  size_t n = 0, p = 0;
  size_t star = std::u16string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      star_n = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

template <class C>
int32_t List(const C* pattern, FileList* out) {
  if (pattern == nullptr || out == nullptr) return -1;
  out->SetSize(0, false);
  const std::basic_string_view<C> whole(pattern);
  size_t cut = 0;
  for (size_t i = whole.size(); i > 0; --i) {
    if (IsSeparator(whole[i - 1])) {
      cut = i;
      break;
    }
  }
  const std::basic_string_view<C> folder = whole.substr(0, cut);
  const std::u16string name_pattern = Utf16Of(whole.substr(cut));
  std::string os_folder = folder.empty() ? std::string("./") : OsPath(folder);

  DIR* dir = opendir(os_folder.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(Utf8ToUtf16(name), name_pattern)) continue;
    struct stat st;
    if (StatPath(os_folder + name, &st) && S_ISDIR(st.st_mode)) continue;
    names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());

  const std::u16string prefix = Utf16Of(folder);
  for (const std::string& name : names) {
    const std::u16string full = prefix + Utf8ToUtf16(name);
    usstring item;
    if (item.assign(full.data(), full.size()) != 0 || out->Add(item) != kArrayOk) return -2;
  }
  return static_cast<int32_t>(names.size());
}

bool CurrentFolder(std::string* out) {
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  if (ec) return false;
  *out = cwd.string();
  return true;
}

}  // namespace

bool FileExists(const char16_t* path) { return Exists(path); }
bool FileExists(const char* path) { return Exists(path); }

uint32_t FileSize(const char16_t* path) {
  uint64_t size = 0;
  return Size64(path, &size) ? static_cast<uint32_t>(size) : 0;
}
uint32_t FileSize(const char* path) {
  uint64_t size = 0;
  return Size64(path, &size) ? static_cast<uint32_t>(size) : 0;
}

bool FileSize64(const char16_t* path, uint64_t* size) { return Size64(path, size); }
bool FileSize64(const char* path, uint64_t* size) { return Size64(path, size); }

int32_t DeleteFile(const char16_t* path) { return Delete(path); }
int32_t DeleteFile(const char* path) { return Delete(path); }

int32_t MoveFile(const char16_t* from, const char16_t* to) { return Move(from, to); }
int32_t MoveFile(const char* from, const char* to) { return Move(from, to); }

int32_t CopyFile(const char16_t* from, const char16_t* to) { return Copy(from, to); }
int32_t CopyFile(const char* from, const char* to) { return Copy(from, to); }

int32_t MakeTempFileName(const char16_t* folder, const char16_t* prefix, usstring* out) {
  return MakeTemp(folder, prefix, false, out) ? 1 : 0;
}
int32_t MakeTempFileName(const char* folder, const char* prefix, sstring* out) {
  return MakeTemp(folder, prefix, false, out) ? 1 : 0;
}

int32_t MakeTempFolder(const char16_t* folder, const char16_t* prefix, usstring* out) {
  return MakeTemp(folder, prefix, true, out) ? 0 : -3;
}
int32_t MakeTempFolder(const char* folder, const char* prefix, sstring* out) {
  return MakeTemp(folder, prefix, true, out) ? 0 : -3;
}

int32_t RemoveFolder(const char16_t* path) { return RemoveTree(path); }
int32_t RemoveFolder(const char* path) { return RemoveTree(path); }

int32_t ListFiles(const char16_t* pattern, FileList* out) { return List(pattern, out); }
int32_t ListFiles(const char* pattern, FileList* out) { return List(pattern, out); }

int32_t GetCurrentFolder(usstring* out) {
  std::string cwd;
  if (out == nullptr || !CurrentFolder(&cwd)) return 0;
  return Store(Utf8ToUtf16(cwd), out) ? 1 : 0;
}
int32_t GetCurrentFolder(sstring* out) {
  std::string cwd;
  if (out == nullptr || !CurrentFolder(&cwd)) return 0;
  return Store(cwd, out) ? 1 : 0;
}

int32_t SetCurrentFolder(const char16_t* path) {
  return path != nullptr && chdir(OsPath(path).c_str()) == 0 ? 1 : 0;
}
int32_t SetCurrentFolder(const char* path) {
  return path != nullptr && chdir(OsPath(path).c_str()) == 0 ? 1 : 0;
}

FILE* OpenFile(const char16_t* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  return fopen(OsPath(path).c_str(), mode);
}
FILE* OpenFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  return fopen(OsPath(path).c_str(), mode);
}

int32_t ReadWholeFile(const char* path, String* out) {
  FILE* file = OpenFile(path, "rb");
  if (file == nullptr) return -1;
  out->clear();
  char chunk[16384];
  size_t n;
  int32_t rc = 0;
  try {
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) out->append(chunk, n);
  } catch (const std::bad_alloc&) {
    rc = -3;
  }
  if (rc == 0 && ferror(file)) rc = -2;
  fclose(file);
  return rc;
}

void* LoadLibrary(const char16_t* path) {
  if (path == nullptr) return nullptr;
  return LoadDynLib(Utf16ToUtf8(path).c_str());
}
void* LoadLibrary(const char* path) { return LoadDynLib(path); }
void* GetProcedure(void* lib, const char* name) { return GetDynLibSymbol(lib, name); }
void FreeLibrary(void* lib) { FreeDynLib(lib); }

}  // namespace ascommon
