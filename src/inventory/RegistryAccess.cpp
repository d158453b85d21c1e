#include "inventory/RegistryAccess.h"

#include "base/KestrinError.h"
#include "hive/HiveFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <unistd.h>

namespace {

KestrinError invalidType(const QString& name)
{
    return KestrinError(QStringLiteral("Invalid data type for '%1'").arg(name));
}

KestrinError cannotGet(const QString& name)
{
    return KestrinError(QStringLiteral("Failed to get data for '%1'").arg(name));
}

QString cannotSetText(const QString& name)
{
    return QStringLiteral("Failed to set data for '%1'").arg(name);
}

} // namespace

RegistryAccess::RegistryAccess(WinePrefix prefix) : m_prefix(std::move(prefix)) {}

RegistryAccess::~RegistryAccess()
{
    CloseKey();
}

void RegistryAccess::RootKey(RegistryRoot root)
{
    if (root != m_root) {
        CloseKey();
        m_hive.reset();
    }
    m_root = root;
}

std::shared_ptr<HiveFile> RegistryAccess::hive() const
{
    if (!m_hive) {
        switch (m_root) {
        case RegistryRoot::LocalMachine:
            m_hive = HiveFile::open(m_prefix.systemHivePath());
            break;
        case RegistryRoot::CurrentUser:
            m_hive = HiveFile::open(m_prefix.userHivePath());
            break;
        default:
            break; // other roots have no file of their own here
        }
    }
    return m_hive;
}

QStringList RegistryAccess::resolve(const QString& path) const
{
    QStringList names = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (m_open && !path.startsWith(QLatin1Char('\\')))
        names = m_path + names;
    return names;
}

QString RegistryAccess::whyNotWritable() const
{
    const auto file = hive();
    if (!file || file->canWrite())
        return {};
    const QFileInfo folder(file->prefixPath());
    if (!folder.isDir())
        return QStringLiteral("the prefix folder %1 does not exist").arg(folder.filePath());
    if (QFileInfo::exists(file->path()))
        return QStringLiteral("%1 or its folder is read-only for you").arg(file->path());
    return QStringLiteral("the folder %1 is read-only for you").arg(folder.filePath());
}

bool RegistryAccess::canRead() const
{
    const auto file = hive();
    return file && file->canRead();
}

bool RegistryAccess::canWrite() const
{
    const auto file = hive();
    return file && file->canWrite();
}

const HiveKey* RegistryAccess::currentKey()
{
    if (!m_open)
        return nullptr;
    return hive()->current().findKey(m_path);
}

bool RegistryAccess::OpenKey(const QString& path, bool canCreate)
{
    if (!canWrite())
        return false;
    const QStringList names = resolve(path);
    const auto file = hive();
    if (!file->current().findKey(names)) {
        if (!canCreate)
            return false;
        file->modify([&](HiveDocument& doc) { doc.createKey(names); });
    }
    m_path = names;
    m_open = true;
    m_readOnly = false;
    return true;
}

bool RegistryAccess::OpenKeyReadOnly(const QString& path)
{
    if (!canRead())
        return false;
    const QStringList names = resolve(path);
    if (!hive()->current().findKey(names))
        return false;
    m_path = names;
    m_open = true;
    m_readOnly = true;
    return true;
}

bool RegistryAccess::KeyExists(const QString& path)
{
    return canRead() && hive()->current().findKey(resolve(path)) != nullptr;
}

bool RegistryAccess::CreateKey(const QString& path)
{
    if (!canWrite())
        return false;
    const QStringList names = resolve(path);
    if (names.isEmpty())
        return false;
    hive()->modify([&](HiveDocument& doc) { doc.createKey(names); });
    return true;
}

bool RegistryAccess::DeleteKey(const QString& path)
{
    const QStringList names = resolve(path);
    if (names.isEmpty())
        return false;
    if (!canWrite()) {
        const QString reason = whyNotWritable();
        if (!reason.isEmpty() && KeyExists(path)) {
            throw KestrinError(
                QStringLiteral("The key %1 cannot be deleted: %2.").arg(names.join(QLatin1Char('\\')), reason));
        }
        return false;
    }
    hive()->modify([&](HiveDocument& doc) {
        if (HiveKey* key = doc.findKey(names))
            doc.deleteKey(key);
    });
    return !hive()->current().findKey(names);
}

void RegistryAccess::CloseKey()
{
    // What was read of the key is copied out: the document need not keep its values parsed.
    if (m_open && m_hive)
        m_hive->forgetValues(m_path);
    m_open = false;
    m_readOnly = false;
    m_path.clear();
}

QString RegistryAccess::CurrentPath() const
{
    return m_path.join(QLatin1Char('\\'));
}

void RegistryAccess::GetKeyNames(QStringList& list)
{
    list.clear();
    if (const HiveKey* key = currentKey()) {
        list.reserve(qsizetype(key->subkeys().size()));
        for (const auto& subkey : key->subkeys())
            list.append(subkey->name());
    }
}

void RegistryAccess::GetValueNames(QStringList& list)
{
    list.clear();
    if (const HiveKey* key = currentKey()) {
        list.reserve(qsizetype(key->values().size()));
        for (const HiveValue& value : key->values())
            list.append(value.name);
    }
}

std::optional<RegistryValue> RegistryAccess::readValue(const QString& name)
{
    if (const HiveKey* key = currentKey()) {
        if (const HiveValue* value = key->findValue(name))
            return value->value;
    }
    return std::nullopt;
}

bool RegistryAccess::ValueExists(const QString& name)
{
    const HiveKey* key = currentKey();
    return key && key->findValue(name);
}

RegDataType RegistryAccess::GetDataType(const QString& name)
{
    const auto value = readValue(name);
    if (!value)
        return RegDataType::Other;
    switch (value->type) {
    case RegType::Sz:
        return RegDataType::String;
    case RegType::ExpandSz:
        return RegDataType::ExpandString;
    case RegType::Dword:
        return RegDataType::Integer;
    case RegType::Binary:
        return RegDataType::Binary;
    default:
        return RegDataType::Other;
    }
}

int RegistryAccess::GetDataSize(const QString& name)
{
    const auto value = readValue(name);
    return value ? int(value->data.size()) : -1;
}

QString RegistryAccess::ReadString(const QString& name)
{
    const auto value = readValue(name);
    if (!value)
        return QString();
    if (value->type != RegType::Sz && value->type != RegType::ExpandSz)
        throw invalidType(name);
    return value->toText();
}

int RegistryAccess::ReadInteger(const QString& name)
{
    const auto value = readValue(name);
    if (!value)
        throw cannotGet(name);
    if (value->type != RegType::Dword)
        throw invalidType(name);
    if (value->data.size() != 4)
        throw cannotGet(name);
    return int(value->toDword());
}

int RegistryAccess::ReadBinaryData(const QString& name, void* buffer, int bufferSize)
{
    const auto value = readValue(name);
    if (!value)
        throw cannotGet(name);
    if (value->type != RegType::Binary && GetDataType(name) != RegDataType::Other)
        throw invalidType(name);
    if (value->data.size() > bufferSize)
        throw cannotGet(name);
    std::memcpy(buffer, value->data.constData(), size_t(value->data.size()));
    return int(value->data.size());
}

void RegistryAccess::requireWritableKey(const QString& valueName) const
{
    // Only the registry's own text on a normal run; the reason too when the hive is out of reach.
    const QString reason = whyNotWritable();
    if (!reason.isEmpty())
        throw KestrinError(cannotSetText(valueName) + QStringLiteral(": ") + reason + QLatin1Char('.'));
    if (!m_open || m_readOnly)
        throw KestrinError(cannotSetText(valueName));
}

void RegistryAccess::writeValue(const QString& name, const RegistryValue& value)
{
    requireWritableKey(name);
    bool written = false;
    hive()->modify([&](HiveDocument& doc) {
        if (HiveKey* key = doc.findKey(m_path)) {
            doc.setValue(key, name, value);
            written = true;
        }
    });
    if (!written)
        throw KestrinError(cannotSetText(name)); // the key was deleted meanwhile
}

void RegistryAccess::WriteString(const QString& name, const QString& text)
{
    writeValue(name, RegistryValue::fromString(text));
}

void RegistryAccess::WriteInteger(const QString& name, int value)
{
    writeValue(name, RegistryValue::fromDword(quint32(value)));
}

bool RegistryAccess::DeleteValue(const QString& name)
{
    if (m_open && !whyNotWritable().isEmpty() && ValueExists(name))
        requireWritableKey(name);
    if (!m_open || m_readOnly || !canWrite())
        return false;
    bool deleted = false;
    hive()->modify([&](HiveDocument& doc) {
        if (HiveKey* key = doc.findKey(m_path))
            deleted = doc.deleteValue(key, name);
    });
    return deleted;
}
