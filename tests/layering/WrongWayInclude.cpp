// Compiled only by the layering test, which passes when this fails: it
// links foundation, the lowest library, and names a header of the server,
// the highest. A library sees only what it links to, so no such file.
#include "foundation/RefString.h"
#include "server/AddonServer.h"

int main()
{
    return 0;
}
