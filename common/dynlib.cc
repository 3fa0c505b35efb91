#include "common/dynlib.h"

#include <dlfcn.h>
#include <strings.h>

#include <string>

namespace ascommon {

namespace {

// The folder (with a trailing '/') of the object file that holds this code.
std::string ThisModuleFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&ThisModuleFolder), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The loader's text for this thread's last failure.
thread_local std::string t_error;

// Keeps the loader's text of the failure that just happened.
void NoteError() {
  const char* text = dlerror();
  t_error = text != nullptr ? text : "";
}

void* Open(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// Tries the names LoadDynLib documents, in order.
void* LoadCandidates(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  std::string path = name;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string file = path.substr(folder.size());

  bool is_dll = file.size() > 4 && strcasecmp(file.c_str() + file.size() - 4, ".dll") == 0;
  if (is_dll) {
    std::string stem = file.substr(0, file.size() - 4);
    if (strcasecmp(stem.c_str(), "iconv") == 0) return Open("libc.so.6");
    std::string so = "lib" + stem + ".so";
    void* lib = nullptr;
    if (!folder.empty()) {
      lib = Open(folder + so);
      if (lib == nullptr) NoteError();  // names the library the caller meant
    } else {
      std::string here = ThisModuleFolder();
      if (!here.empty()) lib = Open(here + so);
      if (lib == nullptr) lib = Open(so);
    }
    if (lib != nullptr) return lib;
  } else if (folder.empty()) {
    std::string here = ThisModuleFolder();
    if (!here.empty()) {
      if (void* lib = Open(here + file)) return lib;
    }
  }
  return Open(path);
}

}  // namespace

void* LoadDynLib(const char* name) {
  t_error.clear();
  void* lib = LoadCandidates(name);
  if (lib == nullptr && t_error.empty()) NoteError();
  return lib;
}

void* GetDynLibSymbol(void* lib, const char* symbol) {
  if (lib == nullptr || symbol == nullptr) return nullptr;
  void* address = dlsym(lib, symbol);
  if (address == nullptr) NoteError();
  return address;
}

bool FreeDynLib(void* lib) {
  if (lib == nullptr || dlclose(lib) == 0) return true;
  NoteError();
  return false;
}

const char* DynLibError() { return t_error.empty() ? "unknown error" : t_error.c_str(); }

}  // namespace ascommon
