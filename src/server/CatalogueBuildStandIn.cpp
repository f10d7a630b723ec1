#include "server/CatalogueBuildStandIn.h"

#include <cstdio>

bool buildCatalogueUnavailable(InfoBlock&)
{
    std::printf("Error: Building the addon info block from packages is not available in this build\n");
    std::fflush(stdout);
    return false;
}
