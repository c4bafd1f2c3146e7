#pragma once

// Figures from kova-check's JSON report.

#include <string>

// The object of channel `channel` (from 1), up to the next channel's.
std::string json_channel(const std::string& json, int channel);
// The first number given for `key` in json; -1 when there is none.
long long json_number_field(const std::string& json, const std::string& key);
