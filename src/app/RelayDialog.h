#pragma once
// TRelayDialog: the relay's settings as the "relay…" menu item shows them:
// the server address (hidden while typed: it holds the key), on/off and a
// quality preset. OK checks the address first and says what is wrong with it.
#include "app/RelaySettingsFile.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

class TRelayDialog : public QDialog {
  public:
    TRelayDialog(const TRelayChoice& choice, QWidget* parent);
    TRelayChoice Choice() const;

    QLineEdit* ed_url = nullptr;
    QCheckBox* cb_showurl = nullptr;
    QCheckBox* cb_enabled = nullptr;
    QComboBox* cb_quality = nullptr;
    QLabel* lb_error = nullptr;

    void accept() override;

  private:
    TRelayChoice choice_;
};
