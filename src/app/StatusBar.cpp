#include "app/StatusBar.h"

#include "app/Widgets.h"

#include <QEvent>
#include <QGlyphRun>
#include <QPaintEvent>
#include <QPainter>
#include <qdrawutil.h>

namespace {
// A little under the clock's 40 ms tick, so that each tick shows at once
// even when it comes a little early.
constexpr int kMinShowIntervalMs = 30;
constexpr int kPanelGap = 2;   // between panels
constexpr int kPanelTop = 2;   // above the panels
constexpr int kFrameWidth = 1; // the sunken edge
constexpr int kTextIndent = 2; // between the edge and the text

bool PlainAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) return false;
    return true;
}
} // namespace

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
    showTimer_.setSingleShot(true);
    connect(&showTimer_, &QTimer::timeout, this, [this] { ShowTexts(); });
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(212, 208, 200));
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setFont(NamedFont("Tahoma", 11, false)); // the desktop's own status-bar face
}

void TStatusBar::AddPanel(int width) {
    TPanel panel;
    panel.Width = width;
    if (!panels_.empty()) panel.Left = panels_.back().Left + panels_.back().Width + kPanelGap;
    panels_.push_back(std::move(panel));
    update(PanelRect(PanelCount() - 1));
}

QRect TStatusBar::PanelRect(int index) const {
    const TPanel& panel = panels_[index];
    return QRect(panel.Left, kPanelTop, panel.Width, height() - kPanelTop);
}

QRect TStatusBar::TextRect(int index) const {
    return PanelRect(index).adjusted(kFrameWidth + kTextIndent, kFrameWidth,
                                     -kFrameWidth - kTextIndent, -kFrameWidth);
}

std::string TStatusBar::PanelText(int index) const {
    if (index < 0 || index >= PanelCount()) return {};
    return panels_[index].Text;
}

QString TStatusBar::ShownText(int index) const {
    if (index < 0 || index >= PanelCount()) return {};
    return panels_[index].Shown;
}

void TStatusBar::SetPanelText(int index, const std::string& text) {
    if (index < 0 || index >= PanelCount() || panels_[index].Text == text) return;
    panels_[index].Text = text;
    const qint64 since = lastShown_.isValid() ? lastShown_.elapsed() : kMinShowIntervalMs;
    if (since >= kMinShowIntervalMs)
        ShowTexts();
    else if (!showTimer_.isActive())
        showTimer_.start(int(kMinShowIntervalMs - since)); // a held text still shows
}

void TStatusBar::ShowTexts() {
    showTimer_.stop();
    for (int i = 0; i < PanelCount(); ++i) {
        TPanel& panel = panels_[i];
        const QString text = QString::fromStdString(panel.Text);
        if (panel.Shown == text) continue;
        panel.Shown = text;
        update(TextRect(i)); // the sunken edge stays as it is
    }
    lastShown_.restart();
}

int TStatusBar::PanelWidth(int index) const {
    if (index < 0 || index >= PanelCount()) return 0;
    return panels_[index].Width;
}

void TStatusBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) glyphsLoaded_ = false;
    QWidget::changeEvent(event);
}

void TStatusBar::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect box = PanelRect(i);
        if (!event->rect().intersects(box)) continue;
        if (!TextRect(i).contains(event->rect()))
            qDrawShadePanel(&painter, box, palette(), true, kFrameWidth);
        const QRect inside = TextRect(i);
        painter.save();
        painter.setClipRect(inside);
        DrawText(painter, inside, panels_[i].Shown);
        painter.restore();
    }
}

void TStatusBar::LoadGlyphs() {
    glyphsLoaded_ = true;
    rawFont_ = QRawFont::fromFont(font());
    glyphs_ = {};
    if (!rawFont_.isValid()) return;
    QString printable;
    for (char16_t c = 0x20; c <= 0x7e; ++c)
        printable.append(QChar(c));
    const QList<quint32> indexes = rawFont_.glyphIndexesForString(printable);
    if (indexes.size() != printable.size()) {
        rawFont_ = QRawFont();
        return;
    }
    const QList<QPointF> advances = rawFont_.advancesForGlyphIndexes(indexes);
    for (qsizetype i = 0; i < printable.size(); ++i)
        glyphs_[printable[i].unicode()] = {indexes[i], advances[i].x()};
}

void TStatusBar::DrawText(QPainter& painter, const QRect& box, const QString& text) {
    if (text.isEmpty()) return;
    if (!glyphsLoaded_) LoadGlyphs();
    if (!rawFont_.isValid() || !PlainAscii(text)) {
        // Anything beyond plain ASCII may need shaping.
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
        return;
    }
    const qreal baseline = box.top() +
                           (box.height() - (rawFont_.ascent() + rawFont_.descent())) / 2 +
                           rawFont_.ascent();
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(text.size());
    positions.reserve(text.size());
    qreal x = box.left();
    for (QChar c : text) {
        const TGlyph& glyph = glyphs_[c.unicode()];
        indexes.append(glyph.Index);
        positions.append(QPointF(x, baseline));
        x += glyph.Advance;
        if (x > box.right() + 1) break; // the rest would be clipped anyway
    }
    QGlyphRun run;
    run.setRawFont(rawFont_);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    painter.drawGlyphRun(QPointF(0, 0), run);
}
