#pragma once

#include <QString>

class QUrl;

// The shell's "open": hands a web address or a document to the desktop, which picks the program.
// Callers go through instance() so that tests can put a recording double in place of the desktop.
class ShellOpen
{
public:
    ShellOpen() = default;
    virtual ~ShellOpen();
    ShellOpen(const ShellOpen&) = delete;
    ShellOpen& operator=(const ShellOpen&) = delete;

    // True when the target was handed on; a target that is neither a web address nor an existing
    // host file or folder is refused (false). Leading and trailing blanks are ignored.
    virtual bool open(const QString& target);

    // The process-wide instance. setInstance() does not take ownership; nullptr restores the desktop one.
    static ShellOpen& instance();
    static void setInstance(ShellOpen* shell);

    // http, https, ftp and mailto addresses, and text starting with "www." (taken as http). Empty when
    // target is none of these.
    static QUrl webAddress(const QString& target);

protected:
    // Targets that are neither web addresses nor host paths (Windows paths, internet shortcuts, Windows
    // programs) land here; the desktop shell alone knows none of them.
    virtual bool openOther(const QString& target);
    // The one place that talks to the desktop.
    virtual bool openUrl(const QUrl& url);
};
