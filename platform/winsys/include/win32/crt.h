// C runtime streams over Windows-form paths.
#pragma once
#include <cstdio>

namespace tavrin {

// fopen over sysroot::MapPath with the Windows C runtime's modes: without 'b' the stream is in text mode,
// so "\n" written is stored as "\r\n" and "\r\n" read comes back as "\n". A read-only file (see
// SetFileAttributes) refuses every writing mode with EACCES. Close the stream with fclose.
FILE* OpenCrtFile(const char* windowsPath, const char* mode);

// The classic runtime's rand(): 15-bit results (0..CRT_RAND_MAX), the same sequence on every run.
constexpr int CRT_RAND_MAX = 0x7FFF;
int CrtRand();
void CrtSrand(unsigned seed);

}  // namespace tavrin
