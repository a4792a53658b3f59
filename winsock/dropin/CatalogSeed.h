// The base entries a fresh catalog starts with.
#pragma once
#include "CatalogStore.h"

// Fills catalog with TCP and UDP over IPv4 and IPv6, all served by the base provider.
void SeedCatalog(Catalog& catalog);
