#pragma once

namespace platform {

// True when standard error goes to a terminal rather than a file or pipe;
// tools draw progress bars only then, so logs stay free of them.
bool standardErrorIsTerminal();

}  // namespace platform
