// Windows virtual-key codes to Linux evdev key codes (the key's place on a
// US keyboard; the compositor's keymap turns it into a character).
#include "platform/gnome_remote.h"

#include <linux/input-event-codes.h>

#include <array>

namespace platform {

namespace {

struct VkEvdev {
    uint16_t vk;
    uint16_t code;
};

constexpr VkEvdev kFixed[] = {
    {0x03, KEY_CANCEL},    {0x08, KEY_BACKSPACE},  {0x09, KEY_TAB},       {0x0C, KEY_CLEAR},
    {0x0D, KEY_ENTER},     {0x10, KEY_LEFTSHIFT},  {0x11, KEY_LEFTCTRL},  {0x12, KEY_LEFTALT},
    {0x13, KEY_PAUSE},     {0x14, KEY_CAPSLOCK},   {0x15, KEY_HANGEUL},   {0x19, KEY_HANJA},
    {0x1B, KEY_ESC},       {0x1C, KEY_HENKAN},     {0x1D, KEY_MUHENKAN},  {0x20, KEY_SPACE},
    {0x21, KEY_PAGEUP},    {0x22, KEY_PAGEDOWN},   {0x23, KEY_END},       {0x24, KEY_HOME},
    {0x25, KEY_LEFT},      {0x26, KEY_UP},         {0x27, KEY_RIGHT},     {0x28, KEY_DOWN},
    {0x29, KEY_SELECT},    {0x2A, KEY_PRINT},      {0x2C, KEY_SYSRQ},     {0x2D, KEY_INSERT},
    {0x2E, KEY_DELETE},    {0x2F, KEY_HELP},       {0x5B, KEY_LEFTMETA},  {0x5C, KEY_RIGHTMETA},
    {0x5D, KEY_COMPOSE},   {0x5F, KEY_SLEEP},      {0x6A, KEY_KPASTERISK}, {0x6B, KEY_KPPLUS},
    {0x6C, KEY_KPCOMMA},   {0x6D, KEY_KPMINUS},    {0x6E, KEY_KPDOT},     {0x6F, KEY_KPSLASH},
    {0x90, KEY_NUMLOCK},   {0x91, KEY_SCROLLLOCK}, {0xA0, KEY_LEFTSHIFT}, {0xA1, KEY_RIGHTSHIFT},
    {0xA2, KEY_LEFTCTRL},  {0xA3, KEY_RIGHTCTRL},  {0xA4, KEY_LEFTALT},   {0xA5, KEY_RIGHTALT},
    // Browser keys.
    {0xA6, KEY_BACK},      {0xA7, KEY_FORWARD},    {0xA8, KEY_REFRESH},   {0xA9, KEY_STOP},
    {0xAA, KEY_SEARCH},    {0xAB, KEY_BOOKMARKS},  {0xAC, KEY_HOMEPAGE},
    // Volume and media keys, launchers.
    {0xAD, KEY_MUTE},      {0xAE, KEY_VOLUMEDOWN}, {0xAF, KEY_VOLUMEUP},  {0xB0, KEY_NEXTSONG},
    {0xB1, KEY_PREVIOUSSONG}, {0xB2, KEY_STOPCD},  {0xB3, KEY_PLAYPAUSE}, {0xB4, KEY_MAIL},
    {0xB5, KEY_MEDIA},     {0xB6, KEY_COMPUTER},   {0xB7, KEY_CALC},
    // Punctuation keys of a US layout.
    {0xBA, KEY_SEMICOLON}, {0xBB, KEY_EQUAL},      {0xBC, KEY_COMMA},     {0xBD, KEY_MINUS},
    {0xBE, KEY_DOT},       {0xBF, KEY_SLASH},      {0xC0, KEY_GRAVE},     {0xDB, KEY_LEFTBRACE},
    {0xDC, KEY_BACKSLASH}, {0xDD, KEY_RIGHTBRACE}, {0xDE, KEY_APOSTROPHE}, {0xE2, KEY_102ND},
    {0xFA, KEY_PLAY},      {0xFB, KEY_ZOOMIN},
};

std::array<uint16_t, 256> buildTable() {
    std::array<uint16_t, 256> t{};
    for (const VkEvdev& e : kFixed) t[e.vk] = e.code;
    // Digits and letters are not in code order on the keyboard.
    constexpr uint16_t digits[] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
    constexpr uint16_t pad[] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
    constexpr uint16_t letters[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                    KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                    KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    constexpr uint16_t fkeys[] = {KEY_F1,  KEY_F2,  KEY_F3,  KEY_F4,  KEY_F5,  KEY_F6,  KEY_F7,  KEY_F8,
                                  KEY_F9,  KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14, KEY_F15, KEY_F16,
                                  KEY_F17, KEY_F18, KEY_F19, KEY_F20, KEY_F21, KEY_F22, KEY_F23, KEY_F24};
    for (int i = 0; i < 10; ++i) {
        t[0x30 + i] = digits[i];
        t[0x60 + i] = pad[i];
    }
    for (int i = 0; i < 26; ++i) t[0x41 + i] = letters[i];
    for (int i = 0; i < 24; ++i) t[0x70 + i] = fkeys[i];
    return t;
}

}  // namespace

uint32_t evdevKeyForVirtualKey(uint16_t vk) {
    static const std::array<uint16_t, 256> table = buildTable();
    return vk < table.size() ? table[vk] : 0;
}

}  // namespace platform
