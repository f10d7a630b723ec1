// kitsync.ini as the operator may have written it, or as a damaged disk
// may have left it, into the settings reader, from memory.
#include "MemoryFile.h"

#include "settings/Settings.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MemoryFile file(data, size, "r");
    Settings parsed;
    readSettings(file.get(), parsed);

    // Every package address has its kind, and the kind is one of the two.
    if (parsed.packageKinds.size < parsed.packageUrls.size)
        std::abort();
    for (int32_t i = 0; i < parsed.packageUrls.size; ++i) {
        uint8_t kind = parsed.packageKinds[i];
        if (kind != Settings::kOptionalPackage && kind != Settings::kRequiredPackage)
            std::abort();
    }
    // The server paces with this; at 10 ms or less it would flood clients.
    if (parsed.sendDelay <= 10)
        std::abort();
    return 0;
}
