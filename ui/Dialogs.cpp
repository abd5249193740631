#include "ui/Dialogs.h"

#include <sys/utsname.h>

#include <QDesktopServices>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/ApplicationState.h"
#include "ui/Images.h"
#include "ui/Prompts.h"

namespace talmera::ui {

void MakeWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

namespace {
constexpr const char* kToolBoxProperty = "talmeraToolBox";
}  // namespace

void MarkAsToolBox(QWidget* window) {
    if (window) window->setProperty(kToolBoxProperty, true);
}

bool IsToolBox(const QWidget* window) { return window && window->property(kToolBoxProperty).toBool(); }

namespace {

// A box of the tool: a sign on the left, texts on the right, buttons below.
QVBoxLayout* boxLayout(QDialog* dialog, const QPixmap& sign, QHBoxLayout*& buttons) {
    MakeWhite(dialog);
    MarkAsToolBox(dialog);
    auto* outer = new QVBoxLayout(dialog);
    auto* top = new QHBoxLayout;
    auto* picture = new QLabel;
    picture->setPixmap(sign);
    picture->setAlignment(Qt::AlignTop);
    top->addWidget(picture);
    auto* texts = new QVBoxLayout;
    top->addLayout(texts, 1);
    outer->addLayout(top);
    buttons = new QHBoxLayout;
    buttons->addStretch(1);
    outer->addLayout(buttons);
    return texts;
}

QLabel* textLabel(const QString& text, const QString& name) {
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(360);
    return label;
}

}  // namespace

CMessageDialog::CMessageDialog(const QString& upper, const QString& lower, QWidget* parent) : QDialog(parent) {
    setWindowTitle(kProductName);
    QHBoxLayout* buttons = nullptr;
    QVBoxLayout* texts = boxLayout(this, InformationSign(), buttons);
    texts->addWidget(textLabel(upper, "upperText"));
    texts->addWidget(textLabel(lower, "lowerText"));
    auto* ok = new QPushButton("OK");
    ok->setAutoDefault(false);
    buttons->addWidget(ok);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CMyExitStopDialog::CMyExitStopDialog(const QString& upper, const QString& lower, QWidget* parent) : QDialog(parent) {
    setWindowTitle(kProductName);
    QHBoxLayout* buttons = nullptr;
    QVBoxLayout* texts = boxLayout(this, QuestionSign(), buttons);
    texts->addWidget(textLabel(upper, "upperText"));
    texts->addWidget(textLabel(lower, "lowerText"));
    auto* yes = new QPushButton("Yes");
    auto* no = new QPushButton("No");
    yes->setAutoDefault(false);
    no->setAutoDefault(false);
    buttons->addWidget(yes);
    buttons->addWidget(no);
    connect(yes, &QPushButton::clicked, this, [this] { done(kYes); });
    connect(no, &QPushButton::clicked, this, [this] { done(kNo); });
}

FileExistDlg::FileExistDlg(QWidget* parent) : CMyExitStopDialog("File already exists.", "Do you want to overwrite?", parent) {
    setWindowTitle("Overwrite File");
}

CRenameDialog::CRenameDialog(const QString& existing, const QString& proposal, QWidget* parent)
    : QDialog(parent), chosen_(existing) {
    setWindowTitle("New Save Location");
    QHBoxLayout* buttons = nullptr;
    QVBoxLayout* texts = boxLayout(this, InformationSign(), buttons);
    texts->addWidget(new QLabel("File Path :"));
    auto* existingBox = new QLineEdit(existing);
    existingBox->setEnabled(false);
    texts->addWidget(existingBox);
    texts->addWidget(new QLabel("New Save Location :"));
    newBox_ = new QLineEdit(proposal);
    newBox_->setMinimumWidth(480);
    texts->addWidget(newBox_);
    auto* ok = new QPushButton("OK");
    ok->setAutoDefault(false);
    buttons->addWidget(ok);
    connect(ok, &QPushButton::clicked, this, [this] {
        chosen_ = newBox_->text();
        accept();
    });
}

CSaveFilesDlg::CSaveFilesDlg(CQuorvinAccessRecoveryApp& app, bool& newFolderChosen, IPrompts& prompts, QWidget* parent)
    : QDialog(parent), app_(app), newFolderChosen_(newFolderChosen), prompts_(prompts) {
    setWindowTitle("Save At");
    MakeWhite(this);
    MarkAsToolBox(this);
    defaultFolder_ = QString::fromStdString(app_.outputFolder);
    auto* outer = new QVBoxLayout(this);
    auto* group = new QGroupBox(" Select Destination ");
    auto* grid = new QGridLayout(group);
    defaultOption_ = new QRadioButton("&Default Location of File");
    newOption_ = new QRadioButton("Select New Folder");
    pathBox_ = new QLineEdit(defaultFolder_);
    pathBox_->setReadOnly(true);
    pathBox_->setMinimumWidth(420);
    browse_ = new QPushButton(">>");
    browse_->setAutoDefault(false);
    grid->addWidget(defaultOption_, 0, 0, 1, 2);
    grid->addWidget(newOption_, 1, 0, 1, 2);
    grid->addWidget(pathBox_, 2, 0);
    grid->addWidget(browse_, 2, 1);
    outer->addWidget(group);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = new QPushButton("OK");
    auto* cancel = new QPushButton("Cancel");
    ok->setAutoDefault(false);
    cancel->setAutoDefault(false);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addLayout(buttons);

    defaultOption_->setChecked(true);
    browse_->setEnabled(newFolderChosen_);
    connect(defaultOption_, &QRadioButton::clicked, this, &CSaveFilesDlg::OnDefaultLocation);
    connect(newOption_, &QRadioButton::clicked, this, &CSaveFilesDlg::OnSelectNewFolder);
    connect(browse_, &QPushButton::clicked, this, &CSaveFilesDlg::OnBrowse);
    connect(ok, &QPushButton::clicked, this, &CSaveFilesDlg::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CSaveFilesDlg::OnDefaultLocation() {
    defaultOption_->setChecked(true);
    browse_->setEnabled(false);
    pathBox_->setText(defaultFolder_);
    newFolderChosen_ = true;
}

void CSaveFilesDlg::OnSelectNewFolder() {
    newOption_->setChecked(true);
    browse_->setEnabled(true);
    browse_->setFocus();
    OnBrowse();
}

void CSaveFilesDlg::OnBrowse() {
    QString chosen = prompts_.ChooseFolder();
    if (chosen.isEmpty()) {
        defaultOption_->setChecked(true);
    } else if (chosen.size() < 2) {
        // The file system's root alone is refused, as a drive's root is.
        defaultOption_->setChecked(true);
        pathBox_->setText(defaultFolder_);
    } else {
        if (chosen.endsWith('/')) chosen.chop(1);
        pathBox_->setText(chosen);
        app_.outputFolder = chosen.toStdString();
    }
    newFolderChosen_ = true;
}

void CSaveFilesDlg::OnOk() {
    app_.outputFolder = pathBox_->text().toStdString();
    newFolderChosen_ = true;
    accept();
}

QString CAboutDlg::OperatingSystemName() {
    // The distribution's pretty name stands where the system's product name
    // would; a name too short to say anything falls back to the kernel's.
    QString name = QSysInfo::prettyProductName();
    if (name.size() >= 7) return name;
    struct utsname system {};
    if (::uname(&system) != 0) return "Error";
    return QString::fromLocal8Bit(system.sysname);
}

QString CAboutDlg::SystemVersionText() {
    struct utsname system {};
    long major = 0, minor = 0, build = 0;
    if (::uname(&system) == 0) std::sscanf(system.release, "%ld.%ld.%ld", &major, &minor, &build);
    return QString::asprintf("%ld. %ld.%ld", major, minor, build);
}

CAboutDlg::CAboutDlg(const QString& version, const QString& supportAddress, const QString& licenceFile, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("About Quorvin Talmera Access Database Repair");
    MakeWhite(this);
    MarkAsToolBox(this);
    auto* outer = new QVBoxLayout(this);
    auto* product = new QGroupBox("Product Information");
    auto* productGrid = new QGridLayout(product);
    productGrid->addWidget(new QLabel("Product Name          :"), 0, 0);
    productGrid->addWidget(new QLabel(kProductName), 0, 1);
    productGrid->addWidget(new QLabel("Product Version       :"), 1, 0);
    productGrid->addWidget(new QLabel(version), 1, 1);
    outer->addWidget(product);
    auto* system = new QGroupBox("System Information");
    auto* systemGrid = new QGridLayout(system);
    systemGrid->addWidget(new QLabel("Operating System :"), 0, 0);
    systemGrid->addWidget(new QLabel(OperatingSystemName()), 0, 1);
    systemGrid->addWidget(new QLabel("Version     :"), 1, 0);
    systemGrid->addWidget(new QLabel(SystemVersionText()), 1, 1);
    outer->addWidget(system);
    auto* buttons = new QHBoxLayout;
    auto* support = new QLabel("<a href=\"support\">Support</a>");
    support->setCursor(Qt::PointingHandCursor);
    connect(support, &QLabel::linkActivated, this,
            [supportAddress] { QDesktopServices::openUrl(QUrl(supportAddress)); });
    buttons->addWidget(support);
    buttons->addStretch(1);
    auto* licence = new QPushButton("View User License");
    auto* ok = new QPushButton("OK");
    licence->setAutoDefault(false);
    ok->setAutoDefault(false);
    buttons->addWidget(licence);
    buttons->addWidget(ok);
    outer->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(licence, &QPushButton::clicked, this, [this, licenceFile] {
        CLicenceDlg window(licenceFile, this);
        window.exec();
    });
}

CLicenceDlg::CLicenceDlg(const QString& licenceFile, QWidget* parent) : QDialog(parent) {
    setWindowTitle("License Agreement");
    MakeWhite(this);
    MarkAsToolBox(this);
    auto* layout = new QVBoxLayout(this);
    text_ = new QPlainTextEdit;
    text_->setReadOnly(true);
    QFile file(licenceFile);
    text_->setPlainText(file.open(QIODevice::ReadOnly)
                            ? QString::fromUtf8(file.readAll())
                            : QString("The licence text is not installed: it is the file LICENSE of the product (" +
                                      licenceFile + ")."));
    layout->addWidget(text_);
    auto* close = new QPushButton("OK");
    close->setAutoDefault(false);
    layout->addWidget(close);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(600, 480);
}

QString CLicenceDlg::text() const { return text_->toPlainText(); }

CProgressBar::CProgressBar(QStatusBar* statusBar, QLabel* paneText, const QString& caption)
    : QWidget(statusBar), statusBar_(statusBar), paneText_(paneText) {
    previousText_ = paneText_ ? paneText_->text() : QString();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    caption_ = new QLabel(caption);
    bar_ = new QProgressBar;
    bar_->setRange(0, 100);
    refresh_ = new QTimer(this);
    refresh_->setSingleShot(true);
    refresh_->setInterval(100);
    connect(refresh_, &QTimer::timeout, this, [this] {
        bar_->setValue(position_);
        bar_->setVisible(true);
    });
    bar_->setTextVisible(false);
    layout->addWidget(caption_);
    // Four space widths between the caption and the bar.
    layout->addSpacing(Gap());
    layout->addWidget(bar_, 1);
    // The bar takes the pane's place: its height less a tenth above and below.
    const int paneHeight = paneText_ ? paneText_->height() : statusBar->height();
    bar_->setMaximumHeight(std::max(4, paneHeight - 2 * (paneHeight / 10)));
    if (paneText_) paneText_->hide();
    statusBar_->insertWidget(0, this, 1);
    show();
}

CProgressBar::~CProgressBar() { Destroy(); }

int CProgressBar::Gap() const { return QFontMetrics(caption_->font()).horizontalAdvance(QStringLiteral("    ")); }

void CProgressBar::SetRange(int low, int high) {
    bar_->setRange(low, std::max(low, high));
    position_ = low;
    bar_->setValue(low);
    bar_->setVisible(true);
}

void CProgressBar::SetStep(int step) {
    step_ = step;
    bar_->setVisible(true);
}

void CProgressBar::Step() {
    // Like the platform's bar, a step past the end starts again at the beginning.
    int next = position_ + step_;
    if (next > bar_->maximum()) {
        next = bar_->minimum() + (next - bar_->maximum()) % std::max(1, bar_->maximum() - bar_->minimum() + 1);
    }
    position_ = next;
    // Steps come once per row: the bar is drawn a few times a second only.
    if (!refresh_->isActive()) refresh_->start();
}

void CProgressBar::StepBy(long long steps) {
    const long long span = std::max(1, bar_->maximum() - bar_->minimum() + 1);
    long long next = position_ + steps * step_;
    // Like the platform's bar, a step past the end starts again at the beginning.
    if (next > bar_->maximum()) next = bar_->minimum() + (next - bar_->maximum()) % span;
    position_ = int(next);
    if (!refresh_->isActive()) refresh_->start();
}

void CProgressBar::SetPosition(int position) {
    position_ = std::clamp(position, bar_->minimum(), bar_->maximum());
    bar_->setValue(position_);
    bar_->setVisible(true);
}

int CProgressBar::Position() const { return position_; }
int CProgressBar::Maximum() const { return bar_->maximum(); }
QString CProgressBar::Caption() const { return caption_->text(); }

void CProgressBar::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    refresh_->stop();
    hide();
    if (statusBar_) statusBar_->removeWidget(this);
    if (paneText_) {
        paneText_->setText(previousText_.isEmpty() ? QString("Ready") : previousText_);
        paneText_->show();
    }
}

}  // namespace talmera::ui
