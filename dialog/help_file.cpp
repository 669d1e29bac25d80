#include "dialog/help_file.h"

namespace brevun::dialog {

std::u16string HelpFileBeside(std::u16string_view modulePath) {
  const auto slash = modulePath.find_last_of(u"\\/");
  std::u16string path;
  if (slash != std::u16string_view::npos) path = modulePath.substr(0, slash + 1);
  path += kHelpFileName;
  return path;
}

}  // namespace brevun::dialog
