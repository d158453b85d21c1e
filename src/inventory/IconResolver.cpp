#include "IconResolver.h"

#include "inventory/PositionText.h"
#include "platform/WindowsPaths.h"

#include <algorithm>
#include <array>

using namespace PositionText;

IconResolver::IconResolver(SystemIconIndexFn systemIconIndex, int ownIconIndex)
    : m_systemIconIndex(std::move(systemIconIndex)), m_ownIconIndex(ownIconIndex)
{}

IconResolver::SystemIconIndexFn IconResolver::throughPrefix(const WindowsPaths& paths,
                                                            std::function<int(const QString& hostFile)> lookup)
{
    return [paths, lookup = std::move(lookup)](const QString& file) {
        const QString host = paths.hostPath(file);
        return WindowsPaths::isHostFile(host) ? lookup(host) : -1;
    };
}

int IconResolver::ProgramIconIndex(const QString& displayIcon, const QString& programPath, const QString& command) const
{
    for (const QString& text : {displayIcon, NormalizeCachePath(programPath), command}) {
        const int index = IconIndexOf(text);
        if (index != -1)
            return index;
    }
    return m_ownIconIndex;
}

int IconResolver::IconIndexOf(const QString& text) const
{
    QString t = text;
    if (text.startsWith(QLatin1Char('"')))
        t = Trim(Sub(text, 2, text.size() - 2));
    const QString f = IconFileOf(t);
    if (f.isEmpty() || !m_systemIconIndex)
        return -1;
    return m_systemIconIndex(f);
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
