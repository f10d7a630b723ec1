#pragma once

#include "foundation/ByteArray.h"
#include "foundation/RefString.h"
#include "foundation/StringArray.h"

#include <cstdint>
#include <cstdio>

// The kitsync.ini configuration. Every field holds its default until
// readSettings replaces it; a missing file or key leaves the default.
class Settings {
public:
    Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Kind bytes the catalogue carries for each package.
    static constexpr uint8_t kOptionalPackage = 3;
    static constexpr uint8_t kRequiredPackage = 10;

    StringArray packageUrls;  // in file order
    ByteArray packageKinds;   // parallel to packageUrls

    RefString gamePort;  // as written; validated where it is used
    RefString serverName;
    RefString serverInfo;
    RefString serverAdmin;
    RefString comServer;      // set by both "comserver" and "teamspeak"
    RefString deactivations;  // "a:b:c:" per deactivate line, accumulated
    RefString reservedText[5];  // no key sets them; the catalogue carries them empty

    // Handed to the server in its configuration before it serves.
    RefString password;        // empty: queries need no password
    int32_t sendDelay = 200;   // ms between sending passes, always above 10
    bool announceEnabled = false;
    RefString browserServer;   // host name or dotted IPv4 address
};

inline constexpr char kSettingsFileName[] = "kitsync.ini";

// Reads one line of unlimited length into line, without its line feed.
// End of file or a NUL byte also ends a line; false when such a line is
// empty, so a NUL at the start of a line ends the reading of the file.
bool readLine(std::FILE* file, RefString& line);

// Applies every recognised line of the file to target. False, with nothing
// changed, when the file cannot be opened; a missing file is not an error
// for the caller to report.
bool readSettings(const char* path, Settings& target);
// The same on a file already open for reading, which is left open.
void readSettings(std::FILE* file, Settings& target);
