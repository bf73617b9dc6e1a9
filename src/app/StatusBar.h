#pragma once
// TStatusBar: a strip of text panels along the bottom of a window; panel 0
// carries the capture clock and the menu hints.
#include <QElapsedTimer>
#include <QRawFont>
#include <QTimer>
#include <QWidget>

#include <array>
#include <string>
#include <vector>

class TStatusBar : public QWidget {
  public:
    explicit TStatusBar(QWidget* parent);

    // Appends a panel of the given width in pixels.
    void AddPanel(int width);
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    // Text of a panel; an index without a panel reads empty and writes nothing.
    std::string PanelText(int index) const;
    void SetPanelText(int index, const std::string& text);
    int PanelWidth(int index) const;
    // What the panel shows now; it follows PanelText within a frame or two.
    QString ShownText(int index) const;

    // Qt paints every widget through a back buffer already; the flag is kept
    // because the window asks for it at creation.
    bool DoubleBuffered() const { return doubleBuffered_; }
    void SetDoubleBuffered(bool value) { doubleBuffered_ = value; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct TPanel {
        int Left = 0;
        int Width = 0;
        std::string Text; // as last set
        QString Shown;    // as last painted
    };

    QRect PanelRect(int index) const;
    QRect TextRect(int index) const;
    void ShowTexts();
    void DrawText(QPainter& painter, const QRect& box, const QString& text);

    std::vector<TPanel> panels_;
    // What the panels show follows the texts at most every 30 ms: a caller
    // may set them far more often, and painting each change would cost more
    // than the capture itself.
    QTimer showTimer_;
    QElapsedTimer lastShown_;
    bool doubleBuffered_ = false;

    // Glyphs of the printable ASCII characters, so that the clock's digits
    // are placed from a table instead of shaped anew for every repaint.
    struct TGlyph {
        quint32 Index = 0;
        qreal Advance = 0;
    };
    void LoadGlyphs();
    QRawFont rawFont_;
    std::array<TGlyph, 128> glyphs_{};
    bool glyphsLoaded_ = false;
};
