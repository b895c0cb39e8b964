// Result codes of a command of the server command protocol: returned by the waiting operations, posted as
// wParam to the caller's window and used as the command thread's exit code.
#pragma once
#include "win32/types.h"

constexpr DWORD CMD_RESULT_SUCCESS = 0;
constexpr DWORD CMD_RESULT_CANCELLED = 1;
constexpr DWORD CMD_RESULT_SOCKET_FAILED = 2;
constexpr DWORD CMD_RESULT_SETSOCKOPT_FAILED = 3;
constexpr DWORD CMD_RESULT_CONNECT_FAILED = 4;
constexpr DWORD CMD_RESULT_SEND_FAILED = 6;
constexpr DWORD CMD_RESULT_RECV_FAILED = 7;
constexpr DWORD CMD_RESULT_INVALID_RESPONSE = 8;
constexpr DWORD CMD_RESULT_INCORRECT_PASSWORD = 9;
constexpr DWORD CMD_RESULT_THREAD_NOT_STARTED = 10;
constexpr DWORD CMD_RESULT_CONNECTION_CLOSED = 11;
constexpr DWORD CMD_RESULT_NO_RESPONSE = 12;
constexpr DWORD CMD_RESULT_NOT_DONE = 100;

// Exit codes of a discovery run (the receiving thread's final state).
constexpr DWORD DISCOVERY_STATE_RUNNING = 100;
constexpr DWORD DISCOVERY_STATE_CANCELLED = 1;
constexpr DWORD DISCOVERY_STATE_RECV_FAILED = 7;
