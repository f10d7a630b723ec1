#include "server/ServerStartup.h"

#include "catalogue/CatalogueBuilder.h"
#include "catalogue/CatalogueSettingsCheck.h"
#include "catalogue/InfoBlock.h"
#include "foundation/AsciiText.h"
#include "foundation/ConsoleOutput.h"
#include "platform/Clock.h"
#include "platform/DatagramSocket.h"
#include "platform/FileSystem.h"
#include "platform/StopSignal.h"
#include "server/AddonServer.h"
#include "server/WireFormat.h"
#include "settings/Settings.h"

#include <cstdio>

#include "ProgramVersion.h"

namespace {

constexpr int32_t udpPortOffset = 20;
constexpr int32_t fallbackPortOffset = 40;
constexpr int32_t highestPort = 65535;
constexpr uint32_t consolePassMilliseconds = 100;

void takeServingSettings(AddonServer& server, const Settings& settings)
{
    server.password = settings.password;
    server.sendDelay = settings.sendDelay;
    server.announceEnabled = settings.announceEnabled;
    server.browserServer = settings.browserServer;
}

void renewIfAsked(int argc, char** argv)
{
    if (argc < 2 || !equalsIgnoringCase(argv[1], "-renew"))
        return;
    say("Deleting addon info block\n");
    platform::deleteFile(kInfoBlockFileName);  // a missing file is no error here
}

bool loadOrBuildCatalogue(InfoBlock& infoBlock, const Settings& settings)
{
    say("Loading addon info block\n");
    switch (loadInfoBlock(infoBlock)) {
    case InfoBlockLoad::Loaded:
        say("Addon info block with id %s loaded\n", infoBlockIdText(infoBlock.infoBlockId).c_str());
        if (!catalogueMatchesSettings(infoBlock, settings))
            say("%s", kSettingsChangedWarning);
        return true;
    case InfoBlockLoad::Damaged:
        say("%s", kInfoBlockDamagedMessage);
        break;
    case InfoBlockLoad::NotFound:
        say("Addon info block not found, building new from packages\n");
        break;
    }
    return buildCatalogue(infoBlock, settings);
}

}  // namespace

int32_t checkedGamePort(const char* gamePortText)
{
    int32_t port = wire::decimalValue(gamePortText);
    if (port < 1 || port > highestPort - udpPortOffset) {
        say("Error: Port number %d is invalid\n", port);
        return -1;
    }
    return port;
}

bool openServerPort(AddonServer& server, int32_t gamePort)
{
    int32_t first = gamePort + udpPortOffset;
    int32_t fallback = gamePort + fallbackPortOffset;
    if (server.socket.open(0, static_cast<uint16_t>(first))) {
        say("UDP port %d opened\n", first);
        return true;
    }
    if (fallback > highestPort) {
        say("Error: Could not bind to port %d\n", first);
        return false;
    }
    say("Warning: Could not bind to port %d. Trying alternative port at %d.\n", first, fallback);
    if (server.socket.open(0, static_cast<uint16_t>(fallback))) {
        say("UDP port %d opened\n", fallback);
        return true;
    }
    say("Error: Failed to bind to alternative port %d\n", fallback);
    return false;
}

void runConsoleLoop(AddonServer& server)
{
    for (;;) {
        platform::sleepMilliseconds(consolePassMilliseconds);
        bool stopping = platform::stopSignalled();
        if (stopping) {
            // The thread must be gone before anything of the server goes.
            server.loop.stop();
        }
        server.logQueue.printBatch(stdout);
        if (stopping)
            break;
    }
    char time[9];
    platform::localTimeText(time);
    say("%s: Server stopped\n", time);
}

int runServer(int argc, char** argv, AddonServer& server, Settings& settings)
{
    say("Kitsync Server version " KITSYNC_RELEASE "\n");
    say("Add-on catalogues for game clients, by the Kitsync developers\n");
    readSettings(kSettingsFileName, settings);  // a missing file leaves the defaults
    takeServingSettings(server, settings);
    renewIfAsked(argc, argv);
    if (!loadOrBuildCatalogue(server.infoBlock, settings))
        return -1;
    int32_t gamePort = checkedGamePort(settings.gamePort.c_str());
    if (gamePort < 0)
        return -1;
    if (!platform::startWinsock()) {
        say("Error: Winsock 2.2 failed to initialize\n");
        return -1;
    }
    server.gamePortNumber = static_cast<uint16_t>(gamePort);
    if (!openServerPort(server, gamePort))
        return -1;
    say("Starting server thread, init-thread says bye.\n");
    platform::catchStopSignals();
    server.loop.start();
    runConsoleLoop(server);
    server.socket.close();
    return 0;
}
