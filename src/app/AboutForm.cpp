#include "app/AboutForm.h"

#include "app/Widgets.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("AboutForm");
    setWindowTitle("about kavaroXP...");
    setFixedSize(202, 199);
    setFont(NamedFont("Verdana", 11, false));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button)); // the system's button face
    setPalette(pal);
    setAutoFillBackground(true);

    lb_kavaro = Child<QLabel>(this, "kavaroXP media streaming");
    lb_kavaro->setObjectName("lb_kavaro");
    lb_kavaro->setGeometry(8, 8, 183, 13);
    lb_kavaro->setFont(NamedFont("Verdana", 11, true));

    lb_kavaro2 = Child<QLabel>(this, "by the kavaroXP developers");
    lb_kavaro2->setObjectName("lb_kavaro2");
    lb_kavaro2->setGeometry(24, 40, 151, 13);

    lb_kavaro3 = Child<QLabel>(this, "(c) 2026 kavaroXP project");
    lb_kavaro3->setObjectName("lb_kavaro3");
    lb_kavaro3->setGeometry(24, 56, 148, 13);

    bt_ok = Child<QPushButton>(this, "ok");
    bt_ok->setObjectName("bt_ok");
    bt_ok->setGeometry(64, 160, 75, 25);
    bt_ok->setDefault(true);
    connect(bt_ok, &QPushButton::clicked, this, [this] { bt_okClick(bt_ok); });

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TAboutForm::bt_okClick(QObject*) {
    done(QDialog::Accepted); // modal result "OK" (1)
}
