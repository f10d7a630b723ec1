#pragma once

#include <cstdio>
#include <string>

// "HH:MM:SS: " at the start of a console line: the length of the stamp,
// or 0 when the line does not begin with one.
inline size_t timeStampLength(const std::string& line)
{
    const std::string shape = "99:99:99: ";
    if (line.size() < shape.size())
        return 0;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == '9' ? !digit : line[i] != shape[i])
            return 0;
    }
    return shape.size();
}

// True when line is a time stamp followed by exactly message.
inline bool isStamped(const std::string& line, const std::string& message)
{
    size_t stamp = timeStampLength(line);
    return stamp > 0 && line.compare(stamp, std::string::npos, message) == 0;
}

// All that was printed to a temporary file; the file is closed.
inline std::string printedText(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += char(c);
    std::fclose(file);
    return text;
}
