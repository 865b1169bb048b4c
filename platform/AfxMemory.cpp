// The framework's allocation: operator new raises CMemoryException, not std::bad_alloc,
// so that running out of memory is reported like every other framework failure.
#include <stdlib.h>

#include <new>

#include "CMemoryException.h"

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
