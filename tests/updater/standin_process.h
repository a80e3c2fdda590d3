// A running process of the installation for the updater to wait for: standinProcess.exe
// copied under a given name, alive until end() (or destruction) sets its event.
#pragma once

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace kyrtest {

class StandinProcess {
public:
    StandinProcess(const fs::path& dir, const std::wstring& fileName) {
        static std::atomic<int> serial{0};
        const std::wstring eventName = L"kyrtest-standin-" +
                                       std::to_wstring(GetCurrentProcessId()) + L"-" +
                                       std::to_wstring(++serial);
        finish_.reset(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        const fs::path program = dir / fileName;
        fs::create_directories(dir);
        fs::copy_file(builtProgram(L"standinProcess.exe"), program,
                      fs::copy_options::overwrite_existing);
        RunOptions options;
        options.captureOutput = false;
        options.timeoutMs = 120000;
        child_ = std::make_unique<Child>(program, std::vector<std::wstring>{eventName}, options);
    }
    ~StandinProcess() { end(); }
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    bool running() { return child_->running(); }
    // Tells the process to exit and waits until it has.
    void end() {
        if (finish_) {
            SetEvent(finish_.get());
            EXPECT_TRUE(child_->wait(30000)) << "a stand-in process did not end";
            finish_.reset();
        }
    }

private:
    UniqueHandle finish_;
    std::unique_ptr<Child> child_;
};

// Polls until the condition holds or the time is up; returns the condition's last value.
template <typename Condition>
bool waitUntil(Condition condition, DWORD timeoutMs = 20000) {
    const ULONGLONG deadline = GetTickCount64() + scaledMs(timeoutMs);
    while (!condition()) {
        if (GetTickCount64() > deadline) {
            return condition();
        }
        Sleep(20);
    }
    return true;
}

} // namespace kyrtest
