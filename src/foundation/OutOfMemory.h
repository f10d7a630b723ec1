#pragma once

// The string and array types have no error path for a failed allocation, so
// running on with a null block is never an option: say what failed and stop.
[[noreturn]] void outOfMemory(const char* what);
