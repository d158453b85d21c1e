#include "hive/PrefixHealth.h"

#include "hive/HiveFile.h"

#include <QFileInfo>

PrefixHealth PrefixHealth::check(const WinePrefix& prefix)
{
    PrefixHealth health;
    const QString where = prefix.displayPath();
    const QFileInfo folder(prefix.path());
    const QString systemHive = prefix.systemHivePath();
    if (!folder.isDir()) {
        health.m_state = State::NoFolder;
        health.m_sentence = QStringLiteral("No Wine prefix at %1 \u2014 choose one with File > Open Prefix, or create "
                                           "it with \u201cWINEPREFIX=%1 wineboot\u201d.")
                                .arg(where);
        return health;
    }
    if (!QFileInfo(systemHive).exists()) {
        health.m_state = State::NoSystemHive;
        health.m_sentence = QStringLiteral("%1 is not a Wine prefix: it has no system.reg \u2014 choose one with "
                                           "File > Open Prefix, or set it up with \u201cWINEPREFIX=%1 wineboot\u201d.")
                                .arg(where);
        return health;
    }
    const std::shared_ptr<HiveFile> hive = HiveFile::open(systemHive);
    const HiveDocument& document = hive->current();
    if (!hive->canRead() || !hive->readError().isEmpty()) {
        health.m_state = State::Unreadable;
        health.m_sentence = QStringLiteral("The registry of the Wine prefix at %1 cannot be read \u2014 give yourself "
                                           "read access to its system.reg, or choose another prefix with File > Open "
                                           "Prefix.")
                                .arg(where);
        return health;
    }
    if (!document.isValid()) {
        health.m_state = State::NotARegistryFile;
        health.m_sentence = QStringLiteral("The system.reg of %1 is not a Wine registry file \u2014 restore it from a "
                                           "backup, or choose another prefix with File > Open Prefix.")
                                .arg(where);
    }
    return health;
}
