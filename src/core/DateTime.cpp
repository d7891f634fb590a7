#include "core/DateTime.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "core/Assert.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr std::int64_t kReformYear = DateTime::ReformYear;
constexpr int kLastJulianDay = 4;  // 1582-10-04
constexpr int kDroppedDays = 10;   // 1582-10-05 to 1582-10-14
constexpr int kFirstGregorianDay = kLastJulianDay + kDroppedDays + 1;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t FloorMod(std::int64_t a, std::int64_t b) { return a - FloorDiv(a, b) * b; }

// Whole seconds of a value as an unsigned count; negative and NaN values count as 0.
std::uint64_t WholeSeconds(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(value);
}

bool Leap(std::int64_t year) {
  if (year % 4 != 0) return false;
  if (year <= kReformYear - 1) return true;
  return year % 100 != 0 || year % 400 == 0;
}

// The length of a month counting every date it names: October 1582 counts 31 here.
int MonthLength(std::int64_t m, std::int64_t year) {
  return kDaysBeforeMonth[m] - kDaysBeforeMonth[m - 1] + (m == 2 && Leap(year) ? 1 : 0);
}

// Day number of December 31 of the year before. Julian 0001-01-01, day 1, is proleptic Gregorian
// 0000-12-30, so from 1583 on the Gregorian count is offset by 2.
std::int64_t DaysBefore(std::int64_t year) {
  const std::int64_t y = year - 1;
  if (year <= kReformYear) return 365 * y + FloorDiv(y, 4);
  return 365 * y + y / 4 - y / 100 + y / 400 + 2;
}

// Day number of any month, day and year; months outside 1 to 12 move the year, days add up.
std::int64_t DayNumberOf(std::int64_t m, std::int64_t day, std::int64_t year) {
  year += FloorDiv(m - 1, 12);
  m = FloorMod(m - 1, 12) + 1;
  std::int64_t n = DaysBefore(year) + kDaysBeforeMonth[m - 1] + (m > 2 && Leap(year) ? 1 : 0) + day;
  const bool gregorian =
      m > DateTime::ReformMonth || (m == DateTime::ReformMonth && day >= kFirstGregorianDay);
  if (year == kReformYear && gregorian) n -= kDroppedDays;
  return n;
}

// Dates before 0000-12-31 have no day number of their own: they clamp to day 0.
std::int64_t ClampedDayNumber(std::int64_t m, std::int64_t day, std::int64_t year) {
  return std::max<std::int64_t>(0, DayNumberOf(m, day, year));
}

std::int64_t SecondsOfDay(std::int64_t hour, std::int64_t minute, std::int64_t second) {
  return hour * 3600 + minute * 60 + second;
}

double ValueOf(std::int64_t m, std::int64_t day, std::int64_t year, std::int64_t hour,
               std::int64_t minute, std::int64_t second) {
  // In doubles: the day numbers of absurd years times 86400 exceed 64 bits.
  return static_cast<double>(ClampedDayNumber(m, day, year)) * kSecondsPerDay +
         static_cast<double>(SecondsOfDay(hour, minute, second));
}

int WeekDayOf(std::uint64_t dayNumber) {
  static constexpr int kWeekDays[7] = {7, 1, 2, 3, 4, 5, 6};
  return kWeekDays[(dayNumber % 7 + 5) % 7];
}

bool IsWeekDay(int day) { return day >= DateTime::mon && day <= DateTime::sun; }

// The fields of the text form "hh:mm:ss@mm/dd/yyyy" in the order hour, minute, second, month,
// day, year.
struct TextField {
  std::size_t offset;
  std::size_t width;
  int low;  // the range that Check accepts
  int high;
};
// Years run to the calendar's end, 9999: a year is no 32-bit count of seconds. Of year 0 only its
// last day, day 0, lies in the calendar: times from 0 s on print there.
constexpr TextField kTextFields[6] = {{0, 2, 0, 24}, {3, 2, 0, 60},  {6, 2, 0, 60},
                                      {9, 2, 1, 12}, {12, 2, 1, 31}, {15, 4, 0, 9999}};
constexpr std::size_t kTextLength = 19;

// atoi of the field's characters that the text holds; a text too short for the field gives 0.
int FieldValue(const char* text, std::size_t length, const TextField& field) {
  char digits[5] = {};
  if (field.offset < length) {
    std::memcpy(digits, text + field.offset, std::min(field.width, length - field.offset));
  }
  return std::atoi(digits);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

double ParseText(const char* text, std::size_t length) {
  int f[6];
  for (int i = 0; i < 6; ++i) f[i] = FieldValue(text, length, kTextFields[i]);
  return ValueOf(f[3], f[4], f[5], f[0], f[1], f[2]);
}

}  // namespace

struct DateTime::Civil {
  std::int64_t year;
  int month;
  int day;
};

DateTime::Civil DateTime::CivilDate() const {
  const auto n = static_cast<std::int64_t>(DayNumber());
  std::int64_t year = n * 400 / 146097 + 1;
  while (DaysBefore(year) >= n) --year;
  while (DaysBefore(year + 1) < n) ++year;
  std::int64_t dayOfYear = n - DaysBefore(year);
  // Count October 1582 with the dates the reform dropped, as MonthLength does.
  if (year == kReformYear && dayOfYear > kDaysBeforeMonth[ReformMonth - 1] + kLastJulianDay) {
    dayOfYear += kDroppedDays;
  }
  int m = 1;
  while (dayOfYear > MonthLength(m, year)) dayOfYear -= MonthLength(m++, year);
  return {year, m, static_cast<int>(dayOfYear)};
}

DateTime::DateTime(const std::string& text) : m_ticks(ParseText(text.data(), text.size())) {}

DateTime::DateTime(const char* text)
    : m_ticks(text == nullptr ? ParseText("", 0) : ParseText(text, std::strlen(text))) {}

DateTime::DateTime(month m, int day, int year, int hour, int minute, int second)
    : m_ticks(ValueOf(m, day, year, hour, minute, second)) {}

DateTime::DateTime(month m, int day, int year) : DateTime(m, day, year, 0, 0, 0) {}

DateTime::DateTime(int dayOfYear, int year, int hour, int minute, int second)
    : m_ticks(ValueOf(dec, 31, std::int64_t{year} - 1, hour, minute, second) +
              dayOfYear * static_cast<double>(kSecondsPerDay)) {}

DateTime::DateTime(int dayOfYear, int year) : DateTime(dayOfYear, year, 0, 0, 0) {}

DateTime::DateTime(unsigned long long days, int hour, int minute, int second)
    : m_ticks(static_cast<double>(days) * kSecondsPerDay +
              static_cast<double>(SecondsOfDay(hour, minute, second))) {}

DateTime::DateTime(const std::tm* time) : m_ticks(0.0) {
  KERNEL_ASSERT(time != nullptr);
  m_ticks = ValueOf(std::int64_t{time->tm_mon} + 1, time->tm_mday,
                    std::int64_t{time->tm_year} + 1900, time->tm_hour, time->tm_min, time->tm_sec);
}

void DateTime::Set(month m, int day, int year, int hour, int minute, int second) {
  m_ticks = ValueOf(m, day, year, hour, minute, second);
}

void DateTime::Set(month m, int day, int year, int hour, int minute, int second, double fraction) {
  m_ticks = ValueOf(m, day, year, hour, minute, second) + fraction;
}

int DateTime::Year() const {
  return static_cast<int>(std::min<std::int64_t>(CivilDate().year, INT_MAX));
}
int DateTime::Month() const { return CivilDate().month; }
int DateTime::Day() const { return CivilDate().day; }
int DateTime::Hour() const { return static_cast<int>(FullSeconds() / 3600 % 24); }
int DateTime::Minute() const { return static_cast<int>(FullSeconds() / 60 % 60); }
int DateTime::Second() const { return static_cast<int>(FullSeconds() % 60); }
double DateTime::Fraction() const { return m_ticks - std::trunc(m_ticks); }
std::uint64_t DateTime::DayNumber() const { return FullSeconds() / kSecondsPerDay; }
std::uint64_t DateTime::FullSeconds() const { return WholeSeconds(m_ticks); }

void DateTime::SetHour(int hour) { m_ticks += (static_cast<double>(hour) - Hour()) * 3600.0; }
void DateTime::SetMinute(int minute) { m_ticks += (static_cast<double>(minute) - Minute()) * 60.0; }
void DateTime::SetSecond(int second) { m_ticks += static_cast<double>(second) - Second(); }
void DateTime::SetFraction(double fraction) { m_ticks = m_ticks - Fraction() + fraction; }

DateTime::operator Long32() const {
  // fmod is exact, so this is the low 32 bits of the truncated value for any magnitude.
  double low = std::fmod(std::trunc(m_ticks), 4294967296.0);
  if (std::isnan(low)) return 0;
  if (low < 0.0) low += 4294967296.0;
  return static_cast<Long32>(static_cast<ULong32>(low));
}

int DateTime::operator[](int i) const {
  switch (i) {
    case 0: return Month();
    case 1: return Day();
    case 2: return Year() - 108;
    case 3: return Hour();
    case 4: return Minute();
    case 5: return Second();
    default: return -1;
  }
}

DateTime& DateTime::AddMonths(int months) {
  const Civil date = CivilDate();
  const std::int64_t total = date.month - 1 + std::int64_t{months};
  std::int64_t year = date.year + FloorDiv(total, 12);
  std::int64_t m = FloorMod(total, 12) + 1;
  std::int64_t day = date.day;
  const int length = MonthLength(m, year);
  if (day > length) {
    const std::int64_t over = day - length;
    if (months >= 0) {
      day = over;
      if (++m > 12) {
        m = 1;
        ++year;
      }
    } else {
      day = length - over;
    }
  }
  const double fraction = Fraction();
  m_ticks = ValueOf(m, day, year, Hour(), Minute(), Second()) + fraction;
  return *this;
}

DateTime& DateTime::AddYears(int years) {
  const std::int64_t year = CivilDate().year;
  std::int64_t days = 0;
  if (years > 0) days = DaysBefore(year + years + 1) - DaysBefore(year + 1);
  if (years < 0) days = DaysBefore(year + years) - DaysBefore(year);
  return AddTicks(static_cast<double>(days) * kSecondsPerDay);
}

std::string DateTime::toString() const {
  const Civil date = CivilDate();
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d@%02d/%02d/%04lld", Hour(), Minute(), Second(),
                date.month, date.day, static_cast<long long>(date.year));
  return text;
}

std::ostream& operator<<(std::ostream& out, const DateTime& time) { return out << time.toString(); }

namespace {

// Whether the text has the text form with every field in range, and if so, whether its date lies
// before the calendar's first day.
bool FieldsValid(const std::string& text, bool& beforeCalendar) {
  if (text.size() != kTextLength) return false;
  if (text[2] != ':' || text[5] != ':' || text[8] != '@' || text[11] != '/' || text[14] != '/') {
    return false;
  }
  int f[6];
  for (int i = 0; i < 6; ++i) {
    const TextField& field = kTextFields[i];
    if (!IsDigit(text[field.offset]) || !IsDigit(text[field.offset + 1])) return false;
    f[i] = FieldValue(text.data(), text.size(), field);
    if (f[i] < field.low || f[i] > field.high) return false;
  }
  beforeCalendar = f[5] == 0 && (f[3] != DateTime::dec || f[4] != 31);
  return true;
}

}  // namespace

bool DateTime::Check(const std::string& text) {
  bool before = false;
  return FieldsValid(text, before) && !before;
}

bool DateTime::BeforeCalendar(const std::string& text) {
  bool before = false;
  return FieldsValid(text, before) && before;
}

DateTime DateTime::Today() {
  // Every token is stamped with this; the value is in whole seconds, so the calendar conversion is
  // done once per second of the clock (per thread, so no lock is needed).
  static thread_local std::time_t cachedSecond = static_cast<std::time_t>(-1);
  static thread_local double cachedValue = 0.0;
  const std::time_t now = std::time(nullptr);
  if (now == cachedSecond) return DateTime(cachedValue);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
    return MIN;
  }
  cachedValue = DateTime(&local).FullDateTime();
  cachedSecond = now;
  return DateTime(cachedValue);
}

std::uint64_t DateTime::MakeDayNumber(month m, int day, int year) {
  return static_cast<std::uint64_t>(ClampedDayNumber(m, day, year));
}

bool DateTime::IsLeapYear(int year) { return Leap(year); }

int DateTime::DaysInMonth(month m, int year) {
  if (m < jan || m > dec) return 0;
  if (year == ReformYear && m == ReformMonth) return MonthLength(m, year) - kDroppedDays;
  return MonthLength(m, year);
}

int DateTime::DaysInYear(int year) {
  return 365 + (Leap(year) ? 1 : 0) - (year == ReformYear ? kDroppedDays : 0);
}

int DateTime::WeeksInYear(int year) {
  const auto days = static_cast<std::int64_t>(MakeDayNumber(dec, 31, year)) -
                    static_cast<std::int64_t>(MakeDayNumber(jan, 1, year)) + 1;
  return static_cast<int>(days / 7 + 1);
}

bool DateTime::IsValid(month m, int day, int year, int hour, int minute, int second) {
  return IsValid(m, day, year) && IsValid(hour, minute, second);
}

bool DateTime::IsValid(int hour, int minute, int second) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

bool DateTime::IsValid(month m, int day, int year) {
  if (year < 1 || m < jan || m > dec || day < 1 || day > MonthLength(m, year)) return false;
  // October 1582 has 21 days, but they are the 1st to the 4th and the 15th to the 31st.
  return !(year == ReformYear && m == ReformMonth && day > kLastJulianDay &&
           day < kFirstGregorianDay);
}

DateTime DateTime::BeginDST(int year) {
  // The first second from BeginDSTMonth/1 02:00:00 on whose weekday is BeginDSTDay: that time
  // itself, or the start of the next such day. No day matches a weekday outside 1 to 7.
  const DateTime start(ValueOf(BeginDSTMonth, 1, year, 2, 0, 0));
  const int weekDay = start.DayOfWeek();
  if (!IsWeekDay(BeginDSTDay) || weekDay == BeginDSTDay) return start;
  const std::uint64_t day = start.DayNumber() + (BeginDSTDay - weekDay + 7) % 7;
  return DateTime(static_cast<double>(day * kSecondsPerDay));
}

DateTime DateTime::EndDST(int year) {
  // The last second up to EndDSTMonth/31 02:00:00 whose weekday is EndDSTDay: that time itself,
  // or the end of the last such day before it.
  const DateTime start(ValueOf(EndDSTMonth, 31, year, 2, 0, 0));
  const int weekDay = start.DayOfWeek();
  if (!IsWeekDay(EndDSTDay) || weekDay == EndDSTDay) return start;
  const auto day = static_cast<std::int64_t>(start.DayNumber()) - (weekDay - EndDSTDay + 7) % 7;
  return DateTime(static_cast<double>((day + 1) * kSecondsPerDay - 1));
}

bool DateTime::IsDST(const DateTime& time) {
  const int year = time.Year();
  return BeginDST(year) <= time && time <= EndDST(year);
}

DateTime::moon_phase DateTime::MoonPhase(const DateTime& time) {
  const Civil date = time.CivilDate();
  const auto n = static_cast<std::uint64_t>(ClampedDayNumber(date.month, date.day, date.year));
  return static_cast<moon_phase>((n * 9693 / 35780 - 4) & 7);
}

DateTime DateTime::Easter(int year) {
  // Oudin (1940); floor division keeps every remainder non-negative for any year.
  const std::int64_t y = year;
  const std::int64_t c = FloorDiv(y, 100);
  const std::int64_t g = FloorMod(y, 19);
  const std::int64_t k = FloorDiv(c - 17, 25);
  std::int64_t i = FloorMod(c - FloorDiv(c, 4) - FloorDiv(c - k, 3) + 19 * g + 15, 30);
  i -= (i / 28) * (1 - (i / 28) * (29 / (i + 1)) * ((21 - g) / 11));
  const std::int64_t j = FloorMod(y + FloorDiv(y, 4) + i + 2 - c + FloorDiv(c, 4), 7);
  const std::int64_t l = i - j;
  const std::int64_t m = 3 + (l + 40) / 44;
  return DateTime(ValueOf(m, l + 28 - 31 * (m / 4), y, 0, 0, 0));
}

int DateTime::DaysInMonth() const { return DaysInMonth(static_cast<month>(Month()), Year()); }
int DateTime::DaysInYear() const { return DaysInYear(Year()); }
int DateTime::WeeksInYear() const { return WeeksInYear(Year()); }
bool DateTime::IsLeapYear() const { return IsLeapYear(Year()); }
bool DateTime::IsValid() const {
  return IsValid(static_cast<month>(Month()), Day(), Year(), Hour(), Minute(), Second());
}
DateTime DateTime::BeginDST() const { return BeginDST(Year()); }
DateTime DateTime::EndDST() const { return EndDST(Year()); }
bool DateTime::IsDST() const { return IsDST(*this); }
DateTime::moon_phase DateTime::MoonPhase() const { return MoonPhase(*this); }
DateTime DateTime::Easter() const { return Easter(Year()); }

int DateTime::DayOfYear() const {
  const Civil date = CivilDate();
  return static_cast<int>(DayNumberOf(date.month, date.day, date.year) -
                          DayNumberOf(jan, 1, date.year) + 1);
}

int DateTime::DayOfWeek() const { return WeekDayOf(DayNumber()); }
int DateTime::WeekOfYear() const { return DayOfYear() / 7 + 1; }

int DateTime::WeekOfMonth() const {
  const Civil date = CivilDate();
  const int firstWeekDay = DateTime(ValueOf(date.month, 1, date.year, 0, 0, 0)).DayOfWeek();
  return (date.day + firstWeekDay - 1 - DayOfWeek()) / 7 + 1;
}

int DateTime::Age(const DateTime& other) const {
  const Civil mine = CivilDate();
  const Civil theirs = other.CivilDate();
  const bool reached =
      mine.month > theirs.month || (mine.month == theirs.month && mine.day >= theirs.day);
  return static_cast<int>(mine.year - theirs.year - 1 + (reached ? 1 : 0));
}

DateTime DateTime::NextWeekDay(week_day day, int hour, int minute, int second) const {
  DateTime next = *this;
  next.SetHour(hour);
  next.SetMinute(minute);
  next.SetSecond(second);
  if (!IsWeekDay(day)) return next;  // no day would match
  if (DayOfWeek() == day && *this > next) next.AddDays(1);
  return next.AddDays((day - next.DayOfWeek() + 7) % 7);
}

double DateTime::NextWorktime(int from, int to) const {
  const int hour = Hour();
  if (DayOfWeek() < from && from <= hour && hour <= to) return 0.0;
  std::uint64_t day = DayNumber() + (hour <= 6 ? 0 : 1);
  while (WeekDayOf(day) > fri) ++day;
  return static_cast<double>(day * kSecondsPerDay + 7 * 3600) - m_ticks;
}
