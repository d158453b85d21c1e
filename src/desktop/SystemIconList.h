#pragma once

#include <QHash>
#include <QImage>
#include <QString>

#include <vector>

// The one icon list of the run, shared by the small and the large views: an index per existing file,
// reused for that file until the program ends. A file's pictures come from its own icon resources
// (PE .exe/.dll/.scr or an .ico file), else a generic picture of its kind; each size is read and
// decoded only when first asked for, so a scan costs a lookup per file and a list shown in one size
// never holds the other.
class SystemIconList
{
public:
    static constexpr int SmallSize = 16;
    static constexpr int LargeSize = 32;

    SystemIconList() = default;

    // The index of the existing file at hostPath (a folder does not count); -1 when there is none.
    int indexOfFile(const QString& hostPath);
    // Appends pictures that belong to no file (the warning sign, the program's own icon).
    int addImages(const QImage& small, const QImage& large);

    int count() const { return int(m_entries.size()); }
    QImage smallImage(int index);
    QImage largeImage(int index);

private:
    struct Entry
    {
        QString hostPath; // empty for added pictures
        bool smallDecoded = false;
        bool largeDecoded = false;
        QImage small;
        QImage large;
    };
    static QImage decode(const QString& hostPath, int size);

    std::vector<Entry> m_entries;
    QHash<QString, int> m_indexByPath;
    // A file however reached: a deleted file's inode goes to the next file made, so the time of the
    // inode's last change is part of it.
    struct FileIdentity
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 changedNanos = 0;
        bool operator==(const FileIdentity&) const = default;
        friend size_t qHash(const FileIdentity& id, size_t seed = 0)
        {
            return qHashMulti(seed, id.device, id.inode, id.changedNanos);
        }
    };
    QHash<FileIdentity, int> m_indexByFile;
};

// The picture a file without icons of its own shows: an application window for programs, a page
// for anything else.
QImage genericFileImage(const QString& fileName, int size);
