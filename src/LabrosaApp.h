#pragma once

#include "CTervanaApp.h"

// The application object with the program's own windows: bulletins (CTervanaView) and the
// results explorer (Sorvind). main() runs it; the application tests start the same program.
class LabrosaApp : public CTervanaApp {
public:
    LabrosaApp();
};
