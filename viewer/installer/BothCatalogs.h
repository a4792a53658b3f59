// The layer in both catalogs of a 64-bit system, from a 64-bit process (BothCatalogs.cpp, built
// into the 64-bit installer only).
#pragma once

// The 64-bit layer in the native catalog and the 32-bit one in the catalog of 32-bit processes.
// A killed viewer's leftovers are taken out of each first; -1 when the layer is there from
// someone else or a step fails, with what the failed installation made taken out again.
int InstallLayerInBothCatalogs(const char* dllPath, const char* dllPath32, const char* providerName);
// Removes the layer from both; 0 when it was taken out of either.
int RemoveLayerFromBothCatalogs();
// Takes a killed viewer's layer out of the catalog of 32-bit processes: 0, or -1 when the layer
// is there from someone else.
int ClearWow32Leftovers();
