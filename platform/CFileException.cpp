#include "CFileException.h"

void CFileException::ThrowOsError(LONG lOsError, const CString& strFileName) {
  throw new CFileException(OsErrorToCause(lOsError), lOsError, strFileName);
}

CFileException::Cause CFileException::OsErrorToCause(LONG lOsError) {
  switch (lOsError) {
    case ERROR_FILE_NOT_FOUND:
      return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return badPath;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return accessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return sharingViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return diskFull;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      return hardIO;
    default:
      return generic;
  }
}

CString CFileException::GetErrorMessage() const {
  static const wchar_t* const kFormats[] = {
      L"An unexpected error occurred while accessing %s.",  // generic
      L"%s was not found.",                                 // fileNotFound
      L"%s contains an invalid path.",                      // badPath
      L"Access to %s was denied.",                          // accessDenied
      L"A sharing violation occurred while accessing %s.",  // sharingViolation
      L"Disk full while accessing %s.",                     // diskFull
      L"A hardware I/O error was reported while accessing %s.",  // hardIO
  };
  CString strMessage;
  strMessage.Format(kFormats[m_cause], static_cast<const wchar_t*>(m_strFileName));
  return strMessage;
}
