// The framework's replacements for two pieces of the C++ runtime. This file is always linked,
// since every program allocates, so its definitions take the place of the runtime's own.
#include <stdlib.h>

#include <new>

#include "CMemoryException.h"

// Allocation raises CMemoryException, not std::bad_alloc, so that running out of memory is
// reported like every other framework failure.
void* operator new(size_t nSize) {
  void* p = malloc(nSize ? nSize : 1);
  if (!p) AfxThrowMemoryException();
  return p;
}

void* operator new[](size_t nSize) { return operator new(nSize); }
void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }

// What runs when an exception escapes everything (every framework exception is caught at the
// window-message dispatch, so only a fault gets here). The runtime's default prints the
// exception's demangled type to stderr, which a GUI process does not have, and costs about
// 45 KB of demangler; ending the process the same way without the message costs nothing.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
