#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

// A fresh folder below the system's temporary folder, removed with
// everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::random_device seed;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        do
            root = base / ("kitsync-client-" + std::to_string(seed()));
        while (!std::filesystem::create_directory(root));
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    std::string path(const std::string& name = "") const { return (root / name).string(); }

    // Writes a file, making its folders first; '/' separates the parts.
    void write(const std::string& name, const std::string& data) const
    {
        std::filesystem::path file = root / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << data;
    }

    std::string read(const std::string& name) const
    {
        std::ifstream in(root / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void remove(const std::string& name) const { std::filesystem::remove(root / name); }

private:
    std::filesystem::path root;
};
