#include "app/AccessDialog.h"

#include "app/ViewerPassword.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

TAccessDialog::TAccessDialog(const TAccessChoice& choice, const QString& ipBox, QWidget* parent)
    : QDialog(parent), choice_(choice) {
    setWindowTitle("access");
    rb_all = new QRadioButton("all networks", this);
    rb_address = new QRadioButton("only the address in the IP box (" + ipBox + ")", this);
    rb_local = new QRadioButton("this computer only", this);
    rb_all->setChecked(choice.Listen == TListenChoice::All);
    rb_address->setChecked(choice.Listen == TListenChoice::Address);
    rb_local->setChecked(choice.Listen == TListenChoice::Local);
    lb_password =
        new QLabel(choice.PasswordHash.empty() ? "none: anyone who reaches the servers may watch"
                                               : "set: viewers need the link or the password",
                   this);
    ed_password = new QLineEdit(this);
    ed_password->setEchoMode(QLineEdit::Password);
    ed_password->setPlaceholderText(choice.PasswordHash.empty() ? "a new password"
                                                                : "a new password (empty: keep)");
    cb_clear = new QCheckBox("no password", this);
    cb_clear->setEnabled(!choice.PasswordHash.empty());
    connect(cb_clear, &QCheckBox::toggled, ed_password, &QLineEdit::setDisabled);

    auto* listen = new QVBoxLayout;
    listen->addWidget(rb_all);
    listen->addWidget(rb_address);
    listen->addWidget(rb_local);
    auto* form = new QFormLayout;
    form->addRow("listen on", listen);
    form->addRow("viewer password", lb_password);
    form->addRow("", ed_password);
    form->addRow("", cb_clear);
    auto* note = new QLabel("Where the servers listen changes with the next broadcast; a new "
                            "password at once (viewers of the old one are disconnected).",
                            this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TAccessDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TAccessDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(note);
    top->addWidget(buttons);
}

TAccessChoice TAccessDialog::Choice() const {
    TAccessChoice c = choice_;
    c.Listen = rb_local->isChecked()     ? TListenChoice::Local
               : rb_address->isChecked() ? TListenChoice::Address
                                         : TListenChoice::All;
    if (cb_clear->isChecked())
        c.PasswordHash.clear();
    else if (!ed_password->text().isEmpty())
        c.PasswordHash = HashViewerPassword(ed_password->text().toStdString());
    return c;
}
