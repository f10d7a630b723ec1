#include "server/LogQueue.h"

#include "platform/Clock.h"

void LogQueue::add(const char* text)
{
    logLock.enter();
    if (logLines.size < maxPendingLines)
        logLines.add(RefString(text == nullptr ? "" : text));
    else
        ++droppedLines;
    logLock.leave();
}

uint32_t LogQueue::takeAll(StringArray& out)
{
    logLock.enter();
    for (int32_t i = 0; i < logLines.size; ++i)
        out.add(logLines[i]);
    logLines.setSize(0);  // the storage stays for the next lines
    uint32_t dropped = droppedLines;
    droppedLines = 0;
    logLock.leave();
    return dropped;
}

int32_t LogQueue::printBatch(std::FILE* out)
{
    // One stamp for the whole batch, taken before the lines are.
    char time[9];
    platform::localTimeText(time);
    StringArray batch;
    uint32_t dropped = takeAll(batch);
    for (int32_t i = 0; i < batch.size; ++i)
        std::fprintf(out, "%s: %s", time, batch[i].c_str());
    if (dropped > 0)
        std::fprintf(out, "%s: Warning: Console log overflowed, %u lines dropped\n", time, dropped);
    if (batch.size > 0 || dropped > 0)
        std::fflush(out);
    return batch.size;
}
