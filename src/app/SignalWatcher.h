#pragma once
// Turns SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a closed terminal or a
// logout) into a Qt signal on the UI thread, so the program shuts down as it
// does when the window is closed and its files are finished. A second signal
// of the same kind while shutting down ends the program at once.
//
// One watcher per process: the handlers write to one self-pipe.
#include <QObject>

#include <memory>

class QSocketNotifier;

class TSignalWatcher : public QObject {
    Q_OBJECT
  public:
    explicit TSignalWatcher(QObject* parent = nullptr);
    ~TSignalWatcher() override;

  signals:
    void Signalled(int signalNumber);

  private:
    void Drain();

    int pipe_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};
