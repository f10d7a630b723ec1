#include "catalogue/Download.h"

#include "foundation/ConsoleOutput.h"
#include "platform/Clock.h"
#include "platform/UrlReader.h"

#include <cstdio>
#include <memory>

namespace {

constexpr uint32_t kReadBlockSize = 4096;
constexpr uint32_t kProgressInterval = 1000;
constexpr size_t kFileBufferSize = 256 * 1024;

// Whole KiB, remainder dropped.
void printProgress(uint64_t received, bool hasTotal, uint64_t total)
{
    if (hasTotal)
        say("Received: %d/%d kb\r", static_cast<int>(received / 1024), static_cast<int>(total / 1024));
    else
        say("Received: %d kb\r", static_cast<int>(received / 1024));
}

bool failDownload(std::FILE* file)
{
    std::fclose(file);
    say("Error: Downloading file                    \n");
    return false;
}

bool failWrite(std::FILE* file)
{
    std::fclose(file);
    say("Error: Could not write to file\n");
    return false;
}

// Moves the resource into the file block by block; the caller opened both.
// lastProgress is the tick count at which the download began.
bool copyToFile(platform::UrlReader& reader, std::FILE* file, uint32_t lastProgress)
{
    uint64_t total = 0;
    const bool hasTotal = reader.size(&total);
    uint64_t received = 0;
    unsigned char block[kReadBlockSize];
    for (;;) {
        uint32_t got = 0;
        if (!reader.read(block, sizeof block, &got))
            return failDownload(file);
        if (got == 0)
            break;
        if (std::fwrite(block, 1, got, file) != got)
            return failWrite(file);
        received += got;
        uint32_t now = platform::tickCount();
        if (static_cast<uint32_t>(now - lastProgress) > kProgressInterval) {
            printProgress(received, hasTotal, total);
            lastProgress = now;
        }
    }
    // The readers already check announced sizes; this is the last guard
    // against passing a cut package on to the archive reader.
    if (hasTotal && received != total)
        return failDownload(file);
    if (std::fclose(file) != 0) {
        say("Error: Could not write to file\n");
        return false;
    }
    return true;
}

}  // namespace

DownloadSession::~DownloadSession()
{
    close();
}

bool DownloadSession::open()
{
    close();
    session = platform::openInternetSession("Brask Kitsync Server");
    if (session != nullptr)
        platform::setReceiveTimeout(session, stallLimit);
    return session != nullptr;
}

void DownloadSession::close()
{
    platform::closeInternetSession(session);
    session = nullptr;
}

void DownloadSession::setStallLimit(uint32_t milliseconds)
{
    stallLimit = milliseconds;
    if (session != nullptr)
        platform::setReceiveTimeout(session, milliseconds);
}

bool DownloadSession::downloadPackage(const char* url, const char* localFileName)
{
    const uint32_t startTick = platform::tickCount();
    say("Downloading %s\n", url);
    std::unique_ptr<platform::UrlReader> reader = platform::openUrl(session, url);
    if (reader == nullptr) {
        say("Error: Bad URL\n");
        return false;
    }
    if (reader->httpStatus() >= 400) {
        say("Error: Server answered with HTTP status %d\n", reader->httpStatus());
        say("Error: Bad URL\n");
        return false;
    }
    std::FILE* file = std::fopen(localFileName, "wb");
    if (file == nullptr) {
        say("Error: Could not open file for saving\n");
        return false;
    }
    // The reads come in 4096-byte blocks; gathering them keeps the number
    // of writes to the disk, and so the time spent in them, down. The C
    // library takes a size only together with a buffer; it must outlive
    // the file, which copyToFile closes.
    std::unique_ptr<char[]> gathering(new char[kFileBufferSize]);
    std::setvbuf(file, gathering.get(), _IOFBF, kFileBufferSize);
    if (!copyToFile(*reader, file, startTick))
        return false;
    say("Done...                        \n");
    return true;
}
