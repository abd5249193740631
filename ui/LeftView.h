// The object tree: everything a scan found, by kind, with three-state check
// boxes that say what Save writes.
#pragma once

#include <QHash>

#include <QStringList>
#include <QTreeWidget>

#include <array>
#include <string>
#include <vector>

namespace talmera {
struct CQuorvinAccessRecoveryApp;
class CMDBRecovery;
struct columnInfo;
struct tableInfo;
struct indexInfo;
struct LinkedTableInfo;
struct queryInfo;
}  // namespace talmera

namespace talmera::ui {

// States of an item's check box (its state image).
enum CheckState { kStateNone = 0, kStateUnchecked = 1, kStateChecked = 2, kStatePartial = 3 };

inline const QStringList kCategoryNames = {"Tables", "Linked Tables", "Queries", "Forms", "Reports", "Macros", "Modules"};

// One relation as the tree shows it (the fields of the engine's RelationInfo).
struct RelationView {
    std::string relationName, tableName, foreignTableName, foreignColumnName, columnName;
};

// The engine's relations, when the engine reads them (an engine without a
// relation list of these fields has none to show).
template <typename Engine>
std::vector<RelationView> RelationsOf(const Engine& engine) {
    std::vector<RelationView> list;
    if constexpr (requires(const Engine& e) {
                      std::string(e.relations.begin()->relationName);
                      std::string(e.relations.begin()->tableName);
                      std::string(e.relations.begin()->foreignTableName);
                      std::string(e.relations.begin()->foreignColumnName);
                      std::string(e.relations.begin()->columnName);
                  }) {
        for (const auto& r : engine.relations) {
            list.push_back({std::string(r.relationName), std::string(r.tableName), std::string(r.foreignTableName),
                            std::string(r.foreignColumnName), std::string(r.columnName)});
        }
    }
    return list;
}

// The column's type code as shown: a calculated column's result type.
int ColumnDisplayType(const columnInfo& column);
// The four cells of a column's row in "Column Information".
std::array<QString, 4> ColumnInformationRow(const columnInfo& column, bool newTypeNames);

// Texts of the details pane (lines end in CR LF).
QString LinkedTableText(const LinkedTableInfo& link);
QString QueryText(const queryInfo& query);
QString IndexText(const tableInfo& table, const indexInfo& index, const QString& indexName);
QString RelationText(const RelationView& relation);

class CLeftView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kNodeRole = Qt::UserRole;
    static constexpr int kStateRole = Qt::UserRole + 1;

    CLeftView(CQuorvinAccessRecoveryApp& app, QWidget* parent = nullptr);

    QTreeWidgetItem* Root() const { return topLevelItemCount() ? topLevelItem(0) : nullptr; }
    // Empties the tree and inserts the root with `text`.
    void ResetRoot(const QString& text);
    // Fills the tree from the engine. False (and nothing changed) when the
    // engine found nothing at all.
    bool BuildTree(const CMDBRecovery& engine, const QString& currentPath);
    // One object saved (its place in the selection of the kind being saved).
    // At the end of a whole save (engine.savingDone) the objects still checked
    // were tried and not saved: they lose their check too, so that a second
    // Save cannot replace the good output with one of them alone, and are
    // marked "Not saved"; their names ("Forms/Order Form") are returned.
    QStringList MarkSaved(int index, const CMDBRecovery& engine);
    void CollectSelection();
    int RootCheckState() const;

    static int State(const QTreeWidgetItem* item);
    static void SetState(QTreeWidgetItem* item, int state);
    static int Image(const QTreeWidgetItem* item);

    // A click on the item's check box.
    void OnCheckClick(QTreeWidgetItem* item);
    // A click on the item's text: selects it (unless the tree is locked) and
    // tells the window.
    void OnTextClick(QTreeWidgetItem* item);
    // Selects an item by the program (not vetoed while a run is in progress).
    void SelectItem(QTreeWidgetItem* item);
    // While a preview runs the tree stays usable: a click on another object
    // ends the preview and shows that object (other runs hold the tree).
    void SetPreviewRunning(bool running) { previewRunning_ = running; }
    // Marks the tables with losses (name to the losses in words): red, with
    // the losses as tooltip.
    void MarkLosses(const QHash<QString, QString>& losses);
    // Clicks and keys are ignored now.
    bool Locked() const;

    // Find in the tree: the next item after the selection whose text holds
    // `text`; none when there is no further one.
    QTreeWidgetItem* FindItem(const QString& text, bool matchCase, bool forward, bool wholeWord);
    QTreeWidgetItem* startItem = nullptr;

    // The item after `item` in pre-order (children first), or none.
    static QTreeWidgetItem* NextItem(QTreeWidgetItem* item);

signals:
    void itemTextClicked(QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;

private:
    QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const QString& text, int image, int state);
    QTreeWidgetItem* Category(const QString& text) const;
    static int ComputeFromChildren(const QTreeWidgetItem* item);
    QRect CheckRect(const QModelIndex& index) const;
    QRect TextRect(const QModelIndex& index) const;

    CQuorvinAccessRecoveryApp& app_;
    bool previewRunning_ = false;
};

}  // namespace talmera::ui
