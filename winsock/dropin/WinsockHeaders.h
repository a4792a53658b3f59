// The drop-in defines the functions that winsock2.h declares as imports, so it includes the
// headers without the import attribute; every file of the drop-in includes this one first.
#pragma once
#define WINSOCK_API_LINKAGE
#include <winsock2.h>
#include <ws2spi.h>
#include <sporder.h>
#include <cstddef>
#include <cstring>
#include <cwchar>
