#include "ui/LeftView.h"

#include <QColor>
#include <QKeyEvent>
#include <functional>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "ui/Images.h"

namespace talmera::ui {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString q(const std::string& text) { return QString::fromStdString(text); }

bool sameIgnoringCase(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Letters A to Z lower-cased, nothing else: the find bar's comparison.
QString lowerAsciiLetters(QString text) {
    for (QChar& c : text) {
        if (c >= QChar('A') && c <= QChar('Z')) c = QChar(c.unicode() + 32);
    }
    return text;
}

bool isWordCharacter(QChar c) {
    return (c >= QChar('a') && c <= QChar('z')) || (c >= QChar('A') && c <= QChar('Z')) || c == QChar('_');
}

}  // namespace

int ColumnDisplayType(const columnInfo& column) {
    int type = column.type;
    if (column.isCalculated) {
        for (const columnProperties& property : column.properties) {
            if (property.name != "ResultType") continue;
            bool ok = false;
            const int result = QString::fromStdString(property.value).trimmed().toInt(&ok);
            if (ok) type = result;
            break;
        }
    }
    return type;
}

std::array<QString, 4> ColumnInformationRow(const columnInfo& column, bool newTypeNames) {
    const int type = ColumnDisplayType(column);
    QString dataType, description, size;
    int bytes = -1;
    switch (type) {
        case 1: dataType = description = "Yes/No"; bytes = 1; break;
        case 2: dataType = "Number"; description = "Byte"; bytes = 1; break;
        case 3: dataType = "Number"; description = "Integer"; bytes = 2; break;
        case 4:
            if (column.isAutoNumber) {
                dataType = description = "Auto Number";
            } else {
                dataType = "Number";
                description = "Long Integer";
            }
            bytes = 4;
            break;
        case 5: dataType = description = "Currency"; bytes = 8; break;
        case 6: dataType = "Number"; description = "Single"; bytes = 4; break;
        case 7: dataType = "Number"; description = "Double"; bytes = 8; break;
        case 8: dataType = description = "Date/Time"; bytes = 8; break;
        case 9: dataType = "Number"; description = "Binary"; size = " "; break;
        case 10: dataType = description = newTypeNames ? "Short Text" : "Text"; bytes = column.length / 2; break;
        case 11: dataType = description = "Ole Object"; size = "Up to 1 gigabyte"; break;
        case 12:
            dataType = description = column.isHyperlink ? "HyperLink" : (newTypeNames ? "Long Text" : "Memo");
            size = "Up to 64,000 characters";
            break;
        case 15: dataType = "Number"; description = "Replication ID"; bytes = 16; break;
        case 16: dataType = "Number"; description = "Decimal"; bytes = 12; break;
        case 18: dataType = description = "Attachment"; bytes = 4; break;
        default: dataType = description = "Memo"; size = "Up to 64,000 characters"; break;
    }
    if (bytes >= 0) size = QString::number(bytes) + (type == 1 ? " bit" : " bytes");
    if (column.isCalculated) dataType = "Calculated";
    return {q(column.name), dataType, description, size};
}

QString LinkedTableText(const LinkedTableInfo& link) {
    return " Linked table             -    " + q(link.linkName) + kCrLf + kCrLf + " External file path     -    " +
           q(link.databasePath) + kCrLf;
}

QString QueryText(const queryInfo& query) {
    return "Query Name: " + q(query.name) + kCrLf + kCrLf + "SQL:" + kCrLf + kCrLf + q(query.sqlText) + kCrLf;
}

QString IndexText(const tableInfo& table, const indexInfo& index, const QString& indexName) {
    QStringList fields;
    for (uint16_t number : index.columnNumbers) {
        for (const columnInfo& column : table.columns) {
            if (column.columnNumber == number) {
                fields << q(column.name);
                break;
            }
        }
    }
    QString text = " Index Name  -   " + indexName + kCrLf + kCrLf + " Field Name   -   " + fields.join(" , ") + kCrLf;
    text += index.isPrimary ? " PrimaryKey   -   Yes" : " PrimaryKey   -   No";
    text += kCrLf;
    text += index.isUnique || index.isPrimary ? " UniqueKey    -   Yes" : " UniqueKey    -   No";
    text += kCrLf;
    text += index.ignoresNulls ? " NotNull          -   Yes" : " NotNull          -   No";
    return text;
}

QString RelationText(const RelationView& relation) {
    return " Relation Name          -    " + q(relation.relationName) + kCrLf + kCrLf + " ReferenceTable        -    " +
           q(relation.foreignTableName) + kCrLf + " ForeignKeyColumn   -    " + q(relation.foreignColumnName) + kCrLf +
           " ReferenceColumn     -    " + q(relation.columnName);
}

CLeftView::CLeftView(CQuorvinAccessRecoveryApp& app, QWidget* parent) : QTreeWidget(parent), app_(app) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    setUniformRowHeights(true);
    // The selection stays visible when the tree loses the focus.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(palette);
}

int CLeftView::State(const QTreeWidgetItem* item) { return item ? item->data(0, kStateRole).toInt() : 0; }

int CLeftView::Image(const QTreeWidgetItem* item) { return item ? item->data(0, kNodeRole).toInt() : 0; }

void CLeftView::SetState(QTreeWidgetItem* item, int state) {
    if (!item) return;
    item->setData(0, kStateRole, state);
    switch (state) {
        case kStateUnchecked: item->setData(0, Qt::CheckStateRole, Qt::Unchecked); break;
        case kStateChecked: item->setData(0, Qt::CheckStateRole, Qt::Checked); break;
        case kStatePartial: item->setData(0, Qt::CheckStateRole, Qt::PartiallyChecked); break;
        default: item->setData(0, Qt::CheckStateRole, QVariant()); break;
    }
}

QTreeWidgetItem* CLeftView::AddItem(QTreeWidgetItem* parent, const QString& text, int image, int state) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, text);
    item->setData(0, kNodeRole, image);
    item->setIcon(0, NodeImages().value(image));
    // The check boxes react to our own rules only, never to Qt's.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    SetState(item, state);
    return item;
}

void CLeftView::ResetRoot(const QString& text) {
    clear();
    startItem = nullptr;
    AddItem(nullptr, text, kImageDatabase, kStateNone);
}

QTreeWidgetItem* CLeftView::Category(const QString& text) const {
    QTreeWidgetItem* root = Root();
    if (!root) return nullptr;
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->text(0) == text) return root->child(i);
    }
    return nullptr;
}

bool CLeftView::BuildTree(const CMDBRecovery& engine, const QString& currentPath) {
    const auto relations = RelationsOf(engine);
    if (engine.tables.empty() && engine.queries.empty() && engine.linkedTables.empty() && app_.formNames.empty() &&
        app_.reportNames.empty() && app_.macroNames.empty() && app_.moduleNames.empty()) {
        return false;
    }
    clear();
    startItem = nullptr;
    QTreeWidgetItem* root = AddItem(nullptr, currentPath, kImageDatabase, kStateChecked);

    if (!engine.tables.empty()) {
        QTreeWidgetItem* category = AddItem(root, "Tables", kImageFolder, kStateNone);
        for (const tableInfo& table : engine.tables) {
            const QString name = q(table.name);
            if (table.columnCount == 0) {
                AddItem(category, name, kImageTable, kStateChecked);
                continue;
            }
            if (table.deletedRecords && !app_.includeDeletedRecords) continue;
            QTreeWidgetItem* item = AddItem(category, name, kImageTable, kStateChecked);
            QTreeWidgetItem* indexes = nullptr;
            for (const indexInfo& index : table.indexes) {
                bool anyColumn = false;
                for (uint16_t number : index.columnNumbers) {
                    for (const columnInfo& column : table.columns) anyColumn = anyColumn || column.columnNumber == number;
                }
                // An index over an attachment column is the value table's
                // business, not the user's.
                bool onComplex = false;
                if (!index.columnNumbers.empty()) {
                    for (const columnInfo& column : table.columns) {
                        if (column.columnNumber == index.columnNumbers.back() && column.type == 18) onComplex = true;
                    }
                }
                if (!anyColumn || onComplex) continue;
                for (const std::string& indexName : index.indexNames) {
                    if (!indexes) indexes = AddItem(item, "Indexes", kImageFolder, kStateNone);
                    AddItem(indexes, q(indexName), kImageIndex, kStateNone);
                }
            }
            QTreeWidgetItem* relationFolder = nullptr;
            for (const RelationView& relation : relations) {
                if (relation.tableName != table.name) continue;
                if (!relationFolder) relationFolder = AddItem(item, "Relations", kImageFolder, kStateNone);
                AddItem(relationFolder, q(relation.relationName), kImageRelation, kStateNone);
            }
        }
        SetState(category, kStateChecked);
    }
    const auto names = [&](const QString& title, int image, const auto& list, auto nameOf) {
        if (list.empty()) return;
        QTreeWidgetItem* category = AddItem(root, title, kImageFolder, kStateNone);
        for (const auto& entry : list) AddItem(category, q(nameOf(entry)), image, kStateChecked);
        SetState(category, kStateChecked);
    };
    names("Linked Tables", kImageLinkedTable, engine.linkedTables, [](const LinkedTableInfo& l) { return l.linkName; });
    names("Queries", kImageQuery, engine.queries, [](const queryInfo& query) { return query.name; });
    const auto same = [](const std::string& name) { return name; };
    names("Forms", kImageForm, app_.formNames, same);
    names("Reports", kImageReport, app_.reportNames, same);
    names("Macros", kImageMacro, app_.macroNames, same);
    names("Modules", kImageModule, app_.moduleNames, same);
    root->setExpanded(true);
    return true;
}

int CLeftView::ComputeFromChildren(const QTreeWidgetItem* item) {
    int unchecked = 0, partial = 0;
    for (int i = 0; i < item->childCount(); ++i) {
        const int state = State(item->child(i));
        unchecked += state == kStateUnchecked ? 1 : 0;
        partial += state == kStatePartial ? 1 : 0;
    }
    if (item->childCount() > 0 && unchecked == item->childCount()) return kStateUnchecked;
    if (unchecked == 0 && partial == 0) return kStateChecked;
    return kStatePartial;
}

bool CLeftView::Locked() const { return app_.treeLocked && !previewRunning_; }

void CLeftView::OnCheckClick(QTreeWidgetItem* item) {
    QTreeWidgetItem* root = Root();
    if (!item || Locked() || !root || root->childCount() == 0) return;
    const int state = State(item) == kStateUnchecked ? kStateChecked : kStateUnchecked;
    SetState(item, state);
    for (QTreeWidgetItem* ancestor = item->parent(); ancestor; ancestor = ancestor->parent()) {
        SetState(ancestor, ComputeFromChildren(ancestor));
    }
    // Down: a table's own children (indexes, relations) never get a box.
    const bool isTable = item->parent() && sameIgnoringCase(item->parent()->text(0), "Tables");
    if (item->childCount() == 0 || isTable) return;
    const std::function<void(QTreeWidgetItem*)> pushDown = [&](QTreeWidgetItem* node) {
        const bool tablesBelow = sameIgnoringCase(node->text(0), "Tables") && node->parent() == root;
        for (int i = 0; i < node->childCount(); ++i) {
            SetState(node->child(i), state);
            if (!tablesBelow) pushDown(node->child(i));
        }
    };
    pushDown(item);
}

QStringList CLeftView::MarkSaved(int index, const CMDBRecovery& engine) {
    QTreeWidgetItem* root = Root();
    if (!root) return {};
    QString category;
    std::string name;
    const auto pick = [&](const std::vector<std::string>& list) {
        if (index >= 0 && static_cast<size_t>(index) < list.size()) name = list[static_cast<size_t>(index)];
    };
    if (engine.savingTables) {
        category = "Tables";
        if (index >= 0 && static_cast<size_t>(index) < engine.tables.size()) name = engine.tables[static_cast<size_t>(index)].name;
    } else if (engine.savingQueries) {
        category = "Queries";
        if (index >= 0 && static_cast<size_t>(index) < engine.queries.size()) name = engine.queries[static_cast<size_t>(index)].name;
    } else if (engine.savingForms) {
        category = "Forms";
        pick(app_.selectedForms);
    } else if (engine.savingReports) {
        category = "Reports";
        pick(app_.selectedReports);
    } else if (engine.savingMacros) {
        category = "Macros";
        pick(app_.selectedMacros);
    } else if (engine.savingModules) {
        category = "Modules";
        pick(app_.selectedModules);
    } else if (engine.savingLinkedTables) {
        category = "Linked Tables";
        pick(app_.selectedLinkedTables);
    } else {
        // The end of the whole save: what is still checked was tried and not
        // saved (no readable storage, an output error); another save would
        // only write those over the output just made.
        QStringList notSaved;
        if (engine.savingDone) {
            for (int i = 0; i < root->childCount(); ++i) {
                QTreeWidgetItem* folder = root->child(i);
                for (int k = 0; k < folder->childCount(); ++k) {
                    QTreeWidgetItem* item = folder->child(k);
                    if (State(item) != kStateChecked) continue;
                    SetState(item, kStateUnchecked);
                    item->setToolTip(0, "Not saved");
                    item->setForeground(0, QColor(0xC0, 0x20, 0x20));
                    notSaved << folder->text(0) + "/" + item->text(0);
                }
                SetState(folder, ComputeFromChildren(folder));
            }
            SetState(root, kStateUnchecked);
        }
        return notSaved;
    }
    QTreeWidgetItem* folder = Category(category);
    if (!folder || name.empty()) return {};
    const QString text = q(name);
    for (int i = 0; i < folder->childCount(); ++i) {
        if (folder->child(i)->text(0) != text) continue;
        SetState(folder->child(i), kStateUnchecked);
        SetState(folder, ComputeFromChildren(folder));
        SetState(root, kStatePartial);
        return {};
    }
    return {};
}

void CLeftView::MarkLosses(const QHash<QString, QString>& losses) {
    QTreeWidgetItem* folder = Category("Tables");
    if (!folder) return;
    for (int i = 0; i < folder->childCount(); ++i) {
        QTreeWidgetItem* item = folder->child(i);
        const auto found = losses.find(item->text(0));
        if (found == losses.end()) continue;
        item->setForeground(0, QColor(0xC0, 0x20, 0x20));
        item->setToolTip(0, "Losses:\n" + found.value());
    }
}

void CLeftView::CollectSelection() {
    std::vector<std::string>* lists[] = {&app_.selectedTables, &app_.selectedLinkedTables, &app_.selectedQueries,
                                         &app_.selectedForms,  &app_.selectedReports,      &app_.selectedMacros,
                                         &app_.selectedModules};
    for (auto* list : lists) list->clear();
    QTreeWidgetItem* root = Root();
    if (!root) return;
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* category = root->child(i);
        for (int kind = 0; kind < kCategoryNames.size(); ++kind) {
            if (!sameIgnoringCase(category->text(0), kCategoryNames[kind])) continue;
            for (int k = 0; k < category->childCount(); ++k) {
                if (State(category->child(k)) == kStateChecked) {
                    lists[kind]->push_back(category->child(k)->text(0).toStdString());
                }
            }
            break;
        }
    }
}

int CLeftView::RootCheckState() const { return State(Root()); }

void CLeftView::SelectItem(QTreeWidgetItem* item) {
    if (!item) return;
    selectionModel()->setCurrentIndex(indexFromItem(item), QItemSelectionModel::ClearAndSelect);
    scrollToItem(item);
}

void CLeftView::OnTextClick(QTreeWidgetItem* item) {
    if (!item || Locked()) return;
    SelectItem(item);
    emit itemTextClicked(item);
}

QTreeWidgetItem* CLeftView::NextItem(QTreeWidgetItem* item) {
    if (!item) return nullptr;
    if (item->childCount() > 0) return item->child(0);
    for (QTreeWidgetItem* node = item; node; node = node->parent()) {
        QTreeWidgetItem* parent = node->parent();
        if (!parent) return nullptr;
        const int position = parent->indexOfChild(node);
        if (position + 1 < parent->childCount()) return parent->child(position + 1);
    }
    return nullptr;
}

QTreeWidgetItem* CLeftView::FindItem(const QString& text, bool matchCase, bool forward, bool wholeWord) {
    (void)forward;  // the search always runs forward
    if (text.isEmpty()) return nullptr;
    QTreeWidgetItem* root = Root();
    if (!root) return nullptr;
    QTreeWidgetItem* selected = currentItem();
    if (selected && !selectedItems().contains(selected)) selected = nullptr;
    QTreeWidgetItem* candidate = nullptr;
    if (selected && selected != root) {
        candidate = NextItem(selected);
    } else {
        candidate = root->childCount() ? root->child(0) : nullptr;
    }
    QString needle = text;
    while (needle.endsWith(' ')) needle.chop(1);
    if (!matchCase) needle = lowerAsciiLetters(needle);
    if (needle.isEmpty()) return nullptr;

    for (QTreeWidgetItem* item = candidate; item && item != selected; item = NextItem(item)) {
        const QString haystack = matchCase ? item->text(0) : lowerAsciiLetters(item->text(0));
        qsizetype from = 0;
        while (true) {
            const qsizetype at = haystack.indexOf(needle, from, Qt::CaseSensitive);
            if (at < 0) break;
            const qsizetype end = at + needle.size();
            const bool before = at > 0 && isWordCharacter(haystack[at - 1]);
            const bool after = end < haystack.size() && isWordCharacter(haystack[end]);
            if (!wholeWord || (!before && !after)) {
                startItem = item;
                return item;
            }
            from = at + 1;
        }
    }
    return nullptr;
}

QRect CLeftView::CheckRect(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
                       QStyleOptionViewItem::HasDisplay;
    option.text = index.data().toString();
    option.icon = index.data(Qt::DecorationRole).value<QIcon>();
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

QRect CLeftView::TextRect(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    if (index.data(Qt::CheckStateRole).isValid()) option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.text = index.data().toString();
    option.icon = index.data(Qt::DecorationRole).value<QIcon>();
    const QRect icon = style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
    const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    return icon.united(text);
}

void CLeftView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
        // While a run holds the tree, clicks change neither boxes nor selection.
        if (Locked()) return;
        QTreeWidgetItem* item = itemFromIndex(index);
        if (index.data(Qt::CheckStateRole).isValid() && CheckRect(index).contains(event->position().toPoint())) {
            OnCheckClick(item);
            return;
        }
        if (TextRect(index).contains(event->position().toPoint())) {
            OnTextClick(item);
            return;
        }
    }
    QTreeWidget::mousePressEvent(event);
}

void CLeftView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (Locked()) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    // A double click on a box is two clicks on it, not an expand.
    if (index.isValid() && index.data(Qt::CheckStateRole).isValid() &&
        CheckRect(index).contains(event->position().toPoint())) {
        OnCheckClick(itemFromIndex(index));
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void CLeftView::keyPressEvent(QKeyEvent* event) {
    if ((!app_.idle && !previewRunning_) || Locked()) return;
    QTreeWidgetItem* current = currentItem();
    // Space is a click on the item's check box.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (current && current->data(0, Qt::CheckStateRole).isValid()) OnCheckClick(current);
        return;
    }
    QTreeWidget::keyPressEvent(event);
    // Moving to another item (arrows, Home, End, a typed name) shows it as a
    // click on its text does.
    if (currentItem() && currentItem() != current) {
        SelectItem(currentItem());
        emit itemTextClicked(currentItem());
    }
}

QItemSelectionModel::SelectionFlags CLeftView::selectionCommand(const QModelIndex& index, const QEvent* event) const {
    // While a run is in progress the selection does not move (a preview
    // gives way to the next object).
    if (!app_.idle && !previewRunning_) return QItemSelectionModel::NoUpdate;
    return QTreeWidget::selectionCommand(index, event);
}

}  // namespace talmera::ui
