// The memo board's 3D clock: a controller on the clock object that reads the
// local wall-clock time every tick and drives the named parts of the clock
// content. Hands are animations whose time in seconds is the value shown;
// digit parts get the switch bit of their digit for one tick when it changes.
#pragma once

#include <cstdint>
#include <functional>

#include "ov_anictrl.h"

class OvClump;
class OvLogObj;

// A local calendar time, field for field: second, minute, hour, day of month,
// month 0-11, years since 1900, weekday 0-6 (0 = Sunday), day of year and the
// daylight flag. -1 in every field means "nothing shown yet".
struct OvClockTime {
  int32_t second = -1;
  int32_t minute = -1;
  int32_t hour = -1;
  int32_t mday = -1;
  int32_t month = -1;
  int32_t year = -1;
  int32_t wday = -1;
  int32_t yday = -1;
  int32_t isdst = -1;
};

// Where the clock gets its time. The system's source reads time(), the
// 32-bit millisecond tick counter and the local time zone; tests put in
// their own to show any date.
class OvClockSource {
 public:
  virtual ~OvClockSource() = default;
  // Calendar time in seconds since 1970 (UTC).
  virtual int64_t Now() = 0;
  // Millisecond timer, wrapping at 2^32.
  virtual uint32_t Milliseconds() = 0;
  // Calendar time to local calendar time; false when it cannot be converted.
  virtual bool ToLocal(int64_t t, OvClockTime& out) = 0;
};

OvClockSource& OvSystemClockSource();

class OvAcClock final : public OvAniCtrl {
 public:
  enum Part {
    kSecondHand,
    kMinuteHand,
    kHourHand,
    kSecondDigit,
    kSecondDigit1,
    kMinuteDigit,
    kMinuteDigit1,
    kHourDigit,
    kHourDigit1,
    kMdayDigit,
    kMdayDigit1,
    kWdayDigit,
    kMonthDigit,
    kMonthDigit1,
    kYearDigit,
    kYearDigit1,
    kYearDigit2,
    kYearDigit3,
    kAmPmDigit,
    kPartCount
  };
  // Clump names of the parts, in Part order. In each digit group the name
  // without suffix is the ones digit, suffix 1 the tens, and so on.
  static const char* const kPartNames[kPartCount];
  // Ticks the base may drift from the calendar before it is taken afresh.
  static constexpr int64_t kMaxDriftSeconds = 3;

  static const void* ClassTag();

  // An owned controller reading `source` (null: the system's); null when
  // memory runs out. The source must outlive the controller.
  static OvAcClock* Create(OvClockSource* source = nullptr);
  // Creates one and adds it to the first root clump of `clockObject`. Null
  // (nothing attached) without an object, a root clump or memory.
  static OvAcClock* AttachTo(OvLogObj* clockObject, OvClockSource* source = nullptr);

  const void* TypeTag() const override { return ClassTag(); }
  bool IsKindOf(const void* tag) const override { return tag == ClassTag() || OvAniCtrl::IsKindOf(tag); }
  // The per-tick work; `time` is not used, the clock follows the wall clock.
  void Animate(OvClump* clump, int32_t time) override;

  // Called once, right after the parts are looked up (the content may make
  // them on its first tick), so they can be given another look.
  void SetPartsFoundHook(std::function<void(OvAcClock&)> hook) { m_partsFoundHook = std::move(hook); }

  OvClump* GetPart(int part) const { return part >= 0 && part < kPartCount ? m_parts[part] : nullptr; }
  bool FirstTickPending() const { return m_firstTick; }
  bool PartsFound() const { return m_partsFound; }
  const OvClockTime& PreviousTime() const { return m_prev; }
  int64_t BaseSeconds() const { return m_baseSeconds; }
  uint32_t BaseMilliseconds() const { return m_baseMs; }

 private:
  explicit OvAcClock(OvClockSource* source) : m_source(source) { SetOwned(true); }
  // Lets go of the parts (the destroy operation).
  ~OvAcClock() override;

  void LookUpParts(OvClump* clump);
  void ShowDigits(const OvClockTime& now);

  OvClockSource* m_source;
  OvClump* m_parts[kPartCount] = {};
  bool m_firstTick = true;
  bool m_partsFound = false;
  OvClockTime m_prev;
  int64_t m_baseSeconds = 0;
  uint32_t m_baseMs = 0;
  std::function<void(OvAcClock&)> m_partsFoundHook;
};
