#include "PrintSetup.h"

namespace {
QPrinter* g_printer = nullptr;
}

QPrinter* currentPrinter() {
    return g_printer;
}

void setCurrentPrinter(QPrinter* printer) {
    g_printer = printer;
}
