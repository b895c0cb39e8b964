// The lock of the shared configuration file "TavrinConf.ini": one command writes it and reads it back
// while no other command of this or another process uses it.
#pragma once

// Held for its lifetime: a process-wide recursive mutex, and while the outermost holder of this process
// holds it, an exclusive lock on "<path>.lock" beside the file for the other processes. Without a lock
// file (it cannot be created) only the process-wide mutex is held.
class ConfFileLock {
 public:
  explicit ConfFileLock(const char* confFilePath);
  ~ConfFileLock();
  ConfFileLock(const ConfFileLock&) = delete;
  ConfFileLock& operator=(const ConfFileLock&) = delete;
};

// File name of the configuration file in the Windows directory.
inline constexpr char kConfFileName[] = "TavrinConf.ini";
