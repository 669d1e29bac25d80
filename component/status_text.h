// What a failing status means to a host: a short, stable English text, or the failure kind a
// host language knows by number.
#pragma once

#include <windows.h>

#include <string>

#include "check/failure.h"

namespace brevun::component {

// A short, stable English description of a failure status, the same on every Windows locale.
std::u16string DescribeStatus(HRESULT hr);

// The failure a status stands for: a conversion's overflow or type mismatch keeps its kind,
// so that a host receives the number its language gives it; anything else is described.
Failure FailureOfStatus(HRESULT hr);

}  // namespace brevun::component
