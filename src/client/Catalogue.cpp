#include "client/Catalogue.h"

std::string packageKindText(uint32_t kind)
{
    if (kind == wire::kOptionalPackageKind)
        return "optional";
    if (kind == wire::kRequiredPackageKind)
        return "required";
    return "kind " + std::to_string(kind);
}

uint32_t countFiles(const CatalogueNode& node)
{
    if (!node.isFolder)
        return 1;
    uint32_t count = 0;
    for (const CatalogueNode& child : node.children)
        count += countFiles(child);
    return count;
}
