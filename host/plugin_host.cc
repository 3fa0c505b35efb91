#include "host/plugin_host.h"

#include <dlfcn.h>

#include "common/asalloc.h"
#include "src/common/shared_locker.h"

namespace tervo_host {

bool Plugin::Load(const std::string& path, std::string* error) {
  Unload();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    *error = dlerror();
    return false;
  }
  get_version_ = reinterpret_cast<GetASVersionFn>(dlsym(handle_, "GetASVersion"));
  get_factory_ = reinterpret_cast<GetClassFactoryFn>(dlsym(handle_, "GetClassFactory"));
  release_factory_ =
      reinterpret_cast<ReleaseClassFactoryFn>(dlsym(handle_, "ReleaseClassFactory"));
  if (get_version_ == nullptr || get_factory_ == nullptr || release_factory_ == nullptr) {
    *error = path + ": not a tervo plug-in (missing exports)";
    dlclose(handle_);
    handle_ = nullptr;
    return false;
  }
  return true;
}

void Plugin::Unload() {
  if (handle_ == nullptr) return;
  release_factory_();
  dlclose(handle_);
  handle_ = nullptr;
}

CBasicAllocator* Plugin::FindAllocator(const char* type_name) {
  CAClassFactory* factory = Factory();
  if (factory == nullptr) return nullptr;
  for (uint64_t i = 0; i < factory->allocators.GetCount(); ++i) {
    CBasicAllocator* allocator = factory->allocators[i];
    if (allocator != nullptr && allocator->GetName()->compare(type_name) == 0) return allocator;
  }
  return nullptr;
}

CAFilter* Plugin::CreateFilter(const char* type_name, ISettingsProvider* settings) {
  CBasicAllocator* allocator = FindAllocator(type_name);
  if (allocator == nullptr) return nullptr;
  CAModule* module = allocator->CreateModule();
  if (module == nullptr) return nullptr;
  if (Factory()->modules.Add(module) != 0) {
    module->ReleaseAllAndShutdown();
    ascommon::Delete(module);
    return nullptr;
  }
  module->settings = settings;
  // Every module of this plug-in is a filter.
  return module->isFilter ? static_cast<CAFilter*>(module) : nullptr;
}

int32_t OpenSession(CAFilter* filter, uint64_t id) {
  {
    // Items of other sessions may be passing through on other threads: the
    // session map changes under the module's write lock.
    ascommon::auto_locker lock(&filter->locker, ascommon::auto_locker::kWrite, true);
    if (filter->sessions.Lookup(id) != nullptr) return -451;
    void* data = filter->CreateSessionData();
    if (data == nullptr) return -102;
    if (filter->sessions.Insert(id, nobjSessionInfo{data, filter->IsEnabled(id)}) != 0) {
      filter->DestroySessionData(data);
      return -102;
    }
  }
  return filter->ApplySessionSettings(id);
}

Item::Item(const char* text, const char* aux_text, const char* user_info) {
  item_.io = &io_box_;
  if (text != nullptr) item_.input.SetText(ascommon::IM_TEXT_KEY, text);
  if (aux_text != nullptr) item_.input.SetText(ascommon::IM_AUX_TEXT_KEY, aux_text);
  if (user_info != nullptr) io_box_.SetText(ascommon::IM_USER_INFO_KEY, user_info);
}

Item::~Item() = default;

void Item::DropIoBox() { item_.io = nullptr; }

std::string Item::Text(uint32_t key) {
  if (io() == nullptr) return "";
  const ascommon::sstring* text = io()->Find(key) != nullptr ? io()->GetText(key) : nullptr;
  return text == nullptr || text->is_null() ? "" : text->c_str();
}

}  // namespace tervo_host
