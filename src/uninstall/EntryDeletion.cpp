#include "uninstall/EntryDeletion.h"

#include "base/KestrinError.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "uninstall/UninstallLog.h"

QString deleteEntryLogged(const UninstallLog& log, const WinePrefix& prefix, RegistryRoot root, const QString& keyPath,
                          const QString& name)
{
    const QString lineEnd = QStringLiteral("\r\n");
    log.AppendToLog(UninstallLog::timeStampRecord());
    log.AppendToLog(QStringLiteral("Deleting entry ") + name + lineEnd);
    bool deleted = false;
    QString refusal;
    try {
        RegistryAccess registry(prefix);
        registry.RootKey(root);
        // True when the key is gone afterwards, also when an uninstaller took it already.
        deleted = registry.DeleteKey(keyPath);
        registry.CloseKey();
    } catch (const KestrinError& error) {
        // Not "Deleted OK.": the key is still there (Wine runs, the prefix is read-only, the save
        // failed), and the user must learn why to act on it.
        refusal = error.message();
    }
    log.AppendToLog((deleted ? sLogDeletedOK : sLogDeleteFailed) + lineEnd);
    return refusal;
}
