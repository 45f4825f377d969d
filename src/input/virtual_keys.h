// Windows virtual-key codes used by the phone key handling.
#pragma once

#include <cstdint>

namespace input::vk {

inline constexpr uint16_t Return = 0x0D;
inline constexpr uint16_t Shift = 0x10;
inline constexpr uint16_t Control = 0x11;
inline constexpr uint16_t Menu = 0x12;  // Alt
inline constexpr uint16_t Escape = 0x1B;
inline constexpr uint16_t Prior = 0x21;  // Page Up
inline constexpr uint16_t Next = 0x22;   // Page Down
inline constexpr uint16_t Left = 0x25;
inline constexpr uint16_t Up = 0x26;
inline constexpr uint16_t Right = 0x27;
inline constexpr uint16_t Down = 0x28;
inline constexpr uint16_t KeyC = 'C';
inline constexpr uint16_t KeyV = 'V';
inline constexpr uint16_t KeyX = 'X';
inline constexpr uint16_t Add = 0x6B;
inline constexpr uint16_t Subtract = 0x6D;
inline constexpr uint16_t F4 = 0x73;
inline constexpr uint16_t F5 = 0x74;
inline constexpr uint16_t LControl = 0xA2;
inline constexpr uint16_t VolumeDown = 0xAE;
inline constexpr uint16_t VolumeUp = 0xAF;

}  // namespace input::vk
