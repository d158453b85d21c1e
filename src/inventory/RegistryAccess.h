#pragma once

#include "hive/RegistryValue.h"
#include "inventory/RegistryRoot.h"
#include "prefix/WinePrefix.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class HiveFile;
class HiveKey;

// The five kinds of value the logic tells apart; everything else (and a missing value) is Other.
enum class RegDataType
{
    Other,
    String,
    ExpandString,
    Integer,
    Binary,
};

// A registry object: a root, and at most one open key with its path. Make one per operation.
// Failed opens answer false; failed reads and writes throw KestrinError with the user's text.
class RegistryAccess
{
public:
    explicit RegistryAccess(WinePrefix prefix = WinePrefix::fromEnvironment());
    ~RegistryAccess();

    // Sets the root (HKEY_CURRENT_USER until set); changing it closes the open key.
    void RootKey(RegistryRoot root);
    RegistryRoot rootKey() const { return m_root; }

    // Full access: needs the hive file and its folder writable. Creates the key when asked.
    bool OpenKey(const QString& path, bool canCreate);
    bool OpenKeyReadOnly(const QString& path);
    bool KeyExists(const QString& path);
    bool CreateKey(const QString& path);
    // Deletes the key with all its subkeys; true when the key is gone afterwards. Throws KestrinError
    // when the key exists and the hive may not be changed by us.
    bool DeleteKey(const QString& path);
    void CloseKey();

    bool hasCurrentKey() const { return m_open; }
    QString CurrentPath() const;

    void GetKeyNames(QStringList& list);
    void GetValueNames(QStringList& list);
    bool ValueExists(const QString& name);
    RegDataType GetDataType(const QString& name);
    int GetDataSize(const QString& name);

    QString ReadString(const QString& name);
    int ReadInteger(const QString& name);
    // Copies a binary value into `buffer`; returns its size.
    int ReadBinaryData(const QString& name, void* buffer, int bufferSize);
    void WriteString(const QString& name, const QString& text);
    void WriteInteger(const QString& name, int value);
    // False when nothing was deleted; throws KestrinError when the hive may not be changed by us.
    bool DeleteValue(const QString& name);

    // Any value as stored, for callers that handle every type.
    std::optional<RegistryValue> readValue(const QString& name);
    void writeValue(const QString& name, const RegistryValue& value);

private:
    std::shared_ptr<HiveFile> hive() const;
    QStringList resolve(const QString& path) const;
    bool canRead() const;
    bool canWrite() const;
    const HiveKey* currentKey();
    void requireWritableKey(const QString& valueName) const;
    // Why the current root's hive cannot be changed by us; empty when it can.
    QString whyNotWritable() const;

    WinePrefix m_prefix;
    mutable std::shared_ptr<HiveFile> m_hive; // of the current root
    RegistryRoot m_root = RegistryRoot::CurrentUser;
    QStringList m_path;
    bool m_open = false;
    bool m_readOnly = false;
};
