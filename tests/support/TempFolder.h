#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempFolder {
public:
    TempFolder()
    {
        std::random_device seed;
        std::filesystem::path base = std::filesystem::temp_directory_path();
        for (;;) {
            root = base / ("kitsync-test-" + std::to_string(seed()));
            if (std::filesystem::create_directory(root))
                return;
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    std::string path(const std::string& name) const { return (root / name).string(); }
    std::string folder() const { return root.string(); }

    // Writes a file below the folder, making its folders first.
    void write(const std::string& name, const std::string& data) const
    {
        std::filesystem::path file = root / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << data;
    }

    // Runs a shell command inside the folder; true when it exits with 0.
    bool run(const std::string& command) const
    {
        std::string line = "cd '" + root.string() + "' && " + command;
        return std::system(line.c_str()) == 0;
    }

private:
    std::filesystem::path root;
};

// A whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
