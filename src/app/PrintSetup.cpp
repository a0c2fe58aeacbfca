#include "PrintSetup.h"

namespace {
QPrinter* g_printer = nullptr;
}

QPrinter* CurrentPrinter() {
    return g_printer;
}

void SetCurrentPrinter(QPrinter* printer) {
    g_printer = printer;
}
