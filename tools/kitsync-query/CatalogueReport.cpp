#include "query/CatalogueReport.h"

#include "common/JsonWriter.h"

#include <cstdio>

namespace {

std::string hex8(uint32_t value)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string plural(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string gameStateText(const QueryAnswer& answer)
{
    if (!answer.hasGameState)
        return "not reported (the server gave the short answer)";
    // The server has never had a report, so the age it sends is that of
    // nothing and would read as if some state were held.
    if (answer.gameState == wire::kNoGameState)
        return "none known";
    return std::to_string(answer.gameState) + ", held for " + durationText(answer.stateAgeMs);
}

void appendField(std::string& out, const char* label, const std::string& value)
{
    std::string line = "  ";
    line += label;
    line.resize(17, ' ');
    out += line + printableText(value) + "\n";
}

void appendTree(std::string& out, const CatalogueNode& folder, int depth)
{
    std::string indent(static_cast<size_t>(depth) * 2 + 4, ' ');
    for (const CatalogueNode& child : folder.children) {
        out += indent + printableText(child.name);
        if (child.isFolder) {
            out += "\n";
            appendTree(out, child, depth + 1);
        } else {
            out += "  " + plural(child.size, "byte", "bytes") + "  CRC-32 " + hex8(child.crc) + "\n";
        }
    }
}

void appendPackage(std::string& out, const CataloguePackage& package, size_t number)
{
    out += "\nPackage " + std::to_string(number) + ": " + printableText(package.name) + " (" +
           packageKindText(package.kind) + ")\n";
    appendField(out, "URL:", package.url);
    appendField(out, "Archive size:", plural(package.archiveSize, "byte", "bytes"));
    appendField(out, "Info URL:", package.infoUrl);
    appendField(out, "Files:", std::to_string(countFiles(package.root)));
    appendTree(out, package.root, 0);
}

}  // namespace

std::string findingText(const FileFinding& finding)
{
    std::string line = "  ";
    line += fileFaultText(finding.fault);
    line.resize(18, ' ');
    line += printableText(finding.path);
    if (finding.fault == FileFault::sizeDiffers)
        line += " (" + plural(finding.actualSize, "byte", "bytes") + ", expected " +
                std::to_string(finding.expectedSize) + ")";
    if (finding.fault == FileFault::crcDiffers)
        line += " (CRC-32 " + hex8(finding.actualCrc) + ", expected " + hex8(finding.expectedCrc) + ")";
    return line + "\n";
}

namespace {

std::string faultBreakdown(const FolderCheck& check)
{
    std::string parts;
    for (FileFault fault : {FileFault::missing, FileFault::sizeDiffers, FileFault::crcDiffers,
                            FileFault::unreadable, FileFault::unsafeName}) {
        uint32_t count = check.count(fault);
        if (count > 0)
            parts += (parts.empty() ? "" : ", ") + std::to_string(count) + " " + fileFaultText(fault);
    }
    return parts;
}

std::string checkSummary(const FolderCheck& check)
{
    std::string line = "Check: " + plural(check.filesChecked(), "file", "files") + " in " +
                       plural(check.packages.size(), "package", "packages") + ", ";
    if (check.faultyFiles() == 0)
        return line + "all present and equal\n";
    line += std::to_string(check.faultyFiles()) + " at fault (" + faultBreakdown(check) + "); ";
    if (check.requiredComplete())
        return line + "only optional packages differ\n";
    return line + "required files are not all present and equal\n";
}

}  // namespace

std::string printableText(const std::string& text)
{
    std::string shown;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
            continue;
        }
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", byte);
        shown += escape;
    }
    return shown;
}

std::string durationText(uint32_t milliseconds)
{
    char text[32];
    uint32_t seconds = milliseconds / 1000;
    if (milliseconds < 1000)
        std::snprintf(text, sizeof text, "%u ms", milliseconds);
    else if (seconds < 60)
        std::snprintf(text, sizeof text, "%u.%u s", seconds, milliseconds % 1000 / 100);
    else if (seconds < 3600)
        std::snprintf(text, sizeof text, "%u min %02u s", seconds / 60, seconds % 60);
    else
        std::snprintf(text, sizeof text, "%u h %02u min", seconds / 3600, seconds / 60 % 60);
    return text;
}

std::string summaryText(const ServerSummary& summary)
{
    const QueryAnswer& answer = summary.answer;
    std::string out = "Server " + summary.endpoint + "\n";
    appendField(out, "Catalogue:", catalogueIdText(answer.infoBlockId));
    appendField(out, "Chunks:", std::to_string(answer.chunkCount));
    appendField(out, "Game state:", gameStateText(answer));
    return out;
}

std::string catalogueText(const Catalogue& catalogue)
{
    std::string out;
    appendField(out, "Name:", catalogue.serverName);
    appendField(out, "Info:", catalogue.serverInfo);
    appendField(out, "Admin:", catalogue.serverAdmin);
    appendField(out, "Com server:", catalogue.comServer);
    appendField(out, "Deactivations:", catalogue.deactivations);
    appendField(out, "Packages:", std::to_string(catalogue.packages.size()));
    for (size_t i = 0; i < catalogue.packages.size(); ++i)
        appendPackage(out, catalogue.packages[i], i + 1);
    return out;
}

std::string checkText(const FolderCheck& check)
{
    std::string out;
    for (size_t i = 0; i < check.packages.size(); ++i) {
        const PackageFindings& package = check.packages[i];
        out += "Package " + std::to_string(i + 1) + ": " + printableText(package.name) + " (" +
               (package.optional ? "optional" : "required") + "): " +
               plural(package.filesChecked, "file", "files");
        out += package.findings.empty() ? ", all present and equal\n"
                                         : ", " + std::to_string(package.findings.size()) + " at fault\n";
        for (const FileFinding& finding : package.findings)
            out += findingText(finding);
        for (const std::string& path : package.shadowed)
            out += "  shadowed        " + printableText(path) + " (a later file at this path is judged)\n";
    }
    return out + checkSummary(check);
}

namespace {

void writeTree(JsonWriter& json, const CatalogueNode& folder)
{
    json.beginArray();
    for (const CatalogueNode& child : folder.children) {
        json.beginObject();
        json.key(child.isFolder ? "folder" : "file").string(child.name);
        if (child.isFolder) {
            json.key("entries");
            writeTree(json, child);
        } else {
            json.key("size").number(child.size);
            json.key("crc").number(child.crc);
        }
        json.endObject();
    }
    json.endArray();
}

void writePackage(JsonWriter& json, const CataloguePackage& package)
{
    json.beginObject();
    json.key("url").string(package.url);
    json.key("archiveSize").number(package.archiveSize);
    json.key("name").string(package.name);
    json.key("infoUrl").string(package.infoUrl);
    json.key("kind").number(package.kind);
    json.key("required").boolean(!package.isOptional());
    json.key("files").number(countFiles(package.root));
    json.key("tree");
    writeTree(json, package.root);
    json.endObject();
}

void writeSummary(JsonWriter& json, const ServerSummary& summary)
{
    const QueryAnswer& answer = summary.answer;
    json.key("server").string(summary.endpoint);
    json.key("id").string(catalogueIdText(answer.infoBlockId));
    json.key("chunks").number(answer.chunkCount);
    json.key("gameState");
    if (answer.hasGameState && answer.gameState != wire::kNoGameState)
        json.number(answer.gameState);
    else
        json.null();
    json.key("stateHeldMs");
    if (answer.hasGameState)
        json.number(answer.stateAgeMs);
    else
        json.null();
}

}  // namespace

void writeFinding(JsonWriter& json, const FileFinding& finding)
{
    json.beginObject();
    json.key("path").string(finding.path);
    json.key("fault").string(fileFaultText(finding.fault));
    json.key("expectedSize").number(finding.expectedSize);
    json.key("expectedCrc").number(finding.expectedCrc);
    if (finding.fault == FileFault::sizeDiffers || finding.fault == FileFault::crcDiffers)
        json.key("actualSize").number(finding.actualSize);
    if (finding.fault == FileFault::crcDiffers)
        json.key("actualCrc").number(finding.actualCrc);
    json.endObject();
}

namespace {

void writeCheck(JsonWriter& json, const FolderCheck& check)
{
    json.beginObject();
    json.key("files").number(check.filesChecked());
    json.key("faulty").number(check.faultyFiles());
    json.key("requiredComplete").boolean(check.requiredComplete());
    json.key("packages").beginArray();
    for (const PackageFindings& package : check.packages) {
        json.beginObject();
        json.key("name").string(package.name);
        json.key("required").boolean(!package.optional);
        json.key("files").number(package.filesChecked);
        json.key("findings").beginArray();
        for (const FileFinding& finding : package.findings)
            writeFinding(json, finding);
        json.endArray();
        if (!package.shadowed.empty()) {
            json.key("shadowed").beginArray();
            for (const std::string& path : package.shadowed)
                json.string(path);
            json.endArray();
        }
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

}  // namespace

std::string reportJson(const ServerSummary& summary, const Catalogue& catalogue, const FolderCheck* check)
{
    JsonWriter json;
    json.beginObject();
    writeSummary(json, summary);
    json.key("name").string(catalogue.serverName);
    json.key("info").string(catalogue.serverInfo);
    json.key("admin").string(catalogue.serverAdmin);
    json.key("comServer").string(catalogue.comServer);
    json.key("deactivations").string(catalogue.deactivations);
    json.key("packages").beginArray();
    for (const CataloguePackage& package : catalogue.packages)
        writePackage(json, package);
    json.endArray();
    if (check != nullptr) {
        json.key("check");
        writeCheck(json, *check);
    }
    json.endObject();
    return json.text();
}
