#pragma once

// The product's name and version as the window title and the About box show them.

#include "kova/version.h"

namespace kova::win {

constexpr char kAppTitle[] = KOVA_PRODUCT_NAME " " KOVA_SHORT_VERSION;
constexpr char kAppVersion[] = KOVA_SHORT_VERSION;
constexpr char kMakerLine[] = "Made by the KOVA Generator developers";

}  // namespace kova::win
