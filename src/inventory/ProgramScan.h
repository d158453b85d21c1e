#pragma once

#include "UsageCache.h"
#include "platform/WinePrefix.h"

#include <QString>
#include <QStringList>

class IconResolver;
class ProgramListModel;
class RegistryAccess;
class SystemIconList;
class UninstallResolver;

// Turns the uninstall entries of a prefix and its usage cache into the program list.
class ProgramScan
{
public:
    // icons is the run's icon list; warningIconIndex and ownIconIndex are positions in it.
    ProgramScan(WinePrefix prefix, bool ntFamily, SystemIconList& icons, int warningIconIndex, int ownIconIndex);

    // Reads every entry anew into model, which ends sorted. A value that is not text where text is
    // required stops the scan with a KestrinError; the entries read before it stay in the model.
    void RefreshProgramList(ProgramListModel& model);

    // The uninstall keys read, in order: the native one and, in a 64-bit prefix, the 32-bit view.
    QStringList uninstallKeys() const;

private:
    struct Pass;
    void ReadProgramEntry(Pass& pass, RegistryAccess& reg, const QString& subkeyName);
    void AddProgramItem(Pass& pass, const QString& name, const QString& size, const QString& lastUsed,
                        const QString& frequency, const QString& command, const QString& keyPath, int iconIndex);

    WinePrefix m_prefix;
    bool m_ntFamily;
    SystemIconList& m_icons;
    int m_warningIconIndex;
    int m_ownIconIndex;
    UsageCache m_usage;
};
