#include "LabrosaApp.h"

#include "CTervanaView.h"
#include "Sorvind.h"

LabrosaApp::LabrosaApp()
    : CTervanaApp([](StructuraInterna*) { return new CTervanaView; },
                  [](StructuraInterna* structura) { return new Sorvind(structura); }) {}
