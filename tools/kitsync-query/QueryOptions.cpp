#include "query/QueryOptions.h"

#include "client/QueryProtocol.h"

const char kQueryUsage[] =
    "usage: kitsync-query [options] HOST[:PORT]\n"
    "  Shows the add-on catalogue of the server at HOST (PORT defaults to 2322, then 2342).\n"
    "\n"
    "  --game-port N    the game server's port; the catalogue server listens at N + 20,\n"
    "                   or at N + 40 when N + 20 was taken\n"
    "  --password TEXT  the query password, when the server has one\n"
    "  --json           print the catalogue as JSON\n"
    "  --check DIR      compare the catalogue with the game folder DIR\n"
    "  --save FILE      write the uncompressed catalogue to FILE\n"
    "  --timeout MS     silence in milliseconds before asking again (default 1500)\n"
    "  --help           print this text and exit\n"
    "  --version        print the version and exit\n"
    "exit status: 0 ok, 1 required files missing or different, 2 usage, 3 password refused,\n"
    "  4 no answer, 5 catalogue transfer failed, 6 local file or folder failure\n";

namespace {

bool parseNumber(const std::string& text, uint32_t low, uint32_t high, uint32_t& value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(std::stoul(text));
    return value >= low && value <= high;
}

bool parseEndpoint(const std::string& text, QueryOptions& out, bool& portGiven, std::string& error)
{
    size_t colon = text.rfind(':');
    out.host = text.substr(0, colon);
    portGiven = colon != std::string::npos;
    uint32_t port = wire::kDefaultGamePort + wire::kServerPortOffset;
    if (portGiven && !parseNumber(text.substr(colon + 1), 1, 65535, port)) {
        error = "the port in \"" + text + "\" is not a number from 1 to 65535";
        return false;
    }
    out.port = static_cast<uint16_t>(port);
    out.fallbackPort = portGiven ? 0 : static_cast<uint16_t>(wire::kDefaultGamePort + wire::kFallbackPortOffset);
    if (out.host.empty()) {
        error = "no host in \"" + text + "\"";
        return false;
    }
    return true;
}

struct Parser {
    Parser(const std::vector<std::string>& arguments, QueryOptions& out, std::string& error)
        : arguments(arguments), out(out), error(error)
    {
    }

    const std::vector<std::string>& arguments;
    QueryOptions& out;
    std::string& error;
    size_t next = 0;
    std::string endpoint;
    std::string gamePort;

    bool value(const std::string& option, std::string& target)
    {
        return optionValue(arguments, next, option, target, error);
    }

    bool option(const std::string& name)
    {
        std::string timeout;
        if (name == "--json")
            out.json = true;
        else if (name == "--help" || name == "-h")
            out.help = true;
        else if (name == "--password")
            return value(name, out.password);
        else if (name == "--check")
            return value(name, out.checkFolder);
        else if (name == "--save")
            return value(name, out.saveFile);
        else if (name == "--game-port")
            return value(name, gamePort);
        else if (name == "--timeout") {
            if (!value(name, timeout))
                return false;
            if (!parseNumber(timeout, 100, 600000, out.timeoutMs)) {
                error = "--timeout takes milliseconds from 100 to 600000";
                return false;
            }
        } else {
            error = "unknown option " + name;
            return false;
        }
        return true;
    }

    bool positional(const std::string& text)
    {
        if (!endpoint.empty()) {
            error = "only one server can be queried at a time";
            return false;
        }
        endpoint = text;
        return true;
    }

    bool finish()
    {
        if (out.help)
            return true;
        if (endpoint.empty()) {
            error = "no server given";
            return false;
        }
        bool portGiven = false;
        if (!parseEndpoint(endpoint, out, portGiven, error))
            return false;
        return gamePort.empty() || applyGamePort(portGiven);
    }

    bool applyGamePort(bool portGiven)
    {
        uint32_t port = 0;
        if (portGiven) {
            error = "give either HOST:PORT or --game-port, not both";
            return false;
        }
        if (!parseNumber(gamePort, 1, 65535 - wire::kServerPortOffset, port)) {
            error = "--game-port takes a number from 1 to " + std::to_string(65535 - wire::kServerPortOffset);
            return false;
        }
        out.port = static_cast<uint16_t>(port + wire::kServerPortOffset);
        bool fits = port + wire::kFallbackPortOffset <= 65535;
        out.fallbackPort = fits ? static_cast<uint16_t>(port + wire::kFallbackPortOffset) : 0;
        return true;
    }

    bool run()
    {
        while (next < arguments.size()) {
            const std::string& argument = arguments[next++];
            bool fine = argument.size() > 1 && argument[0] == '-' ? option(argument) : positional(argument);
            if (!fine)
                return false;
        }
        return finish();
    }
};

}  // namespace

bool optionValue(const std::vector<std::string>& arguments, size_t& next, const std::string& option,
                 std::string& value, std::string& error)
{
    if (next >= arguments.size()) {
        error = option + " needs a value";
        return false;
    }
    value = arguments[next++];
    return true;
}

std::string QueryOptions::endpoint() const
{
    return host + ":" + std::to_string(port);
}

std::string QueryOptions::fallbackEndpoint() const
{
    return host + ":" + std::to_string(fallbackPort);
}

bool parseQueryOptions(const std::vector<std::string>& arguments, QueryOptions& out, std::string& error)
{
    out = QueryOptions();
    Parser parser(arguments, out, error);
    return parser.run();
}
