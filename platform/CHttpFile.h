// CHttpFile: the response to an http URL.
#pragma once

#include "CStdioFile.h"

class CHttpFile : public CStdioFile {
public:
  BOOL QueryInfoStatusCode(DWORD& dwStatusCode) const override;

private:
  friend class CInternetSession;
  using CStdioFile::CStdioFile;
};
