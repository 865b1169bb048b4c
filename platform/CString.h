// CString: the program's string, UTF-16 with value semantics.
// Lengths and positions count wide characters. An empty string holds no buffer.
#pragma once

#include <wchar.h>

class CString {
public:
  CString() = default;
  CString(const wchar_t* psz);  // null is taken as empty
  CString(const CString& other);
  CString(CString&& other) noexcept;
  ~CString();

  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;

  // Attributes
  int GetLength() const { return m_nLength; }
  bool IsEmpty() const { return m_nLength == 0; }
  wchar_t GetAt(int nIndex) const { return m_pData[nIndex]; }
  operator const wchar_t*() const { return m_pData ? m_pData : L""; }
  bool operator==(const wchar_t* psz) const;
  bool operator!=(const wchar_t* psz) const { return !(*this == psz); }

  // Operations. Appending and concatenation never insert a separator.
  CString& operator+=(const wchar_t* psz);
  CString& operator+=(wchar_t ch);
  friend CString operator+(const CString& left, const wchar_t* right);

  // printf-style formatting with the C runtime's wide conventions (%d, %s = wide string).
  // Format replaces the content; AppendFormat appends to it.
  void Format(const wchar_t* pszFormat, ...);
  void AppendFormat(const wchar_t* pszFormat, ...);

  // The nCount characters from nFirst on, clipped to the string; empty past its end.
  CString Mid(int nFirst, int nCount) const;
  // Removes the whole trailing run of chTarget, and nothing else.
  CString& TrimRight(wchar_t chTarget);
  // Position of the first chTarget at or after nStart, or -1.
  int Find(wchar_t chTarget, int nStart = 0) const;

  // Direct access for API calls that fill a buffer: room for at least nMinLength characters
  // plus a terminator. ReleaseBuffer takes the length up to the terminator (or nNewLength).
  wchar_t* GetBuffer(int nMinLength);
  void ReleaseBuffer(int nNewLength = -1);

private:
  void Append(const wchar_t* p, int n);
  void Reserve(int nLength);  // raises CMemoryException when memory runs out
  void AppendFormatV(const wchar_t* pszFormat, va_list args);

  wchar_t* m_pData = nullptr;
  int m_nLength = 0;
  int m_nCapacity = 0;  // characters, terminator excluded
};
