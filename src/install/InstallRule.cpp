#include "install/InstallRule.h"

const char* commandNameOf(RuleKind kind)
{
    switch (kind) {
    case RuleKind::Install:
        return "INSTALL";
    case RuleKind::InstallPath:
        return "INSTALLPATH";
    case RuleKind::Extract:
        return "EXTRACT";
    case RuleKind::ExtractPath:
        return "EXTRACTPATH";
    case RuleKind::Ignore:
        return "IGNORE";
    }
    return "?";
}
