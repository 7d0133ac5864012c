#pragma once
// The camera's XML self-description as GetCameraInfo hands it out:
// <Info><Item key="..." value="..."/>...</Info>, UTF-8, items in the given order.

#include <string>
#include <utility>
#include <vector>

namespace Vyx {

inline std::string CameraInfoXml(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Info>\n";
    for (const auto& [key, value] : items) {
        xml += "  <Item key=\"" + key + "\" value=\"";
        for (char c : value) {
            switch (c) {
            case '&':
                xml += "&amp;";
                break;
            case '<':
                xml += "&lt;";
                break;
            case '>':
                xml += "&gt;";
                break;
            case '"':
                xml += "&quot;";
                break;
            default:
                xml += c;
            }
        }
        xml += "\"/>\n";
    }
    return xml + "</Info>\n";
}

} // namespace Vyx
