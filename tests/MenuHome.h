#pragma once

#include "TestPrefix.h"

#include "desktop/WineMenuFolders.h"
#include "inventory/RegistryAccess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// A prefix and a home folder as Wine's menu builder leaves them: menu entries, .menu and .directory
// files, icons, and their bookkeeping in HKEY_CURRENT_USER\Software\Wine\MenuFiles.
class MenuHome
{
public:
    MenuHome()
    {
        QDir().mkpath(prefixPath() + QStringLiteral("/dosdevices"));
        QDir().mkpath(prefixPath() + QStringLiteral("/drive_c/users/me"));
        QDir().mkpath(home() + QStringLiteral("/Desktop"));
        QFile::link(QStringLiteral("../drive_c"), prefixPath() + QStringLiteral("/dosdevices/c:"));
        QFile::link(QStringLiteral("/"), prefixPath() + QStringLiteral("/dosdevices/z:"));
        QFile::link(home() + QStringLiteral("/Desktop"), prefixPath() + QStringLiteral("/drive_c/users/me/Desktop"));
        m_folders.dataHome = home() + QStringLiteral("/.local/share");
        m_folders.configHome = home() + QStringLiteral("/.config");
        m_folders.desktops = {home() + QStringLiteral("/Desktop"), home()};
    }

    QString prefixPath() const { return m_dir.filePath(QStringLiteral("prefix")); }
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    const WineMenuFolders& folders() const { return m_folders; }

    // "C:\...\Start Menu\Programs\<place>.lnk" for a place such as "App\Tool".
    static QString linkOf(const QString& place)
    {
        return QStringLiteral("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\") + place +
               QStringLiteral(".lnk");
    }
    QString hostOf(const QString& windowsPath) const
    {
        return prefixPath() + QStringLiteral("/drive_c/") + windowsPath.mid(3).replace(u'\\', u'/');
    }
    // Wine's name for a generated file: its Unix path behind "\\?\unix".
    static QString unixValueName(const QString& hostPath)
    {
        return QStringLiteral("\\\\?\\unix") + QString(hostPath).replace(u'/', u'\\');
    }

    // A shortcut at linkOf(place), from tests/data/lnk/<fixture>, whose target may be made to exist.
    void addShortcut(const QString& place, const QString& fixture, const QString& target = {}) const
    {
        const QString file = hostOf(linkOf(place));
        QDir().mkpath(QFileInfo(file).absolutePath());
        QVERIFY(QFile::copy(QStringLiteral(KESTRIN_TEST_DATA "/lnk/") + fixture, file));
        if (!target.isEmpty())
            writeFile(hostOf(target), "MZ");
    }

    // The menu entry of place "Folder\Name" as Wine writes it, its .menu file, the .directory files
    // and the icons, all named in MenuFiles. Returns the .desktop file's host path.
    QString addMenuEntry(const QString& place, const QString& icon, const QString& runsInPrefix = {}) const
    {
        const QString relative = QString(place).replace(u'\\', u'/');
        const QString desktop =
            m_folders.wineApplications() + QStringLiteral("/Programs/") + relative + QStringLiteral(".desktop");
        writeFile(desktop, desktopText(linkOf(place), icon, runsInPrefix));
        const QString menuName = QStringLiteral("wine-Programs-") + QString(relative).replace(u'/', u'-');
        QByteArray menu = "<Menu><Name>Applications</Name>\n";
        QString folder = QStringLiteral("wine-Programs");
        const QStringList parts = relative.split(u'/');
        QStringList directories{QStringLiteral("wine-wine"), folder};
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            directories << (folder += u'-' + parts[i]);
        for (const QString& directory : directories) {
            menu += "<Menu><Name>" + directory.toUtf8() + "</Name><Directory>" + directory.toUtf8() +
                    ".directory</Directory>\n";
            writeFile(m_folders.directories() + u'/' + directory + QStringLiteral(".directory"), "[Desktop Entry]\n");
        }
        menu += "<Include><Filename>" + menuName.toUtf8() + ".desktop</Filename></Include>\n";
        menu += QByteArray("</Menu>").repeated(directories.size() + 1) + '\n';
        const QString menuFile = m_folders.mergedMenus() + u'/' + menuName + QStringLiteral(".menu");
        writeFile(menuFile, menu);
        for (const char* size : {"16x16", "48x48"})
            writeFile(iconFile(size, icon), "PNG");
        addMenuFilesValue(unixValueName(desktop), linkOf(place));
        addMenuFilesValue(unixValueName(menuFile), linkOf(place));
        return desktop;
    }

    QString iconFile(const char* size, const QString& icon) const
    {
        return m_folders.hicolorIcons() + u'/' + QLatin1String(size) + QStringLiteral("/apps/") + icon +
               QStringLiteral(".png");
    }

    QByteArray desktopText(const QString& windowsPath, const QString& icon, const QString& runsInPrefix = {}) const
    {
        QString exec =
            QString(windowsPath).replace(u'\\', QStringLiteral("\\\\\\\\")).replace(u' ', QStringLiteral("\\\\ "));
        return "[Desktop Entry]\nName=" +
               QFileInfo(QString(windowsPath).replace(u'\\', u'/')).completeBaseName().toUtf8() +
               "\nExec=env WINEPREFIX=\"" + (runsInPrefix.isEmpty() ? prefixPath() : runsInPrefix).toUtf8() +
               "\" wine-stable " + exec.toUtf8() + "\nType=Application\nIcon=" + icon.toUtf8() + "\n";
    }

    void addMenuFilesValue(const QString& name, const QString& link) const
    {
        RegistryAccess registry{WinePrefix(prefixPath())};
        registry.RootKey(RegistryRoot::CurrentUser);
        QVERIFY(registry.OpenKey(QStringLiteral("Software\\Wine\\MenuFiles"), true));
        registry.WriteString(name, link);
    }
    QStringList menuFilesValues() const { return menuFilesValuesOf(WinePrefix(prefixPath())); }
    static QStringList menuFilesValuesOf(const WinePrefix& prefix)
    {
        RegistryAccess registry{prefix};
        registry.RootKey(RegistryRoot::CurrentUser);
        QStringList names;
        if (registry.OpenKeyReadOnly(QStringLiteral("Software\\Wine\\MenuFiles")))
            registry.GetValueNames(names);
        return names;
    }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private:
    QTemporaryDir m_dir;
    WineMenuFolders m_folders;
};
