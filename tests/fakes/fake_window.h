#pragma once
// A window port that writes down what the core asks of it. postMessage and
// showErrorBox may come from any thread, the rest from the test's thread.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "base/messages.h"
#include "base/window_port.h"

// The program never posts WM_APP_BASE itself; the fake logs an error box as
// that message, so that the box's place among the posts shows.
constexpr uint32_t ERROR_BOX = WM_APP_BASE;

class FakeWindow : public WindowPort {
public:
    void postMessage(uint32_t message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(message);
        changed_.notify_all();
    }
    void showErrorBox(const std::wstring&, const std::wstring&) override { postMessage(ERROR_BOX); }
    void setStatusText(const std::wstring& text) override { status = text; }
    void enableButton(int controlId, bool enabled) override { buttons[controlId] = enabled; }
    void invalidatePanel(int) override {}
    void destroyWindow() override { ++destroyCount; }
    // Each dialog takes the next answer; the last one stays for all later dialogs.
    std::wstring browseSavePath() override {
        ++dialogCount;
        if (duringDialog) std::exchange(duringDialog, nullptr)();
        std::wstring answer = dialogAnswers.front();
        if (dialogAnswers.size() > 1) dialogAnswers.pop_front();
        return answer;
    }
    bool askYesNo(const std::wstring& text, const std::wstring&, bool yesIsDefault) override {
        yesDefaults.push_back(yesIsDefault);
        if (yesNoAnswers.empty())
            ADD_FAILURE() << "unexpected question: " << std::string(text.begin(), text.end());
        const bool yes = yesNoAnswers.at(0);
        yesNoAnswers.pop_front();
        return yes;
    }

    // Hands over and forgets what was posted so far, as a message loop would;
    // first waits (at most 10 s, so a missing post fails instead of hanging)
    // until `message` is among it, unless `message` is 0, or until a failed
    // save asks the window for an answer, without which nothing else comes.
    std::vector<uint32_t> takePosted(uint32_t message = 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            const auto has = [&](uint32_t m) {
                return std::find(posted_.begin(), posted_.end(), m) != posted_.end();
            };
            return message == 0 || has(message) || has(WM_APP_SAVE_FAILED);
        });
        return std::exchange(posted_, {});
    }

    std::wstring status;
    std::map<int, bool> buttons;  // the last enabled state asked for, by control id
    int destroyCount = 0, dialogCount = 0;
    std::deque<std::wstring> dialogAnswers{L"take.wav"};
    std::function<void()> duringDialog;  // what comes while the next dialog is open
    std::deque<bool> yesNoAnswers;
    std::vector<bool> yesDefaults;  // of each question, in turn
    std::vector<bool> unsaved;      // each change of setTakeUnsaved, in turn
    void setTakeUnsaved(bool value) override { unsaved.push_back(value); }
    std::vector<std::wstring> recoveryFolders() override { return {L"documents"}; }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> posted_;
};
