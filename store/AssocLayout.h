#pragma once
// AssocLayout: every key path and value name of the association data, built in one place.

#include <string>
#include <string_view>

namespace kestrova::layout {

// Paths are plain concatenations with no escaping: a backslash inside an extension, ProgID
// or verb addresses a deeper key, which the program relies on. The letter case below is
// the shell's own and is kept exactly: "Shell" under file types but "shell" under "*", a
// command key read as "Command" but created as "command". They meet only because the store
// matches names without regard to case.

// Under HKEY_CLASSES_ROOT.
inline constexpr char RootPath[] = "\\";  // the root itself
inline constexpr char ContentTypeDatabaseKey[] = "\\MIME\\Database\\Content Type";
inline constexpr char ContextMenuKey[] = "\\*\\shell\\Velmora";
inline constexpr char ContextMenuCommandKey[] = "\\*\\shell\\Velmora\\command";

// Under HKEY_CURRENT_USER: the program's own settings.
inline constexpr char SettingsKey[] = "\\SOFTWARE\\Quorbel\\Kestrova";

// Value names.
inline constexpr char DefaultValueName[] = "";
inline constexpr char ContentTypeName[] = "Content Type";
inline constexpr char EditFlagsName[] = "EditFlags";
inline constexpr char AlwaysShowExtName[] = "AlwaysShowExt";
inline constexpr char BrowserFlagsName[] = "BrowserFlags";
inline constexpr char HelpUrlName[] = "HelpURL";
inline constexpr char OnlineHelpUrlName[] = "OnlineHelpURL";

// `ext` is the extension without its dot.
std::string ExtKey(std::string_view ext);
std::string ProgIdKey(std::string_view progId);
std::string DefaultIconKey(std::string_view progId);
std::string ShellKey(std::string_view progId);
std::string VerbKey(std::string_view progId, std::string_view verb);
// The command key as every reader names it.
std::string VerbCommandKey(std::string_view progId, std::string_view verb);
// The command key as the new-action step creates it.
std::string NewVerbCommandKey(std::string_view progId, std::string_view verb);
std::string DdeExecKey(std::string_view progId, std::string_view verb);
std::string DdeApplicationKey(std::string_view progId, std::string_view verb);
std::string DdeTopicKey(std::string_view progId, std::string_view verb);
std::string DdeIfExecKey(std::string_view progId, std::string_view verb);

// Full key names handed to the registry editor's export before a change.
std::string ExtBackupKey(std::string_view ext);
std::string ProgIdBackupKey(std::string_view progId);

// Whether a subkey name of the root is offered as a file type: not an extension (leading
// "."), not the all-files key "*", and not empty.
bool IsFileTypeName(std::string_view name);

// The desktop import (store/DesktopImport).
// Under HKEY_CURRENT_USER: what the last import wrote, one value per key it owns.
inline constexpr char DesktopImportKey[] = "\\SOFTWARE\\Quorbel\\Kestrova\\Desktop Import";
// The content-type database's value: the type's preferred extension, with its dot.
inline constexpr char ExtensionName[] = "Extension";
// The key of a MIME type in the content-type database.
std::string ContentTypeKey(std::string_view mimeType);
// The file type made for a MIME type: "Desktop." and the type with "/" as ".", so that it
// is one readable key name, the same at every import ("Desktop.application.pdf").
std::string DesktopProgId(std::string_view mimeType);
// The verb made for an application that takes a type, from its desktop-file ID without
// ".desktop" ("openwith.org.gnome.gedit").
std::string DesktopOpenWithVerb(std::string_view desktopId);
// The full name handed to the registry editor's export before a refresh: all of the classes.
inline constexpr char ClassesRootBackupKey[] = "HKEY_CLASSES_ROOT";
// Applying associations to the desktop: a value of SettingsKey, "0" = off, anything else
// or absent = on (so a new store applies without a seeded value).
inline constexpr char DesktopApplyName[] = "ApplyToDesktop";

}  // namespace kestrova::layout

// ---- The association check ----
namespace kestrova::layout {

// A content type's full name in the MIME database, for a backup.
std::string ContentTypeBackupKey(std::string_view contentType);

}  // namespace kestrova::layout
