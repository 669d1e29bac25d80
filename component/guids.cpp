// The one place where the identifiers of the type library, the interface and the class are
// defined; everywhere else the generated header only declares them.
#include <initguid.h>

#include "brevun_idl.h"
