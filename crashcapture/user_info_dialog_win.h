// The user-description dialog: a template built from a dump format's texts, run modally.
#pragma once

#include "crashmodule/module_types.h"

// Shows the dialog for the fields that format.flags asks for and copies what the user typed into
// info (which may be null: then the texts are dropped) when the button is pressed. True when the
// dialog ran and was closed by its button; false, with nothing shown, when the template's memory
// cannot be had, and false when Windows could not create the dialog.
bool ShowUserInfoDialogFor(const DumpFormat& format, UserInfo* info);
