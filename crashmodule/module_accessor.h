// The one module object of the library, constructed while the library loads.
#pragma once

class VXException;

VXException* GetVXException();
