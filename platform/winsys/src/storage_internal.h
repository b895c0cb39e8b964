// Pieces shared by the storage side of the platform layer (files, CRT streams, registry, profiles).
#pragma once
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "base/files.h"
#include "win32/types.h"

namespace tavrin::storage {

// The Win32 error code for an errno value of a failed file call.
DWORD ErrorFromErrno(int error);
// A missing path is ERROR_PATH_NOT_FOUND when its folder is missing too, else ERROR_FILE_NOT_FOUND.
DWORD NotFoundError(const std::filesystem::path& path);

// FILE_ATTRIBUTE_READONLY is kept as the absence of the owner's write bit. We check it ourselves: the
// permission bits do not stop root, and CI runs as root. `status` is a file's, taken with stat or lstat.
bool IsReadOnly(const struct stat& status);

// Counts this process's changes to files made through the platform layer (opens for writing, writes,
// deletes, renames, copies). A copy of a file kept in memory is trusted only while the count is unchanged:
// a change of our own may land within the file system's clock tick and leave the file's times as they were.
void NoteFileChange();
uint64_t FileChanges();

using base::files::EqualsNoCase;
using base::files::LessNoCase;
using base::files::ReadWhole;
using base::files::ReplaceContents;

}  // namespace tavrin::storage
