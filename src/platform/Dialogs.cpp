#include "platform/Dialogs.h"

#include <cstdio>

namespace platform {
namespace {

bool IsYesNo(int style) { return (style & 0x0F) == kMbYesNo; }

class HeadlessDialogs : public IDialogs {
 public:
  int MessageBox(const std::string& text, const std::string& caption, int style) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    return IsYesNo(style) ? kIdNo : kIdOk;
  }
  std::optional<std::string> SelectFolder(const FolderDialogTexts&) override { return std::nullopt; }
  std::optional<std::string> OpenFile() override { return std::nullopt; }
};

IDialogs*& Current() {
  static IDialogs* current = nullptr;
  return current;
}

}  // namespace

IDialogs& Dialogs() {
  static HeadlessDialogs headless;
  return Current() ? *Current() : headless;
}

void SetDialogs(IDialogs* dialogs) { Current() = dialogs; }

int ScriptedDialogs::MessageBox(const std::string& text, const std::string& caption, int style) {
  shown.push_back({text, caption, style});
  if (onMessage) onMessage(shown.back());
  if (messageAnswers.empty()) return IsYesNo(style) ? kIdNo : kIdOk;
  const int answer = messageAnswers.front();
  messageAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedDialogs::SelectFolder(const FolderDialogTexts& texts) {
  folderDialogs.push_back(texts);
  if (folderAnswers.empty()) return std::nullopt;
  auto answer = folderAnswers.front();
  folderAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedDialogs::OpenFile() {
  ++fileDialogs;
  if (fileAnswers.empty()) return std::nullopt;
  auto answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

ScopedDialogs::ScopedDialogs(IDialogs* dialogs) : previous_(Current()) { SetDialogs(dialogs); }
ScopedDialogs::~ScopedDialogs() { SetDialogs(previous_); }

}  // namespace platform
