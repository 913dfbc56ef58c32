#pragma once
// The user's folders as the desktop names them, each with a final "/".

#include <string>

namespace hx::standardPaths {

// The documents folder (XDG "Documents"); made when missing. The home folder
// when there is none or it cannot be made.
std::string documentsFolder();

// The user's runtime folder ($XDG_RUNTIME_DIR, else Qt's fallback under the
// temporary folder), where the log viewer's socket lives.
std::string runtimeFolder();

}  // namespace hx::standardPaths
