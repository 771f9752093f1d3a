// Checks that a module object holds exactly the defaults of a fresh one without settings files.
#pragma once

class VXException;

void ExpectFreshDefaults(VXException* module);
