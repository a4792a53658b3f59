// Repairs the layered providers stacked above a removed layer when the catalog has no
// WSCUpdateProvider: each layer is deinstalled and installed again without the removed ids.
#pragma once
#include <winsock2.h>

struct IdList {
    DWORD* ids;
    int count;
    int capacity;
};

bool AppendId(IdList& list, DWORD id);
void FreeIdList(IdList& list);

// Returns 0, or -1 when the catalog could not be read or a layer could not be put back.
int RebuildStackedLayers(const IdList& removed);
