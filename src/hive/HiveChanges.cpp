#include "hive/HiveChanges.h"

#include "hive/HiveDocument.h"
#include "hive/HiveSyntax.h"

#include <memory>

namespace {

// Whether the first `count` names of both paths are the same key's.
bool sameStart(const QStringList& a, const QStringList& b, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i) {
        if (HiveSyntax::compareNames(a.at(i), b.at(i)) != 0)
            return false;
    }
    return true;
}

bool isUnder(const QStringList& path, const QStringList& ancestor)
{
    return ancestor.size() < path.size() && sameStart(path, ancestor, ancestor.size());
}

bool samePath(const QStringList& a, const QStringList& b)
{
    return a.size() == b.size() && sameStart(a, b, a.size());
}

struct Steps
{
    std::vector<HiveChange> creates; // keys created and values set, in walk order
    std::vector<HiveChange> valueDeletes;
    std::vector<HiveChange> keyDeletes;
};

// Compares the key as the text had it with the key as it is now, subkeys included.
void compareTrees(const HiveKey* before, const HiveKey* after, const QStringList& path, Steps& steps)
{
    struct Pair
    {
        const HiveKey* before;
        const HiveKey* after;
        QStringList path;
    };
    std::vector<Pair> pending{{before, after, path}};
    while (!pending.empty()) {
        const Pair pair = std::move(pending.back());
        pending.pop_back();
        if (!pair.after) {
            if (pair.before)
                steps.keyDeletes.push_back({HiveChange::Kind::DeleteKey, pair.path, {}, {}});
            continue;
        }
        if (!pair.before)
            steps.creates.push_back({HiveChange::Kind::CreateKey, pair.path, {}, {}});
        for (const HiveValue& value : pair.after->values()) {
            const HiveValue* old = pair.before ? pair.before->findValue(value.name) : nullptr;
            if (!old || old->value != value.value)
                steps.creates.push_back({HiveChange::Kind::SetValue, pair.path, value.name, value.value});
        }
        if (pair.before) {
            for (const HiveValue& value : pair.before->values()) {
                if (!pair.after->findValue(value.name))
                    steps.valueDeletes.push_back({HiveChange::Kind::DeleteValue, pair.path, value.name, {}});
            }
            for (const auto& subkey : pair.before->subkeys()) {
                if (!pair.after->findSubkey(subkey->name()))
                    pending.push_back({subkey.get(), nullptr, pair.path + QStringList{subkey->name()}});
            }
        }
        // Pushed last so that they come out first: a key's new subkeys right after it.
        for (auto it = pair.after->subkeys().rbegin(); it != pair.after->subkeys().rend(); ++it) {
            const HiveKey* old = pair.before ? pair.before->findSubkey((*it)->name()) : nullptr;
            pending.push_back({old, it->get(), pair.path + QStringList{(*it)->name()}});
        }
    }
}

} // namespace

std::vector<HiveChange> changesOf(const HiveDocument& changed)
{
    // Each changed key once, and none that a changed ancestor's comparison already covers.
    std::vector<QStringList> roots;
    for (const QStringList& path : changed.changedPaths()) {
        bool covered = false;
        for (const QStringList& root : roots)
            covered = covered || samePath(path, root) || isUnder(path, root);
        if (covered)
            continue;
        std::erase_if(roots, [&path](const QStringList& root) { return isUnder(root, path); });
        roots.push_back(path);
    }
    Steps steps;
    for (const QStringList& path : roots) {
        const std::unique_ptr<HiveDocument> original = changed.original(path);
        const HiveKey* before = original ? original->findKey(path) : nullptr;
        compareTrees(before, changed.findKey(path), path, steps);
    }
    std::vector<HiveChange> all = std::move(steps.creates);
    all.insert(all.end(), steps.valueDeletes.begin(), steps.valueDeletes.end());
    all.insert(all.end(), steps.keyDeletes.begin(), steps.keyDeletes.end());
    return all;
}
