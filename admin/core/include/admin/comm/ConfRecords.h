// A server's configuration and its table of connected computers, as read from and written to the
// configuration file (INI form: GeneralSettings, BasicSettings, NetworkSettings, ConnectionTable, Password).
#pragma once
#include "win32/types.h"

// Width of every text field; a value read from the file keeps at most 29 characters.
constexpr DWORD CONF_TEXT_SIZE = 30;

#pragma pack(push, 1)
struct TavrinConfInfo {
  BYTE server_model;
  char fw_version[CONF_TEXT_SIZE];
  char hw_version[CONF_TEXT_SIZE];
  DWORD serial_no;
  DWORD basic_changed;  // server_name was edited
  char server_name[CONF_TEXT_SIZE];
  DWORD network_changed;  // the network settings were edited
  char ip_address[CONF_TEXT_SIZE];
  char net_mask[CONF_TEXT_SIZE];
  char gate_way[CONF_TEXT_SIZE];
  DWORD ip_config;  // 0 static, 1 DHCP
  char mac_addr[CONF_TEXT_SIZE];
  DWORD enable_changed;    // the password protection switch was edited
  DWORD password_changed;  // a new password was entered
  DWORD enable;
  char password[CONF_TEXT_SIZE];
};

// One computer connected to the server (heap node, zero-filled when made).
struct ConnectionEntry {
  DWORD port_no;
  char client_ip[CONF_TEXT_SIZE];
  ConnectionEntry* next;
};

struct ConnectedClientsInfo {
  char server_ip[CONF_TEXT_SIZE];
  ConnectionEntry* first;  // owned chain, null when empty
};
#pragma pack(pop)

static_assert(sizeof(TavrinConfInfo) == 1 + 30 * 2 + 4 * 3 + 30 * 4 + 4 + 30 + 4 * 3 + 30);
