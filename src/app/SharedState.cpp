#include "SharedState.h"

SharedState::~SharedState() = default;
