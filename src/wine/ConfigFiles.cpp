#include "wine/ConfigFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ConfigFiles {

std::unique_ptr<QFile> openRegularFile(const QString& path)
{
    // Paths are built from texts in other programs' files; open(2) would cut one at a NUL and open
    // another file, where Qt refuses the whole name.
    if (path.contains(u'\0'))
        return nullptr;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

std::optional<QByteArray> readRegularFile(const QString& path)
{
    const auto file = openRegularFile(path);
    if (!file)
        return std::nullopt;
    const qint64 size = file->size();
    if (size > MaxBytes)
        return std::nullopt;
    // One byte more than the size tells a file that grows while it is read (a log linked in its
    // place would never end); such a file is passed over like any unreadable one.
    QByteArray bytes = file->read(size + 1);
    if (bytes.size() > size)
        return std::nullopt;
    return bytes;
}

std::optional<YAML::Node> readYaml(const QString& path)
{
    const auto text = readRegularFile(path);
    if (!text)
        return std::nullopt;
    try {
        return YAML::Load(text->toStdString());
    } catch (const YAML::Exception&) {
        return std::nullopt;
    }
}

QString yamlText(const YAML::Node& node, const char* section, const char* key)
{
    try {
        const YAML::Node& top = node;
        const YAML::Node value = top[section][key];
        return value && value.IsScalar() ? QString::fromStdString(value.as<std::string>()) : QString();
    } catch (const YAML::Exception&) {
        return {};
    }
}

QJsonObject readJsonObject(const QString& path)
{
    const auto text = readRegularFile(path);
    return text ? QJsonDocument::fromJson(*text).object() : QJsonObject();
}

std::optional<std::vector<KeyValuesText::Node>> readKeyValues(const QString& path)
{
    const auto text = readRegularFile(path);
    return text ? KeyValuesText::parse(*text) : std::nullopt;
}

const KeyValuesText::Node* descend(const std::vector<KeyValuesText::Node>& top,
                                   std::initializer_list<QStringView> names)
{
    const KeyValuesText::Node* node = nullptr;
    for (const QStringView name : names) {
        if (!node) {
            for (const KeyValuesText::Node& candidate : top) {
                if (candidate.key.compare(name, Qt::CaseInsensitive) == 0) {
                    node = &candidate;
                    break;
                }
            }
        } else {
            node = node->child(name);
        }
        if (!node)
            return nullptr;
    }
    return node;
}

QString expandHome(const QString& path, const QString& home)
{
    if (path == u"~" || path.startsWith(u"~/"))
        return home + path.mid(1);
    return path;
}

bool isProgram(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString folderKey(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : canonical;
}

QFileInfoList filesIn(const QString& folder, const QStringList& patterns)
{
    return QDir(folder).entryInfoList(patterns, QDir::Files, QDir::Name);
}

} // namespace ConfigFiles
