#include "PrefixEnvironment.h"

#include "inventory/RegistryAccess.h"

#include <QHash>
#include <QSet>

namespace {

const QString systemEnvironmentKey = QStringLiteral("System\\CurrentControlSet\\Control\\Session Manager\\Environment");
const QString userEnvironmentKey = QStringLiteral("Environment");
const QString pathName = QStringLiteral("path"); // case-folded, as the tables below are keyed

struct Variable
{
    QString text;
    bool expandable = false;
};

// Variables by case-folded name: environment names ignore letter case.
using Variables = QHash<QString, Variable>;

Variables readVariables(const WinePrefix& prefix, RegistryRoot root, const QString& key)
{
    Variables variables;
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
    explicit Resolver(QList<const Variables*> layers) : m_layers(std::move(layers)) {}

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
        for (const Variables* layer : std::as_const(m_layers)) {
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
    QList<const Variables*> m_layers;
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
    const Variables system = readVariables(prefix, RegistryRoot::LocalMachine, systemEnvironmentKey);
    Variables user = readVariables(prefix, RegistryRoot::CurrentUser, userEnvironmentKey);

    QString path = Resolver({&system}).valueOf(pathName).value_or(QString());

    // The user's PATH is added to the system's, not put in its place; %PATH% in it is the system's.
    const std::optional<Variable> userPath =
        user.contains(pathName) ? std::optional<Variable>(user.take(pathName)) : std::nullopt;
    if (userPath) {
        const QString expanded = Resolver({&user, &system}).expand(*userPath);
        path = path.isEmpty() ? expanded : path + QLatin1Char(';') + expanded;
    }
    return path;
}
