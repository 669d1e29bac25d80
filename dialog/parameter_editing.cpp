#include "dialog/parameter_editing.h"

#include "dialog/top_window.h"

namespace brevun::dialog {

void PrepareForEditing(DialogWindow& dialog, std::u16string_view timeout,
                       std::u16string_view parameter) {
  DialogValues values = dialog.Values();
  FillForEditing(values, timeout, parameter);
  dialog.SetValues(values);
}

std::optional<std::u16string> ShowTopMostModal(DialogWindow& dialog) {
  topWindow::SetTopMost(dialog.Hwnd(), true);
  return dialog.ShowModal();
}

}  // namespace brevun::dialog
