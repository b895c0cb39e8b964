// Files: CFile over the platform's file handles (Windows-form paths, mapped into the sysroot) and
// CStdioFile, its text form (lines end in CR LF in the file and in "\n" in the program).
// Failures are answers here, not exceptions: Open fills the CFileException it is given and returns
// FALSE; Read returns what it read; Write and WriteString return FALSE (the last error set).
#pragma once
#include "mfc/object.h"
#include "mfc/string.h"
#include "win32/file.h"

class CException : public CObject {
  DECLARE_DYNAMIC(CException)

 public:
  // Exceptions handed out by pointer are freed with Delete.
  void Delete() { delete this; }
  // The text of the failure; FALSE when there is none.
  virtual BOOL GetErrorMessage(LPSTR text, UINT size, UINT* helpContext = nullptr) const;
};

class CFileException : public CException {
  DECLARE_DYNAMIC(CFileException)

 public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  explicit CFileException(int cause = none, LONG osError = -1, LPCSTR fileName = nullptr)
      : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}
  // The cause that a system error code stands for.
  static int OsErrorToException(LONG osError);
  BOOL GetErrorMessage(LPSTR text, UINT size, UINT* helpContext = nullptr) const override;

  int m_cause;
  LONG m_lOsError;
  CString m_strFileName;
};

class CFile : public CObject {
  DECLARE_DYNAMIC(CFile)

 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,     // made when missing; emptied unless modeNoTruncate
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000,
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

  static const HANDLE hFileNull;

  CFile() = default;
  // Takes over an open handle (CreateFile's), e.g. of a file made with CREATE_NEW.
  explicit CFile(HANDLE file) : m_hFile(file) {}
  // Opens at once; m_hFile stays hFileNull when that failed.
  CFile(LPCSTR fileName, UINT openFlags);
  ~CFile() override;  // closes the file
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  virtual BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr);
  virtual UINT Read(void* buffer, UINT count);
  virtual BOOL Write(const void* buffer, UINT count);
  // The new position; -1 (as ULONGLONG) when the seek failed.
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void Flush();
  virtual void Close();
  // Closes without reporting anything.
  virtual void Abort();

  CString GetFilePath() const { return m_strFileName; }
  // The name without its folder.
  CString GetFileName() const;
  BOOL IsOpen() const { return m_hFile != hFileNull; }

  static BOOL Remove(LPCSTR fileName);
  static BOOL Rename(LPCSTR oldName, LPCSTR newName);

  HANDLE m_hFile = hFileNull;

 protected:
  CString m_strFileName;
};

class CStdioFile : public CFile {
  DECLARE_DYNAMIC(CStdioFile)

 public:
  CStdioFile() = default;
  explicit CStdioFile(HANDLE file) : CFile(file) {}
  CStdioFile(LPCSTR fileName, UINT openFlags);

  // One line without its line end; FALSE at the end of the file with nothing read.
  virtual BOOL ReadString(CString& line);
  // fgets' way: at most size - 1 characters, the line's "\n" kept; null at the end of the file.
  virtual LPSTR ReadString(LPSTR buffer, UINT size);
  // Each "\n" goes to the file as CR LF.
  virtual BOOL WriteString(LPCSTR text);

  BOOL Open(LPCSTR fileName, UINT openFlags, CFileException* error = nullptr) override;
  UINT Read(void* buffer, UINT count) override;
  BOOL Write(const void* buffer, UINT count) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetPosition() const override;
  void Close() override;
  void Abort() override;

 private:
  // Bytes read ahead of the caller: the file's position is past them.
  bool FillBuffer();
  void DropBuffer();  // moves the file back to where the caller stands
  bool text_ = true;
  std::string buffer_;
  size_t next_ = 0;
};
