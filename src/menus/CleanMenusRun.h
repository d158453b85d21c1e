#pragma once

#include <QStringList>

class QTextStream;
class WinePrefix;
struct WineMenuFolders;

// "kestrin --clean-menus [/f]": lists the stale menu entries of the prefix, each with why it is stale
// and its files, and with "/f" (any letter case) removes them into the entry trash. Needs no display.
// `arguments` are those after "--clean-menus". Returns the exit status: 0 when done or when there is
// nothing to do, 1 for a bad argument or a failure, whose message goes to `errors`.
int runCleanMenus(const QStringList& arguments, const WinePrefix& prefix, const WineMenuFolders& folders,
                  QTextStream& output, QTextStream& errors);
