// Stands in for the user-description dialog until its own file is in the tree: the dialog's
// failure result, which leaves the zero-filled texts empty.
#include "crashmodule/vx_exception.h"

bool VXException::ShowUserInfoDialog(DumpFormat*, UserInfo*) { return false; }
