#include "win32/crt.h"

#include "base/classic_rand.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "storage_internal.h"
#include "win32/sysroot.h"

namespace tavrin {
namespace {

// A text-mode stream: LF <-> CR LF between the program and the file. Reads go through our own buffer of
// raw bytes so that a CR at the end of one read can be paired with an LF at the start of the next.
struct TextStream {
  int fd;
  char raw[4096];
  size_t pos = 0;
  size_t len = 0;

  // Puts the file position back where the program's reading stands, dropping the raw bytes held.
  bool DropReadAhead() {
    if (pos == len) return true;
    off_t back = static_cast<off_t>(len - pos);
    pos = len = 0;
    return lseek(fd, -back, SEEK_CUR) >= 0;
  }

  // Keeps the unread raw bytes at the front and reads more after them; false at end of file or error.
  bool Refill() {
    size_t keep = len - pos;
    memmove(raw, raw + pos, keep);
    pos = 0;
    len = keep;
    ssize_t n;
    do {
      n = read(fd, raw + len, sizeof raw - len);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    len += static_cast<size_t>(n);
    return true;
  }
};

ssize_t TextRead(void* cookie, char* buffer, size_t size) {
  auto* s = static_cast<TextStream*>(cookie);
  size_t out = 0;
  while (out < size) {
    if (s->pos == s->len && !s->Refill()) break;
    char c = s->raw[s->pos];
    if (c == '\r') {
      if (s->pos + 1 == s->len) s->Refill();  // look at the next byte; at end of file the CR stays
      if (s->pos + 1 < s->len && s->raw[s->pos + 1] == '\n') {
        ++s->pos;
        continue;
      }
    }
    buffer[out++] = c;
    ++s->pos;
  }
  return static_cast<ssize_t>(out);
}

ssize_t TextWrite(void* cookie, const char* buffer, size_t size) {
  auto* s = static_cast<TextStream*>(cookie);
  if (!s->DropReadAhead()) return 0;
  std::string stored;
  stored.reserve(size + size / 8);
  for (size_t i = 0; i < size; ++i) {
    if (buffer[i] == '\n') stored += '\r';
    stored += buffer[i];
  }
  size_t written = 0;
  while (written < stored.size()) {
    ssize_t n = write(s->fd, stored.data() + written, stored.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // the stream's error flag makes fprintf fail
    written += static_cast<size_t>(n);
    storage::NoteFileChange();
  }
  return static_cast<ssize_t>(size);
}

int TextSeek(void* cookie, off64_t* offset, int whence) {
  auto* s = static_cast<TextStream*>(cookie);
  if (!s->DropReadAhead()) return -1;
  off_t position = lseek(s->fd, *offset, whence);
  if (position < 0) return -1;
  *offset = position;
  return 0;
}

int TextClose(void* cookie) {
  auto* s = static_cast<TextStream*>(cookie);
  int result = close(s->fd);
  delete s;
  return result;
}

}  // namespace

FILE* OpenCrtFile(const char* windowsPath, const char* mode) {
  if (!windowsPath || !mode || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
    errno = EINVAL;
    return nullptr;
  }
  bool update = false, binary = false;
  for (const char* m = mode + 1; *m && *m != ','; ++m) {
    if (*m == '+') update = true;
    if (*m == 'b') binary = true;
  }
  int flags = O_CLOEXEC | (update ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY);
  if (mode[0] == 'w') flags |= O_CREAT | O_TRUNC;
  if (mode[0] == 'a') flags |= O_CREAT | O_APPEND;

  const sysroot::Located found = sysroot::Locate(windowsPath);
  const std::filesystem::path& path = found.path;
  if ((flags & (O_WRONLY | O_RDWR)) && found.exists && storage::IsReadOnly(found.status)) {
    errno = EACCES;
    return nullptr;
  }
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  if (flags & (O_TRUNC | O_APPEND)) storage::NoteFileChange();

  // The stdio mode without the Windows-only letters.
  std::string stdioMode(1, mode[0]);
  if (update) stdioMode += '+';
  FILE* file;
  if (binary) {
    file = fdopen(fd, stdioMode.c_str());
  } else {
    auto* stream = new TextStream{fd, {}, 0, 0};
    file = fopencookie(stream, stdioMode.c_str(), {TextRead, TextWrite, TextSeek, TextClose});
    if (!file) delete stream;
  }
  if (!file) {
    int saved = errno;
    close(fd);
    errno = saved;
  }
  return file;
}

}  // namespace tavrin

namespace tavrin {
int CrtRand() { return base::ClassicRand(); }
void CrtSrand(unsigned seed) { base::ClassicSrand(seed); }
}  // namespace tavrin
