#include "query/ProgressLine.h"

#include <cstdio>

std::string progressLine(const FetchProgress& progress, size_t barWidth)
{
    size_t filled = progress.total == 0 ? 0 : barWidth * progress.received / progress.total;
    std::string bar = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
    // Bytes per millisecond is kilobytes (of 1000) per second.
    double rate = progress.elapsedMs == 0 ? 0.0 : static_cast<double>(progress.bytes) / progress.elapsedMs;
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, " %u/%u chunks  %.1f kB/s", progress.received, progress.total, rate);
    std::string line = bar + numbers;
    if (progress.resendRequests > 0)
        line += "  " + std::to_string(progress.resendRequests) + " resent";
    return line;
}
