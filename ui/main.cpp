// talmera-repair-gui: the window of Quorvin Talmera Access Database Repair.
#include <QApplication>
#include <QStringList>

#include "ui/Application.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    talmera::ui::CQuorvinAccessRecoveryGuiApp app;
    // --no-dialog starts without the selection dialog (screenshots, scripts).
    const bool dialog = !QCoreApplication::arguments().contains("--no-dialog");
    if (!app.InitInstance(dialog)) return 1;
    return QApplication::exec();
}
