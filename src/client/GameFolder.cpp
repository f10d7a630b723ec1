#include "client/GameFolder.h"

#include "foundation/AsciiText.h"
#include "platform/FileSystem.h"
#include "platform/FolderListing.h"

GameFolder::Found GameFolder::locate(const std::vector<std::string>& parts, Place& place)
{
    place = Place();
    place.folder = root;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const Entry* existing = match(place.folder, parts[i], true);
        std::string name = existing != nullptr ? existing->name : parts[i];
        std::string path = place.folder + "/" + name;
        if (existing == nullptr) {
            listing(place.folder).push_back(Entry{name, true});
            planned.insert(path);
        } else if (planned.count(path) == 0 && platform::pathKind(path.c_str()) == platform::PathKind::link) {
            place.shown += name;
            return Found::throughLink;
        }
        place.folder = path;
        place.folders.push_back(path);
        place.shown += name + "\\";
    }
    const Entry* file = match(place.folder, parts.back(), false);
    place.name = file != nullptr ? file->name : parts.back();
    place.shown += place.name;
    return file != nullptr ? Found::existing : Found::missing;
}

bool GameFolder::makeFoldersFor(const Place& place, std::string& failedPath)
{
    for (const std::string& path : place.folders) {
        if (planned.count(path) == 0)
            continue;
        if (!platform::createFolder(path.c_str())) {
            failedPath = path;
            return false;
        }
        planned.erase(path);
        made.push_back(path);
    }
    return true;
}

std::vector<std::string> GameFolder::namesLike(const std::string& folder, const std::string& name)
{
    std::vector<std::string> names;
    for (const Entry& entry : listing(folder)) {
        if (equalsIgnoringCase(entry.name.c_str(), name.c_str()))
            names.push_back(entry.name);
    }
    return names;
}

void GameFolder::removeMadeFolders()
{
    for (auto path = made.rbegin(); path != made.rend(); ++path)
        platform::removeFolder(path->c_str());
    made.clear();
}

// The exact spelling wins, since a case-sensitive disk may hold "Addons"
// and "addons" side by side.
const GameFolder::Entry* GameFolder::match(const std::string& folder, const std::string& part, bool wantFolder)
{
    const Entry* found = nullptr;
    for (const Entry& entry : listing(folder)) {
        if (entry.isFolder != wantFolder || !equalsIgnoringCase(entry.name.c_str(), part.c_str()))
            continue;
        if (entry.name == part)
            return &entry;
        if (found == nullptr)
            found = &entry;
    }
    return found;
}

// A planned folder is not there yet; a folder that cannot be listed offers
// no names, and writing into it will fail in its turn.
std::vector<GameFolder::Entry>& GameFolder::listing(const std::string& folder)
{
    auto known = listings.find(folder);
    if (known != listings.end())
        return known->second;
    std::vector<Entry>& entries = listings[folder];
    std::vector<platform::FolderEntry> found;
    if (planned.count(folder) == 0 && platform::listFolder(folder, found)) {
        for (const platform::FolderEntry& entry : found)
            entries.push_back(Entry{entry.name, entry.isFolder});
    }
    return entries;
}
