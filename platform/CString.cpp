#include "CString.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "CMemoryException.h"

CString::CString(const wchar_t* psz) {
  if (psz) Append(psz, static_cast<int>(wcslen(psz)));
}

CString::CString(const CString& other) { Append(other, other.m_nLength); }

CString::CString(CString&& other) noexcept
    : m_pData(other.m_pData), m_nLength(other.m_nLength), m_nCapacity(other.m_nCapacity) {
  other.m_pData = nullptr;
  other.m_nLength = other.m_nCapacity = 0;
}

CString::~CString() { free(m_pData); }

CString& CString::operator=(const CString& other) {
  if (this != &other) {
    m_nLength = 0;
    Append(other, other.m_nLength);
  }
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    free(m_pData);
    m_pData = other.m_pData;
    m_nLength = other.m_nLength;
    m_nCapacity = other.m_nCapacity;
    other.m_pData = nullptr;
    other.m_nLength = other.m_nCapacity = 0;
  }
  return *this;
}

bool CString::operator==(const wchar_t* psz) const {
  return wcscmp(*this, psz ? psz : L"") == 0;
}

CString& CString::operator+=(const wchar_t* psz) {
  if (psz) Append(psz, static_cast<int>(wcslen(psz)));
  return *this;
}

CString& CString::operator+=(wchar_t ch) {
  Append(&ch, 1);
  return *this;
}

CString operator+(const CString& left, const wchar_t* right) {
  CString result(left);
  result += right;
  return result;
}

void CString::Format(const wchar_t* pszFormat, ...) {
  m_nLength = 0;
  if (m_pData) m_pData[0] = L'\0';
  va_list args;
  va_start(args, pszFormat);
  AppendFormatV(pszFormat, args);
  va_end(args);
}

void CString::AppendFormat(const wchar_t* pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  AppendFormatV(pszFormat, args);
  va_end(args);
}

void CString::AppendFormatV(const wchar_t* pszFormat, va_list args) {
  va_list probe;
  va_copy(probe, args);
  const int nAdded = _vscwprintf(pszFormat, probe);
  va_end(probe);
  if (nAdded <= 0) return;
  Reserve(m_nLength + nAdded);
  _vsnwprintf(m_pData + m_nLength, nAdded + 1, pszFormat, args);
  m_nLength += nAdded;
  m_pData[m_nLength] = L'\0';
}

CString CString::Mid(int nFirst, int nCount) const {
  if (nFirst < 0) nFirst = 0;
  if (nFirst > m_nLength) nFirst = m_nLength;
  if (nCount < 0) nCount = 0;
  if (nCount > m_nLength - nFirst) nCount = m_nLength - nFirst;
  CString result;
  result.Append(m_pData + nFirst, nCount);
  return result;
}

CString& CString::TrimRight(wchar_t chTarget) {
  while (m_nLength > 0 && m_pData[m_nLength - 1] == chTarget) --m_nLength;
  if (m_pData) m_pData[m_nLength] = L'\0';
  return *this;
}

int CString::Find(wchar_t chTarget, int nStart) const {
  for (int i = nStart < 0 ? 0 : nStart; i < m_nLength; ++i)
    if (m_pData[i] == chTarget) return i;
  return -1;
}

wchar_t* CString::GetBuffer(int nMinLength) {
  Reserve(nMinLength > m_nLength ? nMinLength : m_nLength);
  return m_pData;
}

void CString::ReleaseBuffer(int nNewLength) {
  if (!m_pData) return;
  if (nNewLength < 0 || nNewLength > m_nCapacity) {
    m_pData[m_nCapacity] = L'\0';
    nNewLength = static_cast<int>(wcslen(m_pData));
  }
  m_nLength = nNewLength;
  m_pData[m_nLength] = L'\0';
}

void CString::Append(const wchar_t* p, int n) {
  if (n <= 0) return;
  Reserve(m_nLength + n);
  memmove(m_pData + m_nLength, p, n * sizeof(wchar_t));
  m_nLength += n;
  m_pData[m_nLength] = L'\0';
}

void CString::Reserve(int nLength) {
  if (nLength <= m_nCapacity) return;
  int nCapacity = m_nCapacity ? m_nCapacity : 15;
  while (nCapacity < nLength) nCapacity = nCapacity * 2 + 1;
  void* p = realloc(m_pData, (static_cast<size_t>(nCapacity) + 1) * sizeof(wchar_t));
  if (!p) AfxThrowMemoryException();
  const bool bWasEmpty = m_pData == nullptr;
  m_pData = static_cast<wchar_t*>(p);
  m_nCapacity = nCapacity;
  if (bWasEmpty) m_pData[0] = L'\0';
}
