#include "inventory/ProgramScan.h"

#include "base/KestrinError.h"
#include "desktop/SystemIconList.h"
#include "hive/HiveFile.h"
#include "hive/RegistryValue.h"
#include "inventory/IconResolver.h"
#include "inventory/PrefixEnvironment.h"
#include "inventory/ProgramListModel.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "inventory/UninstallResolver.h"
#include "paths/WindowsPaths.h"

#include <algorithm>

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
    PrefixEnvironment::Expander& expander;
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
            m_ownIconIndex, [&expander](const QString& text, PathView view) { return expander.expand(text, view); }),
        expander};

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
    EntryTexts texts;
    texts.name = reg.ReadString(ValueName::DisplayName);
    texts.command = reg.ReadString(ValueName::UninstallString);
    texts.icon = reg.ReadString(ValueName::DisplayIcon);
    if (texts.name.isEmpty() || texts.command.isEmpty())
        return std::nullopt;
    return texts;
}

void ProgramScan::readSizeFacts(RegistryAccess& reg, EntryTexts& texts)
{
    // Neither may hide an entry: a value of the wrong type only means there is no fact to use.
    if (const auto location = reg.readValue(ValueName::InstallLocation);
        location && (location->type == RegType::Sz || location->type == RegType::ExpandSz))
        texts.installLocation = location->toText();
    if (const auto estimate = reg.readValue(ValueName::EstimatedSize)) {
        qint64 kilobytes = 0;
        if (estimate->type == RegType::Dword && estimate->data.size() == 4)
            kilobytes = estimate->toDword();
        else if (estimate->type == RegType::Qword && estimate->data.size() == 8)
            kilobytes = qint64(std::min<quint64>(estimate->toQword(), quint64(1) << 40));
        texts.estimatedBytes = kilobytes * 1024; // MSI writes 0 for "not known"
    }
}

void ProgramScan::ReadProgramEntry(Pass& pass, RegistryAccess& reg, const QString& subkeyName, const Source& source)
{
    const QString keyPath = reg.hasCurrentKey() ? reg.CurrentPath() : QString();
    std::optional<EntryTexts> texts = readEntryTexts(reg);
    if (!texts)
        return;

    QString size, lastUsed, frequency, programPath;
    if (m_ntFamily) {
        m_usage.ReadUsageInfo(subkeyName, size, lastUsed, frequency, programPath);
        readSizeFacts(reg, *texts);
        if (texts->installLocation.contains(u'%'))
            texts->installLocation = pass.expander.expand(texts->installLocation, source.view);
    }
    const int iconIndex = pass.icons.ProgramIconIndex(texts->icon, programPath, texts->command, source.view);
    AddProgramItem(pass, texts->name, size, lastUsed, frequency, *texts, keyPath, iconIndex, source);
}

void ProgramScan::AddProgramItem(Pass& pass, const QString& name, const QString& size, const QString& lastUsed,
                                 const QString& frequency, const EntryTexts& texts, const QString& keyPath,
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
        if (!size.isEmpty()) {
            program.SizeFrom = SizeSource::UsageCache;
        } else if (texts.estimatedBytes > 0) {
            program.Size = UsageCache::FormatUsageSize(texts.estimatedBytes);
            program.SizeFrom = SizeSource::Estimate;
        }
        program.InstallLocation = texts.installLocation;
        program.DisplayIcon = texts.icon;
    }
    program.View = source.view;
    program.UninstallerMissing =
        pass.uninstallers.UninstallerExists(texts.command, source.view) ? -1 : m_warningIconIndex;
    program.UninstallCommand = texts.command;
    pass.model.append(std::move(program));
}
