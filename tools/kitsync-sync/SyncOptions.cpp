#include "sync/SyncOptions.h"

#include <algorithm>

const char kSyncUsage[] =
    "usage: kitsync-sync [options] HOST[:PORT] DIR\n"
    "  Brings the game folder DIR in line with the add-on catalogue of the server at HOST\n"
    "  (PORT defaults to 2322, then 2342): downloads the packages whose files are missing or\n"
    "  differ, checks each against the catalogue and installs it. Never deletes a file of DIR.\n"
    "\n"
    "  --game-port N    the game server's port; the catalogue server listens at N + 20,\n"
    "                   or at N + 40 when N + 20 was taken\n"
    "  --password TEXT  the query password, when the server has one\n"
    "  --timeout MS     silence in milliseconds before asking again (default 1500)\n"
    "  --optional       take up the optional packages as well\n"
    "  --package NAME   take up the optional package NAME (repeatable)\n"
    "  --cache DIR      where archives are downloaded to (default: the user's cache folder)\n"
    "  --jobs N         downloads at once, 1 to 16 (default 4)\n"
    "  --keep           keep the downloaded archives in the cache after installing\n"
    "  --dry-run        only tell what would be downloaded and written\n"
    "  --json           print the outcome as JSON on standard output\n"
    "  --help           print this text and exit\n"
    "  --version        print the version and exit\n"
    "exit status: 0 every selected package complete, 1 (--dry-run) packages need work,\n"
    "  2 usage, 3 password refused, 4 no answer, 5 catalogue transfer failed,\n"
    "  6 local file or folder failure, 7 a package could not be installed\n";

namespace {

// kitsync-query's options that take a value, passed on with it.
bool takesValue(const std::string& option)
{
    return option == "--password" || option == "--game-port" || option == "--timeout";
}

struct Parser {
    const std::vector<std::string>& arguments;
    SyncOptions& out;
    std::string& error;
    size_t next = 0;
    std::vector<std::string> forQuery;
    std::vector<std::string> positionals;

    bool value(const std::string& option, std::string& target)
    {
        return optionValue(arguments, next, option, target, error);
    }

    bool jobs(const std::string& text)
    {
        bool digits = !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
        out.jobs = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
        if (out.jobs < 1 || out.jobs > 16) {
            error = "--jobs takes a number from 1 to 16";
            return false;
        }
        return true;
    }

    // True when the argument is one of ours; `fine` then tells whether it
    // could be used.
    bool ownOption(const std::string& name, bool& fine)
    {
        std::string text;
        fine = true;
        if (name == "--optional")
            out.optional = true;
        else if (name == "--keep")
            out.keep = true;
        else if (name == "--dry-run")
            out.dryRun = true;
        else if (name == "--package") {
            fine = value(name, text);
            out.packages.push_back(text);
        } else if (name == "--cache")
            fine = value(name, out.cacheFolder);
        else if (name == "--jobs")
            fine = value(name, text) && jobs(text);
        else if (name == "--check" || name == "--save") {
            error = "unknown option " + name;
            fine = false;
        } else
            return false;
        return true;
    }

    bool step()
    {
        const std::string& argument = arguments[next++];
        bool fine = true;
        if (argument.size() > 1 && argument[0] == '-') {
            if (ownOption(argument, fine))
                return fine;
            forQuery.push_back(argument);
            if (takesValue(argument) && next < arguments.size())
                forQuery.push_back(arguments[next++]);
            return true;
        }
        positionals.push_back(argument);
        return true;
    }

    bool run()
    {
        while (next < arguments.size()) {
            if (!step())
                return false;
        }
        if (positionals.size() > 2) {
            error = "give one server and one folder";
            return false;
        }
        if (positionals.size() == 2) {
            out.folder = positionals.back();
            positionals.pop_back();
        }
        forQuery.insert(forQuery.end(), positionals.begin(), positionals.end());
        if (!parseQueryOptions(forQuery, out.query, error))
            return false;
        if (!out.query.help && out.folder.empty()) {
            error = "no game folder given";
            return false;
        }
        return true;
    }
};

}  // namespace

bool parseSyncOptions(const std::vector<std::string>& arguments, SyncOptions& out, std::string& error)
{
    out = SyncOptions();
    Parser parser{arguments, out, error, 0, {}, {}};
    return parser.run();
}
