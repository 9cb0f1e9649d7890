#include "ov_input_replay.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <unistd.h>

#include "ov_paths.h"
#include "ov_vkeys.h"

namespace {

// A run of 2^31 frames is over a year at 60 a second: anything later is a
// typing error, not a plan.
constexpr int64_t kMaxFrame = INT32_MAX;
// Clump names are short; a longer one is not a name.
constexpr size_t kMaxNameBytes = 255;
// Messages show at most this much of a token.
constexpr size_t kMaxShownBytes = 40;
// A session of hours is a few megabytes; anything far larger is not one.
constexpr size_t kMaxFileBytes = size_t(64) << 20;

int32_t ClampToI32(int64_t v) { return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

// A token as a message shows it: cut short, control and non-ASCII bytes as
// \xHH, so a binary file cannot flood or garble the terminal.
std::string Shown(const std::string& text) {
  std::string out;
  const size_t n = text.size() < kMaxShownBytes ? text.size() : kMaxShownBytes;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c >= 0x7F || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(char(c));
    }
  }
  if (n < text.size()) out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

// A locator's reason quotes the name as the file gave it.
std::string ShownName(std::string why, const std::string& name) {
  const std::string shown = Shown(name);
  for (size_t at = why.find(name); !name.empty() && at != std::string::npos; at = why.find(name, at + shown.size())) {
    why.replace(at, name.size(), shown);
  }
  return why;
}

bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t& out) {
  if (text.empty()) return false;
  const char* s = text.c_str();
  if (!(*s == '-' || *s == '+' || (*s >= '0' && *s <= '9'))) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(s, &end, 10);
  if (errno != 0 || *end != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool ParseButton(const std::string& text, int& index) {
  if (text == "left")
    index = OV_INPUT_MOUSE_LEFT;
  else if (text == "middle")
    index = OV_INPUT_MOUSE_MIDDLE;
  else if (text == "right")
    index = OV_INPUT_MOUSE_RIGHT;
  else
    return false;
  return true;
}

const char* ButtonName(int index) {
  return index == OV_INPUT_MOUSE_LEFT ? "left" : index == OV_INPUT_MOUSE_MIDDLE ? "middle" : "right";
}

int ButtonKey(int index) {
  return index == OV_INPUT_MOUSE_LEFT ? VK_LBUTTON : index == OV_INPUT_MOUSE_MIDDLE ? VK_MBUTTON : VK_RBUTTON;
}

// One line's tokens into an event; false with the reason.
bool ParseEvent(const std::vector<std::string>& t, OvInputEvent& e, std::string& why) {
  int64_t v = 0;
  if (!ParseInt(t[0], 0, kMaxFrame, v)) {
    why = "the frame must be a whole number from 0 to " + std::to_string(kMaxFrame) + ", not '" + Shown(t[0]) + "'";
    return false;
  }
  e.frame = v;
  if (t.size() < 2) {
    why = "an event must follow the frame number";
    return false;
  }
  const std::string& ev = t[1];
  const size_t args = t.size() - 2;
  auto count = [&](size_t lo, size_t hi, const char* form) {
    if (args >= lo && args <= hi) return true;
    why = std::string("expected '") + form + "'";
    return false;
  };
  auto coord = [&](const std::string& text, int32_t& out, const char* what) {
    int64_t c = 0;
    if (!ParseInt(text, INT32_MIN, INT32_MAX, c)) {
      why = std::string(what) + " must be a whole number, not '" + Shown(text) + "'";
      return false;
    }
    out = int32_t(c);
    return true;
  };
  if (ev == "move") {
    if (args >= 1 && t[2][0] == '@') {
      if (!count(1, 3, "move @NAME [DX DY]") || args == 2) {
        why = "expected 'move @NAME [DX DY]'";
        return false;
      }
      e.kind = OvInputEvent::Kind::MoveToName;
      e.name = t[2].substr(1);
      if (e.name.empty()) {
        why = "'@' must be followed by a clump name";
        return false;
      }
      if (e.name.size() > kMaxNameBytes) {
        why = "a clump name has at most " + std::to_string(kMaxNameBytes) + " bytes, not '" + Shown(e.name) + "'";
        return false;
      }
      return args == 1 || (coord(t[3], e.x, "DX") && coord(t[4], e.y, "DY"));
    }
    if (!count(2, 2, "move X Y")) return false;
    e.kind = OvInputEvent::Kind::Move;
    return coord(t[2], e.x, "X") && coord(t[3], e.y, "Y");
  }
  if (ev == "down" || ev == "up") {
    if (!count(1, 1, "down|up left|right|middle")) return false;
    e.kind = OvInputEvent::Kind::Button;
    e.down = ev == "down";
    if (!ParseButton(t[2], e.index)) {
      why = "the button must be left, right or middle, not '" + Shown(t[2]) + "'";
      return false;
    }
    return true;
  }
  if (ev == "key") {
    if (!count(2, 2, "key VK down|up")) return false;
    e.kind = OvInputEvent::Kind::Key;
    if (!ParseInt(t[2], 0, 255, v)) {
      why = "the virtual-key code must be 0 to 255, not '" + Shown(t[2]) + "'";
      return false;
    }
    e.index = int(v);
    if (t[3] != "down" && t[3] != "up") {
      why = "a key goes down or up, not '" + Shown(t[3]) + "'";
      return false;
    }
    e.down = t[3] == "down";
    return true;
  }
  if (ev == "wheel") {
    if (!count(1, 1, "wheel DELTA")) return false;
    e.kind = OvInputEvent::Kind::Wheel;
    return coord(t[2], e.delta, "DELTA");
  }
  if (ev == "quit") {
    if (!count(0, 0, "quit")) return false;
    e.kind = OvInputEvent::Kind::Quit;
    return true;
  }
  why = "unknown event '" + Shown(ev) + "' (move, down, up, key, wheel or quit)";
  return false;
}

}  // namespace

bool OvParseInputEvents(const std::string& text, std::vector<OvInputEvent>& out, std::string& error) {
  out.clear();
  // A byte-order mark some editors write is not part of the first line.
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 0;
  int64_t lastFrame = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string body = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    if (size_t hash = body.find('#'); hash != std::string::npos) body.resize(hash);
    std::vector<std::string> tokens;
    std::istringstream in(body);
    for (std::string tok; in >> tok;) tokens.push_back(tok);
    if (tokens.empty()) continue;
    OvInputEvent e;
    e.line = line;
    std::string why;
    if (!ParseEvent(tokens, e, why)) {
      error = "line " + std::to_string(line) + ": " + why;
      return false;
    }
    if (e.frame < lastFrame) {
      error = "line " + std::to_string(line) + ": frame " + std::to_string(e.frame) + " comes after frame " +
              std::to_string(lastFrame) + "; frame numbers never decrease";
      return false;
    }
    lastFrame = e.frame;
    out.push_back(std::move(e));
  }
  return true;
}

bool OvLoadInputEvents(const char* path, std::vector<OvInputEvent>& out, std::string& error) {
  int openError = 0;
  const int fd = OvOpenRegularFile(path, &openError);
  if (fd < 0) {
    error = std::string(path) + ": cannot read it: " +
            (openError == EISDIR   ? "it is a folder"
             : openError == EINVAL ? "it is not a regular file"
                                   : std::strerror(openError));
    return false;
  }
  std::string text;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (text.size() + size_t(n) > kMaxFileBytes) {
      ::close(fd);
      error = std::string(path) + ": larger than " + std::to_string(kMaxFileBytes >> 20) + " MB";
      return false;
    }
    text.append(buffer, size_t(n));
  }
  ::close(fd);
  if (!ok) {
    error = std::string(path) + ": cannot read it: " + std::strerror(errno);
    return false;
  }
  std::string why;
  if (!OvParseInputEvents(text, out, why)) {
    // "line N: ..." becomes "FILE:N: ...".
    error = std::string(path) + ":" + why.substr(5);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

OvReplayInputDevice::OvReplayInputDevice(std::vector<OvInputEvent> events, std::string source,
                                         OvPointerLocator* locator)
    : m_events(std::move(events)), m_source(std::move(source)), m_locator(locator) {}

void OvReplayInputDevice::Reset() {
  // The position in the file stays: a reset is not a rewind.
  std::memset(m_current, 0, sizeof(m_current));
  std::memset(m_previous, 0, sizeof(m_previous));
  m_prevX = m_x;
  m_prevY = m_y;
  m_moveX = m_moveY = 0;
  m_relative = false;
}

bool OvReplayInputDevice::QuitDue() const {
  for (size_t i = m_next; i < m_events.size() && m_events[i].frame <= m_frame; ++i)
    if (m_events[i].kind == OvInputEvent::Kind::Quit) return true;
  return false;
}

bool OvReplayInputDevice::EventsDue() const { return m_next < m_events.size() && m_events[m_next].frame <= m_frame; }

void OvReplayInputDevice::Apply(const OvInputEvent& e) {
  switch (e.kind) {
    case OvInputEvent::Kind::Move:
      m_x = e.x;
      m_y = e.y;
      break;
    case OvInputEvent::Kind::MoveToName: {
      int32_t x = 0, y = 0;
      std::string why = "no scene to find '" + e.name + "' in";
      if (m_locator == nullptr || !m_locator->Locate(e.name, x, y, why)) {
        if (m_error.empty()) m_error = m_source + ":" + std::to_string(e.line) + ": " + ShownName(why, e.name);
        break;
      }
      m_x = ClampToI32(int64_t(x) + e.x);
      m_y = ClampToI32(int64_t(y) + e.y);
      break;
    }
    case OvInputEvent::Kind::Button: m_keys[ButtonKey(e.index)] = e.down ? 0x80 : 0; break;
    case OvInputEvent::Kind::Key: m_keys[e.index] = e.down ? 0x80 : 0; break;
    case OvInputEvent::Kind::Wheel: m_pendingWheel = ClampToI32(int64_t(m_pendingWheel) + e.delta); break;
    case OvInputEvent::Kind::Quit: break;
  }
}

void OvReplayInputDevice::Update() {
  std::memcpy(m_previous, m_current, sizeof(m_current));
  m_prevX = m_x;
  m_prevY = m_y;
  for (; m_next < m_events.size() && m_events[m_next].frame <= m_frame; ++m_next) Apply(m_events[m_next]);
  ++m_frame;
  std::memcpy(m_current, m_keys, sizeof(m_keys));
  // The button entries copy the key state, as the polled device does.
  m_current[OV_INPUT_MOUSE_LEFT] = m_keys[VK_LBUTTON];
  m_current[OV_INPUT_MOUSE_MIDDLE] = m_keys[VK_MBUTTON];
  m_current[OV_INPUT_MOUSE_RIGHT] = m_keys[VK_RBUTTON];
  m_wheel = m_pendingWheel;
  m_pendingWheel = 0;
  if (m_relative) {
    m_moveX = ClampToI32(int64_t(m_x) - m_prevX);
    m_moveY = ClampToI32(int64_t(m_y) - m_prevY);
  }
}

bool OvReplayInputDevice::IsClickDown(int index) {
  if (index < 0 || index >= OV_INPUT_COUNT) return false;
  return (m_current[index] & 0x80) != 0 && (m_previous[index] & 0x80) == 0;
}

bool OvReplayInputDevice::IsClickUp(int index) {
  if (index < 0 || index >= OV_INPUT_COUNT) return false;
  return (m_current[index] & 0x80) == 0 && (m_previous[index] & 0x80) != 0;
}

bool OvReplayInputDevice::IsDown(int index) {
  if (index < 0 || index >= OV_INPUT_COUNT) return false;
  return (m_current[index] & 0x80) != 0;
}

void OvReplayInputDevice::GetPos(int& x, int& y) {
  x = m_x;
  y = m_y;
}

void OvReplayInputDevice::GetMove(int& dx, int& dy) {
  m_relative = true;
  dx = m_moveX;
  dy = m_moveY;
}

// ---------------------------------------------------------------------------

OvRecordingInputDevice::OvRecordingInputDevice(OvInputDevice* inner, FILE* out) : m_inner(inner), m_out(out) {
  if (m_out != nullptr) m_ok = std::fputs("# recorded input: FRAME EVENT ARGS, pointer in window pixels\n", m_out) >= 0;
}

OvRecordingInputDevice::~OvRecordingInputDevice() { delete m_inner; }

void OvRecordingInputDevice::Reset() { m_inner->Reset(); }

void OvRecordingInputDevice::Update() {
  m_inner->Update();
  const int64_t f = m_frame++;
  if (m_out == nullptr || !m_ok) return;
  bool ok = true;
  auto line = [&](const char* fmt, auto... args) {
    if (std::fprintf(m_out, "%" PRId64 " ", f) < 0 || std::fprintf(m_out, fmt, args...) < 0) ok = false;
  };
  int x = 0, y = 0;
  m_inner->GetPos(x, y);
  if (!m_haveState || x != m_x || y != m_y) line("move %d %d\n", x, y);
  m_haveState = true;
  m_x = x;
  m_y = y;
  for (int i = OV_INPUT_MOUSE_LEFT; i <= OV_INPUT_MOUSE_RIGHT; ++i) {
    const bool down = m_inner->IsDown(i);
    if (down != m_down[i]) line("%s %s\n", down ? "down" : "up", ButtonName(i));
    m_down[i] = down;
  }
  for (int vk = 0; vk < 256; ++vk) {
    // The buttons' key entries are written as buttons above.
    if (vk == VK_LBUTTON || vk == VK_MBUTTON || vk == VK_RBUTTON) continue;
    const bool down = m_inner->IsDown(vk);
    if (down != m_down[vk]) line("key %d %s\n", vk, down ? "down" : "up");
    m_down[vk] = down;
  }
  if (const int wheel = m_inner->GetWheel(); wheel != 0) line("wheel %d\n", wheel);
  if (std::fflush(m_out) != 0) ok = false;
  m_ok = ok;
}

void OvRecordingInputDevice::RecordQuit() {
  if (m_out == nullptr || !m_ok) return;
  m_ok = std::fprintf(m_out, "%" PRId64 " quit\n", m_frame) >= 0 && std::fflush(m_out) == 0;
}
