#pragma once

#include "concurrency/CriticalSection.h"
#include "foundation/StringArray.h"

#include <cstdint>
#include <cstdio>

// Console lines handed from the server thread to the main thread, which
// alone writes to the console once the server runs. Lines carry no time
// stamp; the printer adds one per batch.
class LogQueue {
public:
    LogQueue() = default;
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    // Lines beyond this many waiting ones are counted, not kept: a console
    // that cannot keep up must not make the server grow without end.
    static constexpr int32_t maxPendingLines = 65536;

    // Appends a copy of text (an empty line for null), under logLock.
    void add(const char* text);

    // Moves every waiting line into out (appended in queue order) and
    // returns how many lines were dropped since the last take.
    uint32_t takeAll(StringArray& out);

    // One batch: every waiting line behind the same "HH:MM:SS: " stamp,
    // then a flush, so that a pipe or file sees the batch at once. The
    // lines are printed outside logLock, so a slow console never holds up
    // the server thread. Returns the number of lines printed.
    int32_t printBatch(std::FILE* out);

    CriticalSection logLock;
    StringArray logLines;
    uint32_t droppedLines = 0;  // under logLock
};
