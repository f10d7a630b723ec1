#include "PackageReport.h"

#include "common/JsonWriter.h"
#include "foundation/AsciiText.h"

#include <cstdio>

namespace {

std::string printable(const RefString& text)
{
    return printableAscii(text.c_str());
}

std::string hex8(uint32_t value)
{
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", value);
    return digits;
}

bool extractOnly(const FileTreeNode& node)
{
    return (node.attributes & FileTreeNode::kExtractOnly) != 0;
}

void appendTree(std::string& out, const FileTreeNode& folder, int depth)
{
    for (int32_t i = 0; i < folder.children.size; ++i) {
        const FileTreeNode& node = *folder.children[i];
        out.append(static_cast<size_t>(depth) * 2, ' ');
        out += printable(node.name);
        if (node.isDirectory()) {
            out += '\n';
            appendTree(out, node, depth + 1);
            continue;
        }
        out += "  " + std::to_string(node.uncompressedSize) + " bytes  crc " + hex8(node.crc);
        out += extractOnly(node) ? "  (extract only)\n" : "\n";
    }
}

void appendRules(std::string& out, const PackageArchive& archive)
{
    out += "Rules, first match decides:\n";
    for (int32_t i = 0; i < archive.script.rules.size; ++i) {
        const InstallRule& rule = *archive.script.rules[i];
        out += "  " + std::to_string(i + 1) + ". " + commandNameOf(rule.kind) + " " + printable(rule.pattern);
        if (!rule.destination.isEmpty())
            out += " " + printable(rule.destination);
        out += '\n';
    }
}

}  // namespace

std::string reportText(const PackageReport& report)
{
    const PackageArchive& archive = report.archive;
    std::string out;
    if (report.blockRead) {
        if (!archive.script.blockFound)
            out += kNoBlockWarning;
        out += "Package name: " + printable(archive.script.packageName) + "\nInfo URL    : " + printable(archive.script.infoUrl) + "\n";
        appendRules(out, archive);
    }
    if (report.entriesRead) {
        out += "Install tree:\n";
        appendTree(out, *archive.root, 1);
        out += "Listed files: " + std::to_string(report.listedFiles) + "\n";
        out += "Package checksum: " + hex8(archive.checksum) + "\n";
    }
    out += report.error.c_str();
    return out;
}

namespace {

void writeTree(JsonWriter& json, const FileTreeNode& folder)
{
    json.beginArray();
    for (int32_t i = 0; i < folder.children.size; ++i) {
        const FileTreeNode& node = *folder.children[i];
        json.beginObject();
        json.key("name").string(node.name.c_str());
        if (node.isDirectory()) {
            json.key("children");
            writeTree(json, node);
        } else {
            json.key("size").number(node.uncompressedSize);
            json.key("crc").string(hex8(node.crc));
            json.key("extractOnly").boolean(extractOnly(node));
        }
        json.endObject();
    }
    json.endArray();
}

void writeRules(JsonWriter& json, const PackageArchive& archive)
{
    json.beginArray();
    for (int32_t i = 0; i < archive.script.rules.size; ++i) {
        const InstallRule& rule = *archive.script.rules[i];
        json.beginObject();
        json.key("command").string(commandNameOf(rule.kind));
        json.key("pattern").string(rule.pattern.c_str());
        json.key("destination").string(rule.destination.c_str());
        json.endObject();
    }
    json.endArray();
}

// The message without its line feed.
std::string errorText(const RefString& error)
{
    std::string text = error.c_str();
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

}  // namespace

std::string reportJson(const PackageReport& report)
{
    const PackageArchive& archive = report.archive;
    JsonWriter json;
    json.beginObject();
    json.key("archive").string(archive.script.archivePath.c_str());
    json.key("archiveSize").number(archive.archiveSize);
    if (report.blockRead) {
        json.key("blockFound").boolean(archive.script.blockFound);
        json.key("packageName").string(archive.script.packageName.c_str());
        json.key("infoUrl").string(archive.script.infoUrl.c_str());
        json.key("rules");
        writeRules(json, archive);
    }
    if (report.entriesRead) {
        json.key("tree");
        writeTree(json, *archive.root);
        json.key("listedFiles").number(report.listedFiles);
        json.key("checksum").string(hex8(archive.checksum));
    }
    json.key("error");
    if (report.error.isEmpty())
        json.null();
    else
        json.string(errorText(report.error));
    json.endObject();
    return json.text();
}
