#include "client/SyncPlan.h"

#include <algorithm>

namespace {

bool named(const SyncSelection& selection, const std::string& name)
{
    const std::vector<std::string>& names = selection.packageNames;
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

bool planSync(const Catalogue& catalogue, const FolderCheck& check, const SyncSelection& selection,
              std::vector<PackagePlan>& plans, std::string& error)
{
    for (const std::string& name : selection.packageNames) {
        auto sameName = [&](const CataloguePackage& package) { return package.name == name; };
        if (std::none_of(catalogue.packages.begin(), catalogue.packages.end(), sameName)) {
            error = "the server has no package named \"" + name + "\"";
            return false;
        }
    }
    plans.clear();
    for (size_t i = 0; i < catalogue.packages.size(); ++i) {
        const CataloguePackage& package = catalogue.packages[i];
        PackagePlan plan;
        plan.index = i;
        plan.selected = !package.isOptional() || selection.allOptional || named(selection, package.name);
        plan.complete = check.packages[i].findings.empty();
        plans.push_back(plan);
    }
    return true;
}
