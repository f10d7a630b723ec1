#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How kitsync-query ends; scripts tell the outcomes apart by these.
enum QueryExitStatus : int {
    kExitOk = 0,
    kExitCheckFailed = 1,     // --check: a required file is missing or differs
    kExitUsage = 2,           // bad arguments or a host that does not resolve
    kExitRefused = 3,         // the server refused the password
    kExitNoAnswer = 4,        // no answer to the query after every retry
    kExitTransferFailed = 5,  // the catalogue could not be fetched or read
    kExitLocalFailure = 6,    // --save or --check could not use the disk
};

struct QueryOptions {
    std::string host;
    uint16_t port = 0;
    // Asked when nothing answers at `port`; 0 when the port was named.
    uint16_t fallbackPort = 0;
    std::string password;
    bool json = false;
    bool help = false;
    std::string checkFolder;  // empty: no check
    std::string saveFile;     // empty: nothing saved
    uint32_t timeoutMs = 1500;

    // "host:port" for messages.
    std::string endpoint() const;
    std::string fallbackEndpoint() const;
};

// Reads the arguments after the program name. False with a message for
// anything it cannot use; "--help" alone succeeds with `help` set.
bool parseQueryOptions(const std::vector<std::string>& arguments, QueryOptions& out, std::string& error);

// The value that follows an option: arguments[next], stepping past it.
// False, with the message, when the arguments end first.
bool optionValue(const std::vector<std::string>& arguments, size_t& next, const std::string& option,
                 std::string& value, std::string& error);

extern const char kQueryUsage[];
