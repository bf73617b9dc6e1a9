#pragma once
// Small helpers for building windows from code.
#include <QApplication>
#include <QFont>
#include <QWidget>

#include <utility>

// Creates a child widget; the parent owns it (Qt deletes children with their
// parent), so the pointer returned is a non-owning handle.
template <class W, class... Args> W* Child(QWidget* parent, Args&&... args) {
    return new W(std::forward<Args>(args)..., parent);
}

// The hourglass over a synchronous media call; restored also when it fails.
class TBusyCursor {
  public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// A font asked for by name, falling back to the system's sans-serif face
// where that family is missing. pixelHeight is the layout's height at 96
// pixels per inch (8 point = 11 px), so that the fixed layout fits anywhere.
QFont NamedFont(const char* family, int pixelHeight, bool bold);

#include <QColor>
#include <QLabel>
#include <QStyledItemDelegate>

#include <functional>

// A rectangle with a fill and a one-pixel black outline.
class TShape : public QWidget {
  public:
    explicit TShape(QWidget* parent);
    QColor BrushColor() const { return brush_; }
    void SetBrushColor(const QColor& colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor brush_ = Qt::white;
};

// A label that reports clicks.
class TClickLabel : public QLabel {
  public:
    explicit TClickLabel(QWidget* parent) : QLabel(parent) {}
    std::function<void()> OnClick;

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Drop-down list entries of one fixed height in pixels.
class TFixedHeightItems : public QStyledItemDelegate {
  public:
    TFixedHeightItems(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    int height_;
};
