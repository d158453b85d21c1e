#include "Pictures.h"
#include "TfKestrin.h"
#include "platform/TerminationSignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrin"));
    QApplication::setWindowIcon(Pictures::applicationIcon());

    TfKestrin fKestrin(WinePrefix::fromEnvironment());
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &fKestrin, &QWidget::close);
    fKestrin.show();
    return QApplication::exec();
}
