// The message log: the "Log Report" pane at the bottom of the window, and the
// log report file it is saved as.
#pragma once

#include <QByteArray>
#include <QDockWidget>
#include <QListWidget>
#include <QString>

namespace talmera::ui {

inline const QString kLogHeader = QStringLiteral(
    "Quorvin Talmera Access Database Repair...... Repairs Corrupted MS Access Database File..... Log Report");
inline const QString kLogDefaultName = QStringLiteral("QuorvinTalmeraAccessDatabaseRepair.log");

// The chosen report name with ".log" appended unless it ends in it (in any case).
QString LogReportPath(const QString& chosen);

class COutputList : public QListWidget {
    Q_OBJECT
public:
    explicit COutputList(QWidget* parent = nullptr);
};

class COutputWnd : public QDockWidget {
    Q_OBJECT
public:
    explicit COutputWnd(QWidget* parent = nullptr);

    // Appends a line and selects it, so that the list shows it.
    void AddLogLine(const QString& text);
    // Only the header line stays.
    void ClearLog();
    // Every line, each followed by CR LF.
    QString GetLogText() const;
    // The report file's bytes: GetLogText() as UTF-16 little-endian, no byte-order mark.
    QByteArray GetLogBytes() const;
    COutputList* list() const { return list_; }

private:
    COutputList* list_;
};

}  // namespace talmera::ui
