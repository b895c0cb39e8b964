// What TavrinAdmin and the TFTP server program share: the program's command line, its named objects and
// the table of transfers it keeps in shared memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tftp {

// The program, in the Windows directory, and the start of its command line (the folder follows).
inline constexpr char kProgramName[] = "TftpServer.exe";
inline constexpr char kRootPrefix[] = "TFTP_ROOT=";

// Exists while the program runs; setting it stops the program (within a second).
inline constexpr char kShutDownEventName[] = "Tftp_ShutDown_Event";
// Guards the table; held by a reader while it scans the table.
inline constexpr char kLockName[] = "Tftp_SharedInfo_Lock";
inline constexpr char kTableName[] = "Tftp_SharedInfo";

inline constexpr size_t kRecordCount = 260;
inline constexpr size_t kIpSize = 25;

// result: a transfer that ended well; 0 to 8 are TFTP error codes; above 100, 100 + a system error.
inline constexpr uint32_t kResultSuccess = 0xFFFFFFFF;
inline constexpr uint32_t kResultSystemBase = 100;
// state: the transfer has ended and its result holds.
inline constexpr uint32_t kStateEnded = 2;
inline constexpr uint32_t kStateRunning = 1;

#pragma pack(push, 1)
// One transfer, by client address. Little-endian.
struct SharedRecord {
  uint16_t port;     // the client's UDP port; 0: a free record
  char ip[kIpSize];  // the client's address, dotted, NUL-terminated
  uint32_t result;
  uint32_t blocks;  // 512-byte data blocks sent so far
  uint32_t state;
};
#pragma pack(pop)
static_assert(sizeof(SharedRecord) == 39);
static_assert(offsetof(SharedRecord, ip) == 2 && offsetof(SharedRecord, result) == 27 &&
              offsetof(SharedRecord, blocks) == 31 && offsetof(SharedRecord, state) == 35);

inline constexpr size_t kTableSize = kRecordCount * sizeof(SharedRecord);
static_assert(kTableSize == 10140);

// TFTP error codes (RFC 1350).
enum ErrorCode : uint16_t {
  kErrorNotDefined = 0,
  kErrorFileNotFound = 1,
  kErrorAccessViolation = 2,
  kErrorDiskFull = 3,
  kErrorIllegalOperation = 4,
  kErrorUnknownTransferId = 5,
  kErrorFileExists = 6,
  kErrorNoSuchUser = 7,
  kErrorOptionNegotiation = 8,
};

}  // namespace tftp
