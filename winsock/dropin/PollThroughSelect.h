// WSAPoll carried out with a provider's select, for providers that name no base handle.
#pragma once
#include "WinsockHeaders.h"

// Polls fdArray with the select of the provider of its first known socket: POLLRDNORM and
// POLLRDBAND from the read set, POLLWRNORM from the write set, POLLERR from the except set.
int PollThroughSelect(LPWSAPOLLFD fdArray, ULONG fds, INT timeout);
