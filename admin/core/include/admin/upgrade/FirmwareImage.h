// Firmware image files: the version a name carries ("zarnet-update-MAJ.x.y.MIN..."), the check of a name
// against the servers' versions, and the texts of the "Select File" step.
#pragma once
#include "admin/upgrade/SelectedServerEntry.h"
#include "mfc/string.h"
#include "win32/types.h"

constexpr char FIRMWARE_IMAGE_PREFIX[] = "zarnet-update-";

// CheckFirmwareImage codes, and what CheckUpgradeRun adds.
constexpr DWORD FW_CHECK_GO = 0;
constexpr DWORD FW_CHECK_NOT_AN_IMAGE = 1;
constexpr DWORD FW_CHECK_SAME_VERSION = 2;
constexpr DWORD FW_CHECK_BOARD_NEWER = 3;
constexpr DWORD FW_CHECK_TOO_MANY_SERVERS = 4;
constexpr DWORD FW_CHECK_NO_SERVER = 5;

// One run upgrades at most this many servers.
constexpr int MAX_UPGRADE_SERVERS = 25;

// TRUE with the first and last version numbers of the name (each stored in a byte); FALSE (outputs
// unchanged) when the name has no prefix or fewer than three dots after its first version number.
BOOL ParseFirmwareImageName(LPCSTR name, BYTE* major, BYTE* minor);
// FW_CHECK_GO when the image is newer than the board's version; unsigned byte comparisons.
DWORD CheckFirmwareImage(LPCSTR name, BYTE boardMajor, BYTE boardMinor);
// The check of a whole run, before anything starts: more servers than MAX_UPGRADE_SERVERS or none is
// refused; else the first server (in list order) whose check fails gives its code.
DWORD CheckUpgradeRun(const SelectedServerList& servers, LPCSTR imageFileName);
// The message of a non-zero check code.
CString FirmwareCheckMessage(DWORD code);

// A chosen path split at its last "\": the folder (served by the TFTP server) and the file name (sent
// to the servers).
void SplitImagePath(const CString& path, CString& folder, CString& fileName);

// The image's length in bytes (64 bits: images past 4 GB do not wrap). FALSE when it cannot be opened.
BOOL GetImageFileSize(const CString& path, ULONGLONG* size);

// Texts of the "Select File" step.
constexpr char UPGRADE_MSG_ENTER_PATH[] = "Enter the path & press Transfer button.";
constexpr char UPGRADE_MSG_START_FAILED[] = "Fail to start TFTP Server Application.!!";
constexpr char UPGRADE_MSG_STOP_FAILED[] = "Fail to stop TFTP Server Application.!!";
