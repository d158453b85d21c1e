#include "wine/PrefixWineManagers.h"

#include "wine/ConfigFiles.h"

#include <QDir>
#include <QFileInfo>

namespace PrefixWineManagers {
namespace {

using ConfigFiles::descend;
using ConfigFiles::isProgram;
using ConfigFiles::readKeyValues;
using ConfigFiles::readYaml;
using Node = KeyValuesText::Node;

// A runner folder that ships Proton (GE-Proton and the like) keeps its Wine below dist/ or files/,
// as Bottles finds it: by "proton" in the tool manifest's layer name or command line.
QString bottlesRunnerWine(const QString& runner)
{
    QString base = runner;
    if (const auto manifest = readKeyValues(runner + QStringLiteral("/toolmanifest.vdf"))) {
        const Node* top = descend(*manifest, {u"manifest"});
        if (top && (top->childText(u"compatmanager_layer_name").contains(u"proton") ||
                    top->childText(u"commandline").contains(u"proton"))) {
            if (QFileInfo(runner + QStringLiteral("/dist")).isDir())
                base = runner + QStringLiteral("/dist");
            else if (QFileInfo(runner + QStringLiteral("/files")).isDir())
                base = runner + QStringLiteral("/files");
        }
    }
    return base + QStringLiteral("/bin/wine");
}

} // namespace

std::optional<PrefixWine> bottlesWine(const QString& prefix, const QString& home)
{
    const QString config = prefix + QStringLiteral("/bottle.yml");
    if (!QFileInfo(config).isFile())
        return std::nullopt;
    const auto bottle = readYaml(config);
    if (!bottle || !bottle->IsMap())
        return std::nullopt;
    QString runner, arch;
    try {
        const YAML::Node& top = *bottle;
        if (top["Runner"] && top["Runner"].IsScalar())
            runner = QString::fromStdString(top["Runner"].as<std::string>());
        if (top["Arch"] && top["Arch"].IsScalar())
            arch = QString::fromStdString(top["Arch"].as<std::string>());
    } catch (const YAML::Exception&) {
        return std::nullopt;
    }

    PrefixWine wine;
    wine.source = PrefixWine::Source::Bottles;
    wine.name = runner;
    if (runner.isEmpty() || runner.contains(u'/') || runner == u"." || runner == u"..") {
        wine.problem = QStringLiteral("This bottle names no runner; choose one in the bottle's settings in Bottles.");
        return wine;
    }
    if (runner.startsWith(u"sys-")) {
        // Bottles runs `wine` from the PATH for its system runners, never wine64.
        wine = systemWineOnPath({QStringLiteral("wine")});
        wine.name = runner;
        if (!wine.found()) {
            wine.problem = QStringLiteral("This bottle runs the system's Wine, which was not found. Install Wine, "
                                          "or choose another runner for the bottle in Bottles.");
        }
        return wine;
    }

    // Runners sit beside the bottles folder; a bottle kept in a custom folder uses the installation's.
    QStringList dataRoots{home + QStringLiteral("/.local/share/bottles"),
                          home + QStringLiteral("/.var/app/com.usebottles.bottles/data/bottles")};
    if (QFileInfo(prefix).dir().dirName() == u"bottles")
        dataRoots.prepend(QDir::cleanPath(prefix + QStringLiteral("/../..")));
    for (const QString& root : std::as_const(dataRoots)) {
        const QString folder = root + QStringLiteral("/runners/") + runner;
        if (!QFileInfo(folder).isDir())
            continue;
        const QString program = bottlesRunnerWine(folder);
        // As Bottles does: a 64-bit bottle gets wine64 where the runner has one.
        if (arch == u"win64" && isProgram(program + QStringLiteral("64")))
            wine.program = program + QStringLiteral("64");
        else if (isProgram(program))
            wine.program = program;
        else
            wine.problem = QStringLiteral("This bottle's runner %1 has no wine program at %2; reinstall the runner "
                                          "in Bottles.")
                               .arg(runner, program);
        return wine;
    }
    wine.problem = QStringLiteral("This bottle's runner %1 is not installed; install it in Bottles (Preferences > "
                                  "Runners), or choose another runner for the bottle.")
                       .arg(runner);
    return wine;
}

} // namespace PrefixWineManagers
