#include "app/PhoneDialog.h"

#include "app/QrCode.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

TPhoneDialog::TPhoneDialog(const std::string& address, QWidget* parent)
    : QDialog(parent), code_(new QLabel(this)), address_(new QLabel(this)) {
    setWindowTitle("watch on a phone");
    auto* layout = new QVBoxLayout(this);
    auto* hint = new QLabel("Point the phone's camera at the code, or type the address.", this);
    layout->addWidget(hint);
    code_->setAlignment(Qt::AlignCenter);
    layout->addWidget(code_);
    address_->setAlignment(Qt::AlignCenter);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(address_);
    SetAddress(address);
}

void TPhoneDialog::SetAddress(const std::string& address) {
    address_->setText(QString::fromStdString(address));
    if (const std::optional<TQrCode> code = TQrCode::Encode(address))
        code_->setPixmap(QPixmap::fromImage(code->Picture(6)));
    else
        code_->setText("(the address is too long for a code)");
}
