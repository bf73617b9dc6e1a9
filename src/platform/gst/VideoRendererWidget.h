#pragma once
// The renderer window: a child widget that shows the newest frame of the
// video renderer, scaled to its size, and hands its mouse and keyboard input
// to a message drain widget.
//
// Frames arrive on a streaming thread through a TVideoFrameSlot; the slot
// keeps only the newest one and asks the widget (on the UI thread) to repaint.
// TVideoFrameSlot::lock_ guards frame_, widget_ and repaintPosted_.
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <mutex>

class TVideoRendererWidget;

class TVideoFrameSlot {
  public:
    // Streaming thread: keeps the frame and posts one repaint at a time.
    void Put(QImage frame);
    QImage Latest() const;
    void Attach(TVideoRendererWidget* widget);
    // After Detach no repaint is posted any more.
    void Detach();
    // UI thread: the posted repaint has been taken.
    void Taken();

  private:
    mutable std::mutex lock_;
    QImage frame_;
    TVideoRendererWidget* widget_ = nullptr;
    bool repaintPosted_ = false;
};

class TVideoRendererWidget : public QWidget {
  public:
    explicit TVideoRendererWidget(std::shared_ptr<TVideoFrameSlot> slot);
    ~TVideoRendererWidget() override;

    void SetDrain(QWidget* drain) { drain_ = drain; }
    QWidget* Drain() const { return drain_; }
    // Shown by the first frame unless the owner decided visibility itself.
    void SetAutoShow(bool on) { autoShow_ = on; }
    bool AutoShow() const { return autoShow_; }
    QImage CurrentFrame() const { return slot_->Latest(); }

    // UI thread: a new frame is in the slot.
    void FrameArrived();

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    std::shared_ptr<TVideoFrameSlot> slot_;
    QPointer<QWidget> drain_;
    bool autoShow_ = true;
};
