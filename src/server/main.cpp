#include "server/AddonServer.h"
#include "server/ServerStartup.h"
#include "settings/Settings.h"

// The process's one server, built before main like the settings record.
AddonServer addonServer;

int main(int argc, char** argv)
{
    return runServer(argc, argv, addonServer, settings);
}
