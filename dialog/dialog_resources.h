// Resource ids of the dialog, shared by dialog.rc and the code. Kept apart from the ids that
// the component's own resources use (version information, type library).
#pragma once

#define BREVUN_IDI_DIALOG 2010
