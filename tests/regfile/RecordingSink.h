#pragma once
// A sink for the .reg reader's tests: each operation as one line of text, so that a test
// compares what it expects at a glance.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regfile/RegParser.h"
#include "regfile/RegRoots.h"

namespace kestrova::test {

inline std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ',';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

class RecordingSink : public RegSink {
 public:
  std::vector<std::string> ops;
  std::vector<std::string> skips;
  std::vector<uint64_t> skipLines;
  std::vector<std::string> warnings;
  std::vector<std::string> incomplete;
  std::vector<std::string> refused;

  void OpenKey(RootKey root, std::string_view path, uint64_t line) override {
    ops.push_back("open " + std::string(RegRootName(root)) + "\\" + std::string(path) + " @" +
                  std::to_string(line));
  }
  void DeleteKey(RootKey root, std::string_view path, uint64_t line) override {
    ops.push_back("delete " + std::string(RegRootName(root)) + "\\" + std::string(path) + " @" +
                  std::to_string(line));
  }
  void SetValue(std::string_view name, uint32_t type, std::string_view data,
                uint64_t line) override {
    ops.push_back("set '" + std::string(name) + "' " + std::to_string(type) + " [" + Hex(data) +
                  "] @" + std::to_string(line));
  }
  void DeleteValue(std::string_view name, uint64_t line) override {
    ops.push_back("unset '" + std::string(name) + "' @" + std::to_string(line));
  }
  void ValueTooLarge(std::string_view name, uint64_t line) override {
    ops.push_back("too large '" + std::string(name) + "' @" + std::to_string(line));
  }
  void Skipped(uint64_t line, std::string_view reason) override {
    skips.push_back(std::to_string(line) + ": " + std::string(reason));
    skipLines.push_back(line);
  }
  void Warning(uint64_t line, std::string_view message) override {
    warnings.push_back(std::to_string(line) + ": " + std::string(message));
  }
  void Incomplete(uint64_t line, std::string_view message) override {
    incomplete.push_back(std::to_string(line) + ": " + std::string(message));
  }
  void Refused(uint64_t line, std::string_view reason) override {
    refused.push_back(std::to_string(line) + ": " + std::string(reason));
  }
};

struct Parsed {
  RegFormat format;
  RecordingSink rec;
};

inline Parsed Parse(std::string_view text) {
  Parsed p;
  p.format = ParseRegBytes(text, p.rec);
  return p;
}

inline std::string Utf16(std::string_view ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace kestrova::test
