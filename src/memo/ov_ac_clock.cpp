#include "ov_ac_clock.h"

#include <ctime>

#include "ov_clock.h"
#include "ov_clump.h"
#include "ov_logobj.h"

namespace {

class SystemClockSource final : public OvClockSource {
 public:
  int64_t Now() override { return int64_t(std::time(nullptr)); }
  uint32_t Milliseconds() override { return OvTickCount(); }
  bool ToLocal(int64_t t, OvClockTime& out) override {
    const std::time_t tt = std::time_t(t);
    std::tm tm{};
    if (!localtime_r(&tt, &tm)) return false;
    out = {tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year, tm.tm_wday, tm.tm_yday, tm.tm_isdst};
    return true;
  }
};

// Depth first over a chain of objects and their children, siblings in order.
OvClump* SearchObjects(OvLogObj* first, const char* name) {
  for (OvLogObj* o = first; o; o = o->LoGetNextBrother()) {
    if (OvClump* c = o->LoSearchClump(name)) return c;
    if (OvClump* c = SearchObjects(o->LoGetChild(), name)) return c;
  }
  return nullptr;
}

// Digit `place` (0 = ones) of a non-negative value; anything else has no
// digit to show.
int32_t DigitOf(int32_t value, int place) {
  for (int i = 0; i < place; ++i) value /= 10;
  return value % 10;
}

int32_t TwelveHour(int32_t hour) {
  if (hour > 11) hour -= 12;
  return hour == 0 ? 12 : hour;
}

struct DigitGroup {
  int first;
  int count;
};

constexpr DigitGroup kGroups[] = {
    {OvAcClock::kSecondDigit, 2}, {OvAcClock::kMinuteDigit, 2}, {OvAcClock::kHourDigit, 2}, {OvAcClock::kMdayDigit, 2},
    {OvAcClock::kWdayDigit, 1},   {OvAcClock::kMonthDigit, 2},  {OvAcClock::kYearDigit, 4}, {OvAcClock::kAmPmDigit, 1},
};

// The value group `g` shows for `t`; -1 when `t` holds nothing yet.
int32_t GroupValue(int g, const OvClockTime& t) {
  switch (g) {
    case 0: return t.second;
    case 1: return t.minute;
    case 2: return t.hour < 0 ? -1 : TwelveHour(t.hour);
    case 3: return t.mday;
    case 4: return t.wday;
    case 5: return t.month < 0 ? -1 : t.month + 1;
    case 6: return t.year < 0 ? -1 : t.year + 1900;
    default:
      if (t.hour < 0 || t.minute < 0 || t.second < 0) return -1;
      // Noon itself already counts as afternoon.
      return t.hour * 3600 + t.minute * 60 + t.second > 43199 ? 1 : 0;
  }
}

}  // namespace

OvClockSource& OvSystemClockSource() {
  static SystemClockSource source;
  return source;
}

const char* const OvAcClock::kPartNames[kPartCount] = {
    "second_hand", "minute_hand", "hour_hand",   "second_digit", "second_digit1", "minute_digit", "minute_digit1",
    "hour_digit",  "hour_digit1", "mday_digit",  "mday_digit1",  "wday_digit",    "month_digit",  "month_digit1",
    "year_digit",  "year_digit1", "year_digit2", "year_digit3",  "am_pm_digit",
};

const void* OvAcClock::ClassTag() {
  static const char tag = 0;
  return &tag;
}

OvAcClock* OvAcClock::Create(OvClockSource* source) { return new OvAcClock(source); }

OvAcClock* OvAcClock::AttachTo(OvLogObj* clockObject, OvClockSource* source) {
  OvClump* root = clockObject ? clockObject->GetClumps() : nullptr;
  if (!root) return nullptr;
  OvAcClock* clock = Create(source);
  if (!clock) return nullptr;
  if (!root->AddAniCtrl(clock)) {
    clock->Release();
    return nullptr;
  }
  return clock;
}

OvAcClock::~OvAcClock() {
  for (OvClump*& part : m_parts) {
    if (part) part->Release();
    part = nullptr;
  }
}

void OvAcClock::LookUpParts(OvClump* clump) {
  OvLogObj* clockObject = clump ? clump->GetLogObj() : nullptr;
  // Without its object yet the tree cannot be searched; try again next tick.
  if (!clockObject) return;
  m_partsFound = true;
  for (int i = 0; i < kPartCount; ++i) {
    OvClump* part = clockObject->LoSearchClump(kPartNames[i]);
    if (!part) part = SearchObjects(clockObject->LoGetChild(), kPartNames[i]);
    if (!part) continue;
    // Its object's time now moves only when the clock sets it.
    if (OvLogObj* owner = part->GetLogObj()) owner->FreezeTime();
    part->AddRef();
    m_parts[i] = part;
  }
  if (m_partsFoundHook) {
    auto hook = std::move(m_partsFoundHook);
    m_partsFoundHook = nullptr;
    hook(*this);
  }
}

void OvAcClock::ShowDigits(const OvClockTime& now) {
  for (int g = 0; g < int(sizeof(kGroups) / sizeof(kGroups[0])); ++g) {
    const DigitGroup& group = kGroups[g];
    const int32_t value = GroupValue(g, now);
    const int32_t previous = GroupValue(g, m_prev);
    for (int i = 0; i < group.count; ++i) {
      OvClump* part = m_parts[group.first + i];
      if (!part) continue;
      if (value < 0) {
        part->SetSwitch(OV_SWITCH_FLAGS, 0);
        continue;
      }
      const int32_t digit = DigitOf(value, i);
      const bool changed = previous < 0 || DigitOf(previous, i) != digit;
      part->SetSwitch(OV_SWITCH_FLAGS, changed ? 1u << digit : 0u);
    }
  }
}

void OvAcClock::Animate(OvClump* clump, int32_t time) {
  (void)time;
  OvClockSource& source = m_source ? *m_source : OvSystemClockSource();
  const int64_t now = source.Now();
  const uint32_t ms = source.Milliseconds();

  if (m_firstTick) {
    m_baseSeconds = now;
    m_baseMs = ms;
    m_firstTick = false;
    return;
  }
  if (!m_partsFound) LookUpParts(clump);

  // Unsigned difference: the timer wraps at 2^32 ms.
  uint32_t elapsed = ms - m_baseMs;
  int64_t t = m_baseSeconds + int64_t(elapsed / 1000);
  const int64_t drift = t > now ? t - now : now - t;
  if (drift > kMaxDriftSeconds) {
    m_baseSeconds = now;
    m_baseMs = ms;
    elapsed = 0;
    t = now;
  }

  OvClockTime local;
  if (!source.ToLocal(t, local)) return;

  const double fraction = double(elapsed % 1000) / 1000.0;
  const double seconds = double(local.second) + fraction;
  const double minutes = double(local.minute) + seconds / 60.0;
  const double hours = double(local.hour) + minutes / 60.0;
  const double handValues[3] = {seconds, minutes, hours};
  for (int i = kSecondHand; i <= kHourHand; ++i) {
    OvLogObj* owner = m_parts[i] ? m_parts[i]->GetLogObj() : nullptr;
    if (owner) owner->GotoFrame_Sec(float(handValues[i]));
  }

  ShowDigits(local);
  m_prev = local;
}
