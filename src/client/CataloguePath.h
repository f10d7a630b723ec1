#pragma once

#include <string>
#include <vector>

// The parts of a path as the catalogue writes it, '\' between them; an
// empty part stays, for the name screen to refuse.
inline std::vector<std::string> splitCataloguePath(const std::string& path)
{
    std::vector<std::string> parts(1);
    for (char c : path) {
        if (c == '\\')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}
