#pragma once

#include "wire/CatalogueLayout.h"

#include <cstdint>
#include <string>
#include <vector>

// A server's catalogue as a client reads it: plain values, no sharing.

// One entry of a package's install tree. Folder names end with '\' and
// hold children; file names never do and carry the file's size and
// CRC-32 after extraction. Names arrive lower-cased.
struct CatalogueNode {
    std::string name;
    bool isFolder = false;
    uint32_t size = 0;
    uint32_t crc = 0;
    std::vector<CatalogueNode> children;  // in the order the server wrote them
};

struct CataloguePackage {
    std::string url;
    uint32_t archiveSize = 0;
    std::string name;
    std::string infoUrl;
    std::string reserved[wire::kPackageReservedTexts];
    uint32_t kind = 0;
    CatalogueNode root;  // a folder with an empty name

    // Only packages marked optional may be absent: a kind this client does
    // not know is treated as required.
    bool isOptional() const { return kind == wire::kOptionalPackageKind; }
};

struct Catalogue {
    std::string serverName;
    std::string serverInfo;
    std::string serverAdmin;
    std::string comServer;
    std::string deactivations;
    std::string reserved[wire::kServerReservedTexts];
    std::vector<CataloguePackage> packages;
};

// "optional", "required", or the kind's number for kinds not known here.
std::string packageKindText(uint32_t kind);

// Listed files below a node, at any depth.
uint32_t countFiles(const CatalogueNode& node);
