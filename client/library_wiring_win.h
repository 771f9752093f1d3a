// The library's one module object, constructed while the library loads.
#pragma once

class VXException;

VXException* GetVXException();
