#pragma once

// The product's name and version as the window title and the About box show them.

namespace kova::win {

constexpr char kAppTitle[] = "KOVA Generator 1.1";
constexpr char kAppVersion[] = "1.1";
constexpr char kMakerLine[] = "Made by the KOVA Generator developers";

}  // namespace kova::win
