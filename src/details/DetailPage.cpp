#include "details/DetailPage.h"

#include "base/KestrinError.h"
#include "inventory/RegistryAccess.h"
#include "inventory/Texts.h"

#include <QDate>

#include <array>

namespace {

constexpr int RowStep = 20;

// The order of day, month and year in the locale's short date, and its separator.
struct ShortDate
{
    std::array<char, 3> order{'M', 'd', 'y'};
    QChar separator = u'/';
};

ShortDate shortDateOf(const QLocale& locale)
{
    ShortDate convention;
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    int filled = 0;
    bool separatorSeen = false;
    QChar previous;
    for (const QChar c : format) {
        const char letter = c == u'd' ? 'd' : c == u'M' ? 'M' : c == u'y' ? 'y' : 0;
        if (letter != 0) {
            if (c != previous && filled < 3)
                convention.order[size_t(filled++)] = letter;
        } else if (!separatorSeen && !c.isLetter() && c != u'\'') {
            convention.separator = c;
            separatorSeen = true;
        }
        previous = letter != 0 ? c : QChar();
    }
    return convention;
}

bool isInteger32(const QString& text)
{
    bool ok = false;
    text.toInt(&ok, 10);
    return ok;
}

} // namespace

QString installDateText(const QString& stored, const QLocale& locale)
{
    if (!isInteger32(stored))
        return stored;
    // Stored as year, month, day; rearranged into month/day/year and read by the locale's rules, which
    // are not month-first everywhere: a day-first locale reads the same text with day and month swapped.
    const QString rearranged = stored.mid(4, 2) + u'/' + stored.right(2) + u'/' + stored.left(4);
    const ShortDate convention = shortDateOf(locale);
    const QStringList parts = rearranged.split(convention.separator);
    if (parts.size() != 3)
        return stored;
    int day = 0, month = 0, year = 0;
    for (size_t i = 0; i < 3; ++i) {
        bool ok = false;
        const int number = parts[qsizetype(i)].toInt(&ok, 10);
        if (!ok || parts[qsizetype(i)].isEmpty() || !parts[qsizetype(i)].front().isDigit())
            return stored;
        (convention.order[i] == 'd' ? day : convention.order[i] == 'M' ? month : year) = number;
    }
    const QDate date(year, month, day);
    if (!date.isValid())
        return stored;
    const QString sep(convention.separator);
    return QStringLiteral("%1%2%3%2%4")
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(date.year(), 4, 10, QLatin1Char('0'));
}

namespace {

class PageBuilder
{
public:
    explicit PageBuilder(RegistryAccess& registry) : m_registry(registry) {}

    void add(const QString& caption, const QString& text, DetailRow::Click click = DetailRow::Click::None)
    {
        m_page.rows.append({caption, text, click, m_top});
        m_top += RowStep;
    }
    void blankLine() { m_top += RowStep; }

    // Strings show their text, non-zero integers their decimal text (never a link); the rest nothing.
    void addField(const CatalogueField& field, DetailRow::Click click)
    {
        switch (m_registry.GetDataType(field.valueName)) {
        case RegDataType::String:
        case RegDataType::ExpandString:
            if (const QString text = m_registry.ReadString(field.valueName); !text.isEmpty())
                add(field.label, text, click);
            break;
        case RegDataType::Integer:
            if (const int number = m_registry.ReadInteger(field.valueName); number != 0)
                add(field.label, QString::number(number));
            break;
        default:
            break;
        }
    }

    DetailPage& page() { return m_page; }

private:
    RegistryAccess& m_registry;
    DetailPage m_page;
    int m_top = RowStep;
};

} // namespace

DetailPage buildDetailPage(const WinePrefix& prefix, const InstalledProgram& program, bool ntFamily,
                           const QLocale& locale)
{
    using namespace FieldCatalogue;
    RegistryAccess registry(prefix);
    registry.RootKey(program.Root);
    PageBuilder page(registry);
    if (!registry.OpenKeyReadOnly(program.KeyPath))
        return std::move(page.page());
    try {
        page.add(sLabelProgramName, registry.ReadString(ValueName::DisplayName));
        if (ntFamily) {
            for (const auto& [caption, text] :
                 {std::pair{sLabelSize, program.Size}, std::pair{sLabelUsed, program.Frequency},
                  std::pair{sLabelLastUsed, program.LastUsed}}) {
                if (!text.isEmpty())
                    page.add(caption, text);
            }
        }
        const CatalogueField& installDate = SetupFields[SetupInstallDate];
        const RegDataType dateType = registry.GetDataType(installDate.valueName);
        if (dateType == RegDataType::String || dateType == RegDataType::ExpandString) {
            if (const QString text = registry.ReadString(installDate.valueName); !text.isEmpty())
                page.add(installDate.label, installDateText(text, locale));
        }
        page.blankLine();

        for (size_t i = 0; i < SupportFields.size(); ++i)
            page.addField(SupportFields[i], i >= 4 && i <= 7 ? DetailRow::Click::Open : DetailRow::Click::None);
        page.blankLine();

        for (size_t i = 0; i < ListedSetupFieldCount; ++i) {
            const DetailRow::Click click = i <= 1   ? DetailRow::Click::Run
                                           : i >= 4 ? DetailRow::Click::Open
                                                    : DetailRow::Click::None;
            page.addField(SetupFields[i], click);
        }

        const CatalogueField& installer = SetupFields[SetupInstallProgram];
        QString installerText;
        switch (registry.GetDataType(installer.valueName)) {
        case RegDataType::Integer:
            installerText = QString::number(registry.ReadInteger(installer.valueName));
            break;
        case RegDataType::String:
        case RegDataType::ExpandString:
            installerText = registry.ReadString(installer.valueName);
            break;
        default:
            break;
        }
        if (installerText == QStringLiteral("1"))
            page.add(installer.label, QStringLiteral("Windows Installer"));
    } catch (const KestrinError& error) {
        page.page().error = error.message();
    }
    return std::move(page.page());
}
