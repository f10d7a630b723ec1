#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Replaces the file at path with exactly these bytes, or leaves it as it
// was: the bytes go to a fresh temporary file in the same folder, which is
// flushed to the disk and then renamed over the target. False on any
// failure, after removing the temporary file. The folder is synced after
// the rename as well; that last step is best effort, since the new file is
// already in place when it runs.
bool writeFileAtomically(const char* path, const void* bytes, size_t size);

// Removes a file. False when it is missing or cannot be removed.
bool deleteFile(const char* path);

// What a path names, judged on the path itself: a symbolic link (or, on
// Windows, any reparse point) is a link whatever it points at.
enum class PathKind { missing, file, folder, link };
PathKind pathKind(const char* path);

// Makes one folder; its parent must exist. False when the name is taken.
bool createFolder(const char* path);

// Removes a folder. False when it is not empty, missing or cannot go.
bool removeFolder(const char* path);

// Moves a file onto `to`, replacing a file or link there (a link itself,
// never what it points at). Nothing is flushed: a crash leaves either
// name's old contents or the new ones, which is all a caller may assume.
bool renameReplacing(const char* from, const char* to);

// A file that did not exist before, written front to back in the caller's
// blocks and not flushed to the disk. Closing is up to the caller; an open
// file is closed (and left on the disk) when the object goes.
class NewFile {
public:
    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile() { close(); }

    // False when anything at all stands at path, a dangling link included,
    // so that a write can never land behind a name someone else chose.
    bool create(const char* path);
    bool write(const void* bytes, size_t size);
    bool close();
    bool isOpen() const { return handle != kClosed; }

private:
    static constexpr intptr_t kClosed = -1;
    intptr_t handle = kClosed;  // a descriptor or a HANDLE
    int64_t written = 0;
};

// Test seam: while set, every file that writeFileAtomically or NewFile
// writes fails with "no space" once this many bytes of it have been
// written. A negative value (the default) switches the failure off. Being
// root does not stop a write, so tests cannot rely on file permissions.
void failWritesAfter(int64_t bytes);

}  // namespace platform
