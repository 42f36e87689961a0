#pragma once
// A window port that records what the core asked of it. postMessage and
// showErrorBox may come from any thread; the rest from the test's thread.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/window_port.h"

class FakeWindow : public WindowPort {
public:
    void postMessage(uint32_t message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(message);
        changed_.notify_all();
    }
    void showErrorBox(const std::wstring& text, const std::wstring& caption) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errorBoxes_.push_back(caption + L": " + text);
    }
    void setStatusText(const std::wstring& text) override { status = text; }
    void enableButton(int controlId, bool enabled) override {
        buttonEvents.push_back(std::to_wstring(controlId) + (enabled ? L"+" : L"-"));
    }
    void invalidatePanel(int controlId) override { invalidated.push_back(controlId); }
    void destroyWindow() override {
        ++destroyCount;
        if (onDestroyWindow) onDestroyWindow();
    }
    std::wstring browseSavePath() override {
        ++dialogCount;
        if (duringDialog) duringDialog();
        return dialogAnswer;
    }

    std::vector<uint32_t> posted() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return posted_;
    }
    std::vector<std::wstring> errorBoxes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return errorBoxes_;
    }
    // Posts other than the many repaint requests: a take's lifecycle.
    std::vector<uint32_t> lifecyclePosts() const {
        std::vector<uint32_t> out;
        for (uint32_t m : posted())
            if (m != WM_APP_UPDATE_VISUALS) out.push_back(m);
        return out;
    }
    // Waits until `message` has been posted at least once; false if it was
    // not within `limit`, so a missing post fails a test instead of hanging it.
    bool waitFor(uint32_t message, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(
            lock, limit, [&] { return std::find(posted_.begin(), posted_.end(), message) != posted_.end(); });
    }
    // Hands over (and forgets) what was posted so far, like a message loop would.
    std::vector<uint32_t> takePosted() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<uint32_t> out;
        out.swap(posted_);
        return out;
    }

    std::wstring status = L"Ready";
    std::vector<std::wstring> buttonEvents;
    std::vector<int> invalidated;
    int destroyCount = 0;
    int dialogCount = 0;
    std::wstring dialogAnswer;
    std::function<void()> duringDialog;
    std::function<void()> onDestroyWindow;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> posted_;
    std::vector<std::wstring> errorBoxes_;
};
