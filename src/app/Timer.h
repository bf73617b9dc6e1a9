#pragma once
// TTimer: a window's repeating tick, with the interval the window asks for.
#include <QObject>
#include <QTimer>

#include <functional>

class TTimer : public QObject {
  public:
    // The fastest pace a tick keeps, whatever the interval asks: 25 times a
    // second, as often as the status panel repaints. A faster tick would only
    // be painted over, and at a 1 ms pace the wake-ups of the user interface
    // thread alone cost more CPU than showing the video.
    static constexpr int kFastestTickMs = 40;

    explicit TTimer(QObject* parent = nullptr);

    // The interval asked for, in milliseconds.
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    // The time between ticks as they come.
    int Period() const { return timer_.interval(); }

    bool Enabled() const { return timer_.isActive(); }
    void SetEnabled(bool enabled);

    std::function<void()> OnTimer;

  private:
    QTimer timer_;
    int interval_ = 1000;
};
