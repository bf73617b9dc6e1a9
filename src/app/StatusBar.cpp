#include "app/StatusBar.h"

#include "app/Widgets.h"

#include <QLabel>

namespace {
constexpr int kMinShowIntervalMs = 40;
}

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
    showTimer_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, [this] { ShowTexts(); });
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
    texts_.emplace_back();
}

std::string TStatusBar::PanelText(int index) const {
    if (index < 0 || index >= PanelCount()) return {};
    return texts_[index];
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
    if (index < 0 || index >= PanelCount()) return;
    texts_[index] = text;
    if (showTimer_.isActive()) return; // shown with the next batch
    const qint64 since = lastShown_.isValid() ? lastShown_.elapsed() : kMinShowIntervalMs;
    if (since >= kMinShowIntervalMs) ShowTexts();
    else showTimer_.start(int(kMinShowIntervalMs - since));
}

void TStatusBar::ShowTexts() {
    for (size_t i = 0; i < panels_.size(); ++i) {
        const QString text = QString::fromStdString(texts_[i]);
        if (panels_[i]->text() != text) panels_[i]->setText(text);
    }
    lastShown_.restart();
}

int TStatusBar::PanelWidth(int index) const {
    if (index < 0 || index >= PanelCount()) return 0;
    return panels_[index]->width();
}
