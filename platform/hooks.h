// The GUI's hooks into the layers below it. Without a GUI they do nothing
// (the message box records nothing and answers its default).
#pragma once

#include <functional>
#include <string>

namespace dvl::platform {

// "Let pending window messages run once."
void ProcessMessages();
void SetProcessMessagesHook(std::function<void()> hook);

// "End the program": sets a flag the front end reads and calls the quit hook.
void Terminate();
bool Terminated();
void ResetTerminated();
void SetTerminateHook(std::function<void()> hook);

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageResult { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string caption;
    std::string text;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
};

// Shows a message box through the installed hook; without one the request is
// dropped and the result is Ok (or Yes for YesNo).
MessageResult ShowMessageBox(const MessageBoxRequest& request);
void SetMessageBoxHook(std::function<MessageResult(const MessageBoxRequest&)> hook);

} // namespace dvl::platform
