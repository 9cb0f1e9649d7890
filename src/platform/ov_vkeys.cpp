// The one table from SDL scancodes to Windows virtual-key numbers, and the
// key-state arrays built from it.
#include "ov_vkeys.h"

#include <SDL.h>

#include <array>
#include <cstring>

namespace {

struct ScancodeVk {
  SDL_Scancode scancode;
  uint8_t vk;
};

// Positional mapping (US layout). Several scancodes may share a key code.
constexpr ScancodeVk kPairs[] = {
    // Editing and whitespace.
    {SDL_SCANCODE_RETURN, VK_RETURN},
    {SDL_SCANCODE_RETURN2, VK_RETURN},
    {SDL_SCANCODE_KP_ENTER, VK_RETURN},
    {SDL_SCANCODE_ESCAPE, VK_ESCAPE},
    {SDL_SCANCODE_BACKSPACE, VK_BACK},
    {SDL_SCANCODE_TAB, VK_TAB},
    {SDL_SCANCODE_SPACE, VK_SPACE},
    {SDL_SCANCODE_CLEAR, VK_CLEAR},
    {SDL_SCANCODE_KP_CLEAR, VK_CLEAR},
    {SDL_SCANCODE_CANCEL, VK_CANCEL},

    // OEM punctuation.
    {SDL_SCANCODE_MINUS, VK_OEM_MINUS},
    {SDL_SCANCODE_EQUALS, VK_OEM_PLUS},
    {SDL_SCANCODE_LEFTBRACKET, VK_OEM_4},
    {SDL_SCANCODE_RIGHTBRACKET, VK_OEM_6},
    {SDL_SCANCODE_BACKSLASH, VK_OEM_5},
    {SDL_SCANCODE_NONUSHASH, VK_OEM_5},  // the same key position as backslash
    {SDL_SCANCODE_SEMICOLON, VK_OEM_1},
    {SDL_SCANCODE_APOSTROPHE, VK_OEM_7},
    {SDL_SCANCODE_GRAVE, VK_OEM_3},
    {SDL_SCANCODE_COMMA, VK_OEM_COMMA},
    {SDL_SCANCODE_PERIOD, VK_OEM_PERIOD},
    {SDL_SCANCODE_SLASH, VK_OEM_2},
    {SDL_SCANCODE_NONUSBACKSLASH, VK_OEM_102},

    // Locks and system keys.
    {SDL_SCANCODE_CAPSLOCK, VK_CAPITAL},
    {SDL_SCANCODE_NUMLOCKCLEAR, VK_NUMLOCK},
    {SDL_SCANCODE_SCROLLLOCK, VK_SCROLL},
    {SDL_SCANCODE_PRINTSCREEN, VK_SNAPSHOT},
    {SDL_SCANCODE_SYSREQ, VK_SNAPSHOT},
    {SDL_SCANCODE_PAUSE, VK_PAUSE},
    {SDL_SCANCODE_APPLICATION, VK_APPS},
    {SDL_SCANCODE_MENU, VK_APPS},
    {SDL_SCANCODE_HELP, VK_HELP},
    {SDL_SCANCODE_SELECT, VK_SELECT},
    {SDL_SCANCODE_EXECUTE, VK_EXECUTE},
    {SDL_SCANCODE_SLEEP, VK_SLEEP},

    // Navigation.
    {SDL_SCANCODE_INSERT, VK_INSERT},
    {SDL_SCANCODE_DELETE, VK_DELETE},
    {SDL_SCANCODE_HOME, VK_HOME},
    {SDL_SCANCODE_END, VK_END},
    {SDL_SCANCODE_PAGEUP, VK_PRIOR},
    {SDL_SCANCODE_PAGEDOWN, VK_NEXT},
    {SDL_SCANCODE_LEFT, VK_LEFT},
    {SDL_SCANCODE_UP, VK_UP},
    {SDL_SCANCODE_RIGHT, VK_RIGHT},
    {SDL_SCANCODE_DOWN, VK_DOWN},

    // Numeric keypad (digits 0x60-0x69 are filled below).
    {SDL_SCANCODE_KP_MULTIPLY, VK_MULTIPLY},
    {SDL_SCANCODE_KP_PLUS, VK_ADD},
    {SDL_SCANCODE_KP_COMMA, VK_SEPARATOR},
    {SDL_SCANCODE_KP_MINUS, VK_SUBTRACT},
    {SDL_SCANCODE_KP_PERIOD, VK_DECIMAL},
    {SDL_SCANCODE_KP_DIVIDE, VK_DIVIDE},

    // Modifiers: the sided codes (VK_SHIFT, VK_CONTROL, VK_MENU follow).
    {SDL_SCANCODE_LSHIFT, VK_LSHIFT},
    {SDL_SCANCODE_RSHIFT, VK_RSHIFT},
    {SDL_SCANCODE_LCTRL, VK_LCONTROL},
    {SDL_SCANCODE_RCTRL, VK_RCONTROL},
    {SDL_SCANCODE_LALT, VK_LMENU},
    {SDL_SCANCODE_RALT, VK_RMENU},
    {SDL_SCANCODE_LGUI, VK_LWIN},
    {SDL_SCANCODE_RGUI, VK_RWIN},

    // Asian keyboards (JIS positions for the two extra punctuation keys).
    {SDL_SCANCODE_INTERNATIONAL1, VK_OEM_102},     // Ro
    {SDL_SCANCODE_INTERNATIONAL2, VK_KANA},        // Katakana/Hiragana
    {SDL_SCANCODE_INTERNATIONAL3, VK_OEM_5},       // Yen
    {SDL_SCANCODE_INTERNATIONAL4, VK_CONVERT},     // Henkan
    {SDL_SCANCODE_INTERNATIONAL5, VK_NONCONVERT},  // Muhenkan
    {SDL_SCANCODE_LANG1, VK_HANGUL},
    {SDL_SCANCODE_LANG2, VK_HANJA},

    // Media and browser keys.
    {SDL_SCANCODE_MUTE, VK_VOLUME_MUTE},
    {SDL_SCANCODE_AUDIOMUTE, VK_VOLUME_MUTE},
    {SDL_SCANCODE_VOLUMEDOWN, VK_VOLUME_DOWN},
    {SDL_SCANCODE_VOLUMEUP, VK_VOLUME_UP},
    {SDL_SCANCODE_AUDIONEXT, VK_MEDIA_NEXT_TRACK},
    {SDL_SCANCODE_AUDIOPREV, VK_MEDIA_PREV_TRACK},
    {SDL_SCANCODE_AUDIOSTOP, VK_MEDIA_STOP},
    {SDL_SCANCODE_AUDIOPLAY, VK_MEDIA_PLAY_PAUSE},
    {SDL_SCANCODE_MAIL, VK_LAUNCH_MAIL},
    {SDL_SCANCODE_MEDIASELECT, VK_LAUNCH_MEDIA_SELECT},
    {SDL_SCANCODE_COMPUTER, VK_LAUNCH_APP1},
    {SDL_SCANCODE_CALCULATOR, VK_LAUNCH_APP2},
    {SDL_SCANCODE_AC_BACK, VK_BROWSER_BACK},
    {SDL_SCANCODE_AC_FORWARD, VK_BROWSER_FORWARD},
    {SDL_SCANCODE_AC_REFRESH, VK_BROWSER_REFRESH},
    {SDL_SCANCODE_AC_STOP, VK_BROWSER_STOP},
    {SDL_SCANCODE_AC_SEARCH, VK_BROWSER_SEARCH},
    {SDL_SCANCODE_AC_BOOKMARKS, VK_BROWSER_FAVORITES},
    {SDL_SCANCODE_AC_HOME, VK_BROWSER_HOME},
};

constexpr std::array<uint8_t, SDL_NUM_SCANCODES> BuildTable() {
  std::array<uint8_t, SDL_NUM_SCANCODES> t{};
  for (int i = 0; i < 26; ++i) t[SDL_SCANCODE_A + i] = static_cast<uint8_t>('A' + i);
  // SDL orders the digit row 1..9, 0.
  for (int i = 0; i < 9; ++i) t[SDL_SCANCODE_1 + i] = static_cast<uint8_t>('1' + i);
  t[SDL_SCANCODE_0] = '0';
  for (int i = 0; i < 12; ++i) t[SDL_SCANCODE_F1 + i] = static_cast<uint8_t>(VK_F1 + i);
  for (int i = 0; i < 12; ++i) t[SDL_SCANCODE_F13 + i] = static_cast<uint8_t>(VK_F13 + i);
  // Keypad digits: SDL orders them 1..9, 0.
  for (int i = 0; i < 9; ++i) t[SDL_SCANCODE_KP_1 + i] = static_cast<uint8_t>(VK_NUMPAD0 + 1 + i);
  t[SDL_SCANCODE_KP_0] = VK_NUMPAD0;
  for (const ScancodeVk& p : kPairs) t[p.scancode] = p.vk;
  return t;
}

constexpr std::array<uint8_t, SDL_NUM_SCANCODES> kTable = BuildTable();

static_assert(kTable[SDL_SCANCODE_A] == 0x41 && kTable[SDL_SCANCODE_Z] == 0x5A);
static_assert(kTable[SDL_SCANCODE_1] == 0x31 && kTable[SDL_SCANCODE_0] == 0x30);
static_assert(kTable[SDL_SCANCODE_F24] == VK_F24);
static_assert(kTable[SDL_SCANCODE_KP_9] == 0x69 && kTable[SDL_SCANCODE_KP_0] == 0x60);

}  // namespace

int OvVkFromScancode(int scancode) {
  if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return 0;
  return kTable[scancode];
}

void OvMapKeyboardState(const uint8_t* sdlKeys, int numKeys, uint32_t modState, uint8_t out[256]) {
  // Keep the mouse-button bytes, clear every key byte.
  const uint8_t l = out[VK_LBUTTON], r = out[VK_RBUTTON], m = out[VK_MBUTTON];
  const uint8_t x1 = out[VK_XBUTTON1], x2 = out[VK_XBUTTON2];
  std::memset(out, 0, 256);
  out[VK_LBUTTON] = l;
  out[VK_RBUTTON] = r;
  out[VK_MBUTTON] = m;
  out[VK_XBUTTON1] = x1;
  out[VK_XBUTTON2] = x2;

  if (sdlKeys != nullptr) {
    const int n = numKeys < SDL_NUM_SCANCODES ? numKeys : SDL_NUM_SCANCODES;
    for (int sc = 0; sc < n; ++sc) {
      if (sdlKeys[sc] != 0 && kTable[sc] != 0) out[kTable[sc]] |= 0x80;
    }
  }

  out[VK_SHIFT] |= (out[VK_LSHIFT] | out[VK_RSHIFT]) & 0x80;
  out[VK_CONTROL] |= (out[VK_LCONTROL] | out[VK_RCONTROL]) & 0x80;
  out[VK_MENU] |= (out[VK_LMENU] | out[VK_RMENU]) & 0x80;

  if (modState & KMOD_CAPS) out[VK_CAPITAL] |= 0x01;
  if (modState & KMOD_NUM) out[VK_NUMLOCK] |= 0x01;
  if (modState & KMOD_SCROLL) out[VK_SCROLL] |= 0x01;
}

void OvMapMouseButtons(uint32_t sdlButtons, uint8_t out[256]) {
  out[VK_LBUTTON] = (sdlButtons & SDL_BUTTON_LMASK) ? 0x80 : 0;
  out[VK_RBUTTON] = (sdlButtons & SDL_BUTTON_RMASK) ? 0x80 : 0;
  out[VK_MBUTTON] = (sdlButtons & SDL_BUTTON_MMASK) ? 0x80 : 0;
  out[VK_XBUTTON1] = (sdlButtons & SDL_BUTTON_X1MASK) ? 0x80 : 0;
  out[VK_XBUTTON2] = (sdlButtons & SDL_BUTTON_X2MASK) ? 0x80 : 0;
}
