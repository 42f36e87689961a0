#pragma once
// Implemented features: items posted from any thread to the window thread,
// in posting order and without waiting for it; a Qt event tells the window
// that one is waiting.
#include <QEvent>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

class QObject;

// One item posted to the window thread: a WM_APP_* message or an error box.
struct PostedItem {
    uint32_t message = 0;
    bool isErrorBox = false;
    std::wstring text;
    std::wstring caption;
};

class PostedItems {
public:
    // The Qt event the receiver gets once per posted item.
    static QEvent::Type eventType();

    // receiver: the window; it must outlive this queue's last post.
    explicit PostedItems(QObject& receiver) : receiver_(receiver) {}

    // Any thread; never blocks for longer than the queue's and Qt's own locks.
    void post(PostedItem item);
    // Receiver's thread, once per event: the oldest item posted.
    std::optional<PostedItem> take();

private:
    QObject& receiver_;
    // The items travel here rather than inside the Qt events so that handing
    // them over is ordered by a mutex the sanitizers can see.
    std::mutex mutex_;
    std::deque<PostedItem> items_;
};
