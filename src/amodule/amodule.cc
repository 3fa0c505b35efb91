#include "src/amodule/amodule.h"

#include "src/trace/trace.h"

CAModule::CAModule() : fallbackName("") {}

CAModule::~CAModule() = default;

int32_t CAModule::UnitTest() {
  AS_LOG(2, 121, "module [%s] does not implement unit testing", DisplayName());
  return 1;
}

const char* CAModule::DisplayName() const {
  return name.is_null() ? fallbackName.c_str() : name.c_str();
}

CAFilter::CAFilter(const ascommon::sstring& module_name) {
  isFilter = true;
  name = module_name;
}
