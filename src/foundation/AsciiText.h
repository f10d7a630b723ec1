#pragma once

#include <string>

// Case folding for the system's own texts: file names, markers, keys and
// command-line switches. ASCII only, on purpose: the outcome must not hang
// on the C library's locale, and catalogue names are compared byte by byte
// by game clients.

inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equalsIgnoringCase(const char* a, const char* b)
{
    for (; *a != '\0' && lowerAscii(*a) == lowerAscii(*b); ++a, ++b) {
    }
    return lowerAscii(*a) == lowerAscii(*b);
}

// True when text begins with prefix, ignoring case. The text's NUL never
// equals a prefix letter, so the comparison stops inside the text.
inline bool startsWithIgnoringCase(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (lowerAscii(*text) != lowerAscii(*prefix))
            return false;
    }
    return true;
}

// The first place in text where key occurs, ignoring case, inside words
// too; null when it does not.
inline const char* findIgnoringCase(const char* text, const char* key)
{
    for (const char* p = text; *p != '\0'; ++p) {
        if (startsWithIgnoringCase(p, key))
            return p;
    }
    return nullptr;
}

// Texts that come from a server or a package author, made fit for a
// console: control bytes could move the cursor or rewrite a line.
inline std::string printableAscii(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '?';
    }
    return text;
}

inline std::string lowerCased(std::string text)
{
    for (char& c : text)
        c = lowerAscii(c);
    return text;
}
