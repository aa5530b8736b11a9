#include "platform/hooks.h"

#include <atomic>
#include <mutex>

namespace dvl::platform {

namespace {

std::mutex hookMutex;
std::function<void()> processMessagesHook;
std::function<void()> terminateHook;
std::function<MessageResult(const MessageBoxRequest&)> messageBoxHook;
std::atomic<bool> terminated{false};

// Hooks are copied out under the lock and called outside it, so that a hook
// may install another one or call back into these functions.
template <typename F> F Copy(const F& hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    return hook;
}

template <typename F> void Install(F& slot, F hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    slot = std::move(hook);
}

} // namespace

void ProcessMessages() {
    if (auto hook = Copy(processMessagesHook)) hook();
}

void SetProcessMessagesHook(std::function<void()> hook) {
    Install(processMessagesHook, std::move(hook));
}

void Terminate() {
    terminated = true;
    if (auto hook = Copy(terminateHook)) hook();
}

bool Terminated() {
    return terminated;
}

void ResetTerminated() {
    terminated = false;
}

void SetTerminateHook(std::function<void()> hook) {
    Install(terminateHook, std::move(hook));
}

MessageResult ShowMessageBox(const MessageBoxRequest& request) {
    if (auto hook = Copy(messageBoxHook)) return hook(request);
    return request.buttons == MessageButtons::YesNo ? MessageResult::Yes : MessageResult::Ok;
}

void SetMessageBoxHook(std::function<MessageResult(const MessageBoxRequest&)> hook) {
    Install(messageBoxHook, std::move(hook));
}

} // namespace dvl::platform
