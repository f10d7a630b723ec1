#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// The readers under test take a path, so every input goes through a file.
// Each fuzz process works in a folder of its own below the temporary
// folder, so that two campaigns run side by side never share a file.
class ScratchFile {
public:
    explicit ScratchFile(const char* name)
    {
        std::random_device seed;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            folder = base / ("kitsync-fuzz-" + std::to_string(seed()));
            std::error_code error;
            if (std::filesystem::create_directory(folder, error))
                break;
        }
        file = (folder / name).string();
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    const char* path() const { return file.c_str(); }
    std::string pathOf(const char* name) const { return (folder / name).string(); }

    // Replaces the file with exactly these bytes; a failure here is the
    // machine's, not the code's under test, so it stops the run.
    void write(const uint8_t* data, size_t size) const
    {
        std::FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr || (size > 0 && std::fwrite(data, 1, size, out) != size) || std::fclose(out) != 0) {
            std::perror(file.c_str());
            std::abort();
        }
    }

private:
    std::filesystem::path folder;
    std::string file;
};
