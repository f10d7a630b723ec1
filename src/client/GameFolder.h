#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// The game folder as an installation sees it. Paths are found part by part
// ignoring the case of ASCII letters, as FolderCheck finds them: an existing
// folder or file keeps the name it has on the disk, and only what is missing
// takes the archive's spelling. Folders a package needs are planned first,
// with nothing written, and made when its files are written; the ones made
// can be taken back if the package fails.
class GameFolder {
public:
    explicit GameFolder(const std::string& root) : root(root) {}

    enum class Found { existing, missing, throughLink };

    // Where a file lies on the disk, or will.
    struct Place {
        std::string folder;  // disk path of the folder that holds it
        std::string name;    // the file's disk name
        std::string shown;   // below the root, '\' between parts, as on the disk
        std::vector<std::string> folders;  // disk paths on the way, outermost first
    };

    // Finds the file named by parts (the archive's spelling), planning the
    // folders on the way that are missing. throughLink when an existing
    // folder on the way is a link or reparse point: it is not followed,
    // wherever it points. A file that is a link itself is fine to replace.
    Found locate(const std::vector<std::string>& parts, Place& place);

    // Makes the planned folders that hold place; false when one cannot be
    // made. failedPath then names it.
    bool makeFoldersFor(const Place& place, std::string& failedPath);

    // Entries of a folder whose names equal name ignoring case.
    std::vector<std::string> namesLike(const std::string& folder, const std::string& name);

    // Removes the folders made here, deepest first, as far as they are
    // empty; an interrupted package leaves the folder as it found it.
    void removeMadeFolders();

private:
    struct Entry {
        std::string name;
        bool isFolder = false;
    };

    const Entry* match(const std::string& folder, const std::string& part, bool wantFolder);
    std::vector<Entry>& listing(const std::string& folder);

    std::string root;
    std::map<std::string, std::vector<Entry>> listings;  // by disk path, read once
    std::set<std::string> planned;                       // folders to make, by disk path
    std::vector<std::string> made;                       // in the order they were made
};
