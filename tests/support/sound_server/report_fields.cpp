#include "report_fields.h"

#include <cstdlib>

std::string json_channel(const std::string& json, int channel)
{
    const std::size_t at = json.find("{\"channel\":" + std::to_string(channel) + ",");
    if (at == std::string::npos)
        return {};
    const std::size_t next = json.find("{\"channel\":", at + 1);
    return json.substr(at, next == std::string::npos ? std::string::npos : next - at);
}

long long json_number_field(const std::string& json, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const std::size_t at = json.find(tag);
    return at == std::string::npos ? -1 : std::strtoll(json.c_str() + at + tag.size(), nullptr, 10);
}
