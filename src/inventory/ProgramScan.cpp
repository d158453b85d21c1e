#include "inventory/ProgramScan.h"

#include "base/KestrinError.h"
#include "desktop/SystemIconList.h"
#include "hive/HiveFile.h"
#include "inventory/IconResolver.h"
#include "inventory/PrefixEnvironment.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "inventory/UninstallResolver.h"
#include "paths/WindowsPaths.h"

namespace {

const QString wow64UninstallKey =
    QStringLiteral("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

bool containsName(const QStringList& names, const QString& name)
{
    return names.contains(name, Qt::CaseInsensitive);
}

// Ends the model's batch however the scan ends, so the list always shows what was read.
class BatchGuard
{
public:
    explicit BatchGuard(ProgramListModel& model) : m_model(model) { m_model.beginBatch(); }
    ~BatchGuard() { m_model.endBatch(); }
    BatchGuard(const BatchGuard&) = delete;
    BatchGuard& operator=(const BatchGuard&) = delete;

private:
    ProgramListModel& m_model;
};

} // namespace

// What lives for one scan: the per-scan caches of the resolvers.
struct ProgramScan::Pass
{
    ProgramListModel& model;
    UninstallResolver uninstallers;
    IconResolver icons;
};

ProgramScan::ProgramScan(WinePrefix prefix, bool ntFamily, SystemIconList& icons, int warningIconIndex,
                         int ownIconIndex)
    : m_prefix(std::move(prefix)), m_ntFamily(ntFamily), m_icons(icons), m_warningIconIndex(warningIconIndex),
      m_ownIconIndex(ownIconIndex), m_usage(m_prefix)
{}

QList<ProgramScan::Source> ProgramScan::uninstallSources(const WinePrefix& prefix)
{
    // In a 64-bit prefix most installers are 32-bit programs whose entries land in the 32-bit view;
    // without it most installed programs would be missing from the list. Per-user entries are not
    // redirected: HKEY_CURRENT_USER has one key for both kinds of program.
    QList<Source> sources{{RegistryRoot::LocalMachine, sUninstallKey, PathView::Native}};
    if (HiveFile::open(prefix.systemHivePath())->current().architecture() == "win64")
        sources.append({RegistryRoot::LocalMachine, wow64UninstallKey, PathView::Wow64});
    sources.append({RegistryRoot::CurrentUser, sUninstallKey, PathView::Native});
    return sources;
}

void ProgramScan::RefreshProgramList(ProgramListModel& model)
{
    const HiveFile::ReadBatch batchOfReads;
    model.clear();
    m_skipped.clear();
    m_usage.LoadUsageKeys();

    SystemIconList& iconList = m_icons;
    PrefixEnvironment::Expander expander(m_prefix);
    // Thousands of entries name files in far fewer folders: each is listed once for this scan, and
    // the next scan lists it again, so that it sees what changed on disk meanwhile.
    const auto listings = std::make_shared<FolderListings>();
    Pass pass{
        model, UninstallResolver(m_prefix, listings),
        IconResolver(
            IconResolver::throughPrefix(
                m_prefix, [&iconList](const QString& hostFile) { return iconList.indexOfFile(hostFile); }, listings),
            m_ownIconIndex, [&expander](const QString& text, PathView view) { return expander.expand(text, view); })};

    RegistryAccess reg(m_prefix);
    BatchGuard batch(model);
    forEachEntry(m_prefix, reg, [&](const Source& source, const QString& name, const QString& keyPath) {
        try {
            ReadProgramEntry(pass, reg, name, source);
        } catch (const KestrinError& error) {
            // One entry that cannot be read must not hide the others, as Wine lists them too.
            m_skipped.append({source.root, reg.hasCurrentKey() ? reg.CurrentPath() : keyPath, error.message()});
        }
    });
}

template <class Read> void ProgramScan::forEachEntry(const WinePrefix& prefix, RegistryAccess& reg, Read&& read)
{
    // Listing needs read access only: a prefix the user may only read lists its programs too.
    for (const Source& source : uninstallSources(prefix)) {
        reg.RootKey(source.root);
        QStringList names;
        if (reg.OpenKeyReadOnly(source.key))
            reg.GetKeyNames(names);
        reg.CloseKey();
        for (const QString& name : std::as_const(names)) {
            const QString keyPath = source.key + QLatin1Char('\\') + name;
            reg.OpenKeyReadOnly(keyPath);
            read(source, name, keyPath);
            reg.CloseKey();
        }
    }
}

int ProgramScan::countPrograms(const WinePrefix& prefix)
{
    const HiveFile::ReadBatch batchOfReads;
    RegistryAccess reg(prefix);
    int count = 0;
    forEachEntry(prefix, reg, [&](const Source&, const QString&, const QString&) {
        try {
            if (readEntryTexts(reg))
                ++count;
        } catch (const KestrinError&) {
            // left out of the list, so not counted
        }
    });
    return count;
}

std::optional<ProgramScan::EntryTexts> ProgramScan::readEntryTexts(RegistryAccess& reg)
{
    QStringList values;
    reg.GetValueNames(values);
    if (!containsName(values, ValueName::DisplayName) || !containsName(values, ValueName::UninstallString))
        return std::nullopt;
    EntryTexts texts{reg.ReadString(ValueName::DisplayName), reg.ReadString(ValueName::UninstallString),
                     reg.ReadString(ValueName::DisplayIcon)};
    if (texts.name.isEmpty() || texts.command.isEmpty())
        return std::nullopt;
    return texts;
}

void ProgramScan::ReadProgramEntry(Pass& pass, RegistryAccess& reg, const QString& subkeyName, const Source& source)
{
    const QString keyPath = reg.hasCurrentKey() ? reg.CurrentPath() : QString();
    const std::optional<EntryTexts> texts = readEntryTexts(reg);
    if (!texts)
        return;

    QString size, lastUsed, frequency, programPath;
    if (m_ntFamily)
        m_usage.ReadUsageInfo(subkeyName, size, lastUsed, frequency, programPath);
    const int iconIndex = pass.icons.ProgramIconIndex(texts->icon, programPath, texts->command, source.view);
    AddProgramItem(pass, texts->name, size, lastUsed, frequency, texts->command, keyPath, iconIndex, source);
}

void ProgramScan::AddProgramItem(Pass& pass, const QString& name, const QString& size, const QString& lastUsed,
                                 const QString& frequency, const QString& command, const QString& keyPath,
                                 int iconIndex, const Source& source)
{
    InstalledProgram program;
    program.Name = name;
    program.Root = source.root;
    program.KeyPath = keyPath;
    program.IconIndex = iconIndex;
    if (m_ntFamily) {
        program.Size = size;
        program.LastUsed = lastUsed;
        program.Frequency = frequency;
    }
    program.UninstallerMissing = pass.uninstallers.UninstallerExists(command, source.view) ? -1 : m_warningIconIndex;
    program.UninstallCommand = command;
    pass.model.append(std::move(program));
}
