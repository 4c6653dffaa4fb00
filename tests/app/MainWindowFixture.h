#pragma once
// A fresh store, scripted boxes and the program's real windows, for GUI tests.

#include <gtest/gtest.h>

#include <QSaveFile>
#include <memory>
#include <string_view>
#include <vector>

#include "app/Startup.h"
#include "store/AssocStore.h"
#include "store/RegistryRules.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/RecordingOpener.h"
#include "tests/support/StoreValues.h"
#include "tests/support/TestStore.h"

namespace kestrova::test {

// A recording opener whose registry editor writes the export it is asked for, as
// kestrova-regedit does (a new file renamed into place), unless a test says otherwise.
class ExportingOpener : public RecordingOpener {
 public:
  bool writeExports = true;
  OpenResult Open(QWidget* owner, const QString& command, const QString& parameters,
                  const QString& directory) override {
    if (writeExports && command == "Regedit.exe" && parameters.startsWith("/e \"")) {
      QSaveFile file(parameters.mid(4, parameters.indexOf('"', 4) - 4));
      if (file.open(QIODevice::WriteOnly)) {
        file.write("REGEDIT4\n");
        file.commit();
      }
    }
    return RecordingOpener::Open(owner, command, parameters, directory);
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_boxes = std::make_shared<RecordingBoxes>();
    SetBoxes(m_boxes);
  }
  void TearDown() override {
    m_form.reset();
    SetBoxes(nullptr);
  }

  // The windows, made after the test has filled the store.
  TForm1& Form() {
    if (!m_form) m_form = CreateWindows();
    return *m_form;
  }

  void Raw(const std::string& path, const std::string& name, uint32_t type,
           const std::string& data) {
    auto engine = m_store.Engine();
    KeyRef key = engine->Root(RootKey::ClassesRoot);
    // Paths are given as AssocStore takes them, with a leading backslash.
    std::vector<std::string_view> parts;
    ASSERT_TRUE(SplitKeyPath(std::string_view(path).substr(1), parts)) << path;
    for (std::string_view part : parts) key = engine->CreateChild(key, part);
    engine->SetValue(key, name, type, data);
  }

  TestStore m_store;
  std::shared_ptr<RecordingBoxes> m_boxes;
  std::unique_ptr<TForm1> m_form;
};

}  // namespace kestrova::test
