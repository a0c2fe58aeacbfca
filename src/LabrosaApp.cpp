#include "LabrosaApp.h"

#include "BulletinView.h"
#include "ResultsWindow.h"

LabrosaApp::LabrosaApp()
    : Application([](SharedState*) { return new BulletinView; },
                  [](SharedState* sharedState) { return new ResultsWindow(sharedState); }) {}
