// The application's title and the folders the foundation writes to.
#pragma once

#include <string>

namespace gatemoor {

// "Gatemoor" unless the program sets another title at start.
[[nodiscard]] std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

// The program folder (see platform/ProgramFolder.h), created when missing.
[[nodiscard]] std::string ProgramFolder();
// ProgramFolder() + "/Log", created when missing.
[[nodiscard]] std::string LogFolder();

}  // namespace gatemoor
