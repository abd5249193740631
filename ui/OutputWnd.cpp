#include "ui/OutputWnd.h"

#include <QStringEncoder>

namespace talmera::ui {

QString LogReportPath(const QString& chosen) {
    if (chosen.size() >= 4 && chosen.right(4).compare(".log", Qt::CaseInsensitive) == 0) return chosen;
    return chosen + ".log";
}

COutputList::COutputList(QWidget* parent) : QListWidget(parent) {
    setSortingEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUniformItemSizes(true);
}

COutputWnd::COutputWnd(QWidget* parent) : QDockWidget("Log Report", parent) {
    setObjectName("LogReport");
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    list_ = new COutputList(this);
    setWidget(list_);
    list_->setMinimumSize(120, 120);
    AddLogLine(kLogHeader);
}

void COutputWnd::AddLogLine(const QString& text) {
    list_->addItem(text);
    list_->setCurrentRow(list_->count() - 1);
}

void COutputWnd::ClearLog() {
    list_->clear();
    AddLogLine(kLogHeader);
}

QString COutputWnd::GetLogText() const {
    QString text;
    for (int i = 0; i < list_->count(); ++i) {
        text += list_->item(i)->text();
        text += QStringLiteral("\r\n");
    }
    return text;
}

QByteArray COutputWnd::GetLogBytes() const {
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
    return encoder.encode(GetLogText());
}

}  // namespace talmera::ui
