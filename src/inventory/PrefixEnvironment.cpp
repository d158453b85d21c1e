#include "inventory/PrefixEnvironment.h"

#include "base/KestrinError.h"
#include "inventory/RegistryAccess.h"

#include <QHash>
#include <QSet>

namespace {

const QString systemEnvironmentKey = QStringLiteral("System\\CurrentControlSet\\Control\\Session Manager\\Environment");
const QString userEnvironmentKey = QStringLiteral("Environment");
const QString currentVersionKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion");
const QString pathName = QStringLiteral("path"); // case-folded, as the tables below are keyed

using Variable = PrefixEnvironment::Variables::Variable;
using Table = PrefixEnvironment::Variables::Table;

Table readVariables(const WinePrefix& prefix, RegistryRoot root, const QString& key)
{
    Table variables;
    RegistryAccess registry(prefix);
    registry.RootKey(root);
    if (!registry.OpenKeyReadOnly(key))
        return variables;
    QStringList names;
    registry.GetValueNames(names);
    for (const QString& name : std::as_const(names)) {
        const auto value = registry.readValue(name);
        if (value && (value->type == RegType::Sz || value->type == RegType::ExpandSz))
            variables.insert(name.toCaseFolded(), Variable{value->toText(), value->type == RegType::ExpandSz});
    }
    return variables;
}

// Looks names up in the layers in order, then in Wine's defaults. An expandable value is expanded in
// turn; a name that refers back to itself stays unexpanded rather than looping.
class Resolver
{
public:
    explicit Resolver(QList<const Table*> layers) : m_layers(std::move(layers)) {}

    QString expand(const Variable& variable)
    {
        if (!variable.expandable)
            return variable.text;
        return PrefixEnvironment::expandReferences(variable.text,
                                                   [this](const QString& name) { return valueOf(name); });
    }

    std::optional<QString> valueOf(const QString& name)
    {
        const QString folded = name.toCaseFolded();
        if (m_active.contains(folded))
            return std::nullopt;
        for (const Table* layer : std::as_const(m_layers)) {
            const auto it = layer->constFind(folded);
            if (it != layer->cend()) {
                m_active.insert(folded);
                QString value = expand(*it);
                m_active.remove(folded);
                return value;
            }
        }
        if (folded == u"systemroot" || folded == u"windir")
            return QStringLiteral("C:\\windows");
        return std::nullopt;
    }

private:
    QList<const Table*> m_layers;
    QSet<QString> m_active;
};

} // namespace

QString PrefixEnvironment::expandReferences(const QString& text,
                                            const std::function<std::optional<QString>(const QString&)>& lookup)
{
    QString result;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('%'), i);
        if (open < 0) {
            result += QStringView(text).sliced(i);
            break;
        }
        result += QStringView(text).sliced(i, open - i);
        const qsizetype close = text.indexOf(QLatin1Char('%'), open + 1);
        if (close < 0) {
            result += QStringView(text).sliced(open);
            break;
        }
        if (const auto value = lookup(text.sliced(open + 1, close - open - 1))) {
            result += *value;
            i = close + 1;
        } else {
            result += QStringView(text).sliced(open, close - open);
            i = close;
        }
    }
    return result;
}

QString PrefixEnvironment::searchPath(const WinePrefix& prefix)
{
    const Table system = readVariables(prefix, RegistryRoot::LocalMachine, systemEnvironmentKey);
    Table user = readVariables(prefix, RegistryRoot::CurrentUser, userEnvironmentKey);

    QString path = Resolver({&system}).valueOf(pathName).value_or(QString());

    // The user's PATH is added to the system's, not put in its place; %PATH% in it is the system's.
    const std::optional<Variable> userPath =
        user.contains(pathName) ? std::optional<Variable>(user.take(pathName)) : std::nullopt;
    if (userPath) {
        const QString expanded = Resolver({&user, &system}).expand(*userPath);
        path = path.isEmpty() ? expanded : path + QLatin1Char(';') + expanded;
    }

    // Wine puts the folders of WINEPATH in front of every program's PATH.
    const QString winePath = qEnvironmentVariable("WINEPATH");
    if (!winePath.isEmpty())
        path = path.isEmpty() ? winePath : winePath + QLatin1Char(';') + path;
    return path;
}

PrefixEnvironment::Variables::Variables(const WinePrefix& prefix, PathView view)
    : m_user(readVariables(prefix, RegistryRoot::CurrentUser, userEnvironmentKey)),
      m_system(readVariables(prefix, RegistryRoot::LocalMachine, systemEnvironmentKey))
{
    // The program folders come from the machine's CurrentVersion key, not from the environment keys.
    const Table folders = readVariables(prefix, RegistryRoot::LocalMachine, currentVersionKey);
    const auto folder = [&](const QString& name, const QString& fallback) {
        const auto it = folders.constFind(name.toCaseFolded());
        return it != folders.cend() && !it->text.isEmpty() ? it->text : fallback;
    };
    const QString programFiles = folder(QStringLiteral("ProgramFilesDir"), QStringLiteral("C:\\Program Files"));
    const QString programFiles32 =
        folder(QStringLiteral("ProgramFilesDir (x86)"), QStringLiteral("C:\\Program Files (x86)"));
    const QString commonFiles =
        folder(QStringLiteral("CommonFilesDir"), QStringLiteral("C:\\Program Files\\Common Files"));
    const QString commonFiles32 =
        folder(QStringLiteral("CommonFilesDir (x86)"), QStringLiteral("C:\\Program Files (x86)\\Common Files"));
    const bool wow64 = view == PathView::Wow64;
    const QList<std::pair<QString, QString>> wine{
        {QStringLiteral("programfiles"), wow64 ? programFiles32 : programFiles},
        {QStringLiteral("commonprogramfiles"), wow64 ? commonFiles32 : commonFiles},
        {QStringLiteral("programfiles(x86)"), programFiles32},
        {QStringLiteral("commonprogramfiles(x86)"), commonFiles32},
        {QStringLiteral("programw6432"), programFiles},
        {QStringLiteral("commonprogramw6432"), commonFiles},
        {QStringLiteral("systemdrive"), QStringLiteral("C:")},
        {QStringLiteral("programdata"), QStringLiteral("C:\\ProgramData")},
        {QStringLiteral("allusersprofile"), QStringLiteral("C:\\ProgramData")},
    };
    for (const auto& [name, value] : wine)
        m_wine.insert(name, Variable{value, false});
}

QString PrefixEnvironment::Variables::expand(const QString& text) const
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    // Wine sets its folders over whatever the keys say; the user's values hide the machine's.
    Resolver resolver({&m_wine, &m_user, &m_system});
    return expandReferences(text, [&resolver](const QString& name) { return resolver.valueOf(name); });
}

QString PrefixEnvironment::Expander::expand(const QString& text, PathView view)
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    const size_t i = view == PathView::Wow64 ? 1 : 0;
    if (!m_variables[i] && !m_unreadable[i]) {
        try {
            m_variables[i].emplace(m_prefix, view);
        } catch (const KestrinError&) {
            m_unreadable[i] = true;
        }
    }
    return m_variables[i] ? m_variables[i]->expand(text) : text;
}
