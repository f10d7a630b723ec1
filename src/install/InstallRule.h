#pragma once

#include "foundation/RefString.h"

#include <cstdint>

// Which instruction line made a rule, and so what happens to an archive
// entry that the rule's pattern matches first.
enum class RuleKind : uint32_t {
    Install = 0,      // placed at destination (a folder when it ends with '\')
    InstallPath = 1,  // placed at the entry's own path
    Extract = 2,      // as Install, but extract-only: not listed to clients
    ExtractPath = 3,  // as InstallPath, extract-only
    Ignore = 4,       // left out of the package
};

// One file rule of a package. Paths are in '\' form; destination is empty
// for every kind but Install and Extract.
class InstallRule {
public:
    explicit InstallRule(RuleKind ruleKind) : kind(ruleKind) {}
    InstallRule(RuleKind ruleKind, const RefString& rulePattern, const RefString& ruleDestination)
        : kind(ruleKind), pattern(rulePattern), destination(ruleDestination)
    {
    }

    RuleKind kind;
    RefString pattern;
    RefString destination;
};

// The instruction command that makes rules of this kind ("INSTALL", ...).
const char* commandNameOf(RuleKind kind);
