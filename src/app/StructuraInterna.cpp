#include "StructuraInterna.h"

StructuraInterna::~StructuraInterna() = default;
