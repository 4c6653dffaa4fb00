#pragma once
// A scripted icon source for tests: answers from a table and records every call.

#include <map>
#include <utility>
#include <vector>

#include "store/IconSource.h"

namespace kestrova {

class ScriptedIconSource : public IconSource {
 public:
  struct Call {
    std::string file;  // empty for a stock call
    int32_t index = 0;
    bool stock = false;
    bool operator==(const Call&) const = default;
  };

  // A solid square pair in one colour, told apart by its pixels.
  static IconPair Solid(QRgb color) {
    IconPair pair{QImage(kLargeSize, kLargeSize, QImage::Format_ARGB32),
                  QImage(kSmallSize, kSmallSize, QImage::Format_ARGB32)};
    pair.large.fill(color);
    pair.small.fill(color);
    return pair;
  }

  void SetIcon(const std::string& file, int32_t index, IconPair icons) {
    m_icons[{file, index}] = std::move(icons);
  }
  void SetStock(int32_t index, IconPair icons) { m_stock[index] = std::move(icons); }

  std::optional<IconPair> Extract(const std::string& file, int32_t index) override {
    m_calls.push_back({file, index, false});
    const auto it = m_icons.find({file, index});
    if (it == m_icons.end()) return std::nullopt;
    return it->second;
  }
  int Count(const std::string& file) override {
    int count = 0;
    while (m_icons.count({file, count})) ++count;
    return count;
  }
  std::optional<IconPair> Stock(int32_t index) override {
    m_calls.push_back({{}, index, true});
    const auto it = m_stock.find(index);
    if (it == m_stock.end()) return std::nullopt;
    return it->second;
  }

  const std::vector<Call>& Calls() const { return m_calls; }
  void ClearCalls() { m_calls.clear(); }

 private:
  std::map<std::pair<std::string, int32_t>, IconPair> m_icons;
  std::map<int32_t, IconPair> m_stock;
  std::vector<Call> m_calls;
};

}  // namespace kestrova
