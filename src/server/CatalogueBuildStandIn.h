#pragma once

class InfoBlock;

// Stands in for building the catalogue from the configured packages, which
// this build does not have yet: prints why and fails, so that start-up
// ends as it does after any failed build.
bool buildCatalogueUnavailable(InfoBlock& target);
