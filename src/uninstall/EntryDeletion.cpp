#include "uninstall/EntryDeletion.h"

#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"
#include "platform/KestrinError.h"
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
        // A key that is already gone was not deleted here.
        deleted = registry.KeyExists(keyPath) && registry.DeleteKey(keyPath);
        registry.CloseKey();
    } catch (const KestrinError& error) {
        // Not "Deleted OK.": the key is still there, and the user is told why.
        refusal = error.message();
    }
    log.AppendToLog((deleted ? sLogDeletedOK : sLogDeleteFailed) + lineEnd);
    return refusal;
}
