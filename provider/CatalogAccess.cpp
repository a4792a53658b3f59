#include "CatalogAccess.h"
#include "Catalog.h"
#include <ws2spi.h>

const CatalogAccess systemCatalogAccess = {
    EnumerateCatalog,
    FreeCatalog,
    WSCGetProviderPath,
    ExpandEnvironmentStringsW,
};

CatalogAccess catalogAccess = systemCatalogAccess;
