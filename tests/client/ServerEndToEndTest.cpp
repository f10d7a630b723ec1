// kitsync-query against the real kitsync-server process, serving a stored
// catalogue from a folder of its own.

#include "CatalogueBytes.h"
#include "ScratchFolder.h"
#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "client/CatalogueFetcher.h"
#include "client/QueryOptions.h"
#include "platform/Clock.h"
#include "platform/HostResolver.h"
#include "platform/UdpSocket.h"

#include <gtest/gtest.h>

#include <cstdlib>

#ifdef KITSYNC_SERVER_PROGRAM

namespace {

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// A UDP port that was free a moment ago, as the server's game port + 20.
uint16_t freeServerPort()
{
    platform::SocketHandle probe = platform::openSocket(platform::SocketKind::datagram);
    platform::bindSocket(probe, 0, 0);
    uint16_t port = platform::localPort(probe);
    platform::closeSocket(probe);
    return port;
}

// The server runs in the background of a shell; its id is kept so that
// exactly this process is stopped afterwards.
class ServerProcess {
public:
    ServerProcess(const ScratchFolder& folder, uint16_t gamePort) : folder(folder), gamePort(gamePort)
    {
        std::string command = "cd " + quoted(folder.path()) + " && { " + quoted(KITSYNC_SERVER_PROGRAM) +
                              " >server.log 2>&1 </dev/null & echo $! >server.pid; }";
        started = std::system(command.c_str()) == 0;
    }

    ~ServerProcess()
    {
        std::string id = folder.read("server.pid");
        if (id.empty() || id.find_first_not_of("0123456789\n") != std::string::npos)
            return;
        std::string pid = id.substr(0, id.find('\n'));
        // Waits until it has ended; as a zombie it has, whenever its
        // adoptive parent gets round to reaping it.
        std::string command = "kill " + pid + " 2>/dev/null; for i in $(seq 100); do "
                              "read -r _ _ state _ </proc/" + pid + "/stat 2>/dev/null || break; "
                              "[ \"$state\" = Z ] && break; sleep 0.02; done";
        std::system(command.c_str());
    }

    // True once the server answers a query.
    bool awaitReady(const std::string& password)
    {
        ServerLink link(platform::ipv4Address(127, 0, 0, 1), static_cast<uint16_t>(gamePort + kGamePortOffset));
        FetchSettings settings;
        settings.answerTimeoutMs = 100;
        settings.queryAttempts = 1;
        CatalogueFetcher fetcher(link, settings);
        QueryAnswer answer;
        uint32_t start = platform::tickCount();
        if (!started || !link.open())
            return false;
        while (platform::tickCount() - start < 10000) {
            if (fetcher.query(password, answer) == QueryStatus::answered)
                return true;
        }
        return false;
    }

    std::string log() const { return folder.read("server.log"); }

private:
    const ScratchFolder& folder;
    uint16_t gamePort;
    bool started = false;
};

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun runQuery(const std::vector<std::string>& arguments)
{
    ScratchFolder scratch;
    std::string command = quoted(KITSYNC_QUERY_PROGRAM);
    for (const std::string& argument : arguments)
        command += " " + quoted(argument);
    command += " >" + quoted(scratch.path("out")) + " 2>" + quoted(scratch.path("err")) + "; echo $? >" +
               quoted(scratch.path("status"));
    ToolRun run;
    if (std::system(command.c_str()) == 0) {
        run.status = std::atoi(scratch.read("status").c_str());
        run.out = scratch.read("out");
        run.err = scratch.read("err");
    }
    return run;
}

TEST(ServerEndToEnd, QueryFetchesTheServersStoredCatalogue)
{
    ScratchFolder folder;
    std::vector<uint8_t> image = bulkyCatalogue(150);
    MemoryStream stream(4096);
    stream.write(image.data(), static_cast<uint32_t>(image.size()));
    InfoBlock block;
    ASSERT_TRUE(sealCatalogue(stream, 0xBEEF, block));
    ASSERT_TRUE(saveInfoBlock(block, folder.path(kInfoBlockFileName).c_str()));
    uint16_t gamePort = static_cast<uint16_t>(freeServerPort() - kGamePortOffset);
    folder.write("kitsync.ini", "port " + std::to_string(gamePort) + "\npassword Open\nsenddelay 15\n");

    ServerProcess server(folder, gamePort);
    ASSERT_TRUE(server.awaitReady("Open")) << server.log();

    std::string game = std::to_string(gamePort);
    ToolRun refused = runQuery({"127.0.0.1", "--game-port", game, "--password", "open"});
    EXPECT_EQ(refused.status, kExitRefused) << refused.err;

    ToolRun run = runQuery({"127.0.0.1", "--game-port", game, "--password", "Open", "--timeout", "500", "--save",
                            folder.path("image.bin")});
    ASSERT_EQ(run.status, kExitOk) << run.err << server.log();
    EXPECT_NE(run.out.find("  Catalogue:     " + std::string(infoBlockIdText(block.infoBlockId).c_str()) + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  Chunks:        " + std::to_string(block.chunks.size) + "\n"), std::string::npos);
    EXPECT_NE(run.out.find("  Game state:    none known, held for "), std::string::npos);
    EXPECT_NE(run.out.find("  Files:         150\n"), std::string::npos);
    EXPECT_EQ(folder.read("image.bin"), std::string(image.begin(), image.end()));
}

}  // namespace

#endif
