#include "net/DatagramLoop.h"

#include "platform/Clock.h"

void DatagramLoop::run()
{
    using platform::WaitOutcome;
    handler.onStart(platform::tickCount());
    uint32_t lastIdle = platform::tickCount();
    while (!stopRequested.load()) {
        WaitOutcome outcome = platform::waitForDatagrams(&socket, 1, &wake, idleInterval);
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

// A pass shorter than asked for emptied the queue.
void DatagramLoop::takeWaitingDatagrams(uint32_t lastIdle)
{
    int32_t taken = datagramsPerPass;
    while (taken == datagramsPerPass && !stopRequested.load() && platform::tickCount() - lastIdle < idleInterval) {
        taken = socket.receiveBatch(buffers.get(), largestDatagram, batch, datagramsPerPass);
        for (int32_t i = 0; i < taken && !stopRequested.load(); ++i)
            handler.onDatagram(batch[i].data, batch[i].length, batch[i].address, batch[i].port, platform::tickCount());
        if (taken > 0)
            handler.onBatchEnd();
    }
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
