// Winsock error texts: the symbolic name, then the system's description of the code.
#include "Formatting.h"
#include <cstdio>

struct ErrorRow {
    int code;
    const char* text;
};

#define ERROR_ROW(code, description) {code, #code " (" description ")"}

static const ErrorRow ErrorTexts[] = {
    ERROR_ROW(WSAEINTR, "A blocking operation was interrupted by a call to WSACancelBlockingCall"),
    ERROR_ROW(WSAEBADF, "The file handle supplied is not valid"),
    ERROR_ROW(WSAEACCES, "An attempt was made to access a socket in a way forbidden by its access permissions"),
    ERROR_ROW(WSAEFAULT, "The system detected an invalid pointer address in attempting to use a pointer argument in a call"),
    ERROR_ROW(WSAEINVAL, "An invalid argument was supplied"),
    ERROR_ROW(WSAEMFILE, "Too many open sockets"),
    ERROR_ROW(WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately"),
    ERROR_ROW(WSAEINPROGRESS, "A blocking operation is currently executing"),
    ERROR_ROW(WSAEALREADY, "An operation was attempted on a non-blocking socket that already had an operation in progress"),
    ERROR_ROW(WSAENOTSOCK, "An operation was attempted on something that is not a socket"),
    ERROR_ROW(WSAEDESTADDRREQ, "A required address was omitted from an operation on a socket"),
    ERROR_ROW(WSAEMSGSIZE, "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, or the buffer used to receive a datagram into was smaller than the datagram itself"),
    ERROR_ROW(WSAEPROTOTYPE, "A protocol was specified in the socket function call that does not support the semantics of the socket type requested"),
    ERROR_ROW(WSAENOPROTOOPT, "An unknown, invalid, or unsupported option or level was specified in a getsockopt or setsockopt call"),
    ERROR_ROW(WSAEPROTONOSUPPORT, "The requested protocol has not been configured into the system, or no implementation for it exists"),
    ERROR_ROW(WSAESOCKTNOSUPPORT, "The support for the specified socket type does not exist in this address family"),
    ERROR_ROW(WSAEOPNOTSUPP, "The attempted operation is not supported for the type of object referenced"),
    ERROR_ROW(WSAEPFNOSUPPORT, "The protocol family has not been configured into the system or no implementation for it exists"),
    ERROR_ROW(WSAEAFNOSUPPORT, "An address incompatible with the requested protocol was used"),
    ERROR_ROW(WSAEADDRINUSE, "Only one usage of each socket address (protocol/network address/port) is normally permitted"),
    ERROR_ROW(WSAEADDRNOTAVAIL, "The requested address is not valid in its context"),
    ERROR_ROW(WSAENETDOWN, "A socket operation encountered a dead network"),
    ERROR_ROW(WSAENETUNREACH, "A socket operation was attempted to an unreachable network"),
    ERROR_ROW(WSAENETRESET, "The connection has been broken due to keep-alive activity detecting a failure while the operation was in progress"),
    ERROR_ROW(WSAECONNABORTED, "An established connection was aborted by the software in your host machine"),
    ERROR_ROW(WSAECONNRESET, "An existing connection was forcibly closed by the remote host"),
    ERROR_ROW(WSAENOBUFS, "An operation on a socket could not be performed because the system lacked sufficient buffer space or because a queue was full"),
    ERROR_ROW(WSAEISCONN, "A connect request was made on an already connected socket"),
    ERROR_ROW(WSAENOTCONN, "A request to send or receive data was disallowed because the socket is not connected and (when sending on a datagram socket using a sendto call) no address was supplied"),
    ERROR_ROW(WSAESHUTDOWN, "A request to send or receive data was disallowed because the socket had already been shut down in that direction with a previous shutdown call"),
    ERROR_ROW(WSAETOOMANYREFS, "Too many references to some kernel object"),
    ERROR_ROW(WSAETIMEDOUT, "A connection attempt failed because the connected party did not properly respond after a period of time, or established connection failed because connected host has failed to respond"),
    ERROR_ROW(WSAECONNREFUSED, "No connection could be made because the target machine actively refused it"),
    ERROR_ROW(WSAELOOP, "Cannot translate name"),
    ERROR_ROW(WSAENAMETOOLONG, "Name component or name was too long"),
    ERROR_ROW(WSAEHOSTDOWN, "A socket operation failed because the destination host was down"),
    ERROR_ROW(WSAEHOSTUNREACH, "A socket operation was attempted to an unreachable host"),
    ERROR_ROW(WSAENOTEMPTY, "Cannot remove a directory that is not empty"),
    ERROR_ROW(WSAEPROCLIM, "A Windows Sockets implementation may have a limit on the number of applications that may use it simultaneously"),
    ERROR_ROW(WSAEUSERS, "Ran out of quota"),
    ERROR_ROW(WSAEDQUOT, "Ran out of disk quota"),
    ERROR_ROW(WSAESTALE, "File handle reference is no longer available"),
    ERROR_ROW(WSAEREMOTE, "Item is not available locally"),
    ERROR_ROW(WSASYSNOTREADY, "WSAStartup cannot function at this time because the underlying system it uses to provide network services is currently unavailable"),
    ERROR_ROW(WSAVERNOTSUPPORTED, "The Windows Sockets version requested is not supported"),
    ERROR_ROW(WSANOTINITIALISED, "Either the application has not called WSAStartup, or WSAStartup failed"),
    ERROR_ROW(WSAEDISCON, "Returned by WSARecv or WSARecvFrom to indicate the remote party has initiated a graceful shutdown sequence"),
    ERROR_ROW(WSAENOMORE, "No more results can be returned by WSALookupServiceNext"),
    ERROR_ROW(WSAECANCELLED, "A call to WSALookupServiceEnd was made while this call was still processing. The call has been canceled"),
    ERROR_ROW(WSAEINVALIDPROCTABLE, "The procedure call table is invalid"),
    ERROR_ROW(WSAEINVALIDPROVIDER, "The requested service provider is invalid"),
    ERROR_ROW(WSAEPROVIDERFAILEDINIT, "The requested service provider could not be loaded or initialized"),
    ERROR_ROW(WSASYSCALLFAILURE, "A system call has failed"),
    ERROR_ROW(WSASERVICE_NOT_FOUND, "No such service is known. The service cannot be found in the specified name space"),
    ERROR_ROW(WSATYPE_NOT_FOUND, "The specified class was not found"),
    ERROR_ROW(WSA_E_NO_MORE, "No more results can be returned by WSALookupServiceNext"),
    ERROR_ROW(WSA_E_CANCELLED, "A call to WSALookupServiceEnd was made while this call was still processing. The call has been canceled"),
    ERROR_ROW(WSAEREFUSED, "A database query failed because it was actively refused"),
    ERROR_ROW(WSAHOST_NOT_FOUND, "No such host is known"),
    ERROR_ROW(WSATRY_AGAIN, "This is usually a temporary error during hostname resolution and means that the local server did not receive a response from an authoritative server"),
    ERROR_ROW(WSANO_RECOVERY, "A non-recoverable error occurred during a database lookup"),
    ERROR_ROW(WSANO_DATA, "The requested name is valid, but no data of the requested type was found"),
    ERROR_ROW(WSA_QOS_RECEIVERS, "At least one reserve has arrived"),
    ERROR_ROW(WSA_QOS_SENDERS, "At least one path has arrived"),
    ERROR_ROW(WSA_QOS_NO_SENDERS, "There are no senders"),
    ERROR_ROW(WSA_QOS_NO_RECEIVERS, "There are no receivers"),
    ERROR_ROW(WSA_QOS_REQUEST_CONFIRMED, "Reserve has been confirmed"),
    ERROR_ROW(WSA_QOS_ADMISSION_FAILURE, "Error due to lack of resources"),
    ERROR_ROW(WSA_QOS_POLICY_FAILURE, "Rejected for administrative reasons - bad credentials"),
    ERROR_ROW(WSA_QOS_BAD_STYLE, "Unknown or conflicting style"),
    ERROR_ROW(WSA_QOS_BAD_OBJECT, "Problem with some part of the filterspec or providerspecific buffer in general"),
    ERROR_ROW(WSA_QOS_TRAFFIC_CTRL_ERROR, "Problem with some part of the flowspec"),
    ERROR_ROW(WSA_QOS_GENERIC_ERROR, "General QOS error"),
    ERROR_ROW(WSA_QOS_ESERVICETYPE, "An invalid or unrecognized service type was found in the flowspec"),
    ERROR_ROW(WSA_QOS_EFLOWSPEC, "An invalid or inconsistent flowspec was found in the QOS structure"),
    ERROR_ROW(WSA_QOS_EPROVSPECBUF, "Invalid QOS provider-specific buffer"),
    ERROR_ROW(WSA_QOS_EFILTERSTYLE, "An invalid QOS filter style was used"),
    ERROR_ROW(WSA_QOS_EFILTERTYPE, "An invalid QOS filter type was used"),
    ERROR_ROW(WSA_QOS_EFILTERCOUNT, "An incorrect number of QOS FILTERSPECs were specified in the FLOWDESCRIPTOR"),
    ERROR_ROW(WSA_QOS_EOBJLENGTH, "An object with an invalid ObjectLength field was specified in the QOS provider-specific buffer"),
    ERROR_ROW(WSA_QOS_EFLOWCOUNT, "An incorrect number of flow descriptors was specified in the QOS structure"),
    ERROR_ROW(WSA_QOS_EUNKOWNPSOBJ, "An unrecognized object was found in the QOS provider-specific buffer"),
    ERROR_ROW(WSA_QOS_EPOLICYOBJ, "An invalid policy object was found in the QOS provider-specific buffer"),
    ERROR_ROW(WSA_QOS_EFLOWDESC, "An invalid QOS flow descriptor was found in the flow descriptor list"),
    ERROR_ROW(WSA_QOS_EPSFLOWSPEC, "An invalid or inconsistent flowspec was found in the QOS provider specific buffer"),
    ERROR_ROW(WSA_QOS_EPSFILTERSPEC, "An invalid FILTERSPEC was found in the QOS provider-specific buffer"),
    ERROR_ROW(WSA_QOS_ESDMODEOBJ, "An invalid shape discard mode object was found in the QOS provider specific buffer"),
    ERROR_ROW(WSA_QOS_ESHAPERATEOBJ, "An invalid shaping rate object was found in the QOS provider-specific buffer"),
    ERROR_ROW(WSA_QOS_RESERVED_PETYPE, "A reserved policy element was found in the QOS provider-specific buffer"),
};

static_assert(sizeof(ErrorTexts) / sizeof(ErrorTexts[0]) == 89, "one row per Winsock error");

const char* ErrorText(int code, char* scratch)
{
    for (const ErrorRow& row : ErrorTexts) {
        if (row.code == code)
            return row.text;
    }
    sprintf(scratch, "%d (\?\?\?)", code);
    return scratch;
}
