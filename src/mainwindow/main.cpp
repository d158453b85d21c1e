#include "Pictures.h"
#include "TfKestrin.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrin"));
    QApplication::setWindowIcon(Pictures::applicationIcon());

    TfKestrin fKestrin(WinePrefix::fromEnvironment());
    fKestrin.show();
    return QApplication::exec();
}
