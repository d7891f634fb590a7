#pragma once

#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <string>

#include "core/IntTypes.h"

// A point in time: seconds on a calendar scale on which 0001-01-01 00:00:00 is 86400.0 (day
// number n at h:m:s is n*86400 + h*3600 + m*60 + s). The calendar is Julian up to 1582-10-04 and
// Gregorian from 1582-10-15. Event times are compared and added on every event, so the value is
// one double and those operations are inline.
//
// Where a whole count is taken from the value (fields, day number, full seconds), negative and
// NaN values count as 0 and values beyond the 64-bit range as its maximum.
class DateTime {
 public:
  enum month : int { jan = 1, feb, mar, apr, may, jun, jul, aug, sep, oct, nov, dec };
  enum week_day : int { mon = 1, tue, wed, thu, fri, sat, sun };
  enum moon_phase : int {
    new_moon = 0,
    waxing_crescent,
    first_quater,
    waxing_gibbous,
    full_moon,
    waning_gibbous,
    third_quater,
    waning_crescent
  };

  // 0001-01-01 and 9999-12-31, both at 00:00:00. Constant-initialised, so static initialisers of
  // other units may read them.
  static const DateTime MIN;
  static const DateTime MAX;

  static constexpr int ReformYear = 1582;
  static constexpr month ReformMonth = oct;
  static constexpr std::uint64_t ReformDayNumber = 577737;  // 1582-10-04, the last Julian day

  // The daylight-saving rule: from the first BeginDSTDay of BeginDSTMonth to the last EndDSTDay
  // of EndDSTMonth.
  inline static month BeginDSTMonth = apr;
  inline static week_day BeginDSTDay = sun;
  inline static month EndDSTMonth = oct;
  inline static week_day EndDSTDay = sun;

  constexpr DateTime() : m_ticks(86400.0) {}
  // "hh:mm:ss@mm/dd/yyyy", fields taken by position and not validated (see Check).
  DateTime(const std::string& text);
  DateTime(const char* text);
  DateTime(month m, int day, int year, int hour, int minute, int second);
  DateTime(month m, int day, int year);
  DateTime(int dayOfYear, int year, int hour, int minute, int second);
  DateTime(int dayOfYear, int year);
  DateTime(unsigned long long days, int hour, int minute, int second);
  constexpr DateTime(unsigned long long seconds) : m_ticks(static_cast<double>(seconds)) {}
  constexpr DateTime(double seconds) : m_ticks(seconds) {}
  DateTime(const std::tm* time);

  void SetDate(const DateTime& other) { m_ticks = other.m_ticks; }
  // Fields are not range-tested: 25:00 or day 40 add up.
  void Set(month m, int day, int year, int hour, int minute, int second);
  void Set(month m, int day, int year, int hour, int minute, int second, double fraction);

  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const;
  int Minute() const;
  int Second() const;
  double Fraction() const;
  std::uint64_t DayNumber() const;
  void SetHour(int hour);
  void SetMinute(int minute);
  void SetSecond(int second);
  void SetFraction(double fraction);

  constexpr double FullDateTime() const { return m_ticks; }
  std::uint64_t FullSeconds() const;
  constexpr operator double() const { return m_ticks; }
  // The low 32 bits of the whole seconds: wraps from 0069-01-18 03:14:08 on.
  operator Long32() const;
  // 0 month, 1 day, 2 year - 108, 3 hour, 4 minute, 5 second; -1 for any other index.
  int operator[](int i) const;

  DateTime operator+(int seconds) const { return DateTime(m_ticks + seconds); }
  DateTime operator-(int seconds) const { return DateTime(m_ticks - seconds); }
  DateTime operator+(double seconds) const { return DateTime(m_ticks + seconds); }
  double operator-(const DateTime& other) const { return m_ticks - other.m_ticks; }
  DateTime& operator+=(int seconds) { return AddSeconds(seconds); }
  DateTime& operator-=(int seconds) { return AddTicks(-static_cast<double>(seconds)); }
  DateTime& operator+=(double seconds) { return AddTicks(seconds); }
  DateTime& operator-=(double seconds) { return AddTicks(-seconds); }
  DateTime& operator+=(const DateTime& other) { return AddTicks(other.m_ticks); }
  DateTime& operator-=(const DateTime& other) { return AddTicks(-other.m_ticks); }
  DateTime& operator++() { return AddTicks(1.0); }
  DateTime& operator--() { return AddTicks(-1.0); }
  DateTime operator++(int) {
    const DateTime old = *this;
    AddTicks(1.0);
    return old;
  }
  DateTime operator--(int) {
    const DateTime old = *this;
    AddTicks(-1.0);
    return old;
  }

  DateTime& AddSeconds(int seconds) { return AddTicks(seconds); }
  DateTime& AddTicks(double seconds) {
    m_ticks += seconds;
    return *this;
  }
  DateTime& AddMinutes(int minutes) { return AddTicks(minutes * 60.0); }
  DateTime& AddHours(int hours) { return AddTicks(hours * 3600.0); }
  DateTime& AddDays(int days) { return AddTicks(days * 86400.0); }
  DateTime& AddWeeks(int weeks) { return AddTicks(weeks * 7.0 * 86400.0); }
  DateTime& AddMonths(int months);
  DateTime& AddYears(int years);

  bool operator==(const DateTime& other) const { return m_ticks == other.m_ticks; }
  bool operator!=(const DateTime& other) const { return m_ticks != other.m_ticks; }
  bool operator<(const DateTime& other) const { return m_ticks < other.m_ticks; }
  bool operator<=(const DateTime& other) const { return m_ticks <= other.m_ticks; }
  bool operator>(const DateTime& other) const { return m_ticks > other.m_ticks; }
  bool operator>=(const DateTime& other) const { return m_ticks >= other.m_ticks; }

  std::string toString() const;
  static bool Check(const std::string& text);
  // A text Check would take but for its date, which lies before the calendar's first day,
  // 12/31/0000, and so has no value of its own.
  static bool BeforeCalendar(const std::string& text);
  static DateTime Today();

  // The calendar. A date before 1582-10-15 is read as Julian, so the ten dates dropped by the
  // reform (1582-10-05 to 14) name the days they named in the Julian calendar: 1582-10-05 is
  // 1582-10-15. Dates before 0000-12-31 have day number 0.
  static std::uint64_t MakeDayNumber(month m, int day, int year);
  static bool IsLeapYear(int year);
  static int DaysInMonth(month m, int year);  // October 1582 counts its 21 days; 0 for no month
  static int DaysInYear(int year);
  static int WeeksInYear(int year);
  static bool IsValid(month m, int day, int year, int hour, int minute, int second);
  static bool IsValid(int hour, int minute, int second);
  static bool IsValid(month m, int day, int year);
  static DateTime BeginDST(int year);
  static DateTime EndDST(int year);
  static bool IsDST(const DateTime& time);
  static moon_phase MoonPhase(const DateTime& time);
  static DateTime Easter(int year);

  int DaysInMonth() const;
  int DaysInYear() const;
  int WeeksInYear() const;
  bool IsLeapYear() const;
  bool IsValid() const;
  DateTime BeginDST() const;
  DateTime EndDST() const;
  bool IsDST() const;
  moon_phase MoonPhase() const;
  DateTime Easter() const;
  int DayOfYear() const;
  int DayOfWeek() const;  // 1 Monday ... 7 Sunday
  int WeekOfYear() const;
  int WeekOfMonth() const;
  int Age(const DateTime& other) const;
  DateTime NextWeekDay(week_day day, int hour, int minute, int second) const;
  double NextWorktime(int from, int to) const;

 private:
  struct Civil;
  Civil CivilDate() const;

  double m_ticks;
};

inline constexpr DateTime DateTime::MIN{86400.0};
inline constexpr DateTime DateTime::MAX{315538070400.0};

std::ostream& operator<<(std::ostream& out, const DateTime& time);
