#include "ui/Application.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSettings>
#include <QTimer>

#include "platform/TextCodec.h"
#include "ui/Dialogs.h"

namespace talmera::ui {

void InitialiseState(CQuorvinAccessRecoveryApp& app) {
    app.idle = true;
    app.worker = nullptr;
    app.engine.reset();
    app.stopRequested = false;
    app.treeLocked = false;
    app.outputCreated = false;
    app.saveSucceeded = false;
    app.includeDeletedRecords = false;
    app.rescan = false;
    app.invalidFile = false;
    app.accessNewTypeNames = false;
    app.previewMode = true;
    app.scanRun = true;
    app.selectedPath.clear();
    app.savedPath.clear();
    app.tableCount = app.queryCount = app.formCount = app.reportCount = app.macroCount = app.moduleCount = 0;
    app.tempFolder = QDir::tempPath().left(260).toStdString();
}

ProductSettings ReadProductSettings() {
    ProductSettings settings;
    settings.version = TALMERA_VERSION;
    // Installed, the help document and the licence lie in the data folder
    // beside the program's; in the build tree, in the sources.
    const QString installed = QCoreApplication::applicationDirPath() + "/../" TALMERA_INSTALL_DATA_DIR;
    settings.installFolder = QFileInfo::exists(installed + "/LICENSE") ? QDir(installed).canonicalPath()
                                                                       : QString(TALMERA_DATA_DIR);
    settings.supportTicket = "https://www.quorvin.example/talmera/support/ticket";
    settings.supportLink = "https://www.quorvin.example/talmera/support";
    settings.knowledgebase = "https://www.quorvin.example/talmera/kb";
    return settings;
}

QString DetectAccessVersion() { return QString(); }

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const auto* widget = qobject_cast<const QWidget*>(watched);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && widget && IsToolBox(widget->window())) {
            event->accept();
            return event->type() == QEvent::KeyPress;
        }
    }
    return QObject::eventFilter(watched, event);
}

CQuorvinAccessRecoveryGuiApp::CQuorvinAccessRecoveryGuiApp() = default;

CQuorvinAccessRecoveryGuiApp::~CQuorvinAccessRecoveryGuiApp() {
    frame_.reset();
    if (keyFilter_) qApp->removeEventFilter(keyFilter_.get());
}

bool CQuorvinAccessRecoveryGuiApp::InitInstance(bool openSelectionDialog, const QString& proposedFile) {
    QCoreApplication::setOrganizationName("Quorvin Data Recovery");
    QCoreApplication::setApplicationName(kProductName);
    QCoreApplication::setApplicationVersion(TALMERA_VERSION);
    keyFilter_ = std::make_unique<KeyFilter>();
    qApp->installEventFilter(keyFilter_.get());

    InitialiseState(state_);
    // The code page of Access 97 texts, as the user last chose it.
    const unsigned codePage = QSettings().value("CodePage", 1252).toUInt();
    state_.codePage = codePageName(codePage);

    frame_ = std::make_unique<CMainFrame>(state_, ReadProductSettings(), nullptr);
    frame_->setWindowTitle(kProductName);

    // Access is looked for through the automation layer. Without it, forms,
    // reports, macros and modules cannot be copied, but saving works.
    const QString access = DetectAccessVersion();
    state_.accessMissing = access.isEmpty();
    state_.accessNewTypeNames = access == "15" || access == "16";

    if (!proposedFile.isEmpty()) frame_->ProposeFile(QFileInfo(proposedFile).absoluteFilePath());
    frame_->showMaximized();
    if (openSelectionDialog) QTimer::singleShot(0, frame_.get(), &CMainFrame::OnFileOpen);
    return true;
}

}  // namespace talmera::ui
