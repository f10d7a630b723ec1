#pragma once

#include "client/CatalogueFetcher.h"

#include <cstddef>
#include <string>

// One line of transfer progress, for redrawing in place on a terminal:
// a bar `barWidth` characters wide, chunks received of total and the rate.
std::string progressLine(const FetchProgress& progress, size_t barWidth);
