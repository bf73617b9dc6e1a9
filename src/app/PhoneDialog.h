#pragma once
// TPhoneDialog: "watch on a phone": the watch page's address as a QR code
// for a phone's camera, and as text to type.
#include <QDialog>

#include <string>

class QLabel;

class TPhoneDialog : public QDialog {
  public:
    TPhoneDialog(const std::string& address, QWidget* parent);
    // A broadcast served anew (another port, say) shows its own address.
    void SetAddress(const std::string& address);

    QLabel* Code() const { return code_; }
    QLabel* Address() const { return address_; }

  private:
    QLabel* code_;
    QLabel* address_;
};
