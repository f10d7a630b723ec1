#include "server/ServerStartup.h"
#include "settings/Settings.h"

#include "ProgramVersion.h"

namespace {

const char kServerHelp[] =
    "Usage: kitsync-server [-renew]\n"
    "Serves the add-on catalogue of one game server to the game's clients over UDP,\n"
    "at the game port + 20 (+ 40 when that port is taken). Reads kitsync.ini in the\n"
    "working folder, loads the catalogue stored in addoninfoblock.udp there, or builds\n"
    "it from the packages that kitsync.ini lists when there is none, and serves until\n"
    "it gets SIGINT or SIGTERM.\n"
    "\n"
    "  -renew      delete addoninfoblock.udp first and build the catalogue anew (any\n"
    "              case; only as the first argument); the build asks on the console\n"
    "              whether to download each package again, and with no console input\n"
    "              it reuses the record it cached for a package, downloading only\n"
    "              packages that have none\n"
    "  --help      print this text and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "Files, all in the working folder: kitsync.ini (settings), addoninfoblock.udp\n"
    "(the stored catalogue), NAME-package.tmp (one cached record per package).\n";

}  // namespace

int main(int argc, char** argv)
{
    if (answerHelpOrVersion(argc, argv, "kitsync-server", kServerHelp))
        return 0;
    Settings settings;
    return runServer(argc, argv, settings);
}
