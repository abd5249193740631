// talmera-repair-gui: the window of Quorvin Talmera Access Database Repair.
#include <QApplication>
#include <QStringList>

#include "ui/Application.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    talmera::ui::CQuorvinAccessRecoveryGuiApp app;
    // A file named on the command line is proposed in the selection dialog;
    // --no-dialog starts without the dialog.
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const bool dialog = !arguments.removeAll("--no-dialog");
    if (!app.InitInstance(dialog, arguments.isEmpty() ? QString() : arguments.first())) return 1;
    return QApplication::exec();
}
