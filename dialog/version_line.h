// The version line that the dialog shows under its frames.
#pragma once

#include <string>

namespace brevun::dialog {

// "version <major>.<minor> build <revision>", plain decimal digits and single blanks.
std::u16string VersionLine(unsigned major, unsigned minor, unsigned revision);

// The line for this build of the component, from the version the build is configured with.
std::u16string ComponentVersionLine();

}  // namespace brevun::dialog
