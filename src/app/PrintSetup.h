#pragma once

class QPrinter;

// The printer chosen with File > Print Setup; prints of the bulletin use it when set.
// Owned by the application object; null when none has been registered.
QPrinter* currentPrinter();
void setCurrentPrinter(QPrinter* printer);
