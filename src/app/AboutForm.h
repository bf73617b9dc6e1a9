#pragma once
// TAboutForm: the about box, created hidden at start-up and shown modally
// from the "about" menu as often as asked.
#include <QDialog>

class QLabel;
class QPushButton;

class TAboutForm : public QDialog {
  public:
    explicit TAboutForm(QWidget* parent = nullptr);

    void bt_okClick(QObject* Sender);

    QLabel* lb_kavaro = nullptr;
    QLabel* lb_kavaro2 = nullptr;
    QLabel* lb_kavaro3 = nullptr;
    QPushButton* bt_ok = nullptr;
};
