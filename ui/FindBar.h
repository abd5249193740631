// The find bar in the ribbon area: it collects the search text and options and
// hands the button presses to the main window, which searches the tree.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace talmera::ui {

class CSearch : public QWidget {
    Q_OBJECT
public:
    explicit CSearch(QWidget* parent = nullptr);

    QLineEdit* textBox() const { return text_; }
    QPushButton* findButton() const { return find_; }
    QPushButton* previousButton() const { return previous_; }
    QCheckBox* matchCase() const { return matchCase_; }
    QCheckBox* wholeWord() const { return wholeWord_; }

    // Enables or disables all five controls.
    void EnableAll(bool enable);
    // The bar's state after a tree build, a stop or a save: text and options
    // usable, the buttons by the search rules.
    void EnableInput();

    // "Find" pressed: its caption becomes "Find Next", then the window searches.
    void PressFind();
    void PressPrevious();

signals:
    void findNext();
    void findPrevious();
    void textChanged();

private:
    QLabel* label_;
    QLineEdit* text_;
    QPushButton* find_;
    QPushButton* previous_;
    QCheckBox* matchCase_;
    QCheckBox* wholeWord_;
};

}  // namespace talmera::ui
