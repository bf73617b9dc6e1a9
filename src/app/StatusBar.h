#pragma once
// TStatusBar: a strip of text panels along the bottom of a window; panel 0
// carries the capture clock and the menu hints.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

class QLabel;

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

    // Qt paints every widget through a back buffer already; the flag is kept
    // because the window asks for it at creation.
    bool DoubleBuffered() const { return doubleBuffered_; }
    void SetDoubleBuffered(bool value) { doubleBuffered_ = value; }

  private:
    void ShowTexts();

    std::vector<QLabel*> panels_; // children, owned by this widget
    // The texts as last set; what the panels show follows at most 25 times a
    // second, since the capture clock changes every millisecond and painting
    // each change would cost more than the capture itself.
    std::vector<std::string> texts_;
    QTimer showTimer_;
    QElapsedTimer lastShown_;
    bool doubleBuffered_ = false;
};
