#include "CHttpFile.h"

BOOL CHttpFile::QueryInfoStatusCode(DWORD& dwStatusCode) const {
  DWORD nSize = sizeof(dwStatusCode);
  return ::HttpQueryInfoW(m_hFile, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatusCode,
                          &nSize, nullptr);
}
