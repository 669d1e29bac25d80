// Where the dialog's help lives: the help file that is installed beside the component.
#pragma once

#include <string>
#include <string_view>

namespace brevun::dialog {

inline constexpr char16_t kHelpFileName[] = u"brevun.chm";
inline constexpr unsigned kDialogHelpContext = 10;

// The help file in the folder of the module at modulePath (a Windows path, though "/" is
// accepted too). A bare file name gives the bare help file name.
std::u16string HelpFileBeside(std::u16string_view modulePath);

}  // namespace brevun::dialog
