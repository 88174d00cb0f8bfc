// Windows: the driver library is Ftd2xx.dll, looked for only in the program's own folder and the
// system folders (where the driver's installer puts it). The current working directory is not
// searched: a Ftd2xx.dll left where the tester happens to be started must not run inside it.
#include <windows.h>

#include "adapter_library.h"

void* ADAPTER_LoadLibrary() {
  return LoadLibraryExA("Ftd2xx.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

AdapterEntry ADAPTER_FindEntry(void* library, const char* name) {
  return reinterpret_cast<AdapterEntry>(GetProcAddress(static_cast<HMODULE>(library), name));
}
