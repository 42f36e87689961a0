#pragma once
// Implemented features: the window port over a Qt main window. Messages and
// error-box requests from any thread travel as posted Qt events, in order,
// without waiting for the window thread.
#include <QEvent>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "base/window_port.h"

class MainWindow;

// One item posted to the window thread: a WM_APP_* message or an error box.
struct PostedItem {
    uint32_t message = 0;
    bool isErrorBox = false;
    std::wstring text;
    std::wstring caption;
};

class QtWindowPort final : public WindowPort {
public:
    // The Qt event that tells the window thread one item is waiting.
    static QEvent::Type postedItemEventType();

    explicit QtWindowPort(MainWindow& window);

    void postMessage(uint32_t message) override;
    // Returns at once; the window thread shows the box when it gets to it.
    void showErrorBox(const std::wstring& text, const std::wstring& caption) override;

    void setStatusText(const std::wstring& text) override;
    void enableButton(int controlId, bool enabled) override;
    void invalidatePanel(int controlId) override;
    void destroyWindow() override;
    std::wstring browseSavePath() override;
    bool askYesNo(const std::wstring& text, const std::wstring& caption) override;

    // Window thread: the oldest item posted, one per posted event.
    std::optional<PostedItem> takePostedItem();

private:
    void post(PostedItem item);

    MainWindow& window_;
    // The items themselves travel here rather than inside the Qt events so
    // that handing them over is ordered by a mutex the sanitizers can see.
    std::mutex postedMutex_;
    std::deque<PostedItem> posted_;
};
