// Run-time loading of the adapter's driver library. One source file per platform implements it.
#pragma once

// A resolved entry point, to be cast to its real type by the caller.
using AdapterEntry = void (*)();

// Loads the driver library; null when it cannot be loaded. The library is never unloaded.
void* ADAPTER_LoadLibrary();

// Finds an exported entry point by name; null when the library does not export it.
AdapterEntry ADAPTER_FindEntry(void* library, const char* name);
