#pragma once
// TAccessDialog: who may watch, as the "access…" menu item shows it: where
// the servers listen (every network, only the address in the IP box, this
// computer only) and the viewer password (set anew or cleared; it is never
// shown, and only its hash is kept).
#include "app/AccessSettings.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

class TAccessDialog : public QDialog {
  public:
    // ipBox: the address the "only the address in the IP box" choice means now.
    TAccessDialog(const TAccessChoice& choice, const QString& ipBox, QWidget* parent);
    // The password is hashed here: a new one gets a new salt, hence new links.
    TAccessChoice Choice() const;

    QRadioButton* rb_all = nullptr;
    QRadioButton* rb_address = nullptr;
    QRadioButton* rb_local = nullptr;
    QLabel* lb_password = nullptr;
    QLineEdit* ed_password = nullptr;
    QCheckBox* cb_clear = nullptr;

  private:
    TAccessChoice choice_;
};
