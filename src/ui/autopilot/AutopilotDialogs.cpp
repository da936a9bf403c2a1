#include "ui/autopilot/AutopilotDialogs.h"

#include <cstdio>

namespace autopilot {
namespace {

const char* StyleName(int style) {
  switch (style) {
    case platform::kMbOk: return "OK";
    case platform::kMbIconError: return "error";
    case platform::kMbIconWarning: return "warning";
    case platform::kMbYesNoWarning: return "Yes/No, warning";
    case platform::kMbIconInformation: return "information";
    case platform::kMbYesNo: return "Yes/No";
    default: return "other";
  }
}

}  // namespace

AutopilotDialogs::AutopilotDialogs(std::optional<std::string> folder, std::optional<std::string> file,
                                   bool answerYes,
                                   std::function<void(const platform::ShownMessage&, int)> onBox)
    : folder_(std::move(folder)), file_(std::move(file)), answerYes_(answerYes), onBox_(std::move(onBox)) {}

int AutopilotDialogs::MessageBox(const std::string& text, const std::string& caption, int style) {
  shown_.push_back({text, caption, style});
  const bool question = (style & 0x0f) == platform::kMbYesNo;
  const int answer = question ? (answerYes_ ? platform::kIdYes : platform::kIdNo) : platform::kIdOk;
  std::printf("[box] %s: %s (%s) -> %s\n", caption.c_str(), text.c_str(), StyleName(style),
              answer == platform::kIdYes ? "Yes" : answer == platform::kIdNo ? "No" : "OK");
  std::fflush(stdout);
  if (onBox_) onBox_(shown_.back(), static_cast<int>(shown_.size()));
  return answer;
}

std::optional<std::string> AutopilotDialogs::SelectFolder(const platform::FolderDialogTexts& texts) {
  std::printf("[dialog] %s -> %s\n", texts.caption.c_str(), folder_ ? folder_->c_str() : "(cancel)");
  std::fflush(stdout);
  return folder_;
}

std::optional<std::string> AutopilotDialogs::OpenFile() {
  std::printf("[dialog] open file -> %s\n", file_ ? file_->c_str() : "(cancel)");
  std::fflush(stdout);
  return file_;
}

}  // namespace autopilot
