// The application object: the shared state of the window and the recovery
// thread, the start-up sequence and the process-wide key filter.
#pragma once

#include <QObject>

#include <memory>

#include "engine/ApplicationState.h"
#include "ui/MainFrame.h"

namespace talmera::ui {

// Sets the shared state to its values at start-up.
void InitialiseState(CQuorvinAccessRecoveryApp& app);

// The product's fixed values: version, web addresses and the data folder.
ProductSettings ReadProductSettings();

// The Microsoft Access version the automation layer detects; empty when none
// (on this platform there is none).
QString DetectAccessVersion();

// Enter presses no button of the tool's own boxes, so that a stray key never
// answers a question such as "Do you want to overwrite?"; elsewhere (the find
// box, menus, file dialogs) it does what it does. Escape closes menus and
// boxes (a question closed so is answered No). Space is left alone, so names
// with spaces can be typed.
class KeyFilter : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

class CQuorvinAccessRecoveryGuiApp {
public:
    CQuorvinAccessRecoveryGuiApp();
    ~CQuorvinAccessRecoveryGuiApp();
    // The start-up sequence; false ends the process.
    // `proposedFile`, when given, is put into the selection dialog's path box.
    bool InitInstance(bool openSelectionDialog = true, const QString& proposedFile = QString());
    CQuorvinAccessRecoveryApp& state() { return state_; }
    CMainFrame* mainFrame() const { return frame_.get(); }

private:
    CQuorvinAccessRecoveryApp state_;
    std::unique_ptr<KeyFilter> keyFilter_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace talmera::ui
