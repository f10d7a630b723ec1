#include "settings/Settings.h"

#include "foundation/AsciiText.h"
#include "install/TextWords.h"

#include <climits>
#include <cstdlib>

Settings::Settings() : gamePort("2302"), browserServer("browser.kitsync.invalid") {}

bool readLine(std::FILE* file, RefString& line)
{
    line = "";  // keeps a block of its own, so appending reuses its room
    for (;;) {
        int c = std::fgetc(file);
        if (c == '\n')
            return true;
        if (c == EOF || c == 0)
            return !line.isEmpty();
        line += static_cast<char>(c);
    }
}

namespace {

// atoi without its undefined behaviour: out-of-range numbers clamp to the
// int range instead of wrapping or trapping.
int32_t parseInteger(const char* text)
{
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// words.at grows the array with empty words, so a missing value reads as "".
void setPassword(Settings& s, StringArray& words) { s.password = words.at(1); }
void setPort(Settings& s, StringArray& words) { s.gamePort = words.at(1); }
void setServerName(Settings& s, StringArray& words) { s.serverName = words.at(1); }
void setServerInfo(Settings& s, StringArray& words) { s.serverInfo = words.at(1); }
void setServerAdmin(Settings& s, StringArray& words) { s.serverAdmin = words.at(1); }
void setComServer(Settings& s, StringArray& words) { s.comServer = words.at(1); }
void setBrowserServer(Settings& s, StringArray& words) { s.browserServer = words.at(1); }

void addPackage(Settings& s, StringArray& words)
{
    int32_t i = s.packageUrls.size;
    bool optional = equalsIgnoringCase(words.at(2).c_str(), "optional");
    s.packageKinds.at(i) = optional ? Settings::kOptionalPackage : Settings::kRequiredPackage;
    s.packageUrls.add(words.at(1));
}

void setAnnounce(Settings& s, StringArray& words)
{
    // "off" leaves the flag as it is: a later "off" does not undo an "on".
    if (!equalsIgnoringCase(words.at(1).c_str(), "off"))
        s.announceEnabled = true;
}

void setSendDelay(Settings& s, StringArray& words)
{
    int32_t delay = parseInteger(words.at(1).c_str());
    if (delay > 10)
        s.sendDelay = delay;
}

void addDeactivation(Settings& s, StringArray& words)
{
    for (int32_t i = 1; i <= 3; ++i) {
        s.deactivations += words.at(i);
        s.deactivations += ":";
    }
}

struct Key {
    const char* name;
    void (*apply)(Settings&, StringArray&);
};

// Tried in this order; the first match wins.
const Key kKeys[] = {
    {"password", setPassword},       {"port", setPort},
    {"servername", setServerName},   {"serverinfo", setServerInfo},
    {"serveradmin", setServerAdmin}, {"teamspeak", setComServer},
    {"comserver", setComServer},     {"package", addPackage},
    {"announce", setAnnounce},       {"senddelay", setSendDelay},
    {"deactivate", addDeactivation}, {"browserserver", setBrowserServer},
};

void applyLine(Settings& target, const RefString& line, StringArray& words)
{
    splitWords(line, words);
    if (words.size == 0)
        return;
    const char* first = words[0].c_str();
    if (first[0] == '/' && first[1] == '/')
        return;
    for (const Key& key : kKeys) {
        if (equalsIgnoringCase(first, key.name)) {
            key.apply(target, words);
            return;
        }
    }
}

}  // namespace

bool readSettings(const char* path, Settings& target)
{
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr)
        return false;
    readSettings(file, target);
    std::fclose(file);
    return true;
}

void readSettings(std::FILE* file, Settings& target)
{
    RefString line;
    StringArray words;
    while (readLine(file, line))
        applyLine(target, line, words);
}
