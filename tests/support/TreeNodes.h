#pragma once

#include "catalogue/FileTreeNode.h"

// Adds a child to a catalogue tree built by hand; the parent holds it.
inline FileTreeNode* addNode(FileTreeNode& parent, const char* name, uint16_t attributes, uint32_t size = 0,
                             uint32_t crc = 0)
{
    SharedRef<FileTreeNode> node(new FileTreeNode);
    node->parent = &parent;
    node->name = name;
    node->attributes = attributes;
    node->uncompressedSize = size;
    node->crc = crc;
    parent.children.add(node);
    return node.get();
}
