#pragma once

#include "support/TempFolder.h"

#include <cstdio>
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
        std::string statusFile = side("status");
        std::ofstream(scriptFile) << "cd '" << work() << "' || exit 99\n" << script << "\n";
        std::filesystem::remove(statusFile);
        std::string line = "bash '" + scriptFile + "'; echo $? > '" + statusFile + "'";
        std::system(line.c_str());
        std::string status = read(statusFile);
        return status == absent ? -1 : std::stoi(status);
    }

    // Starts program with answers on its standard input (then its end),
    // waits until it serves (its "UDP port" line) or ends, runs whileServing
    // (which may use $port), then stops it with SIGTERM. Returns the
    // program's exit status; its output is in side("server.log"), and the
    // milliseconds it took to start serving in side("ready.ms").
    int runUntilServing(const std::string& program, const std::string& answers = std::string(),
                        const std::string& whileServing = std::string()) const
    {
        std::string log = side("server.log");
        std::string command = "started=$(date +%s%N); printf \"" + answers + "\" | " + program + " > " + log +
                              " 2>&1 & pid=$!; " + "for i in $(seq 400); do grep -q \"^UDP port\" " + log +
                              " && break; kill -0 $pid 2>/dev/null || break; sleep 0.01; done; " +
                              "echo $((($(date +%s%N) - started) / 1000000)) > " + side("ready.ms") + "; " +
                              "port=$(sed -n \"s/^UDP port \\([0-9]*\\) opened/\\1/p\" " + log + "); " +
                              (whileServing.empty() ? std::string() : whileServing + "; ") +
                              "kill -TERM $pid 2>/dev/null; wait $pid";
        return run(command);
    }

private:
    TempFolder base;
};
