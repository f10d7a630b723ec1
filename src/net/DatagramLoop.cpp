#include "net/DatagramLoop.h"

#include "platform/Clock.h"

#include <algorithm>

void DatagramLoop::run()
{
    using platform::WaitOutcome;
    handler.onStart(platform::tickCount());
    uint32_t lastIdle = platform::tickCount();
    while (!stopRequested.load()) {
        WaitOutcome outcome = WaitOutcome::datagrams;  // a backlog does not wait
        if (!backlogged())
            outcome = platform::waitForDatagrams(&socket, 1, &wake, idleInterval);
        if (outcome == WaitOutcome::datagrams)
            takeWaitingDatagrams(lastIdle);
        else if (outcome == WaitOutcome::failed)
            platform::sleepMilliseconds(idleInterval);  // a failing wait must not spin
        uint32_t now = platform::tickCount();
        if (outcome == WaitOutcome::timedOut || now - lastIdle >= idleInterval) {
            lastIdle = now;
            handler.onIdle(now);
        }
    }
}

void DatagramLoop::takeWaitingDatagrams(uint32_t lastIdle)
{
    do {
        readWaitingDatagrams();
        handlePass();
    } while (backlogged() && !stopRequested.load() && platform::tickCount() - lastIdle < idleInterval);
}

// A batch shorter than asked for emptied the socket.
void DatagramLoop::readWaitingDatagrams()
{
    if (!backlogged()) {
        backlog.clear();
        backlogStarts.clear();
        backlogData.clear();
        next = 0;
    }
    int32_t taken = datagramsPerRead;
    while (taken == datagramsPerRead && backlog.size() < backlogDatagrams && backlogData.size() < backlogBytes) {
        taken = socket.receiveBatch(buffers.get(), largestDatagram, batch, datagramsPerRead);
        for (int32_t i = 0; i < taken; ++i) {
            backlog.push_back(platform::Datagram{nullptr, batch[i].length, batch[i].address, batch[i].port});
            backlogStarts.push_back(backlogData.size());
            backlogData.insert(backlogData.end(), batch[i].data, batch[i].data + batch[i].length);
        }
    }
}

void DatagramLoop::handlePass()
{
    size_t end = std::min(backlog.size(), next + size_t(datagramsPerPass));
    if (next == end)
        return;
    for (; next < end && !stopRequested.load(); ++next) {
        const platform::Datagram& d = backlog[next];
        handler.onDatagram(backlogData.data() + backlogStarts[next], d.length, d.address, d.port,
                           platform::tickCount());
    }
    handler.onBatchEnd();
}

bool DatagramLoop::start()
{
    if (thread.joinable())
        return false;
    stopRequested.store(false);
    thread = std::thread([this] { run(); });
    return true;
}

void DatagramLoop::requestStop()
{
    stopRequested.store(true);
    wake.signal();
}

void DatagramLoop::stop()
{
    requestStop();
    if (thread.joinable())
        thread.join();
}
