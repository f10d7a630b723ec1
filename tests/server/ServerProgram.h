#pragma once

#include "platform/Clock.h"
#include "support/ChildProcess.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

// kitsync-server run in a folder of its own, with answers.txt there on its
// input the way an operator's typed-ahead answers reach it, and its console
// read line by line. The shell that starts it keeps its process id in
// server.pid, for signals, and prints "exit status N" once it has ended.
class ServerProgram {
public:
    explicit ServerProgram(const std::string& folder, const std::vector<std::string>& arguments = {})
        : folder(folder)
    {
        std::vector<std::string> command = {
            "sh", "-c",
            "cd \"$1\" || exit 99; shift; touch answers.txt; \"$0\" \"$@\" <answers.txt 2>&1 & "
            "echo $! >server.pid.part; mv server.pid.part server.pid; wait $!; echo \"exit status $?\"",
            KITSYNC_SERVER_PROGRAM, folder};
        command.insert(command.end(), arguments.begin(), arguments.end());
        started = process.start(command);
    }
    ServerProgram(const ServerProgram&) = delete;
    ServerProgram& operator=(const ServerProgram&) = delete;
    ~ServerProgram()
    {
        if (started && status < 0 && signal("TERM"))
            awaitExit();
    }

    // Reads the console up to and including the next line holding text;
    // start-up under the sanitizers is slow.
    bool awaitLine(const std::string& text, std::string* found = nullptr)
    {
        for (std::string line; process.readLine(&line, 15000);) {
            lines.push_back(line);
            if (line.find(text) != std::string::npos) {
                if (found != nullptr)
                    *found = line;
                return true;
            }
        }
        return false;
    }

    // The exit status once the server has ended, with all it printed in
    // `lines`; -1 when it does not end.
    int awaitExit()
    {
        while (status < 0 && awaitLine("exit status ")) {
            if (lines.back().rfind("exit status ", 0) == 0) {
                status = std::atoi(lines.back().c_str() + 12);
                lines.pop_back();
            }
        }
        return status;
    }

    // Sends a signal (a name such as "TERM") to the server itself.
    bool signal(const std::string& name) const
    {
        std::string pid;
        for (int i = 0; i < 600 && pid.empty(); ++i, platform::sleepMilliseconds(5))
            pid = readFile(folder + "/server.pid");
        return !pid.empty() && std::system(("kill -" + name + " " + pid).c_str()) == 0;
    }

    bool saw(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    std::string transcript() const
    {
        std::string all;
        for (const std::string& line : lines)
            all += line + "\n";
        return all;
    }

    bool started = false;
    std::vector<std::string> lines;

private:
    ChildProcess process;
    std::string folder;
    int status = -1;
};
