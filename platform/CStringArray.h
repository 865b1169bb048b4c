// CStringArray: an ordered, growable list of CString.
#pragma once

#include "CString.h"

class CStringArray {
public:
  CStringArray() = default;
  CStringArray(const CStringArray&) = delete;
  CStringArray& operator=(const CStringArray&) = delete;
  ~CStringArray();

  int GetSize() const { return m_nSize; }
  const CString& GetAt(int nIndex) const { return m_pData[nIndex]; }
  const CString& operator[](int nIndex) const { return m_pData[nIndex]; }

  // Appends a copy; returns its index. Raises CMemoryException when memory runs out.
  int Add(const CString& str);
  void RemoveAll();

private:
  CString* m_pData = nullptr;
  int m_nSize = 0;
  int m_nCapacity = 0;
};
