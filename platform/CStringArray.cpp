#include "CStringArray.h"

#include <new>
#include <stdlib.h>

#include "CMemoryException.h"

CStringArray::~CStringArray() {
  RemoveAll();
  free(m_pData);
}

int CStringArray::Add(const CString& str) {
  CString copy(str);  // str may live in this array, which may move below
  if (m_nSize == m_nCapacity) {
    const int nCapacity = m_nCapacity ? m_nCapacity * 2 : 8;
    void* p = malloc(static_cast<size_t>(nCapacity) * sizeof(CString));
    if (!p) AfxThrowMemoryException();
    CString* pNew = static_cast<CString*>(p);
    for (int i = 0; i < m_nSize; ++i) {
      new (&pNew[i]) CString(static_cast<CString&&>(m_pData[i]));
      m_pData[i].~CString();
    }
    free(m_pData);
    m_pData = pNew;
    m_nCapacity = nCapacity;
  }
  new (&m_pData[m_nSize]) CString(static_cast<CString&&>(copy));
  return m_nSize++;
}

void CStringArray::RemoveAll() {
  for (int i = 0; i < m_nSize; ++i) m_pData[i].~CString();
  m_nSize = 0;
}
