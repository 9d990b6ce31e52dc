// Where the measurement engine keeps its files, and the one-time move of a
// preference list from its old place to the new one.
//
//   APMPreferencesPlistPath(name)   <Library>/Preferences/<name>.plist: the
//                                   file of the preferences suite `name`
//                                   (Library = StandardFolders::library()).
//   APMApplicationSupportPath(file) <Application Support>/Zoruvu/Measurement/<file>
//                                   (StandardFolders::applicationSupport()).
//   APMMeasurementPlistPath(name)   the same folder, name + ".plist" unless
//                                   its extension already is "plist".
// An empty name gives ""; a missing folder logs 19000 / 19001 (level 2) and
// gives "".
//
// APMMigratePlistToApplicationSupport(name) moves the suite's old file to
// APMMeasurementPlistPath(name) without ever replacing a file there: with
// files at both places the old one is deleted and the new one kept; a folder
// in the way fails. When done, the suite is removed from the application's
// preferences (so its cached contents are forgotten).
//
// Stateless; any thread.
#pragma once

#include <string>

#include "platform/values/Error.h"

std::string APMPreferencesPlistPath(const std::string& name);
std::string APMApplicationSupportPath(const std::string& fileName);
std::string APMMeasurementPlistPath(const std::string& name);

// Backups do not exist on this platform: succeeds for an existing item.
bool APMExcludeFromBackup(const std::string& path, platform::Error* error);
// An empty path fails with the measurement error 1.
bool APMDeleteFile(const std::string& path, platform::Error* error);
bool APMMigratePlistToApplicationSupport(const std::string& name);
