#pragma once

#include "platform/Clock.h"
#include "support/TempFolder.h"

#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

// The real kitsync-server, run in the background in a folder of its own by
// a small shell that writes the server's process id to server.pid and,
// once it ends, its exit status to server.status. Its console output goes
// to console.txt in that folder and is read from there as it grows (the
// server flushes after every batch). Signals go to the server itself.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& folder, const std::vector<std::string>& arguments = {})
        : folder(folder)
    {
        std::string words;
        for (const std::string& argument : arguments)
            words += " '" + argument + "'";
        // Only the subshell goes to the background: the clean-up of an
        // earlier run is done when std::system returns.
        std::string command = "cd '" + folder + "' || exit 1; rm -f server.pid server.status console.txt; ( '"
                              KITSYNC_SERVER_PROGRAM "'" + words +
                              " </dev/null >console.txt 2>&1 & echo $! >server.pid.part; mv server.pid.part server.pid;"
                              " wait $!; echo $? >server.status.part; mv server.status.part server.status )"
                              " >/dev/null 2>&1 &";
        started = std::system(command.c_str()) == 0;
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess()
    {
        if (!started || awaitExit(0) >= 0)
            return;
        if (!signal("TERM") || awaitExit(3000) < 0) {
            signal("KILL");
            awaitExit(3000);
        }
    }

    // Reads the console up to and including the next line holding text;
    // every line the server printed so far stays in `lines`. The time-outs
    // only guard against a hang: a sanitized start on a busy machine is slow.
    bool awaitLine(const std::string& text, std::string* line = nullptr, uint32_t timeoutMs = 20000)
    {
        for (uint32_t start = platform::tickCount();;) {
            for (; cursor < lines.size(); ++cursor) {
                if (lines[cursor].find(text) == std::string::npos)
                    continue;
                if (line != nullptr)
                    *line = lines[cursor];
                ++cursor;
                return true;
            }
            if (!pullLines()) {
                if (platform::tickCount() - start >= timeoutMs)
                    return false;
                platform::sleepMilliseconds(5);
            }
        }
    }

    // Sends a signal (a name such as "TERM") to the server process.
    bool signal(const std::string& name)
    {
        std::string pid = awaitFile("server.pid", 3000);
        std::string command = "kill -" + name + " " + pid + " 2>/dev/null";
        return !pid.empty() && std::system(command.c_str()) == 0;
    }

    // The exit status once the server has ended, with all it printed in
    // `lines`; -1 when it does not end in time.
    int awaitExit(uint32_t timeoutMs = 20000)
    {
        std::string status = awaitFile("server.status", timeoutMs);
        if (status.empty())
            return -1;
        pullLines();
        return std::atoi(status.c_str());
    }

    bool started = false;
    std::vector<std::string> lines;

private:
    std::string read(const std::string& name) const { return readFile(folder + "/" + name); }

    std::string awaitFile(const std::string& name, uint32_t timeoutMs) const
    {
        uint32_t start = platform::tickCount();
        for (;;) {
            std::string text = read(name);
            if (!text.empty() || platform::tickCount() - start >= timeoutMs)
                return text;
            platform::sleepMilliseconds(5);
        }
    }

    // Takes the complete lines printed since the last call; true when
    // there were any.
    bool pullLines()
    {
        std::string console = read("console.txt");
        size_t before = lines.size();
        for (size_t end; (end = console.find('\n', consumed)) != std::string::npos; consumed = end + 1)
            lines.push_back(console.substr(consumed, end - consumed));
        return lines.size() > before;
    }

    std::string folder;
    size_t consumed = 0;  // bytes of console.txt already cut into lines
    size_t cursor = 0;    // lines already looked at by awaitLine
};
