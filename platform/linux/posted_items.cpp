// Implemented features: the hand-over of posted items under a mutex, one Qt
// event per item, safe from any thread.
#include "platform/linux/posted_items.h"

#include <QCoreApplication>

#include <utility>

QEvent::Type PostedItems::eventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostedItems::post(PostedItem item) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        items_.push_back(std::move(item));
    }
    // Qt takes ownership of the event; postEvent is safe from any thread.
    QCoreApplication::postEvent(&receiver_, new QEvent(eventType()));
}

std::optional<PostedItem> PostedItems::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (items_.empty()) return std::nullopt;
    PostedItem item = std::move(items_.front());
    items_.pop_front();
    return item;
}
