#include "server/ServerStartup.h"

#include "catalogue/CatalogueBuilder.h"
#include "catalogue/CatalogueSettingsCheck.h"
#include "catalogue/Download.h"
#include "catalogue/InfoBlock.h"
#include "foundation/AsciiText.h"
#include "foundation/ConsoleOutput.h"
#include "platform/Clock.h"
#include "platform/DatagramSocket.h"
#include "platform/FileSystem.h"
#include "platform/HostResolver.h"
#include "platform/StopSignal.h"
#include "server/AddonServer.h"
#include "server/BrowserResolver.h"
#include "server/CatalogueService.h"
#include "server/LogQueue.h"
#include "settings/Settings.h"
#include "wire/DecimalText.h"
#include "wire/QueryDatagrams.h"

#include <cstdio>

#include "ProgramVersion.h"

namespace {

constexpr int32_t highestPort = 65535;
constexpr uint32_t consolePassMilliseconds = 100;

ServingConfig servingConfig(const Settings& settings, int32_t gamePort)
{
    ServingConfig config;
    config.password = settings.password;
    config.sendDelay = settings.sendDelay;
    config.announce = settings.announceEnabled;
    config.browserServer = settings.browserServer;
    config.gamePort = static_cast<uint16_t>(gamePort);
    return config;
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
    DownloadSession downloads;
    return buildCatalogue(infoBlock, downloads, settings);
}

}  // namespace

int32_t checkedGamePort(const char* gamePortText)
{
    int32_t port = wire::decimalValue(gamePortText);
    if (port < 1 || port > highestPort - wire::kServerPortOffset) {
        say("Error: Port number %d is invalid\n", port);
        return -1;
    }
    return port;
}

bool openServerPort(AddonServer& server, int32_t gamePort)
{
    int32_t first = gamePort + wire::kServerPortOffset;
    int32_t fallback = gamePort + wire::kFallbackPortOffset;
    if (server.open(0, static_cast<uint16_t>(first))) {
        say("UDP port %d opened\n", first);
        return true;
    }
    if (fallback > highestPort) {
        say("Error: Could not bind to port %d\n", first);
        return false;
    }
    say("Warning: Could not bind to port %d. Trying alternative port at %d.\n", first, fallback);
    if (server.open(0, static_cast<uint16_t>(fallback))) {
        say("UDP port %d opened\n", fallback);
        return true;
    }
    say("Error: Failed to bind to alternative port %d\n", fallback);
    return false;
}

void runConsoleLoop(AddonServer& server, LogQueue& logQueue)
{
    for (;;) {
        platform::sleepMilliseconds(consolePassMilliseconds);
        bool stopping = platform::stopSignalled();
        if (stopping)
            server.stop();  // the thread must be gone before anything of the server goes
        logQueue.printBatch(stdout);
        if (stopping)
            break;
    }
    char time[9];
    platform::localTimeText(time);
    say("%s: Server stopped\n", time);
}

namespace {

// Serves until a stop signal, the socket layer being started. The lookup
// that may block for the resolver's whole time-out is made here, before
// the serving thread starts, so that its first announcement has an
// address; later ones come from the background.
int serve(const Settings& settings, const InfoBlock& catalogue, int32_t gamePort)
{
    LogQueue logQueue;
    BrowserResolver browser(settings.browserServer.c_str(), platform::resolveHost, CatalogueService::announceInterval);
    AddonServer server(servingConfig(settings, gamePort), catalogue, logQueue, browser);
    if (!openServerPort(server, gamePort))
        return -1;
    say("Starting server thread, init-thread says bye.\n");
    platform::catchStopSignals();
    if (settings.announceEnabled) {
        browser.resolveNow();
        browser.refreshInBackground();
    }
    server.start();
    runConsoleLoop(server, logQueue);
    server.close();
    return 0;
}

}  // namespace

int runServer(int argc, char** argv, Settings& settings)
{
    say("Kitsync Server version " KITSYNC_RELEASE "\n");
    say("Add-on catalogues for game clients, by the Kitsync developers\n");
    readSettings(kSettingsFileName, settings);  // a missing file leaves the defaults
    renewIfAsked(argc, argv);
    InfoBlock catalogue;
    if (!loadOrBuildCatalogue(catalogue, settings))
        return -1;
    int32_t gamePort = checkedGamePort(settings.gamePort.c_str());
    if (gamePort < 0)
        return -1;
    if (!platform::startWinsock()) {
        say("Error: Winsock 2.2 failed to initialize\n");
        return -1;
    }
    return serve(settings, catalogue, gamePort);
}
