#pragma once

#include "platform/Clock.h"
#include "support/TempFolder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

// A working folder for one server program run as a process, as an operator
// runs it: kitsync.ini, addoninfoblock.udp and the record cache files live
// in work/; what the test itself keeps (logs, exit statuses, reference
// files) stays beside it, so that a listing of work/ shows only what the
// program made.
class ServerFolder {
public:
    ServerFolder() { std::filesystem::create_directory(base.path("work")); }

    std::string work(const std::string& name = std::string()) const
    {
        return name.empty() ? base.path("work") : base.path("work/" + name);
    }
    std::string side(const std::string& name) const { return base.path(name); }

    void write(const std::string& name, const std::string& bytes) const { base.write("work/" + name, bytes); }

    // The file's bytes; "(absent)" cannot be the content of any file the
    // server writes, since each begins with binary words.
    static constexpr const char* absent = "(absent)";
    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return absent;
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string readWork(const std::string& name) const { return read(work(name)); }

    std::set<std::string> listing() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(work()))
            names.insert(entry.path().filename().string());
        return names;
    }

    // Runs a bash script in work/; its exit status. The script goes through
    // a file, so that it needs no quoting for the shell that starts it.
    int run(const std::string& script) const
    {
        std::string scriptFile = side("command.sh");
        std::string scriptStatus = side("status");
        std::ofstream(scriptFile) << "cd '" << work() << "' || exit 99\n" << script << "\n";
        std::filesystem::remove(scriptStatus);
        std::string line = "bash '" + scriptFile + "'; echo $? > '" + scriptStatus + "'";
        std::system(line.c_str());
        std::string status = read(scriptStatus);
        return status == absent ? -1 : std::stoi(status);
    }

    // Starts a command line in work/ in the background, its output going to
    // side("server.log"). Its input is answers and then its end; without
    // answers, a pipe that stays open and silent, so that the program waits
    // at its first question until it is ended.
    void start(const std::string& command, const std::string* answers) const
    {
        std::string input = side("input");
        std::filesystem::remove(input);
        std::string redirect = " < '" + input + "'";
        if (answers != nullptr)
            std::ofstream(input, std::ios::binary) << *answers;
        else
            redirect = " 0<> '" + input + "'";  // the program holds the writing end itself
        // The old console and process files go before anything starts, so
        // nothing of an earlier run can be mistaken for this one's.
        run(std::string(answers == nullptr ? "mkfifo '" + input + "'; " : "") + "rm -f '" + consoleFile + "' '" +
            pidFile + "' '" + statusFile + "'; ( " + command + redirect + " > '" + consoleFile + "' 2>&1 & echo $! > '" +
            pidFile + ".part'; mv '" + pidFile + ".part' '" + pidFile + "'; wait $!; echo $? > '" + statusFile +
            ".part'; mv '" + statusFile + ".part' '" + statusFile + "' ) > /dev/null 2>&1 &");
    }

    // All that the started program has printed so far.
    std::string console() const { return read(consoleFile); }

    // Looks at the console every 2 ms until done(console) holds; false when
    // the program ends first. A minute without either is taken as a hang.
    template <typename Done>
    bool await(Done done) const
    {
        for (uint32_t start = platform::tickCount(); platform::tickCount() - start < 60000;) {
            bool ended = read(statusFile) != absent;
            if (done(console()))
                return true;
            if (ended)
                return false;
            platform::sleepMilliseconds(2);
        }
        return false;
    }

    // Sends a signal, such as "KILL", to the started program.
    void signal(const std::string& name) const
    {
        await([&](const std::string&) { return read(pidFile) != absent; });
        run("kill -" + name + " $(cat '" + pidFile + "') 2> /dev/null");
    }

    // Waits until the started program serves (a whole "UDP port N opened"
    // line) or ends, runs whileServing (which may use $port) if it serves,
    // then stops it with SIGTERM. Returns its exit status.
    int serveThenStop(const std::string& whileServing = std::string()) const
    {
        int port = 0;
        bool serving = await([&](const std::string& output) { return (port = servingPort(output)) > 0; });
        if (serving && !whileServing.empty())
            run("port=" + std::to_string(port) + "; " + whileServing);
        signal(serving ? "TERM" : "KILL");  // one that hangs must not outlive the test
        return awaitExit();
    }

    // The port of a whole "UDP port N opened" line; 0 while there is none.
    static int servingPort(const std::string& output)
    {
        const std::string head = "UDP port ", tail = " opened";
        for (size_t at = output.find(head); at != std::string::npos; at = output.find(head, at + 1)) {
            size_t end = output.find('\n', at);
            if ((at == 0 || output[at - 1] == '\n') && end != std::string::npos && end >= at + tail.size() &&
                output.compare(end - tail.size(), tail.size(), tail) == 0)
                return std::atoi(output.c_str() + at + head.size());
        }
        return 0;
    }

    // Starts program with answers and stops it once it serves.
    int runUntilServing(const std::string& program, const std::string& answers) const
    {
        start(program, &answers);
        return serveThenStop();
    }

    // The started program's exit status, once it has ended.
    int awaitExit() const
    {
        await([&](const std::string&) { return read(statusFile) != absent; });
        std::string status = read(statusFile);
        return status == absent ? -1 : std::stoi(status);
    }

private:
    TempFolder base;
    std::string consoleFile = side("server.log");
    std::string pidFile = side("program.pid");
    std::string statusFile = side("program.status");
};
