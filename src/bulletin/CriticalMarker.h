#pragma once

#include <QString>

#include <string>

#include "CriticalLimits.h"

// The marker of a critical value on the bulletin, in place of the low/high one: its image,
// when the bulletin's folder holds it, and "!!", which survives black-and-white printing and
// copy-paste.
inline constexpr const char* kCriticalImageName = "critic.gif";
inline constexpr const char* kCriticalMarkerImage =
    "<IMG height=10 src=\"buletin_files/critic.gif\" width=10 border=0 alt=\"!!\">";
inline constexpr const char* kCriticalMarkerText = "<B>!!</B>";
std::string criticalMarker(bool withImage);

// A value as printed against its critical limits, read as the bulletin reads a value against
// its interval: negative below low, positive above high, else 0.
int compareWithCriticalLimits(const QString& value, const QString& low, const QString& high);
// The bulletin's reading of a stored value (bulletinValueText, then compareWithCriticalLimits),
// for every critical check: the list's marks, the bulletin's and the window's questions.
ValueReading bulletinValueReading();

// Puts the critical marker's image into buletin_files beside the bulletin when a laboratory
// folder made before it lacks it; false when it is not there and could not be written.
bool ensureCriticalImage();
