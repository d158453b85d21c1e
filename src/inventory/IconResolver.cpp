#include "inventory/IconResolver.h"

#include "inventory/PositionText.h"

#include <algorithm>
#include <array>

using namespace PositionText;

IconResolver::IconResolver(SystemIconIndexFn systemIconIndex, int ownIconIndex, ExpandFn expand)
    : m_systemIconIndex(std::move(systemIconIndex)), m_ownIconIndex(ownIconIndex), m_expand(std::move(expand))
{}

IconResolver::SystemIconIndexFn IconResolver::throughPrefix(const WinePrefix& prefix,
                                                            std::function<int(const QString& hostFile)> lookup,
                                                            const std::shared_ptr<FolderListings>& listings)
{
    return [native = WindowsPaths(prefix, PathView::Native, listings),
            wow64 = WindowsPaths(prefix, PathView::Wow64, listings),
            lookup = std::move(lookup)](const QString& file, PathView view) {
        const QString host = (view == PathView::Wow64 ? wow64 : native).hostFile(file);
        return host.isEmpty() ? -1 : lookup(host);
    };
}

int IconResolver::ProgramIconIndex(const QString& displayIcon, const QString& programPath, const QString& command,
                                   PathView view) const
{
    for (const QString& text : {displayIcon, NormalizeCachePath(programPath), command}) {
        const int index = IconIndexOf(text, view);
        if (index != -1)
            return index;
    }
    return m_ownIconIndex;
}

int IconResolver::IconIndexOf(const QString& text, PathView view) const
{
    if (!m_expand)
        return iconIndexOfExpanded(text, view);
    const QString expanded = m_expand(text, view);
    const int index = iconIndexOfExpanded(expanded, view);
    // A 32-bit entry may also name what a 64-bit program finds under the same reference.
    if (index != -1 || view != PathView::Wow64)
        return index;
    const QString native = m_expand(text, PathView::Native);
    return native == expanded ? -1 : iconIndexOfExpanded(native, view);
}

int IconResolver::iconIndexOfExpanded(const QString& text, PathView view) const
{
    QString t = text;
    if (text.startsWith(QLatin1Char('"')))
        t = Trim(Sub(text, 2, text.size() - 2));
    const QString f = IconFileOf(t);
    if (f.isEmpty() || !m_systemIconIndex)
        return -1;
    return m_systemIconIndex(f, view);
}

QString IconResolver::IconFileOf(const QString& t)
{
    const qsizetype cut = std::max(t.lastIndexOf(QLatin1Char('\\')), t.lastIndexOf(QLatin1Char(':'))) + 1;
    const QString folder = t.first(cut);
    QString name = t.sliced(cut);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QStringView ext = dot < 0 ? QStringView() : QStringView(name).sliced(dot);

    // Exact letter case on purpose: "ico" has no upper-case form here, and mixed forms match nothing.
    static constexpr std::array<QStringView, 7> iconBearing{u"exe", u"EXE", u"dll", u"DLL", u"scr", u"SCR", u"ico"};
    const bool accepted =
        std::any_of(iconBearing.begin(), iconBearing.end(), [&](QStringView kind) { return ext.contains(kind); });
    if (!accepted)
        return QString();

    const qsizetype d = Find(u".", name);
    name = Trim(Sub(name, 1, d + 3));
    return Trim(QString(folder + name));
}

QString IconResolver::NormalizeCachePath(const QString& p)
{
    return p.indexOf(QLatin1Char(':')) == 1 ? p : p.mid(1);
}
