#include "app/ViewersDialog.h"

#include "app/CaptureController.h"
#include "app/ViewerTexts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

TViewersDialog::TViewersDialog(TCaptureController& capture, QWidget* parent)
    : QDialog(parent), capture_(capture), table_(new QTableWidget(0, 4, this)),
      disconnect_(new QPushButton("disconnect", this)),
      block_(new QCheckBox("and block this address", this)) {
    setWindowTitle("viewers");
    table_->setObjectName("viewerList");
    table_->setHorizontalHeaderLabels({"address", "kind", "connected since", "bytes sent"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < 3; ++c)
        table_->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    disconnect_->setObjectName("disconnectViewer");
    disconnect_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    block_->setObjectName("blockViewer");
    block_->setToolTip("keeps the address out until the broadcast ends");
    buttons->addWidget(disconnect_);
    buttons->addWidget(block_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(500, 200);
    connect(disconnect_, &QPushButton::clicked, this, [this] { DisconnectSelected(); });
    connect(table_, &QTableWidget::itemSelectionChanged, this,
            [this] { disconnect_->setEnabled(!table_->selectedItems().isEmpty()); });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
    Refresh();
}

void TViewersDialog::Refresh() {
    const int row = table_->currentRow();
    const uint64_t selected =
        row >= 0 && row < static_cast<int>(ids_.size()) && !table_->selectedItems().isEmpty()
            ? ids_[static_cast<size_t>(row)]
            : 0;
    const std::vector<TStreamViewer> viewers = capture_.Viewers();
    ids_.clear();
    table_->setRowCount(static_cast<int>(viewers.size()));
    int reselect = -1;
    for (size_t i = 0; i < viewers.size(); ++i) {
        const TStreamViewer& v = viewers[i];
        const int r = static_cast<int>(i);
        const std::string texts[] = {v.Address, ViewerKindText(v.Kind),
                                     ViewerSinceText(v.ConnectedSince), ByteCountText(v.BytesSent)};
        for (int c = 0; c < 4; ++c) {
            const QString text = QString::fromStdString(texts[c]);
            if (QTableWidgetItem* item = table_->item(r, c))
                item->setText(text);
            else
                table_->setItem(r, c, new QTableWidgetItem(text));
        }
        ids_.push_back(v.Id);
        if (v.Id == selected) reselect = r;
    }
    // The selection follows its viewer as others come and go.
    if (reselect >= 0)
        table_->selectRow(reselect);
    else
        table_->clearSelection();
    disconnect_->setEnabled(reselect >= 0);
}

void TViewersDialog::DisconnectSelected() {
    const int row = table_->currentRow();
    if (row < 0 || row >= static_cast<int>(ids_.size()) || table_->selectedItems().isEmpty())
        return;
    const uint64_t id = ids_[static_cast<size_t>(row)];
    if (block_->isChecked())
        capture_.BlockViewer(id);
    else
        capture_.DisconnectViewer(id);
    block_->setChecked(false); // each block is asked for anew
    Refresh();
}

void TViewersDialog::showEvent(QShowEvent* event) {
    Refresh();
    refresh_.start();
    QDialog::showEvent(event);
}

void TViewersDialog::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QDialog::hideEvent(event);
}
