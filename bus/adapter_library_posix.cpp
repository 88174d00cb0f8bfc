// POSIX: the driver library is libftd2xx.so, found along the dynamic loader's search path.
#include "adapter_library.h"

#include <dlfcn.h>

void* ADAPTER_LoadLibrary() {
  return dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
}

AdapterEntry ADAPTER_FindEntry(void* library, const char* name) {
  return reinterpret_cast<AdapterEntry>(dlsym(library, name));
}
