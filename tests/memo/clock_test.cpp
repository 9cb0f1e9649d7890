// The clock controller on a small clock in a real scene: hands through their
// objects' local time, digits through switch bits, the time base, the search.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "../scene/scene_fixture.h"
#include "ov_ac_clock.h"

namespace {

// "Local" time is UTC here, so any date is exact.
struct FakeSource : OvClockSource {
  int64_t now = 0;
  uint32_t ms = 0;
  int64_t Now() override { return now; }
  uint32_t Milliseconds() override { return ms; }
  bool ToLocal(int64_t t, OvClockTime& out) override {
    const std::time_t tt = std::time_t(t);
    std::tm m{};
    if (!gmtime_r(&tt, &m)) return false;
    out = {m.tm_sec, m.tm_min, m.tm_hour, m.tm_mday, m.tm_mon, m.tm_year, m.tm_wday, m.tm_yday, 0};
    return true;
  }
  void Advance(uint32_t millis) {  // both clocks move on together
    now += (ms % 1000 + millis) / 1000;
    ms += millis;
  }
};

// "_clock" holds the digits; each hand is an object of its own hung below it
// (the hour hand one level deeper); the year digits sit in another child.
struct ClockScene {
  FakeSource source;  // outlives the scene and its controllers
  OvScene scene;
  OvClump* root = nullptr;
  OvLogObj* hands[3] = {};
  OvLogObj* yearObject = nullptr;
  OvClump* parts[OvAcClock::kPartCount] = {};
  OvAcClock* clock = nullptr;

  explicit ClockScene(bool withDigits = true) {
    AddCamera(scene);
    OvLogObj* clockObject = AddObject(scene, "_clock", &root);
    for (int i = 0; i < 3; ++i) hands[i] = AddObject(scene, OvAcClock::kPartNames[i], &parts[i]);
    hands[0]->ChangeParentClump(root, false);
    hands[1]->ChangeParentClump(root, false);
    hands[2]->ChangeParentClump(parts[1], false);
    OvClump* yearRoot = nullptr;
    yearObject = AddObject(scene, "year", &yearRoot);
    yearObject->ChangeParentClump(root, false);
    for (int i = OvAcClock::kSecondDigit; withDigits && i < OvAcClock::kPartCount; ++i) {
      parts[i] = OvClump::Create();
      parts[i]->SetName(OvAcClock::kPartNames[i]);
      (i >= OvAcClock::kYearDigit && i <= OvAcClock::kYearDigit3 ? yearRoot : root)->AttachChild(parts[i]);
    }
    clock = OvAcClock::AttachTo(clockObject, &source);
    EXPECT_NE(clock, nullptr);
  }
  void Tick() { StepFrame(scene, 1); }
  void Set(int y, int mo, int d, int h, int mi, int s, uint32_t ms) {
    std::tm m{};
    m.tm_year = y - 1900, m.tm_mon = mo - 1, m.tm_mday = d, m.tm_hour = h, m.tm_min = mi, m.tm_sec = s;
    source.now = int64_t(timegm(&m));
    source.ms = ms;
  }
  // The base is taken at this time; the second tick shows it.
  void StartAt(int y, int mo, int d, int h, int mi, int s, uint32_t ms = 0) {
    Set(y, mo, d, h, mi, s, ms);
    Tick();
    Tick();
  }
  // One character per digit part, groups apart: the digit signalled, '.' for
  // none, '?' for anything else.
  std::string Digits() const {
    std::string out;
    for (int i = OvAcClock::kSecondDigit; i < OvAcClock::kPartCount; ++i) {
      if (i == 5 || i == 7 || i == 9 || i == 11 || i == 12 || i == 14 || i == 18) out += ' ';
      const uint32_t bits = parts[i]->GetSwitch() & OV_SWITCH_FLAGS;
      char ch = bits ? '?' : '.';
      for (int d = 0; d < 10; ++d) ch = bits == 1u << d ? char('0' + d) : ch;
      out += ch;
    }
    return out;
  }
  std::string Hands() const {
    return std::to_string(hands[0]->GetCrntFrame()) + " " + std::to_string(hands[1]->GetCrntFrame()) + " " +
           std::to_string(hands[2]->GetCrntFrame());
  }
};

TEST(Clock, FirstTickTakesBaseSecondShowsAllThenOnlyChanges) {
  ClockScene d;
  d.parts[OvAcClock::kWdayDigit]->SetInvisible();
  d.Set(2024, 3, 9, 14, 7, 5, 5000);  // a Saturday
  d.Tick();
  EXPECT_FALSE(d.clock->PartsFound());
  EXPECT_EQ(d.Digits(), ".. .. .. .. . .. .... .");
  d.source.ms += 250;
  d.Tick();
  ASSERT_TRUE(d.clock->PartsFound());
  EXPECT_EQ(d.Hands(), "315 425 847");  // 5.25 s, 7.0875 min, 14.118125 h at 60 units/s
  EXPECT_EQ(d.Digits(), "50 70 20 90 6 30 4202 1");
  EXPECT_TRUE(d.parts[OvAcClock::kWdayDigit]->IsInvisible());  // other bits untouched
  d.source.Advance(1000);
  d.Tick();
  EXPECT_EQ(d.Digits(), "6. .. .. .. . .. .... .");
  EXPECT_EQ(d.Hands(), "375 426 847");
}

TEST(Clock, TwelveHourDigitsAndHalfDay) {
  // Seconds, minutes and hours ones digit first, then the half-day digit.
  const char* const expected[][2] = {{"003000", "00 03 21 0"}, {"115959", "95 95 11 0"}, {"120000", "00 00 21 1"},
                                     {"120001", "10 00 21 1"}, {"130500", "00 50 10 1"}, {"235959", "95 95 11 1"}};
  for (const auto& e : expected) {
    const int v = std::stoi(e[0]);
    ClockScene c;
    c.StartAt(2024, 5, 5, v / 10000, v / 100 % 100, v % 100);
    const std::string digits = c.Digits();
    EXPECT_EQ(digits.substr(0, 8) + digits.substr(digits.size() - 2), e[1]) << e[0];
  }
}

TEST(Clock, HandsAndRolloversAtMidnightMonthAndYear) {
  ClockScene c;
  c.StartAt(1999, 12, 31, 23, 59, 30, 1000);
  c.source.Advance(500);
  c.Tick();
  EXPECT_EQ(c.Hands(), "1830 3570 1439");  // 30.5 s, 59.508 min, 23.9918 h
  c.source.Advance(29500);
  c.Tick();
  EXPECT_EQ(c.Hands(), "0 0 0");
  EXPECT_EQ(c.clock->PreviousTime().year, 100);
  EXPECT_EQ(c.Digits(), ".0 00 2. .0 6 10 0002 0");

  ClockScene common, leap;
  common.StartAt(2023, 2, 28, 23, 59, 59);
  leap.StartAt(2024, 2, 28, 23, 59, 59);
  common.source.Advance(1000), leap.source.Advance(1000);
  common.Tick(), leap.Tick();
  EXPECT_EQ(common.Digits(), "00 00 2. 10 3 3. .... 0");
  EXPECT_EQ(leap.Digits(), "00 00 2. 9. 4 .. .... 0");
}

TEST(Clock, TimeBaseAbsorbsDriftFollowsJumpsAndTimerWrap) {
  ClockScene c;
  c.StartAt(2024, 5, 5, 10, 0, 0, 0xFFFFFA00u);
  const int64_t base = c.clock->BaseSeconds();
  c.source.ms += 1536;  // across the wrap; the calendar 3 s ahead is absorbed
  c.source.now = base + 4;
  c.Tick();
  EXPECT_EQ(c.clock->BaseSeconds(), base);
  EXPECT_EQ(c.Hands(), "92 1 600");
  c.source.ms += 464;  // 4 s apart: a new base at the calendar time
  c.source.now = base + 6;
  c.Tick();
  EXPECT_EQ(c.clock->BaseSeconds(), base + 6);
  EXPECT_EQ(c.clock->BaseMilliseconds(), c.source.ms);
  EXPECT_EQ(c.Hands(), "360 6 600");
  c.source.now -= 3600;  // the system clock set back an hour
  c.Tick();
  EXPECT_EQ(c.Digits(), ".. .. 90 .. . .. .... .");
}

TEST(Clock, PartsSearchedFrozenHeldAndLetGo) {
  ClockScene c;
  OvClump* stray = nullptr;  // outside the clock: never found
  AddObject(c.scene, "second_digit", &stray);
  OvClump* twin = OvClump::Create();  // met first, depth first
  twin->SetName("minute_hand");
  c.parts[OvAcClock::kSecondHand]->AttachChild(twin);
  c.StartAt(2024, 1, 1, 0, 0, 0);
  EXPECT_EQ(c.clock->GetPart(OvAcClock::kSecondDigit), c.parts[OvAcClock::kSecondDigit]);
  EXPECT_EQ(c.clock->GetPart(OvAcClock::kMinuteHand), twin);
  EXPECT_EQ(stray->GetSwitch(), 0u);
  EXPECT_TRUE(c.hands[0]->IsTimeFreeze() && c.hands[2]->IsTimeFreeze() && c.yearObject->IsTimeFreeze());
  EXPECT_FALSE(c.hands[1]->IsTimeFreeze());
  EXPECT_EQ(c.parts[OvAcClock::kYearDigit3]->RefCount(), 2);
  ASSERT_TRUE(c.root->DelAniCtrl(c.clock));
  EXPECT_EQ(c.parts[OvAcClock::kYearDigit3]->RefCount(), 1);
}

TEST(Clock, MissingPartsAndVanishedObjectsAreTolerated) {
  ClockScene c(false);
  c.StartAt(2024, 6, 1, 6, 0, 0);
  EXPECT_EQ(c.clock->GetPart(OvAcClock::kAmPmDigit), nullptr);
  c.scene.DelLogObj(c.hands[2]);  // the clock keeps the clump, now ownerless
  c.source.Advance(500);
  c.Tick();
  EXPECT_EQ(c.clock->GetPart(OvAcClock::kHourHand)->GetLogObj(), nullptr);
  EXPECT_EQ(c.hands[0]->GetCrntFrame(), 30);
  EXPECT_EQ(OvAcClock::AttachTo(nullptr), nullptr);
  OvLogObj* bare = OvLogObj::Create();
  EXPECT_EQ(OvAcClock::AttachTo(bare), nullptr);
  bare->Release();
}

}  // namespace
