#pragma once

// printf to standard output, flushed at once: the start-up and the catalogue
// build talk to the operator before the console loop runs, and their lines
// must show when standard output is a pipe or a log file too.
void say(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
