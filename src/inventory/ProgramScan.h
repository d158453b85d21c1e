#pragma once

#include "inventory/RegistryRoot.h"
#include "inventory/UsageCache.h"
#include "paths/WindowsPaths.h"
#include "prefix/WinePrefix.h"

#include <QList>
#include <QString>

#include <optional>

class IconResolver;
class ProgramListModel;
class RegistryAccess;
class SystemIconList;
class UninstallResolver;

// Turns the uninstall entries of a prefix and its usage cache into the program list.
class ProgramScan
{
public:
    // One uninstall key that the scan reads, and the kind of program whose entries it holds.
    struct Source
    {
        RegistryRoot root;
        QString key;
        PathView view;
        bool operator==(const Source&) const = default;
    };

    // An entry left out because a value it needs cannot be read.
    struct SkippedEntry
    {
        RegistryRoot root;
        QString keyPath;
        QString message; // the registry layer's text, e.g. "Invalid data type for 'DisplayName'"
    };

    // icons is the run's icon list; warningIconIndex and ownIconIndex are positions in it.
    ProgramScan(WinePrefix prefix, bool ntFamily, SystemIconList& icons, int warningIconIndex, int ownIconIndex);

    // Reads every entry anew into model, which ends sorted. An entry whose values cannot be read is
    // left out and goes to skippedEntries(); the scan goes on with the next one. Other failures (a hive
    // that cannot be read) stop the scan with a KestrinError; the entries read before stay in the model.
    void RefreshProgramList(ProgramListModel& model);

    // The entries the last scan left out, in the order it met them.
    const QList<SkippedEntry>& skippedEntries() const { return m_skipped; }

    // The uninstall keys read, in order, as Wine's own uninstaller reads them: HKEY_LOCAL_MACHINE's
    // native key, in a 64-bit prefix its 32-bit view, then HKEY_CURRENT_USER's key.
    QList<Source> uninstallSources() const { return uninstallSources(m_prefix); }
    static QList<Source> uninstallSources(const WinePrefix& prefix);

    // How many entries a scan of `prefix` lists, by the same rules, without usage records or icons.
    // Entries that cannot be read are not counted. Reads only.
    static int countPrograms(const WinePrefix& prefix);

private:
    struct Pass;
    struct EntryTexts
    {
        QString name;
        QString command;
        QString icon;
        QString installLocation;
        qint64 estimatedBytes = 0; // from "EstimatedSize"; 0 when it has none that makes sense
    };
    // The texts of the entry open in `reg` when it qualifies for the list: a display name and an
    // uninstall command, both not empty. Throws KestrinError when a value is not text.
    static std::optional<EntryTexts> readEntryTexts(RegistryAccess& reg);
    // Adds what sizes the entry without the usage cache: its install folder and the installer's estimate.
    static void readSizeFacts(RegistryAccess& reg, EntryTexts& texts);
    // Calls `read` with `reg` opened on each uninstall entry of the prefix, in scan order.
    template <class Read> static void forEachEntry(const WinePrefix& prefix, RegistryAccess& reg, Read&& read);
    void ReadProgramEntry(Pass& pass, RegistryAccess& reg, const QString& subkeyName, const Source& source);
    void AddProgramItem(Pass& pass, const QString& name, const QString& size, const QString& lastUsed,
                        const QString& frequency, const EntryTexts& texts, const QString& keyPath, int iconIndex,
                        const Source& source);

    WinePrefix m_prefix;
    bool m_ntFamily;
    SystemIconList& m_icons;
    int m_warningIconIndex;
    int m_ownIconIndex;
    UsageCache m_usage;
    QList<SkippedEntry> m_skipped;
};
