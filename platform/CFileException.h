// CFileException: a file operation failed. Its text names the cause and the file's full path.
#pragma once

#include "CException.h"

class CFileException : public CException {
public:
  enum Cause { generic, fileNotFound, badPath, accessDenied, sharingViolation, diskFull, hardIO };

  CFileException(Cause cause, LONG lOsError, const CString& strFileName)
      : m_cause(cause), m_lOsError(lOsError), m_strFileName(strFileName) {}

  // Throws a new CFileException for the Windows error lOsError on strFileName.
  [[noreturn]] static void ThrowOsError(LONG lOsError, const CString& strFileName);
  static Cause OsErrorToCause(LONG lOsError);

  CString GetErrorMessage() const override;

  const Cause m_cause;
  const LONG m_lOsError;        // the Windows error code, 0 when there was none
  const CString m_strFileName;  // full path
};
