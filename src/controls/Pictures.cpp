#include "controls/Pictures.h"

#include <QString>

#include <array>

using namespace Qt::StringLiterals;

// The PNGs are rendered from the SVG drawings beside them (scripts/render-pictures.sh) and
// compiled into the program, so no picture can go missing at run time.
namespace Pictures {

namespace {

QPixmap load(QLatin1StringView file)
{
    if (file.isEmpty())
        return {};
    // QPixmap's file constructor goes through QPixmapCache, so each picture is decoded once.
    return QPixmap(u":/pictures/"_s + file);
}

} // namespace

QPixmap interfacePicture(Interface index)
{
    static constexpr std::array<QLatin1StringView, 8> files = {
        "toolbar-uninstall.png"_L1, "toolbar-delete.png"_L1, "toolbar-details.png"_L1, "toolbar-audit.png"_L1,
        "toolbar-help.png"_L1,      "note-found.png"_L1,     "note-missing.png"_L1,    "toolbar-updates.png"_L1,
    };
    const auto i = static_cast<std::size_t>(index);
    return i < files.size() ? load(files[i]) : QPixmap();
}

QPixmap picture(Picture index)
{
    // The uninstall window also shows 3 (the program has gone) and 4 (the question before
    // uninstalling); there is no picture 2.
    static constexpr std::array<QLatin1StringView, 5> files = {
        "window-uninstall.png"_L1, "window-remove.png"_L1,   QLatin1StringView(),
        "window-done.png"_L1,      "window-question.png"_L1,
    };
    const auto i = static_cast<std::size_t>(index);
    return i < files.size() ? load(files[i]) : QPixmap();
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(u":/pictures/kestrin-%1.png"_s.arg(size), QSize(size, size));
    return icon;
}

} // namespace Pictures
