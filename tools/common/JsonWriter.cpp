#include "common/JsonWriter.h"

#include <cstdio>

void JsonWriter::newLine()
{
    out += '\n';
    out.append(hasMembers.size() * 2, ' ');
}

// Inside an array a value needs its separator and line; after a key both
// were written by key().
void JsonWriter::beginValue()
{
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (hasMembers.empty())
        return;
    if (hasMembers.back())
        out += ',';
    hasMembers.back() = true;
    newLine();
}

void JsonWriter::open(char bracket)
{
    beginValue();
    out += bracket;
    hasMembers.push_back(false);
}

void JsonWriter::close(char bracket)
{
    bool hadMembers = hasMembers.back();
    hasMembers.pop_back();
    if (hadMembers)
        newLine();
    out += bracket;
    if (hasMembers.empty())
        out += '\n';
}

void JsonWriter::beginObject()
{
    open('{');
}

void JsonWriter::endObject()
{
    close('}');
}

void JsonWriter::beginArray()
{
    open('[');
}

void JsonWriter::endArray()
{
    close(']');
}

JsonWriter& JsonWriter::key(const char* name)
{
    beginValue();
    out += jsonString(name);
    out += ": ";
    afterKey = true;
    return *this;
}

void JsonWriter::string(const std::string& text)
{
    beginValue();
    out += jsonString(text);
}

void JsonWriter::number(uint64_t value)
{
    beginValue();
    out += std::to_string(value);
}

void JsonWriter::boolean(bool value)
{
    beginValue();
    out += value ? "true" : "false";
}

void JsonWriter::null()
{
    beginValue();
    out += "null";
}

std::string jsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}
