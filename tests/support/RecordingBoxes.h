#pragma once
// Boxes that answer from a script and record what was shown, so GUI tests never block.

#include <QString>
#include <deque>
#include <vector>

#include "platform/Boxes.h"

namespace kestrova::test {

class RecordingBoxes : public Boxes {
 public:
  struct Shown {
    QString kind;  // "message", "confirm", "prompt", "open", "save"
    QString caption;
    QString text;
    Icon icon = Icon::None;
  };

  void Message(QWidget*, const QString& caption, const QString& text, Icon icon) override {
    shown.push_back({"message", caption, text, icon});
  }
  bool Confirm(QWidget*, const QString& caption, const QString& text) override {
    shown.push_back({"confirm", caption, text, Icon::Question});
    if (confirmAnswers.empty()) return false;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
  }
  QString Prompt(QWidget*, const QString& caption, const QString& label, const QString&,
                 int maxLength) override {
    shown.push_back({"prompt", caption, label, Icon::None});
    lastPromptMaxLength = maxLength;
    return Next(promptAnswers);
  }
  QString OpenFile(QWidget*, const OpenFileRequest& request) override {
    shown.push_back({"open", request.title, request.filters.join(";"), Icon::None});
    lastOpenRequest = request;
    return Next(openAnswers);
  }

  QString SaveFile(QWidget*, const SaveFileRequest& request) override {
    shown.push_back({"save", request.title, request.initialPath, Icon::None});
    lastSaveRequest = request;
    return Next(saveAnswers);
  }

  // The texts of the message boxes shown, in order.
  std::vector<QString> Messages() const {
    std::vector<QString> texts;
    for (const auto& s : shown) {
      if (s.kind == "message") texts.push_back(s.text);
    }
    return texts;
  }

  std::vector<Shown> shown;
  std::deque<bool> confirmAnswers;
  std::deque<QString> promptAnswers;
  std::deque<QString> openAnswers;
  std::deque<QString> saveAnswers;
  int lastPromptMaxLength = 0;
  OpenFileRequest lastOpenRequest;
  SaveFileRequest lastSaveRequest;

 private:
  static QString Next(std::deque<QString>& answers) {
    if (answers.empty()) return {};
    QString a = answers.front();
    answers.pop_front();
    return a;
  }
};

}  // namespace kestrova::test
