#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

static_assert(std::is_trivially_copyable_v<DateTime> && sizeof(DateTime) == sizeof(double));

// Read by a static initialiser of this unit, as the log object and the engine do.
const double maxSeenAtStartUp = DateTime::MAX.FullDateTime();

using D = DateTime;
constexpr int kIntMax = std::numeric_limits<int>::max();

// Every valid date, the reform's included, has the next day number and reads back as itself; the
// dates the reform dropped are not valid.
TEST(DateTimeTest, EveryDayFromYear1To9999RoundTripsWithConsecutiveDayNumbers) {
  std::uint64_t expected = 1;
  for (int year = 1; year <= 9999; ++year) {
    for (auto m = D::jan; m <= D::dec; m = static_cast<D::month>(m + 1))
      for (int day = 1; day <= 31; ++day) {
        if (!D::IsValid(m, day, year)) continue;
        const D date(m, day, year);
        ASSERT_EQ(std::tuple(date.DayNumber(), date.Year(), date.Month(), date.Day()),
                  std::tuple(expected++, year, static_cast<int>(m), day));
      }
    ASSERT_EQ(D(D::dec, 31, year).DayOfYear(), D::DaysInYear(year)) << year;
  }
  EXPECT_EQ(expected - 1, D::MAX.DayNumber());
}

TEST(DateTimeTest, KnownDatesReadAsTheirTextsCheckAcceptsOnlyThatFormAndOutOfRangeIsDefined) {
  EXPECT_EQ(maxSeenAtStartUp, 315538070400.0);
  const D noon("12:30:15@06/15/2004");
  EXPECT_EQ((noon + 1.5).Fraction(), 0.5);
  std::tm fields{};
  fields.tm_year = 2019 - 1900, fields.tm_mon = 2, fields.tm_mday = 5, fields.tm_hour = 14;
  // Fields are not range-tested: they add up, and months beyond December move the year. Adding a
  // month keeps the day, running over into the next month; whole year lengths are added, counted
  // from the year before this one; October 1582 has 21 days, but its 25th exists.
  const std::pair<D, const char*> texts[] = {
      {D(D::mar, 7, 12345), "00:00:00@03/07/12345"}, {noon + 1.5, "12:30:16@06/15/2004"},
      {D(&fields), "14:00:00@03/05/2019"}, {D(60, 2004, 12, 0, 0), "12:00:00@02/29/2004"},
      {D(D::jan, 40, 2000, 25, 61, 0), "02:01:00@02/10/2000"},
      {D(static_cast<D::month>(14), 1, 2000), "00:00:00@02/01/2001"},
      {D::Easter(2038), "00:00:00@04/25/2038"},
      {D::BeginDST(2004), "00:00:00@04/04/2004"}, {D::EndDST(2003), "23:59:59@10/26/2003"},
      {D(D::jan, 31, 2003, 8, 0, 30).AddMonths(1), "08:00:30@03/03/2003"},
      {D(D::sep, 25, 1582).AddMonths(1), "00:00:00@10/25/1582"},
      {D(D::jan, 1, 1583).AddYears(-1), "00:00:00@01/01/1582"}};
  for (const auto& [date, text] : texts) EXPECT_EQ(testing::PrintToString(date), text);
  D::BeginDSTDay = static_cast<D::week_day>(0);  // matches no day: must not hang
  EXPECT_EQ(D::BeginDST(2004).toString(), "02:00:00@04/01/2004");
  D::BeginDSTDay = D::sun;

  // The dropped dates read as the Julian days they named: no collision with September.
  EXPECT_EQ(D::MakeDayNumber(D::oct, 5, 1582), D::MakeDayNumber(D::oct, 15, 1582));
  EXPECT_EQ(D::DaysInMonth(D::oct, 1582), 21);

  // The day is not compared with the month, and the last two year characters are not tested.
  for (const char* text : {"24:60:60@02/31/2038", "00:00:00@01/01/20xx", "00:00:00@01/01/0001",
                           "00:00:00@01/01/2039", "23:59:59@12/31/9999", "00:03:20@12/31/0000"})
    EXPECT_TRUE(D::Check(text) && !D::BeforeCalendar(text)) << text;
  // Of the year 0000 only its last day, day 0, is in the calendar: the days before have no value.
  for (const char* text : {"00:00:00@12/30/0000", "23:59:59@01/01/00xx"})
    EXPECT_TRUE(!D::Check(text) && D::BeforeCalendar(text)) << text;
  for (const char* text :
       {"00:00:00@01/01/200", "00:00:00@13/01/2000", "00:00:00@01/00/2000", "00:61:00@01/01/2000",
        "00.00:00@01/01/2000", "0a:00:00@01/01/2000", "00:00:00@01/01/00xx"})
    EXPECT_FALSE(D::Check(text)) << text;

  // Out of range: clamped or wrapped as documented, never undefined; the 16-character texts live
  // on the heap in a buffer of their own length, so ASan sees any read of missing year digits.
  // The Long32 form is the low 32 bits of the whole seconds; 1e300 is a multiple of 2^32.
  const std::pair<double, Long32> low32[] = {{2147483647.9, 2147483647}, {2147483648.0, INT32_MIN},
      {4294967301.0, 5}, {-5.5, -5}, {std::nan(""), 0}, {1e300, 0}};
  for (const auto& [value, low] : low32) EXPECT_EQ(static_cast<Long32>(D(value)), low) << value;
  for (const D t : {D(-1.0), D(-1e300), D(std::nan("")), D(-HUGE_VAL)})
    EXPECT_TRUE(t.FullSeconds() + t.DayNumber() == 0 && t.toString() == "00:00:00@12/31/0000") << t;
  D huge(HUGE_VAL);
  EXPECT_EQ(huge.FullSeconds(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_TRUE(huge.Year() == kIntMax && huge.AddMonths(1).Month() >= 1);

  // Dates before the scale clamp to day 0 instead of wrapping to huge values.
  EXPECT_EQ(D::MakeDayNumber(D::jan, 1, 0) + D::MakeDayNumber(D::jan, 1, -5000), 0u);
  EXPECT_EQ(D(D::jan, 1, 2000, kIntMax, 0, 0) - D(D::jan, 1, 2000), 2147483647.0 * 3600.0);
  EXPECT_TRUE(D::Easter(-7).DayNumber() == 0 && D::Easter(kIntMax).DayOfWeek() == D::sun);
  EXPECT_EQ(D::DaysInMonth(static_cast<D::month>(13), 2000), 0);
  // Day and week counts whose seconds do not fit 32 bits.
  EXPECT_TRUE(D().AddDays(3652060) == D::MAX && D().AddWeeks(521722).AddDays(6) == D::MAX);

  EXPECT_EQ(D(std::string("12:30:15@06/15/2")), D(D::jun, 15, 2, 12, 30, 15));
  EXPECT_EQ(D(std::string("12:30:15@06/1")), D(D::jun, 1, 0, 12, 30, 15));
  EXPECT_TRUE(D(std::string()) == D(0.0) && D(static_cast<const char*>(nullptr)) == D(0.0));
}

}  // namespace
