#include "catalogue/InfoBlock.h"
#include "platform/ChildProcess.h"
#include "client/CatalogueFetcher.h"
#include "platform/HostResolver.h"
#include "platform/UdpSocket.h"
#include "support/HttpServerProcess.h"
#include "support/TempFolder.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const uint32_t kLineTimeoutMs = 15000;  // start-up under the sanitizers is slow

std::string prompt(const std::string& localName)
{
    return "Download and index " + localName + " - Yes,No,yesAll,nOall (Y/N/A/O) ? ";
}

// kitsync-server run in a folder with that folder's answers.txt on its
// standard input, the way an operator's typed-ahead answers reach it.
class ServerRun {
public:
    // untilExit: the shell stays to report "exit status N" as a last line;
    // otherwise the shell becomes the server, so stopping ends the server.
    ServerRun(const std::string& folder, const std::vector<std::string>& arguments, bool untilExit)
    {
        std::string script = untilExit ? "cd \"$1\" || exit 99; shift; \"$0\" \"$@\" < answers.txt; "
                                         "echo \"exit status $?\""
                                       : "cd \"$1\" || exit 99; shift; exec \"$0\" \"$@\" < answers.txt";
        std::vector<std::string> command = {"sh", "-c", script, KITSYNC_SERVER_PROGRAM, folder};
        command.insert(command.end(), arguments.begin(), arguments.end());
        started = process.start(command);
    }

    // Reads lines up to and including the first that starts with prefix.
    bool awaitLine(const std::string& prefix)
    {
        std::string line;
        while (process.readLine(&line, kLineTimeoutMs)) {
            lines.push_back(line);
            if (line.compare(0, prefix.size(), prefix) == 0)
                return true;
        }
        return false;
    }

    bool saw(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

    std::string transcript() const
    {
        std::string all;
        for (const std::string& line : lines)
            all += line + "\n";
        return all;
    }

    void stop() { process.stop(); }

    bool started = false;
    std::vector<std::string> lines;

private:
    platform::ChildProcess process;
};

// A game port whose server port (+ 20) was free a moment ago.
int32_t freeGamePort()
{
    platform::SocketHandle probe = platform::openSocket(platform::SocketKind::datagram);
    platform::bindSocket(probe, 0, 0);
    int32_t port = platform::localPort(probe) - 20;
    platform::closeSocket(probe);
    return port;
}

uint32_t publish(const TempFolder& site, const std::string& name,
                 const std::vector<std::pair<std::string, std::string>>& files)
{
    uint32_t checksum = 0;
    EXPECT_TRUE(writeZip(site.path(name), files, &checksum));
    return checksum;
}

// The server's answer to a query on its port.
QueryAnswer query(int32_t gamePort)
{
    ServerLink link(platform::ipv4Address(127, 0, 0, 1), static_cast<uint16_t>(gamePort + 20));
    EXPECT_TRUE(link.open());
    CatalogueFetcher fetcher(link, FetchSettings());
    QueryAnswer answer;
    EXPECT_EQ(fetcher.query("", answer), QueryStatus::answered);
    return answer;
}

class BuildEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.start(site.folder()));
        gamePort = freeGamePort();
    }

    void writeSettings(const std::string& packages)
    {
        work.write("kitsync.ini", "port " + std::to_string(gamePort) + "\nservername \"End to end\"\n" + packages);
    }

    TempFolder site;
    TempFolder work;
    HttpServerProcess http;
    int32_t gamePort = 0;
};

TEST_F(BuildEndToEnd, OperatorAnswersBuildTheCatalogueThatIsThenServed)
{
    uint32_t alphaSum = publish(site, "alpha.zip",
                                {{"kitsync.txt", "KITSYNC_START\nPACKAGE Alpha\nINSTALL *.pbo addons\\\nKITSYNC_END\n"},
                                 {"alpha.pbo", "alpha"}});
    uint32_t betaSum = publish(site, "beta.zip", {{"beta.pbo", std::string(3000, 'b')}});
    writeSettings("package " + http.url("/alpha.zip") + "\npackage file://" + site.path("beta.zip") +
                  " optional\n");
    work.write("answers.txt", "y\nn\n");

    uint64_t firstId = 0;
    {
        ServerRun server(work.folder(), {}, false);
        ASSERT_TRUE(server.started);
        ASSERT_TRUE(server.awaitLine("Starting server thread")) << server.transcript();
        EXPECT_TRUE(server.saw("Addon info block not found, building new from packages"));
        EXPECT_TRUE(server.saw(prompt("alpha.zip") + prompt("beta.zip") + "Downloading " + http.url("/alpha.zip")))
            << server.transcript();
        for (const char* line : {"Scanning alpha.zip...", "Package name: Alpha", "Deleting local copy of alpha.zip",
                                 "No information block for beta.zip found, forced to download",
                                 "Warning: No Kitsync block found, using simple installation method",
                                 "Deleting local copy of beta.zip"})
            EXPECT_TRUE(server.saw(line)) << line << "\n" << server.transcript();
        EXPECT_TRUE(server.saw("UDP port " + std::to_string(gamePort + 20) + " opened"));

        InfoBlock stored;
        ASSERT_EQ(loadInfoBlock(stored, work.path(kInfoBlockFileName).c_str()), InfoBlockLoad::Loaded);
        EXPECT_EQ(stored.infoBlockId >> 32, uint64_t(alphaSum ^ betaSum));
        EXPECT_TRUE(server.saw(std::string("    chunk labeled ") + infoBlockIdText(stored.infoBlockId).c_str() +
                               " and split into " + std::to_string(stored.chunks.size) + " packages"));
        QueryAnswer answer = query(gamePort);
        firstId = answer.infoBlockId;
        EXPECT_EQ(firstId, stored.infoBlockId);
        EXPECT_EQ(answer.chunkCount, stored.chunks.size);
        server.stop();
    }

    // Started by a script with no input: every prompt answers No, and both
    // packages come from the record cache files of the first build.
    work.write("answers.txt", "");
    ServerRun renewed(work.folder(), {"-RENEW"}, false);
    ASSERT_TRUE(renewed.started);
    ASSERT_TRUE(renewed.awaitLine("Starting server thread")) << renewed.transcript();
    for (const std::string& line : {std::string("Deleting addon info block"), prompt("alpha.zip") + "N",
                                    prompt("beta.zip") + "N", std::string("alpha.zip-package.tmp read.."),
                                    std::string("beta.zip-package.tmp read..")})
        EXPECT_TRUE(renewed.saw(line)) << line << "\n" << renewed.transcript();
    EXPECT_EQ(renewed.transcript().find("Downloading"), std::string::npos) << renewed.transcript();
    EXPECT_EQ(query(gamePort).infoBlockId >> 32, firstId >> 32);
    renewed.stop();
}

TEST_F(BuildEndToEnd, FailedBuildEndsTheProgramWithStatus255)
{
    publish(site, "good.zip", {{"good.pbo", "good"}});
    writeSettings("package " + http.url("/good.zip") + "\npackage " + http.url("/gone.zip") + "\n");
    work.write("answers.txt", "a");

    ServerRun server(work.folder(), {}, true);
    ASSERT_TRUE(server.started);
    ASSERT_TRUE(server.awaitLine("exit status ")) << server.transcript();
    EXPECT_EQ(server.lines.back(), "exit status 255");
    EXPECT_EQ(server.lines[server.lines.size() - 2], "Error: Bad URL") << server.transcript();
    EXPECT_TRUE(server.saw("Deleting local copy of good.zip"));
    EXPECT_EQ(server.transcript().find("UDP port"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(work.path(kInfoBlockFileName)));
    EXPECT_TRUE(std::filesystem::exists(work.path("good.zip-package.tmp")));
}

}  // namespace
