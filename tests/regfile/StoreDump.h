#pragma once
// Everything a store holds, read through the engine alone (names as stored, types, bytes), as
// one text: two stores hold the same when their dumps are equal.

#include <string>
#include <vector>

#include "store/RegistryEngine.h"

namespace kestrova::test {

inline void Dump(RegistryEngine& engine, KeyRef key, const std::string& path, std::string& out) {
  out += "[" + path + "]\n";
  std::vector<RegValue> values;
  engine.ListValues(key, values);
  for (const RegValue& v : values) {
    out += "  <" + v.name + "> " + std::to_string(v.type) + " <" + v.data + ">\n";
  }
  std::vector<ChildKey> children;
  engine.Children(key, children);
  for (const ChildKey& c : children) Dump(engine, c.ref, path + "\\" + c.name, out);
}

inline std::string Dump(RegistryEngine& engine) {
  std::string out;
  for (RootKey root :
       {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::Users, RootKey::CurrentConfig}) {
    Dump(engine, engine.Root(root), std::to_string(static_cast<int>(root)), out);
  }
  return out;
}

}  // namespace kestrova::test
