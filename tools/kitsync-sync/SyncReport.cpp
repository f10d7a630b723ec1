#include "sync/SyncReport.h"

#include "common/JsonWriter.h"
#include "query/CatalogueReport.h"
#include "sync/SyncOptions.h"

namespace {

std::string plural(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string packageHead(const SyncResult& result, size_t index)
{
    const CataloguePackage& package = result.catalogue->packages[index];
    return "Package " + std::to_string(index + 1) + ": " + printableText(package.name) + " (" +
           (package.isOptional() ? "optional" : "required") + ")";
}

void appendList(std::string& out, const char* label, const std::vector<std::string>& paths)
{
    for (const std::string& path : paths)
        out += std::string("  ") + label + printableText(path) + "\n";
}

std::string downloadText(const DownloadOutcome& download)
{
    if (download.inPlace)
        return "read in place";
    if (download.fromCache)
        return "found in the cache";
    std::string text = plural(download.fetched, "byte", "bytes") + " downloaded";
    if (download.resumedFrom > 0)
        text += ", resumed after " + plural(download.resumedFrom, "byte", "bytes");
    return text;
}

std::string outcomeText(const SyncResult& result, size_t index)
{
    const PackageOutcome& outcome = result.outcomes[index];
    std::string out = packageHead(result, index) + ": " + packageStateText(outcome.state);
    if (outcome.state == PackageState::failed)
        out += ": " + printableText(outcome.error);
    if (outcome.fetched && outcome.download.ok)
        out += " (" + downloadText(outcome.download) + ")";
    out += "\n";
    appendList(out, "written    ", outcome.install.written);
    appendList(out, "extracted  ", outcome.install.extracted);
    appendList(out, "duplicate  ", outcome.install.duplicates);
    return out;
}

size_t countState(const SyncResult& result, PackageState state)
{
    size_t count = 0;
    for (const PackageOutcome& outcome : result.outcomes)
        count += outcome.state == state ? 1 : 0;
    return count;
}

}  // namespace

bool SyncResult::selectedComplete() const
{
    const FolderCheck& judged = dryRun ? before : after;
    for (const PackagePlan& plan : plans) {
        if (plan.selected && !judged.packages[plan.index].findings.empty())
            return false;
    }
    return true;
}

int SyncResult::exitStatus() const
{
    if (selectedComplete())
        return kExitOk;
    return dryRun ? kExitCheckFailed : kExitInstallFailed;
}

std::string dryRunText(const SyncResult& result)
{
    std::string out;
    size_t needing = 0;
    for (const PackagePlan& plan : result.plans) {
        if (!plan.needsWork())
            continue;
        ++needing;
        const CataloguePackage& package = result.catalogue->packages[plan.index];
        out += packageHead(result, plan.index) + ": would download " + printableText(package.url) + " (" +
               plural(package.archiveSize, "byte", "bytes") + ") and write:\n";
        for (const FileFinding& finding : result.before.packages[plan.index].findings)
            out += findingText(finding);
        out += "  and any of its extract-only files that are missing\n";
    }
    out += "Dry run: " + plural(needing, "package needs", "packages need") + " work in " + result.folder + "\n";
    return out;
}

std::string syncText(const SyncResult& result)
{
    std::string out;
    for (const PackagePlan& plan : result.plans) {
        if (plan.needsWork())
            out += outcomeText(result, plan.index);
    }
    out += "Sync: " + plural(countState(result, PackageState::complete), "package was", "packages were") +
           " complete, " + std::to_string(countState(result, PackageState::installed)) + " installed, " +
           std::to_string(countState(result, PackageState::failed)) + " failed, " +
           std::to_string(countState(result, PackageState::notSelected)) + " optional left out; ";
    out += result.selectedComplete() ? "every selected package is complete in " + result.folder + "\n"
                                     : "selected packages are not all complete in " + result.folder + "\n";
    return out;
}

namespace {

void writeStrings(JsonWriter& json, const char* key, const std::vector<std::string>& texts)
{
    json.key(key).beginArray();
    for (const std::string& text : texts)
        json.string(text);
    json.endArray();
}

void writeDownload(JsonWriter& json, const PackageOutcome& outcome)
{
    json.key("download");
    if (!outcome.fetched) {
        json.null();
        return;
    }
    const DownloadOutcome& download = outcome.download;
    json.beginObject();
    json.key("ok").boolean(download.ok);
    json.key("inPlace").boolean(download.inPlace);
    json.key("fromCache").boolean(download.fromCache);
    json.key("resumedFrom").number(download.resumedFrom);
    json.key("fetched").number(download.fetched);
    json.endObject();
}

void writePackage(JsonWriter& json, const SyncResult& result, const PackagePlan& plan)
{
    const CataloguePackage& package = result.catalogue->packages[plan.index];
    json.beginObject();
    json.key("name").string(package.name);
    json.key("required").boolean(!package.isOptional());
    json.key("url").string(package.url);
    json.key("archiveSize").number(package.archiveSize);
    json.key("selected").boolean(plan.selected);
    json.key("findings").beginArray();
    for (const FileFinding& finding : result.before.packages[plan.index].findings)
        writeFinding(json, finding);
    json.endArray();
    if (result.dryRun) {
        json.key("state").string(plan.needsWork() ? "needs work" : !plan.selected ? "not selected" : "complete");
    } else {
        const PackageOutcome& outcome = result.outcomes[plan.index];
        json.key("state").string(packageStateText(outcome.state));
        writeDownload(json, outcome);
        writeStrings(json, "written", outcome.install.written);
        writeStrings(json, "extracted", outcome.install.extracted);
        writeStrings(json, "duplicates", outcome.install.duplicates);
        json.key("refused");
        if (outcome.state == PackageState::failed)
            json.string(outcome.error);
        else
            json.null();
    }
    json.endObject();
}

}  // namespace

std::string syncJson(const SyncResult& result)
{
    JsonWriter json;
    json.beginObject();
    json.key("server").string(result.endpoint);
    json.key("folder").string(result.folder);
    json.key("dryRun").boolean(result.dryRun);
    json.key("packages").beginArray();
    for (const PackagePlan& plan : result.plans)
        writePackage(json, result, plan);
    json.endArray();
    json.key("complete").boolean(result.selectedComplete());
    json.key("status").number(static_cast<uint64_t>(result.exitStatus()));
    json.endObject();
    return json.text();
}
