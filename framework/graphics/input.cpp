#include "framework/graphics/input.h"

namespace iplug {

IKeyPress::IKeyPress(const char* text, int vk, bool shift, bool cmd, bool alt)
    : VK(vk), S(shift), C(cmd), A(alt) {
    for (std::size_t i = 0; text && i + 1 < utf8.size() && text[i] != '\0'; ++i)
        utf8[i] = text[i];
}

} // namespace iplug
