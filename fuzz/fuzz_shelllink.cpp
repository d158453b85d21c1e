// The shortcut (.lnk) reader over arbitrary file contents. Besides memory safety: a file it refuses
// leaves every field as it was; a file it reads gives texts of at most 260 characters and a show
// command of 1, 3 or 7.
#include "FuzzSupport.h"

#include "formats/ShellLink.h"

#include <QString>

#include <cstdint>

namespace {

ShellLinkInfo sentinel()
{
    ShellLinkInfo info;
    info.LinkFile = QStringLiteral("file");
    info.LinkTarget = QStringLiteral("target");
    info.LinkArguments = QStringLiteral("arguments");
    info.LinkWorkDir = QStringLiteral("work");
    info.LinkDescription = QStringLiteral("description");
    info.LinkIconLocation = QStringLiteral("icon");
    info.LinkIconIndex = -12345;
    info.LinkHotKey = 0xBEEF;
    info.LinkShowCmd = -1;
    info.LinkFindData = {1, 2, 3, 4, 5};
    return info;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const ShellLinkInfo before = sentinel();
    ShellLinkInfo info = before;
    if (!parseShellLink(bytes, info)) {
        check(info == before, "a refused file leaves the fields as they were");
        return 0;
    }
    check(info.LinkFile == before.LinkFile, "the file name is the caller's");
    for (const QString* text :
         {&info.LinkTarget, &info.LinkArguments, &info.LinkWorkDir, &info.LinkDescription, &info.LinkIconLocation})
        check(text->size() <= 260, "texts hold at most 260 characters");
    check(info.LinkShowCmd == 1 || info.LinkShowCmd == 3 || info.LinkShowCmd == 7, "the show command is 1, 3 or 7");
    return 0;
}
