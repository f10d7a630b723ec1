#pragma once

#include "foundation/RefString.h"
#include "foundation/StringArray.h"

// The lexical rules shared by kitsync.ini and the instruction block.

// Cuts the first line, line feed included, off the front of text. Without a
// line feed the whole text is the line and text becomes empty.
RefString takeLine(RefString& text);

// The same cut made in place on the text [cursor, end): returns the line
// that starts at cursor and moves cursor past it. Walking a text this way
// costs its length once, where takeLine, which copies the rest of the text
// for every line, costs it once per line.
RefString takeLine(const char*& cursor, const char* end);

// Fills words with the words of line: separated by blank, tab, line feed,
// vertical tab, form feed, carriage return and backspace; a double quote
// opens a section that only the next quote (or the end) closes. No word is
// empty and none holds a quote. Earlier contents of words are released.
void splitWords(const RefString& line, StringArray& words);
