#include "mfc/file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "win32/error_text.h"

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CFileException, CException)
IMPLEMENT_DYNAMIC(CFile, CObject)
IMPLEMENT_DYNAMIC(CStdioFile, CFile)

const HANDLE CFile::hFileNull = INVALID_HANDLE_VALUE;

namespace {

constexpr size_t kReadChunk = 4096;

// The copied text, cut to the buffer.
BOOL CopyMessage(const std::string& message, LPSTR text, UINT size) {
  if (!text || size == 0) return FALSE;
  const size_t copied = std::min<size_t>(message.size(), size - 1);
  memcpy(text, message.data(), copied);
  text[copied] = '\0';
  return TRUE;
}

// CR LF for every "\n".
std::string WithCrLf(const char* bytes, size_t count) {
  std::string out;
  out.reserve(count + count / 16);
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] == '\n') out += '\r';
    out += bytes[i];
  }
  return out;
}

}  // namespace

BOOL CException::GetErrorMessage(LPSTR text, UINT size, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  if (text && size) *text = '\0';
  return FALSE;
}

int CFileException::OsErrorToException(LONG osError) {
  switch (static_cast<DWORD>(osError)) {
    case ERROR_SUCCESS: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return badPath;
    case ERROR_ACCESS_DENIED:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_NEGATIVE_SEEK: return badSeek;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return genericException;
  }
}

BOOL CFileException::GetErrorMessage(LPSTR text, UINT size, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  if (m_cause == none) return CException::GetErrorMessage(text, size, helpContext);
  char system[256] = "";
  if (m_lOsError >= 0)
    FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, static_cast<DWORD>(m_lOsError), 0, system, sizeof system, nullptr);
  std::string message = *system ? system : "The file could not be used.";
  if (!m_strFileName.IsEmpty()) message = std::string(m_strFileName) + ": " + message;
  return CopyMessage(message, text, size);
}

// ---- CFile ----

CFile::CFile(LPCSTR fileName, UINT openFlags) { Open(fileName, openFlags); }

CFile::~CFile() {
  if (m_hFile != hFileNull) ::CloseHandle(m_hFile);
}

BOOL CFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error) {
  if (m_hFile != hFileNull || !fileName) {
    if (error) *error = CFileException(CFileException::genericException, -1, fileName);
    return FALSE;
  }
  DWORD access = 0;
  switch (openFlags & 3) {
    case modeRead: access = GENERIC_READ; break;
    case modeWrite: access = GENERIC_WRITE; break;
    case modeReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    default:
      if (error) *error = CFileException(CFileException::genericException, ERROR_INVALID_PARAMETER, fileName);
      return FALSE;
  }
  DWORD disposition = OPEN_EXISTING;
  if (openFlags & modeCreate) disposition = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  HANDLE file = ::CreateFile(fileName, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (error) *error = CFileException(CFileException::OsErrorToException(static_cast<LONG>(code)), static_cast<LONG>(code), fileName);
    return FALSE;
  }
  m_hFile = file;
  m_strFileName = fileName;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  DWORD done = 0;
  if (m_hFile == hFileNull || !buffer || count == 0) return 0;
  if (!::ReadFile(m_hFile, buffer, count, &done, nullptr)) return 0;
  return static_cast<UINT>(done);
}

BOOL CFile::Write(const void* buffer, UINT count) {
  if (m_hFile == hFileNull) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (count == 0) return TRUE;
  DWORD done = 0;
  if (!::WriteFile(m_hFile, buffer, count, &done, nullptr)) return FALSE;
  if (done != count) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return TRUE;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  if (m_hFile == hFileNull) return static_cast<ULONGLONG>(-1);
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD low = ::SetFilePointer(m_hFile, static_cast<LONG>(offset & 0xFFFFFFFF), &high, from);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return static_cast<ULONGLONG>(-1);
  return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
}

ULONGLONG CFile::GetPosition() const {
  if (m_hFile == hFileNull) return 0;
  LONG high = 0;
  const DWORD low = ::SetFilePointer(m_hFile, 0, &high, FILE_CURRENT);
  return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
}

ULONGLONG CFile::GetLength() const {
  if (m_hFile == hFileNull) return 0;
  DWORD high = 0;
  const DWORD low = ::GetFileSize(m_hFile, &high);
  return (static_cast<ULONGLONG>(high) << 32) | low;
}

void CFile::Flush() {
  if (m_hFile != hFileNull) ::FlushFileBuffers(m_hFile);
}

void CFile::Close() {
  if (m_hFile != hFileNull) ::CloseHandle(m_hFile);
  m_hFile = hFileNull;
  m_strFileName.Empty();
}

void CFile::Abort() { Close(); }

CString CFile::GetFileName() const {
  const int slash = std::max(m_strFileName.ReverseFind('\\'), m_strFileName.ReverseFind('/'));
  return m_strFileName.Mid(slash + 1);
}

BOOL CFile::Remove(LPCSTR fileName) { return ::DeleteFile(fileName); }
BOOL CFile::Rename(LPCSTR oldName, LPCSTR newName) { return ::MoveFile(oldName, newName); }

// ---- CStdioFile ----

CStdioFile::CStdioFile(LPCSTR fileName, UINT openFlags) { Open(fileName, openFlags); }

BOOL CStdioFile::Open(LPCSTR fileName, UINT openFlags, CFileException* error) {
  text_ = !(openFlags & typeBinary);
  buffer_.clear();
  next_ = 0;
  return CFile::Open(fileName, openFlags, error);
}

bool CStdioFile::FillBuffer() {
  if (next_ < buffer_.size()) return true;
  buffer_.resize(kReadChunk);
  const UINT got = CFile::Read(buffer_.data(), static_cast<UINT>(buffer_.size()));
  buffer_.resize(got);
  next_ = 0;
  return got > 0;
}

void CStdioFile::DropBuffer() {
  const size_t unread = buffer_.size() - next_;
  if (unread > 0) CFile::Seek(-static_cast<LONGLONG>(unread), current);
  buffer_.clear();
  next_ = 0;
}

UINT CStdioFile::Read(void* buffer, UINT count) {
  auto* out = static_cast<char*>(buffer);
  UINT done = 0;
  while (done < count && FillBuffer()) {
    char c = buffer_[next_++];
    // Text: a CR LF pair reads as "\n".
    if (text_ && c == '\r') {
      if (next_ < buffer_.size() || FillBuffer()) {
        if (buffer_[next_] == '\n') {
          c = '\n';
          ++next_;
        }
      }
    }
    out[done++] = c;
  }
  return done;
}

BOOL CStdioFile::ReadString(CString& line) {
  std::string text;
  bool any = false;
  char c;
  while (Read(&c, 1) == 1) {
    any = true;
    if (c == '\n') break;
    text += c;
  }
  // A binary file's lines may still end in CR LF.
  if (!text.empty() && text.back() == '\r') text.pop_back();
  line = CString(text);
  return any ? TRUE : FALSE;
}

LPSTR CStdioFile::ReadString(LPSTR buffer, UINT size) {
  if (!buffer || size == 0) return nullptr;
  UINT used = 0;
  char c;
  while (used + 1 < size && Read(&c, 1) == 1) {
    buffer[used++] = c;
    if (c == '\n') break;
  }
  buffer[used] = '\0';
  return used ? buffer : nullptr;
}

BOOL CStdioFile::Write(const void* buffer, UINT count) {
  DropBuffer();
  if (!text_ || count == 0) return CFile::Write(buffer, count);
  const std::string bytes = WithCrLf(static_cast<const char*>(buffer), count);
  return CFile::Write(bytes.data(), static_cast<UINT>(bytes.size()));
}

BOOL CStdioFile::WriteString(LPCSTR text) {
  if (!text) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return Write(text, static_cast<UINT>(strlen(text)));
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
  DropBuffer();
  return CFile::Seek(offset, from);
}

ULONGLONG CStdioFile::GetPosition() const { return CFile::GetPosition() - (buffer_.size() - next_); }

void CStdioFile::Close() {
  buffer_.clear();
  next_ = 0;
  CFile::Close();
}

void CStdioFile::Abort() { Close(); }
