#include "support/HttpServerProcess.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

bool HttpServerProcess::start(const std::string& rootFolder, const std::string& logFile)
{
    this->logFile = logFile;
    // Debian's interpreter starts in a fraction of the time that a version
    // manager's shim on PATH takes, and the tests start many servers.
    std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    std::vector<std::string> arguments{python, KITSYNC_HTTP_SERVER_SCRIPT, "--root", rootFolder, "--exit-on-stdin-eof"};
    if (!logFile.empty()) {
        arguments.push_back("--log");
        arguments.push_back(logFile);
    }
    std::string line;
    if (!process.start(arguments) || !process.readLine(&line, 10000)) {
        process.stop();
        return false;
    }
    long port = std::strtol(line.c_str(), nullptr, 10);
    listeningPort = static_cast<uint16_t>(port);
    return port > 0 && port < 65536;
}

std::string HttpServerProcess::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(listeningPort) + path;
}

std::string HttpServerProcess::requestLog() const
{
    std::ifstream in(logFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
