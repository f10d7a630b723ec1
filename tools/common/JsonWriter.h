#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes indented JSON in one pass. The caller pairs the begin and end
// calls and names each member with key() before its value.
class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    JsonWriter& key(const char* name);
    void string(const std::string& text);
    void number(uint64_t value);
    void boolean(bool value);
    void null();

    const std::string& text() const { return out; }

private:
    void beginValue();
    void newLine();
    void open(char bracket);
    void close(char bracket);

    std::string out;
    std::vector<bool> hasMembers;  // one per open object or array
    bool afterKey = false;
};

// A JSON string literal. Bytes of 0x80 and above carry no known encoding
// and are written as \u00XX of the byte value.
std::string jsonString(const std::string& text);
