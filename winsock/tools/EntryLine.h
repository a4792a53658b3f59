// One catalog entry as a line of `wscatalog list`; text only, so it can be tested alone.
#pragma once
#include <winsock2.h>

#include <string>

// "1001  chain 1 [1001]  flags 0x00020066  af 2 type 1 proto 6  TCP/IP  PATH", with
// "(hidden)" after the chain of a layered entry.
std::string EntryLine(const WSAPROTOCOL_INFOW& entry, const std::wstring& path);

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional); false when it is not one.
bool ParseGuid(const std::string& text, GUID* guid);
