// The catalog read by applications and providers: enumeration and provider paths.
#include "CatalogQueries.h"
#include "Startup.h"

namespace {

// An entry is listed for the protocols it names itself, not for the others its range holds:
// Windows and Wine's own leave the raw entries (protocol 0, range 255) out of a list asking
// for TCP and UDP.
bool ProtocolListed(const INT* protocols, const WSAPROTOCOL_INFOW& info)
{
    if (!protocols)
        return true;
    for (; *protocols; ++protocols)
        if (*protocols == info.iProtocol)
            return true;
    return false;
}

// The process's own catalog is read through the cache that socket requests use; the 32-bit one
// only by the few calls that name it.
int ReadCatalogIn(CatalogView view, Catalog& catalog)
{
    return view == CatalogView::Own ? ReadCatalog(catalog) : ReadStoredCatalog(catalog, view);
}

// Copies the entries that pass the filters into buffer. Returns the count, or SOCKET_ERROR with
// *error set (WSAENOBUFS with *length set to the length needed when the buffer is short).
template <typename Record, typename Convert>
int EnumerateEntries(CatalogView view, const INT* protocols, bool includeHidden, Record* buffer,
                     DWORD* length, int* error, Convert convert)
{
    if (!length) {
        *error = WSAEFAULT;
        return SOCKET_ERROR;
    }
    Catalog catalog;
    if (int readError = ReadCatalogIn(view, catalog)) {
        *error = readError;
        return SOCKET_ERROR;
    }
    std::vector<const WSAPROTOCOL_INFOW*> chosen;
    for (const CatalogEntry& entry : catalog.entries)
        if ((includeHidden || entry.info.ProtocolChain.ChainLen != LAYERED_PROTOCOL) &&
            ProtocolListed(protocols, entry.info))
            chosen.push_back(&entry.info);
    DWORD needed = static_cast<DWORD>(chosen.size() * sizeof(Record));
    if (!buffer || *length < needed) {
        *length = needed;
        *error = WSAENOBUFS;
        return SOCKET_ERROR;
    }
    for (size_t i = 0; i < chosen.size(); ++i)
        convert(*chosen[i], buffer[i]);
    return static_cast<int>(chosen.size());
}

void CopyWide(const WSAPROTOCOL_INFOW& from, WSAPROTOCOL_INFOW& to)
{
    to = from;
}

void CopyAnsi(const WSAPROTOCOL_INFOW& from, WSAPROTOCOL_INFOA& to)
{
    memcpy(&to, &from, offsetof(WSAPROTOCOL_INFOW, szProtocol));
    if (!WideCharToMultiByte(CP_ACP, 0, from.szProtocol, -1, to.szProtocol,
                             sizeof to.szProtocol, nullptr, nullptr))
        to.szProtocol[sizeof to.szProtocol - 1] = '\0';
}

// Application-level enumeration: hidden layered entries stay out, errors go to the thread.
template <typename Record, typename Convert>
int EnumerateForApplication(INT* protocols, Record* buffer, DWORD* length, Convert convert)
{
    int error = 0;
    int count = !WinsockStarted()
                    ? (error = WSANOTINITIALISED, SOCKET_ERROR)
                    : EnumerateEntries(CatalogView::Own, protocols, false, buffer, length,
                                       &error, convert);
    if (count == SOCKET_ERROR)
        WSASetLastError(error);
    return count;
}

} // namespace

int EnumerateCatalogIn(CatalogView view, LPINT lpiProtocols, LPWSAPROTOCOL_INFOW lpProtocolBuffer,
                       LPDWORD lpdwBufferLength, LPINT lpErrno)
{
    int error = 0;
    int count = EnumerateEntries(view, lpiProtocols, true, lpProtocolBuffer, lpdwBufferLength,
                                 &error, CopyWide);
    if (count == SOCKET_ERROR && lpErrno)
        *lpErrno = error;
    return count;
}

int GetProviderPathIn(CatalogView view, LPGUID lpProviderId, WCHAR* lpszProviderDllPath,
                      LPINT lpProviderDllPathLen, LPINT lpErrno)
{
    int error = 0;
    Catalog catalog;
    if (!lpProviderId || !lpProviderDllPathLen || !lpErrno) {
        error = WSAEFAULT;
    } else if (int readError = ReadCatalogIn(view, catalog)) {
        error = readError;
    } else {
        const CatalogEntry* found = nullptr;
        for (const CatalogEntry& entry : catalog.entries)
            if (!found && IsEqualGUID(entry.info.ProviderId, *lpProviderId))
                found = &entry;
        int needed = found ? lstrlenW(found->path) + 1 : 0;
        if (!found) {
            error = WSAEINVAL;
        } else if (!lpszProviderDllPath || *lpProviderDllPathLen < needed) {
            *lpProviderDllPathLen = needed;
            error = WSAEFAULT;
        } else {
            memcpy(lpszProviderDllPath, found->path, needed * sizeof(WCHAR));
        }
    }
    if (error == 0)
        return 0;
    if (lpErrno)
        *lpErrno = error;
    return SOCKET_ERROR;
}

extern "C" {

int WSPAPI WSCEnumProtocols(LPINT lpiProtocols, LPWSAPROTOCOL_INFOW lpProtocolBuffer,
                            LPDWORD lpdwBufferLength, LPINT lpErrno)
{
    return EnumerateCatalogIn(CatalogView::Own, lpiProtocols, lpProtocolBuffer, lpdwBufferLength,
                              lpErrno);
}

int WSAAPI WSAEnumProtocolsW(LPINT lpiProtocols, LPWSAPROTOCOL_INFOW lpProtocolBuffer,
                             LPDWORD lpdwBufferLength)
{
    return EnumerateForApplication(lpiProtocols, lpProtocolBuffer, lpdwBufferLength, CopyWide);
}

int WSAAPI WSAEnumProtocolsA(LPINT lpiProtocols, LPWSAPROTOCOL_INFOA lpProtocolBuffer,
                             LPDWORD lpdwBufferLength)
{
    return EnumerateForApplication(lpiProtocols, lpProtocolBuffer, lpdwBufferLength, CopyAnsi);
}

int WSPAPI WSCGetProviderPath(LPGUID lpProviderId, WCHAR* lpszProviderDllPath,
                              LPINT lpProviderDllPathLen, LPINT lpErrno)
{
    return GetProviderPathIn(CatalogView::Own, lpProviderId, lpszProviderDllPath,
                             lpProviderDllPathLen, lpErrno);
}

} // extern "C"
