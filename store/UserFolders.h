#pragma once
// The user's own folders by the XDG base directory rules, found in this one place.

#include <string>

namespace kestrova {

// $XDG_DATA_HOME, else ~/.local/share ("." without a home).
std::string UserDataHome();
// $XDG_CONFIG_HOME, else ~/.config ("." without a home).
std::string UserConfigHome();
// Kestrova's folder in the user's data home: the default store and backups live here.
std::string KestrovaDataDir();

}  // namespace kestrova
