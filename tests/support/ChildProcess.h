#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Another program run beside this one, its standard output on a pipe that
// this side reads line by line; standard error is inherited. Its standard
// input is a pipe that this side never writes to and keeps open while the
// object lives: it reaches end-of-file only when the object goes or this
// process dies, even by a crash, so a program that watches it can end with
// its parent instead of outliving it (and holding inherited pipes open).
// Destroying the object ends the program if it still runs. Tests drive the
// programs under test and their peers (the HTTP server) with it.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // arguments[0] is the program, looked up on PATH like a shell does.
    // False when it could not be started or one is already running.
    bool start(const std::vector<std::string>& arguments);

    // The next line of the program's output without its line feed. False
    // when none is complete within timeoutMilliseconds or the output ended.
    bool readLine(std::string* line, uint32_t timeoutMilliseconds);

    // Asks the program to terminate and waits for it; a no-op when none runs.
    void stop();

    // Reaps the program when it has ended by itself.
    bool isRunning();

private:
    struct State;
    std::unique_ptr<State> state;
};
