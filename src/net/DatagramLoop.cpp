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
            takeWaitingDatagrams();
        else if (outcome == WaitOutcome::failed)
            platform::sleepMilliseconds(idleInterval);  // a failing wait must not spin
        uint32_t now = platform::tickCount();
        if (outcome == WaitOutcome::timedOut || now - lastIdle >= idleInterval) {
            lastIdle = now;
            handler.onIdle(now);
        }
    }
}

void DatagramLoop::takeWaitingDatagrams()
{
    for (int32_t taken = 0; taken < datagramsPerPass && !stopRequested.load(); ++taken) {
        uint32_t address = 0;
        uint16_t port = 0;
        int32_t length = socket.receiveFrom(buffer, sizeof buffer, &address, &port);
        if (length < 0)
            return;
        handler.onDatagram(buffer, length, address, port, platform::tickCount());
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
