#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace {

static_assert(std::is_trivially_copyable_v<DateTime> && sizeof(DateTime) == sizeof(double));
static_assert(DateTime::MIN.FullDateTime() == 86400.0);
static_assert(DateTime::MAX.FullDateTime() == 315538070400.0);

// Read by a static initialiser of this unit, as the log object and the engine do.
const double maxSeenAtStartUp = DateTime::MAX.FullDateTime();

using D = DateTime;

TEST(DateTimeTest, EveryDayFromYear1To9999RoundTripsWithConsecutiveDayNumbers) {
  std::uint64_t expected = 1;
  for (int year = 1; year <= 9999; ++year) {
    for (int m = D::jan; m <= D::dec; ++m) {
      for (int day = 1; day <= 31; ++day) {
        const auto mon = static_cast<D::month>(m);
        if (!D::IsValid(mon, day, year)) continue;
        ASSERT_EQ(D::MakeDayNumber(mon, day, year), expected) << year << "-" << m << "-" << day;
        const D date(mon, day, year);
        ASSERT_TRUE(date.DayNumber() == expected && date.Year() == year && date.Month() == m &&
                    date.Day() == day)
            << date;
        ++expected;
      }
    }
    ASSERT_EQ(D::MakeDayNumber(D::jan, 1, year + 1) - D::MakeDayNumber(D::jan, 1, year),
              static_cast<std::uint64_t>(D::DaysInYear(year)));
  }
  EXPECT_EQ(expected - 1, D::MAX.DayNumber());
}

TEST(DateTimeTest, KnownValuesAndTextForm) {
  EXPECT_EQ(D().FullDateTime(), 86400.0);
  EXPECT_EQ(D().toString(), "00:00:00@01/01/0001");
  EXPECT_EQ(maxSeenAtStartUp, 315538070400.0);
  EXPECT_EQ(D::MAX.toString(), "00:00:00@12/31/9999");

  const D noon("12:30:15@06/15/2004");
  EXPECT_EQ(noon.FullDateTime(), 63223158615.0);
  EXPECT_EQ(noon.toString(), "12:30:15@06/15/2004");
  EXPECT_EQ(D(std::string("00:00:00@01/01/0001")).FullDateTime(), 86400.0);
  EXPECT_EQ(testing::PrintToString(noon), "12:30:15@06/15/2004");  // through operator<<
  EXPECT_EQ(noon[2], 2004 - 108);

  EXPECT_EQ(D(D::mar, 7, 5, 1, 2, 3).toString(), "01:02:03@03/07/0005");
  EXPECT_EQ(D(D::mar, 7, 123).toString(), "00:00:00@03/07/0123");
  EXPECT_EQ(D(D::mar, 7, 12345).toString(), "00:00:00@03/07/12345");
  // Fields are not range-tested: they add up.
  EXPECT_EQ(D(D::jan, 40, 2000, 25, 61, 0).toString(), "02:01:00@02/10/2000");
  EXPECT_EQ(D(static_cast<D::month>(14), 1, 2000).toString(), "00:00:00@02/01/2001");

  EXPECT_EQ(D(60, 2004, 12, 0, 0).toString(), "12:00:00@02/29/2004");
  EXPECT_EQ(D(2ULL, 1, 2, 3).toString(), "01:02:03@01/02/0001");

  std::tm fields{};
  fields.tm_year = 2019 - 1900;
  fields.tm_mon = 2;
  fields.tm_mday = 5;
  fields.tm_hour = 14;
  EXPECT_EQ(D(&fields).toString(), "14:00:00@03/05/2019");
  const D now = D::Today();
  EXPECT_GE(now.Year(), 2024);
  EXPECT_EQ(now.Fraction(), 0.0);
}

TEST(DateTimeTest, ShortOrNullTextsParseOnlyTheCharactersTheyHold) {
  // Each text is copied into a buffer of exactly its length, so ASan sees any read beyond it.
  const auto parse = [](const std::string& text) {
    std::vector<char> exact(text.begin(), text.end());
    return D(std::string(exact.data(), exact.size())).FullDateTime();
  };
  EXPECT_EQ(parse("12:30:15@06/15/2"), D(D::jun, 15, 2, 12, 30, 15).FullDateTime());
  EXPECT_EQ(parse("12:30:15@06/1"), D(D::jun, 1, 0, 12, 30, 15).FullDateTime());
  EXPECT_EQ(parse("12"), 12 * 3600.0);  // day 0 of year 0 and month 0 clamp to day number 0
  EXPECT_EQ(parse(""), 0.0);
  EXPECT_EQ(D(static_cast<const char*>(nullptr)).FullDateTime(), 0.0);
}

TEST(DateTimeTest, CheckAcceptsOnlyTheTextForm) {
  // The day is not compared with the month, and the last two year characters are not tested.
  for (const char* text : {"12:30:15@06/15/2004", "24:60:60@02/31/2038", "00:00:00@01/01/20xx",
                           "00:00:00@01/01/0001"}) {
    EXPECT_TRUE(D::Check(text)) << text;
  }
  // A year 0000 has no day number, so it is refused like any other field out of range.
  for (const char* text :
       {"00:00:00@01/01/20000", "00:00:00@01/01/200", "", "00:00:00@13/01/2000",
        "00:00:00@01/00/2000", "00:00:00@01/32/2000", "25:00:00@01/01/2000", "00:61:00@01/01/2000",
        "00:00:00@01/01/2039", "00:00:00-01/01/2000", "00.00:00@01/01/2000", "0a:00:00@01/01/2000",
        "00:00:00@01/01/2x00", "00:00:00@01/01/0000", "00:00:00@01/01/00xx"}) {
    EXPECT_FALSE(D::Check(text)) << text;
  }
}

TEST(DateTimeTest, CalendarReform) {
  EXPECT_EQ(D::MakeDayNumber(D::oct, 4, 1582), D::ReformDayNumber);
  EXPECT_EQ(D::MakeDayNumber(D::oct, 15, 1582), 577738u);
  EXPECT_EQ((D(D::oct, 4, 1582) + 86400).toString(), "00:00:00@10/15/1582");
  EXPECT_EQ(D(D::oct, 15, 1582).DayOfWeek(), D::fri);
  EXPECT_EQ(D::DaysInMonth(D::oct, 1582), 21);
  EXPECT_EQ(D::DaysInYear(1582), 355);
  EXPECT_EQ(D(D::dec, 31, 1582).DayOfYear(), 355);
  EXPECT_EQ(D::WeeksInYear(1582), 51);

  // The dropped dates read as the Julian days they named: no collision with September.
  EXPECT_EQ(D::MakeDayNumber(D::oct, 5, 1582), D::MakeDayNumber(D::oct, 15, 1582));
  EXPECT_EQ(D::MakeDayNumber(D::oct, 14, 1582), D::MakeDayNumber(D::oct, 24, 1582));
  EXPECT_FALSE(D::IsValid(D::oct, 5, 1582) || D::IsValid(D::oct, 14, 1582));
  EXPECT_TRUE(D::IsValid(D::oct, 31, 1582));

  EXPECT_TRUE(D::IsLeapYear(1500) && D::IsLeapYear(2000));
  EXPECT_FALSE(D::IsLeapYear(1700) || D::IsLeapYear(1582));
  EXPECT_EQ(D::DaysInMonth(static_cast<D::month>(13), 2000), 0);
  EXPECT_EQ(D(D::jan, 1, 1).DayOfWeek(), D::sat);
}

TEST(DateTimeTest, FractionsAndArithmetic) {
  D t("12:30:15@06/15/2004");
  const D later = t + 1.5;
  EXPECT_EQ(later.toString(), "12:30:16@06/15/2004");
  EXPECT_EQ(later.Fraction(), 0.5);
  EXPECT_EQ(later - t, 1.5);
  EXPECT_EQ(later.FullSeconds(), 63223158616u);

  D copy;
  copy.Set(D::jun, 15, 2004, 12, 30, 16, 0.5);
  EXPECT_EQ(copy, later);
  copy.SetFraction(0.25);
  copy.SetHour(1);
  copy.SetMinute(2);
  copy.SetSecond(3);
  EXPECT_EQ(copy.toString(), "01:02:03@06/15/2004");
  EXPECT_EQ(copy.Fraction(), 0.25);

  EXPECT_EQ((t + 10000).FullDateTime(), 63223168615.0);
  EXPECT_EQ((t++).FullDateTime(), 63223158615.0);
  EXPECT_EQ((--t).FullDateTime(), 63223158615.0);
  ((((t += 60) -= 59) += 0.5) -= 1.5) += D(3600.0);
  EXPECT_EQ((t -= D(3600.0)).FullDateTime(), 63223158615.0);
  // Large counts do not overflow 32 bits.
  EXPECT_EQ(D().AddDays(3652060).FullDateTime(), D::MAX.FullDateTime());
  EXPECT_EQ(D::MAX.FullDateTime(), D().AddWeeks(521722).AddDays(6).FullDateTime());

  EXPECT_TRUE(t == D(63223158615.0) && t != later && t < later && t <= later && later > t &&
              later >= t && t <= t && t >= t);
  EXPECT_FALSE(t < t || t > t || t == later);
}

TEST(DateTimeTest, Long32ConversionTakesTheLow32BitsWithoutUndefinedBehaviour) {
  EXPECT_EQ(static_cast<Long32>(D(2147483647.9)), 2147483647);
  EXPECT_EQ(static_cast<Long32>(D(2147483648.0)), -2147483647 - 1);
  EXPECT_EQ(static_cast<Long32>(D(4294967296.0 + 5.0)), 5);
  EXPECT_EQ(static_cast<Long32>(D(-5.5)), -5);
  EXPECT_EQ(static_cast<Long32>(D(std::nan(""))), 0);
  EXPECT_EQ(static_cast<Long32>(D(1e300)), 0);  // a multiple of 2^32
}

TEST(DateTimeTest, NegativeNaNAndHugeValuesGiveDefinedFields) {
  for (const double value :
       {-1.0, -1e300, std::nan(""), -std::numeric_limits<double>::infinity()}) {
    const D t(value);
    EXPECT_EQ(t.FullSeconds() + t.DayNumber(), 0u);
    EXPECT_EQ(t.toString(), "00:00:00@12/31/0000");
    EXPECT_FALSE(t.IsValid());
  }
  D huge(std::numeric_limits<double>::infinity());
  EXPECT_EQ(huge.FullSeconds(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(huge.Year(), std::numeric_limits<int>::max());
  EXPECT_GE(huge.AddMonths(1).Month(), 1);

  // Dates before the scale clamp to day 0 instead of wrapping to huge values.
  EXPECT_EQ(D::MakeDayNumber(D::jan, 1, 0) + D::MakeDayNumber(D::jan, 1, -5000), 0u);
  EXPECT_EQ(D(D::jan, 1, 2000, std::numeric_limits<int>::max(), 0, 0).FullDateTime(),
            D(D::jan, 1, 2000).FullDateTime() + 2147483647.0 * 3600.0);
  EXPECT_EQ(D::Easter(-7).DayNumber(), 0u);
  EXPECT_EQ(D::Easter(std::numeric_limits<int>::max()).DayOfWeek(), D::sun);
}

TEST(DateTimeTest, CalendarLibrary) {
  EXPECT_EQ(D(D::jul, 1, 2004).Easter().toString(), "00:00:00@04/11/2004");
  EXPECT_EQ(D::Easter(1818).toString(), "00:00:00@03/22/1818");
  EXPECT_EQ(D::Easter(2038).toString(), "00:00:00@04/25/2038");

  // 2004-04-01 is a Thursday, 2003-10-31 a Friday.
  EXPECT_EQ(D::BeginDST(2004).toString(), "00:00:00@04/04/2004");
  EXPECT_EQ(D::EndDST(2003).toString(), "23:59:59@10/26/2003");
  EXPECT_TRUE(D(D::jun, 15, 2004).IsDST());
  EXPECT_FALSE(D::IsDST(D(D::apr, 3, 2004, 23, 59, 59)));
  D::BeginDSTDay = static_cast<D::week_day>(0);  // matches no day: must not hang
  EXPECT_EQ(D::BeginDST(2004).toString(), "02:00:00@04/01/2004");
  D::BeginDSTDay = D::sun;

  EXPECT_EQ(D(D::jun, 15, 2004).WeekOfMonth(), 3);  // June 2004 starts on a Tuesday
  EXPECT_EQ(D(D::jun, 15, 2004).Age(D(D::jun, 16, 1970)), 33);
  EXPECT_EQ(D(D::jan, 20, 1).MoonPhase(), D::waxing_crescent);

  const D jan31(D::jan, 31, 2003, 8, 0, 30);
  EXPECT_EQ(D(jan31).AddMonths(1).toString(), "08:00:30@03/03/2003");
  EXPECT_EQ(D(jan31).AddMonths(-2).toString(), "08:00:30@11/29/2002");
  EXPECT_EQ(D(jan31).AddMonths(23).toString(), "08:00:30@12/31/2004");
  // October 1582 has 21 days, but its 25th exists.
  EXPECT_EQ(D(D::sep, 25, 1582).AddMonths(1).toString(), "00:00:00@10/25/1582");
  // Whole year lengths are added, counted from the year after (or before) this one.
  EXPECT_EQ(D(D::mar, 1, 2004).AddYears(-1).toString(), "00:00:00@03/02/2003");
  EXPECT_EQ(D(D::jan, 1, 1583).AddYears(-1).toString(), "00:00:00@01/01/1582");

  const D tuesdayNoon(D::jun, 15, 2004, 12, 0, 0);
  EXPECT_EQ(tuesdayNoon.NextWeekDay(D::tue, 13, 0, 0).toString(), "13:00:00@06/15/2004");
  EXPECT_EQ(tuesdayNoon.NextWeekDay(D::tue, 11, 0, 0).toString(), "11:00:00@06/22/2004");
  EXPECT_EQ(tuesdayNoon.NextWorktime(1, 17), 19 * 3600.0);
  EXPECT_EQ(tuesdayNoon.NextWorktime(8, 17), 0.0);
  EXPECT_EQ(D(D::jun, 19, 2004, 5, 0, 0).NextWorktime(0, 0), (2 * 24 + 2) * 3600.0);
}

}  // namespace
