#include "platform/Terminal.h"

#include "platform/win32/Win32.h"

namespace platform {

bool standardErrorIsTerminal()
{
    // Only a console has a mode; files and pipes fail the query.
    DWORD mode = 0;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    return error != nullptr && error != INVALID_HANDLE_VALUE && GetConsoleMode(error, &mode) != 0;
}

}  // namespace platform
