#include "platform/gst/VideoRendererWidget.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

void TVideoFrameSlot::Put(QImage frame) {
    std::lock_guard lock(lock_);
    frame_ = std::move(frame);
    if (widget_ && !repaintPosted_) {
        repaintPosted_ = true;
        // Posted while the lock keeps the widget alive; a widget destroyed
        // before delivery drops the call with its other pending events.
        TVideoRendererWidget* w = widget_;
        QMetaObject::invokeMethod(
            w, [w] { w->FrameArrived(); }, Qt::QueuedConnection);
    }
}

QImage TVideoFrameSlot::Latest() const {
    std::lock_guard lock(lock_);
    return frame_;
}

void TVideoFrameSlot::Attach(TVideoRendererWidget* widget) {
    std::lock_guard lock(lock_);
    widget_ = widget;
    repaintPosted_ = false;
}

void TVideoFrameSlot::Detach() {
    std::lock_guard lock(lock_);
    widget_ = nullptr;
}

void TVideoFrameSlot::Taken() {
    std::lock_guard lock(lock_);
    repaintPosted_ = false;
}

TVideoRendererWidget::TVideoRendererWidget(std::shared_ptr<TVideoFrameSlot> slot)
    : slot_(std::move(slot)) {
    setProperty("windowClass", "VideoRenderer");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    slot_->Attach(this);
}

TVideoRendererWidget::~TVideoRendererWidget() {
    slot_->Detach();
}

void TVideoRendererWidget::FrameArrived() {
    slot_->Taken();
    if (autoShow_) {
        autoShow_ = false;
        show();
        raise();
    }
    update();
}

void TVideoRendererWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage frame = slot_->Latest();
    if (frame.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(rect(), frame);
}

bool TVideoRendererWidget::event(QEvent* e) {
    QWidget* drain = drain_.data();
    if (!drain) return QWidget::event(e);
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        auto* m = static_cast<QMouseEvent*>(e);
        QMouseEvent copy(m->type(), drain->mapFromGlobal(m->globalPosition()), m->globalPosition(),
                         m->button(), m->buttons(), m->modifiers(), m->pointingDevice());
        QCoreApplication::sendEvent(drain, &copy);
        return true;
    }
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        std::unique_ptr<QEvent> copy(static_cast<QInputEvent*>(e)->clone());
        QCoreApplication::sendEvent(drain, copy.get());
        return true;
    }
    default:
        return QWidget::event(e);
    }
}
