#pragma once
// Which store the program works on: its own store (the default) or a Wine prefix's registry.

#include <QString>
#include <string>

namespace kestrova {

// The Wine prefix open as the store, as an absolute path; empty while the default store is.
const std::string& OpenedPrefix();

// Makes the Wine prefix at dir the store of every thread. Returns why it cannot (dir is not
// a prefix, or its registry cannot be read), with nothing created in dir and the store that
// was open still open; the empty text when the prefix is open.
std::string OpenPrefixStore(const std::string& dir);

// Has the open prefix's registry read again where Wine changed its files since they were
// read (Wine saves them when it ends). Does nothing while Wine runs or on the default store.
void RereadPrefix();

// Makes the default store (or the store at path) the store again, created from the desktop
// when it is missing. Throws what OpenDefaultStore throws, with the prefix still open.
void OpenDefaultStoreAgain(const std::string& path = {});

// The main window's title: "Kestrova", or "Kestrova - Wine prefix DIR" on a prefix.
QString StoreTitle(const QString& program);

}  // namespace kestrova
