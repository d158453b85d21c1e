#include "wine/PrefixWine.h"

#include "wine/ConfigFiles.h"
#include "wine/PrefixWineManagers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>

namespace {

using ConfigFiles::isProgram;

constexpr int VersionTimeoutMs = 2000;

QString notFoundText()
{
    return QStringLiteral("Wine was not found. Install Wine, or set WINELOADER to the wine program.");
}

std::optional<PrefixWine> loaderWine()
{
    const QString loader = qEnvironmentVariable("WINELOADER");
    if (loader.isEmpty())
        return std::nullopt;
    PrefixWine wine;
    wine.source = PrefixWine::Source::Loader;
    if (loader.contains(u'/')) {
        const QFileInfo info(loader);
        if (isProgram(info.filePath()))
            wine.program = info.absoluteFilePath();
    } else {
        wine.program = QStandardPaths::findExecutable(loader);
    }
    if (wine.program.isEmpty()) {
        wine.problem = QStringLiteral("WINELOADER names %1, which is not there or cannot be run. Set WINELOADER to "
                                      "the wine program, or unset it.")
                           .arg(loader);
    }
    return wine;
}

// "8.0" from "wine-8.0 (Debian 8.0~repack-4)"; empty when the program does not answer in time.
QString askVersion(const QString& program)
{
    if (!isProgram(program))
        return {};
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--version")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const QDeadlineTimer deadline(VersionTimeoutMs);
    process.start();
    if (!process.waitForStarted(int(deadline.remainingTime())) ||
        !process.waitForFinished(int(std::max<qint64>(deadline.remainingTime(), 0)))) {
        process.kill();
        process.waitForFinished(200);
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

} // namespace

PrefixWine PrefixWineManagers::systemWineOnPath(const QStringList& names)
{
    PrefixWine wine;
    for (const QString& name : names) {
        wine.program = QStandardPaths::findExecutable(name);
        if (!wine.program.isEmpty())
            return wine;
    }
    wine.problem = notFoundText();
    return wine;
}

PrefixWine PrefixWine::forPrefix(const QString& prefixPath, const QString& home)
{
    if (auto loader = loaderWine())
        return *loader;
    const QString homeFolder = QDir::cleanPath(home.isEmpty() ? QDir::homePath() : home);
    // The path as given, not resolved: a Steam prefix is known by where it sits.
    const QString prefix = QDir::cleanPath(QDir(prefixPath).absolutePath());
    using namespace PrefixWineManagers;
    for (const auto& rule : {bottlesWine, lutrisWine, steamWine, heroicWine}) {
        if (auto wine = rule(prefix, homeFolder))
            return *wine;
    }
    return systemWine();
}

PrefixWine PrefixWine::systemWine()
{
    if (auto loader = loaderWine())
        return *loader;
    return PrefixWineManagers::systemWineOnPath({QStringLiteral("wine"), QStringLiteral("wine64")});
}

QString PrefixWine::versionOf(const QString& program)
{
    static const QRegularExpression version(QStringLiteral("^wine-(\\S+)"));
    const QRegularExpressionMatch match = version.match(versionTextOf(program));
    return match.hasMatch() ? match.captured(1) : QString();
}

QString PrefixWine::versionTextOf(const QString& program)
{
    if (program.isEmpty())
        return {};
    static QMutex mutex;
    static QHash<QString, std::shared_future<QString>> answers;
    std::promise<QString> promise;
    std::shared_future<QString> answer;
    bool ask = false;
    {
        const QMutexLocker lock(&mutex);
        const auto it = answers.constFind(program);
        if (it != answers.constEnd()) {
            answer = *it;
        } else {
            answer = promise.get_future().share();
            answers.insert(program, answer);
            ask = true;
        }
    }
    if (ask)
        promise.set_value(askVersion(program));
    // Another thread is asking: wait for its answer, never longer than one question takes.
    if (answer.wait_for(std::chrono::milliseconds(VersionTimeoutMs + 500)) != std::future_status::ready)
        return {};
    return answer.get();
}

QString PrefixWine::label() const
{
    switch (source) {
    case Source::Loader:
    case Source::System: {
        const QString version = versionOf(program);
        const QString wine = version.isEmpty() ? QStringLiteral("Wine") : QStringLiteral("Wine ") + version;
        if (source == Source::Loader)
            return wine + QStringLiteral(" (WINELOADER)");
        return name.isEmpty() ? wine + QStringLiteral(" (system)")
                              : wine + QStringLiteral(" (system, runner %1)").arg(name);
    }
    case Source::Bottles:
        return QStringLiteral("Bottles runner ") + name;
    case Source::Lutris:
        return QStringLiteral("Lutris runner ") + name;
    case Source::Steam:
        return name;
    case Source::Heroic:
        return QStringLiteral("Heroic: ") + name;
    }
    return name;
}

QString PrefixWine::shownLabel() const
{
    if (found())
        return label();
    // A build that a manager names is still the one that must run, installed or not.
    return source == Source::System || name.isEmpty() ? QStringLiteral("no Wine found")
                                                      : label() + QStringLiteral(", not installed");
}
