#pragma once

#include "Application.h"

// The application object with the program's own windows: bulletins (BulletinView) and the
// results explorer (ResultsWindow). main() runs it; the application tests start the same program.
class LabrosaApp : public Application {
public:
    LabrosaApp();
};
