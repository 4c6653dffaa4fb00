// The .reg reader on hostile bytes, fed whole and in small pieces: both must agree.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "regfile/RegParser.h"

namespace {

// Records what the reader asks for, as one text, so two runs can be compared.
class Transcript : public kestrova::RegSink {
 public:
  std::string text;
  // Key paths, value names and text data: what must be valid UTF-8.
  std::string names;
  void OpenKey(kestrova::RootKey root, std::string_view path, uint64_t line) override {
    Add("open", static_cast<int>(root), path, line);
    names.append(path);
  }
  void DeleteKey(kestrova::RootKey root, std::string_view path, uint64_t line) override {
    Add("delete", static_cast<int>(root), path, line);
    names.append(path);
  }
  void SetValue(std::string_view name, uint32_t type, std::string_view data,
                uint64_t line) override {
    Add("set", static_cast<int>(type), name, line);
    text.append(data);
    names.append(name);
    if (type == 1 || type == 2 || type == 7) names.append(data);
  }
  void DeleteValue(std::string_view name, uint64_t line) override { Add("unset", 0, name, line); }
  void ValueTooLarge(std::string_view name, uint64_t line) override { Add("large", 0, name, line); }
  void Skipped(uint64_t line, std::string_view reason) override { Add("skip", 0, reason, line); }
  void Warning(uint64_t line, std::string_view message) override { Add("warn", 0, message, line); }
  void Incomplete(uint64_t line, std::string_view message) override {
    Add("cut", 0, message, line);
  }
  void Refused(uint64_t line, std::string_view reason) override { Add("refused", 0, reason, line); }

 private:
  void Add(const char* what, int n, std::string_view s, uint64_t line) {
    text += what;
    text += std::to_string(n) + ':' + std::to_string(line) + ':';
    text.append(s);
    text += '\n';
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kestrova::ByteTextScan scan;
  scan.Feed(bytes);
  scan.Finish();
  Transcript whole;
  {
    kestrova::RegParser parser(whole, scan.Result());
    parser.Feed(bytes);
    parser.Finish();
  }
  Transcript pieces;
  {
    kestrova::RegParser parser(pieces, scan.Result());
    const size_t step = size % 7 + 1;
    for (size_t i = 0; i < size; i += step) parser.Feed(bytes.substr(i, step));
    parser.Finish();
  }
  if (whole.text != pieces.text) std::abort();
  // Nothing that is not text reaches a name or a text value.
  if (!kestrova::IsUtf8(whole.names)) std::abort();
  return 0;
}
