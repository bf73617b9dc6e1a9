#pragma once
// TViewersDialog: the broadcast's viewers as a list (address, kind, since
// when, bytes sent), kept current while it is open, with a button that
// closes the selected viewer's connection and, when asked, keeps its
// address out for the rest of the broadcast.
#include <QDialog>
#include <QTimer>

#include <cstdint>
#include <vector>

class QCheckBox;
class QPushButton;
class QTableWidget;
class TCaptureController;

class TViewersDialog : public QDialog {
  public:
    TViewersDialog(TCaptureController& capture, QWidget* parent);

    // Reads the list again (the timer does it every second while shown).
    void Refresh();
    // Disconnects the selected viewer, if any; with "and block this
    // address" ticked, every viewer of its address, and blocks it.
    void DisconnectSelected();

    QTableWidget* Table() const { return table_; }
    QPushButton* DisconnectButton() const { return disconnect_; }
    QCheckBox* BlockBox() const { return block_; }
    static constexpr int kRefreshMs = 1000;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    TCaptureController& capture_;
    QTableWidget* table_;
    QPushButton* disconnect_;
    QCheckBox* block_;
    QTimer refresh_;
    std::vector<uint64_t> ids_; // of the table's rows
};
