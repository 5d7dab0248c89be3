#include "platform/DynLib.h"

#include <dlfcn.h>

bool TDynLib::Load(const std::string& Name) {
  Unload();
  FLastError.clear();
  FHandle = dlopen(Name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!FHandle) {
    const char* err = dlerror();
    FLastError = err ? err : ("cannot load " + Name);
    return false;
  }
  return true;
}

void TDynLib::Unload() noexcept {
  if (FHandle) {
    dlclose(FHandle);
    FHandle = nullptr;
  }
}

void* TDynLib::Symbol(const char* Name) const noexcept {
  if (!FHandle || !Name) return nullptr;
  return dlsym(FHandle, Name);
}
