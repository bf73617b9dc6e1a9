#include "app/StatusBar.h"

#include "app/Widgets.h"

#include <QLabel>

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(212, 208, 200));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
}

void TStatusBar::AddPanel(int width) {
    int left = 0;
    for (QLabel* p : panels_)
        left += p->width() + 2;
    QLabel* panel = Child<QLabel>(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(left, 2, width, height() - 2);
    panel->setIndent(2);
    panel->setFont(QFont(font().family(), -1, QFont::Normal));
    panels_.push_back(panel);
}

std::string TStatusBar::PanelText(int index) const {
    if (index < 0 || index >= PanelCount()) return {};
    return panels_[index]->text().toStdString();
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
    if (index < 0 || index >= PanelCount()) return;
    panels_[index]->setText(QString::fromStdString(text));
}

int TStatusBar::PanelWidth(int index) const {
    if (index < 0 || index >= PanelCount()) return 0;
    return panels_[index]->width();
}
