#pragma once
// An icon picker for tests: records where it was started and answers from a script.

#include <QWidget>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/IconPicker.h"

namespace kestrova {

class RecordingIconPicker : public IconPicker {
 public:
  struct Request {
    QWidget* owner = nullptr;
    std::string file;
    int32_t index = 0;
  };
  struct Choice {
    std::string file;
    int32_t index = 0;
  };

  bool Pick(QWidget* owner, std::string& file, int32_t& index) override {
    requests.push_back({owner, file, index});
    if (answers.empty() || !answers.front()) {
      if (!answers.empty()) answers.pop_front();
      return false;
    }
    file = answers.front()->file;
    index = answers.front()->index;
    answers.pop_front();
    return true;
  }

  std::vector<Request> requests;
  std::deque<std::optional<Choice>> answers;  // nullopt, or none left: the user cancels
};

}  // namespace kestrova
