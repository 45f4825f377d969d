#include "input/phone_keys.h"

#include "input/virtual_keys.h"

namespace input {

PhoneKey phoneKey(int keyCode) {
    using K = PhoneKey::Kind;
    switch (keyCode) {
    case 19: return {K::Press, vk::Up};
    case 20: return {K::Press, vk::Down};
    case 21: return {K::Press, vk::Left};
    case 22: return {K::Press, vk::Right};
    case 24: return {K::Press, vk::VolumeUp};
    case 25: return {K::Press, vk::VolumeDown};
    case 66: return {K::Press, vk::Return};
    case 92: return {K::Page, vk::Prior, false};
    case 93: return {K::Page, vk::Next, true};
    case 111: return {K::Press, vk::Escape};
    case 135: return {K::Press, vk::F5};
    case 250: return {K::Chord, vk::KeyV};
    case 251: return {K::Chord, vk::KeyC};
    case 252: return {K::Chord, vk::KeyX};
    case 253: return {K::Close, vk::F4};
    case 254: return {K::Zoom, vk::Add, true};
    case 255: return {K::Zoom, vk::Subtract, false};
    default: return {};
    }
}

}  // namespace input
