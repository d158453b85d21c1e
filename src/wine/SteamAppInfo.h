#pragma once

#include "formats/KeyValuesText.h"

#include <optional>

class QIODevice;

// Steam's binary app cache, appcache/appinfo.vdf, in its formats 27, 28 and 29: a header, then one
// entry per app (its id, its size, checksums and a tree of typed key-values) up to an app id 0. Since
// format 29 the keys are numbers into a table at the end of the file.
class SteamAppInfo
{
public:
    // Nesting deeper than this is refused; Steam's trees are a handful of levels deep.
    static constexpr int MaxDepth = 64;
    // The largest entry, and the largest key table, that is read. The entries before the wanted one
    // are skipped unread, so the file itself may be of any size.
    static constexpr qint64 MaxEntryBytes = 16 * 1024 * 1024;

    // The top of app `appId`'s tree (Steam names it "appinfo"), every value as text; nothing when the
    // path is not a regular file, the app is not in it, or the file up to the app's tree is damaged.
    static std::optional<KeyValuesText::Node> read(const QString& path, quint32 appId);
    // The same from an open device that can seek.
    static std::optional<KeyValuesText::Node> read(QIODevice& device, quint32 appId);
};
