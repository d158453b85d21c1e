#include "inventory/UninstallResolver.h"

#include "base/KestrinError.h"
#include "inventory/PositionText.h"
#include "inventory/PrefixEnvironment.h"

using namespace PositionText;

namespace {

// The text of a command that opens with a double quote, up to the closing one, "" inside standing for
// one ". Without a closing quote the rest of the command is taken less its last character.
QString quotedProgram(const QString& cmd)
{
    QString q;
    for (qsizetype i = 1; i < cmd.size(); ++i) {
        if (cmd[i] != QLatin1Char('"')) {
            q += cmd[i];
        } else if (i + 1 < cmd.size() && cmd[i + 1] == QLatin1Char('"')) {
            q += QLatin1Char('"');
            ++i;
        } else {
            return q;
        }
    }
    q.chop(1);
    return q;
}

QString withoutQuotes(QString text)
{
    return text.remove(QLatin1Char('"'));
}

// A command that starts with "\\?\C:\" or "\??\C:\" goes as one that starts with "C:\".
QString withoutLongPathPrefix(const QString& cmd)
{
    if ((cmd.startsWith(u"\\\\?\\") || cmd.startsWith(u"\\??\\")) && Find(u":\\", cmd) == 6)
        return cmd.sliced(4);
    return cmd;
}

} // namespace

UninstallResolver::UninstallResolver(const WinePrefix& prefix, std::shared_ptr<FolderListings> listings)
    : m_expander(prefix), m_listings(listings ? std::move(listings) : std::make_shared<FolderListings>()),
      m_views{View{WindowsPaths(prefix, PathView::Native, m_listings), {}},
              View{WindowsPaths(prefix, PathView::Wow64, m_listings), {}}}
{}

UninstallResolver::UninstallResolver(const WinePrefix& prefix, const QString& searchPath) : UninstallResolver(prefix)
{
    m_searchPath = searchPath;
}

UninstallResolver::~UninstallResolver() = default;

const ExecutableSearch& UninstallResolver::search(View& view)
{
    if (!view.search) {
        if (!m_searchPath) {
            m_searchPath.emplace();
            try {
                *m_searchPath = PrefixEnvironment::searchPath(view.paths.prefix());
            } catch (const KestrinError&) {
                // An unreadable hive leaves the standard folders to search.
            }
        }
        view.search.emplace(view.paths, *m_searchPath);
    }
    return *view.search;
}

QString UninstallResolver::Path(const QString& a, qsizetype p)
{
    return Sub(a, p - 1, LastDot(Sub(a, p + 1, a.size())) + 5);
}

bool UninstallResolver::UninstallerExists(const QString& cmd, PathView which)
{
    View& v = view(which);
    const QString command = m_expander.expand(cmd, which);
    if (followsTheRules(command, v))
        return true;
    // A 32-bit entry may also name what a 64-bit program finds under the same reference.
    if (which == PathView::Wow64) {
        const QString native = m_expander.expand(cmd, PathView::Native);
        return native != command && followsTheRules(native, v);
    }
    return false;
}

bool UninstallResolver::followsTheRules(const QString& command, View& view)
{
    const auto Exists = [&view](const QString& path) {
        return view.paths.Exists(path);
    };
    const QString cmd = withoutLongPathPrefix(command);
    if (cmd.isEmpty() || Exists(cmd))
        return true;

    if (cmd.startsWith(QLatin1Char('"'))) {
        const QString q = quotedProgram(cmd);
        if (!q.isEmpty())
            return Exists(q);
    }

    if (cmd.startsWith(u"rundll32", Qt::CaseInsensitive))
        return Exists(WindowsPaths::SystemDir() + QStringLiteral("rundll32.exe")) ||
               Exists(WindowsPaths::WindowsDir() + QStringLiteral("rundll32.exe"));

    if (cmd.startsWith(u"msiexec.exe", Qt::CaseInsensitive))
        return Exists(WindowsPaths::SystemDir() + QStringLiteral("msiexec.exe")) ||
               Exists(WindowsPaths::WindowsDir() + QStringLiteral("msiexec.exe"));

    if (Find(u":\\", cmd) == 2)
        return startsWithDrivePathExists(cmd, view);

    const qsizetype blank = cmd.indexOf(QLatin1Char(' '));
    const QString w = blank < 0 ? cmd : cmd.first(blank);
    return search(view).found(w);
}

// The program must be named by the first ".exe", before any second drive path. Drive paths among the
// arguments are files the uninstaller needs (a log, a script), each cut three characters past its last
// "."; only the first two are examined.
bool UninstallResolver::startsWithDrivePathExists(const QString& cmd, const View& view) const
{
    const auto Exists = [&view](const QString& path) {
        return view.paths.Exists(path);
    };
    const qsizetype length = cmd.size();
    // Letter case ignored in place, so that positions stay those of cmd.
    const qsizetype e = cmd.indexOf(u".exe", 0, Qt::CaseInsensitive) + 1;
    const qsizetype r = Find(u":\\", Sub(cmd, 4, length - 4));
    if (e == 0 || (r != 0 && e >= r + 3))
        return false;

    bool ok = Exists(Sub(cmd, 1, e + 3));
    QString a = withoutQuotes(Sub(cmd, e + 4, length));

    qsizetype p = Find(u":\\", a);
    QString t = Sub(a, p + 1, a.size());
    qsizetype q = Find(u":\\", t);
    if (q == 0) {
        if (p != 0)
            ok = ok && Exists(Path(a, p));
        return ok;
    }

    const QString s = Sub(a, p - 1, q - 1);
    ok = ok && Exists(Sub(s, 1, LastDot(s) + 3));
    a = Sub(a, p + LastDot(s) + 1, a.size());

    p = Find(u":\\", a);
    t = Sub(a, p + 1, a.size());
    q = Find(u":\\", t);
    if (q == 0 && p != 0)
        ok = ok && Exists(Path(a, p));
    return ok;
}
