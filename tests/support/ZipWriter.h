#pragma once

#include "support/TestBytes.h"

#include <minizip/zip.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

// Builds zip archives in tests with minizip's own writer, so that the
// reader is checked against a second, independent writer besides Info-ZIP.
class ZipWriter {
public:
    explicit ZipWriter(const std::string& path) : handle(zipOpen(path.c_str(), APPEND_STATUS_CREATE)) {}
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;
    ~ZipWriter() { close(); }

    bool isOpen() const { return handle != nullptr; }

    // method: Z_DEFLATED or 0 (stored).
    bool add(const std::string& name, const std::string& data, int method = Z_DEFLATED)
    {
        zip_fileinfo info{};
        int level = method == 0 ? 0 : Z_DEFAULT_COMPRESSION;
        if (zipOpenNewFileInZip(handle, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, level) != ZIP_OK)
            return false;
        bool written = data.empty() ||
                       zipWriteInFileInZip(handle, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
        return zipCloseFileInZip(handle) == ZIP_OK && written;
    }

    // A folder entry: the name ends with '/' and there is no data.
    bool addFolder(const std::string& name) { return add(name + "/", "", 0); }

    bool close()
    {
        if (handle == nullptr)
            return true;
        int result = zipClose(handle, nullptr);
        handle = nullptr;
        return result == ZIP_OK;
    }

private:
    zipFile handle;
};

// Writes a deflated archive of (name, data) entries and, when asked, the
// XOR of the entries' CRC-32s: the package checksum a catalogue build finds.
inline bool writeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files,
                     uint32_t* checksum = nullptr)
{
    ZipWriter zip(path);
    uint32_t crcs = 0;
    for (const auto& file : files) {
        if (!zip.add(file.first, file.second))
            return false;
        crcs ^= crcOf(file.second);
    }
    if (checksum != nullptr)
        *checksum = crcs;
    return zip.close();
}
