#include "ui/FindBar.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace talmera::ui {

CSearch::CSearch(QWidget* parent) : QWidget(parent) {
    setObjectName("FindBar");
    // The ribbon shows through.
    setAttribute(Qt::WA_TranslucentBackground);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    label_ = new QLabel("Find Tree Item :");
    text_ = new QLineEdit;
    text_->setMinimumWidth(180);
    find_ = new QPushButton("Find");
    previous_ = new QPushButton("Find Previous");
    matchCase_ = new QCheckBox("Match Case");
    wholeWord_ = new QCheckBox("Match Whole Word");
    find_->setAutoDefault(false);
    previous_->setAutoDefault(false);
    grid->addWidget(label_, 0, 0);
    grid->addWidget(text_, 0, 1);
    grid->addWidget(find_, 0, 2);
    grid->addWidget(previous_, 0, 3);
    grid->addWidget(matchCase_, 1, 1);
    grid->addWidget(wholeWord_, 1, 2, 1, 2);
    connect(text_, &QLineEdit::textChanged, this, [this] { emit textChanged(); });
    connect(find_, &QPushButton::clicked, this, &CSearch::PressFind);
    // Enter in the text box is Find.
    connect(text_, &QLineEdit::returnPressed, this, [this] {
        if (find_->isEnabled()) PressFind();
    });
    connect(previous_, &QPushButton::clicked, this, &CSearch::PressPrevious);
    EnableAll(false);
}

void CSearch::EnableAll(bool enable) {
    for (QWidget* w : std::initializer_list<QWidget*>{text_, find_, previous_, matchCase_, wholeWord_}) w->setEnabled(enable);
}

void CSearch::EnableInput() {
    text_->setEnabled(true);
    matchCase_->setEnabled(true);
    wholeWord_->setEnabled(true);
}

void CSearch::PressFind() {
    if (find_->text() == "Find") find_->setText("Find Next");
    emit findNext();
}

void CSearch::PressPrevious() { emit findPrevious(); }

}  // namespace talmera::ui
